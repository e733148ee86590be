#ifndef SIMULATOR_H
#define SIMULATOR_H

#include "fakeprojector.h"
#include "projectormodel.h"
#include "setmodel.h"

#include "link/commandset.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

#include <optional>

// Plays a projector on the master side of a pseudo-terminal; the program opens the
// slave side as its serial port. The line is the link tests' fake projector, answered
// by the projector model instead of a test script, or by a command set's model.
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
        // Another protocol than the built-in one, played from its command set.
        std::optional<CommandSet> commandSet;
    };

    explicit Simulator(const Options &options, QObject *parent = nullptr);

    // Creates the pseudo-terminal; false with a reason when the system refuses one.
    bool start(QString *error);
    QString portName() const { return line.slavePath(); }

signals:
    void farEndClosed();
    void hungUp();

private:
    void opened();
    void closed();
    void handleFrame(const QByteArray &frame);
    void handleBytes(const QByteArray &bytes);
    void sendToProgram(const QByteArray &bytes);
    void sendGarbage();
    void hangUp();
    void logFrame(const char *direction, const QByteArray &bytes) const;
    void logEvent(const QString &event) const;

    Options options;
    ProjectorModel projector;
    std::optional<SetModel> setModel;
    QRandomGenerator random;
    QElapsedTimer clock;
    FakeProjector line;
    QTimer garbageTimer;
    QTimer hangUpTimer;
};

#endif // SIMULATOR_H
