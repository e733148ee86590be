#ifndef MOSQUITTOBROKER_H
#define MOSQUITTOBROKER_H

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A real mosquitto on 127.0.0.1, with a configuration of its own in a private folder
// (anonymous clients, nothing kept on disk), on a free port that stays the same across
// a stop and a start. Stopped by its process id.
class MosquittoBroker
{
public:
    MosquittoBroker();
    ~MosquittoBroker();

    // Listens with TLS (mqtts://) with this certificate and key (PEM) from the next start.
    void setTls(const QString &certificateFile, const QString &keyFile);
    // Lines of mosquitto.conf(5) added to its own (a bridge to another broker, say) from
    // the next start.
    void setExtraConfiguration(const QString &lines) { extraConfiguration = lines; }
    // Starts it and waits until it takes connections; false with the reason.
    bool start();
    // Ends it (SIGTERM, then SIGKILL) and waits for it.
    void stop();
    QString errorString() const { return error; }
    quint16 port() const { return listenPort; }
    QString url() const;
    // What it logged since its start: its connections, its clients' client ids ...
    QString log();
    // How many times a client connected with a client id that begins so since the start.
    int connectionsOf(const QString &clientId);

private:
    QString certificate;
    QString key;
    QString extraConfiguration;
    QTemporaryDir dir;
    quint16 listenPort = 0;
    QProcess process;
    QString error;
};

} // namespace testsupport

#endif // MOSQUITTOBROKER_H
