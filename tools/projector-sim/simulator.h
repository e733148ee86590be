#ifndef SIMULATOR_H
#define SIMULATOR_H

#include "projectormodel.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

// Plays a projector on the master side of a pseudo-terminal; the program opens the
// slave side as its serial port.
class Simulator : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        ProjectorModel::Options projector;
        bool mute = false; // never answers
        qint64 hangUpAfterMs = -1; // closes the line this long after the program opened it
        int garbagePerSecond = 0; // random bytes sent between replies
        quint32 seed = 1;
        bool log = false;
    };

    explicit Simulator(const Options &options, QObject *parent = nullptr);
    ~Simulator() override;

    // Creates the pseudo-terminal; false with a reason when the system refuses one.
    bool start(QString *error);
    QString portName() const { return slavePath; }

signals:
    void farEndClosed();
    void hungUp();

private:
    void watchForFarEnd();
    void readFromProgram();
    void handleCommand(const QByteArray &command);
    void sendToProgram(const QByteArray &bytes);
    void sendGarbage();
    void hangUp();
    void logFrame(const char *direction, const QByteArray &bytes) const;

    Options options;
    ProjectorModel projector;
    QRandomGenerator random;
    QElapsedTimer clock;
    int master = -1;
    QString slavePath;
    bool connected = false;
    QByteArray received;
    std::unique_ptr<QSocketNotifier> readNotifier;
    QTimer farEndTimer;
    QTimer garbageTimer;
    QTimer hangUpTimer;
};

#endif // SIMULATOR_H
