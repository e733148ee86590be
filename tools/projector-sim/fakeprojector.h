#ifndef FAKEPROJECTOR_H
#define FAKEPROJECTOR_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;
class QTimer;

// The far end of a serial cable, played on a pseudo-terminal: the program opens
// slavePath() as its port, the projector side holds the master. Everything the
// program writes is recorded and split into frames at each carriage return;
// scripted replies go back as raw bytes. Only QtCore is used, so a standalone
// simulator can be built on it as well as the tests.
class FakeProjector : public QObject
{
    Q_OBJECT

public:
    enum class Draining {
        On, // read what the program writes as soon as it arrives
        Off, // leave it in the pty, so that the program's output queue fills up
    };

    explicit FakeProjector(Draining draining = Draining::On, QObject *parent = nullptr);
    ~FakeProjector() override;

    bool isValid() const { return masterFd >= 0; }
    QString errorString() const { return error; }
    // The device the program is to open, for example /dev/pts/3.
    QString slavePath() const { return path; }
    // This side's own descriptor of that device (-1 after watchFarEnd()), through which
    // the line settings another program set on it can be read back.
    int slaveDescriptor() const { return slaveFd; }

    // Queues bytes for the program: whole lines, parts of lines, several lines or
    // any raw bytes. What the pty cannot take at once goes out as it drains.
    void send(const QByteArray &bytes);
    // Pushes queued bytes into the pty now; returns how many are still queued.
    qint64 pushOutput();
    qint64 pendingOutput() const { return outgoing.size(); }

    // Reads what the program has written so far, without the event loop.
    qint64 drain();
    // Waits, without the event loop, until that many frames (bytes) have been
    // recorded in all; false on time-out. The kernel hands bytes written on one side
    // of a pty to the other a moment later, not within the write call.
    bool waitForFrames(qsizetype count, int msecs);
    bool waitForBytes(qsizetype count, int msecs);
    void setDraining(Draining draining);

    // Every byte the program wrote, and the same split after each carriage return
    // (each frame keeps its CR). partialFrame() is what follows the last CR.
    const QByteArray &received() const { return bytes; }
    const QList<QByteArray> &frames() const { return completeFrames; }
    const QByteArray &partialFrame() const { return partial; }
    void clearRecord();

    // Fills the program's direction of the pty from this side until the kernel
    // refuses more, as a projector that stopped reading would; returns the bytes
    // written. Makes sense only while not draining.
    qint64 fillOutputQueue();

    // The cable pulled: the master is closed and the program's device is gone.
    void hangUp();
    bool isHungUp() const { return hungUp; }

    // Lets go of this side's own slave end, so that the program closing the port
    // shows as a hang-up on the master; farEndOpened() and farEndClosed() then tell
    // when the program opens and releases it. Used by the standalone simulator.
    void watchFarEnd();
    bool isFarEndOpen() const { return farEndOpen; }

signals:
    void frameReceived(const QByteArray &frame);
    // Every byte as it arrives, for a projector whose frames do not end at a carriage return.
    void bytesReceived(const QByteArray &bytes);
    void farEndOpened();
    void farEndClosed();

private:
    bool waitUntil(const std::function<bool()> &done, int msecs);
    void record(const char *data, qint64 size);
    void closeDescriptors();
    void checkFarEnd();

    int masterFd = -1;
    // Held open so that the pty survives while the program has it closed, and
    // the master does not report a hang-up of its own between two opens.
    int slaveFd = -1;
    QString path;
    QString error;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    QByteArray outgoing;
    QByteArray bytes;
    QByteArray partial;
    QList<QByteArray> completeFrames;
    bool hungUp = false;
    QTimer *farEndTimer = nullptr;
    bool farEndOpen = false;
};

#endif // FAKEPROJECTOR_H
