#ifndef TERMINATIONSIGNALS_H
#define TERMINATIONSIGNALS_H

#include <QObject>

#include <memory>

// The system's requests to end the program (on POSIX systems SIGTERM, SIGINT and SIGHUP:
// a logout, kill, Ctrl+C, the terminal closed), turned into a Qt signal on the thread
// that created the object, so the program can shut down in order instead of dying on
// the spot (or SIGHUP into a request to reload, where asked). Where the system sends no
// such requests it never fires. One object at a
// time; create it after the application object.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // SIGHUP asks for reloadRequested() instead of the end (a service's reload, as
    // systemctl reload sends it). POSIX only: elsewhere there is no reload.
    void setHangupReloads(bool on);

signals:
    void received();
    void reloadRequested();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

#endif // TERMINATIONSIGNALS_H
