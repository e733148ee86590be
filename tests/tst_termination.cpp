// The real program asked to end by the system (a logout, kill, Ctrl+C, its terminal
// closed): it shuts down in order and exits with status 0, promptly, even with a
// send-failure box open.

#include "boxanswerer.h"
#include "fakeprojector.h"
#include "link/serialprotocol.h"
#include "platform/terminationsignals.h"
#include "programrun.h"
#include "ui/lumivox.h"
#include "windowprobe.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

namespace {
constexpr int kStartTimeout = 10000; // ms for the program to come up and catch signals
// ms to shut down after the signal: a second or so, bounded generously for a busy machine
constexpr int kExitBound = 5000;
constexpr int kHexBase = 16;
// ms from the signal to the end of the frame being written with a box open: at once, where
// going on with the frame would wait for the stuck driver byte after byte (half a second each)
constexpr int kBoxExitBound = 2000;
constexpr int kSignalWait = 5000; // ms for the request to reach the window
constexpr int kEventSlice = 10; // ms of events handled at a time while waiting

// Whether the process has a handler for `signal` (its caught-signal mask in /proc).
bool catches(qint64 pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            const quint64 mask
                = line.mid(int(qstrlen("SigCgt:"))).trimmed().toULongLong(nullptr, kHexBase);
            return (mask >> (signal - 1)) & 1U;
        }
    }
    return false;
}
} // namespace

class TestTermination : public QObject
{
    Q_OBJECT

private slots:
    void endsInOrder_data();
    void endsInOrder();
    // Last: ending the program ends this process's event loops for good.
    void endsWithFailureBoxOpen();
};

void TestTermination::endsInOrder_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestTermination::endsInOrder()
{
    QFETCH(int, signal);
    QTemporaryDir workingDirectory;
    QVERIFY(workingDirectory.isValid());

    QProcess program;
    testsupport::prepareOffscreen(program, workingDirectory.path());
    // A signal ignored by whoever runs the tests would stay ignored (as nohup asks).
    program.setChildProcessModifier([signal] { std::signal(signal, SIG_DFL); });
    program.start(QStringLiteral(LUMIVOX_EXECUTABLE), {});
    QVERIFY2(program.waitForStarted(kStartTimeout), qPrintable(program.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(catches(program.processId(), signal)
                                 || program.state() != QProcess::Running,
                             kStartTimeout);
    QCOMPARE(program.state(), QProcess::Running);

    QVERIFY(::kill(pid_t(program.processId()), signal) == 0);
    const bool ended = program.waitForFinished(kExitBound);
    if (!ended) {
        program.kill();
        program.waitForFinished();
    }
    QVERIFY2(ended, "still running");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

void TestTermination::endsWithFailureBoxOpen()
{
    // A projector that stopped reading: every byte of a command waits for the driver,
    // fails and shows its box. The request to end comes while the first box is open.
    FakeProjector projector(FakeProjector::Draining::Off);
    QVERIFY(projector.isValid());
    Lumivox window;
    testsupport::openOn(window, projector.slavePath());
    QVERIFY(projector.fillOutputQueue() > 0);
    TerminationSignals termination;
    connect(&termination, &TerminationSignals::received, &window, &Lumivox::endProgram);

    QElapsedTimer sinceSignal;
    testsupport::BoxAnswerer boxes([&](QMessageBox *) {
        if (!sinceSignal.isValid()) {
            projector.fillOutputQueue();
            sinceSignal.start();
            ::kill(::getpid(), SIGTERM);
            // Nobody answers the box: it stays open until the request has been handled.
            const QDeadlineTimer deadline(kSignalWait);
            while (window.isVisible() && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, kEventSlice);
        }
        return QMessageBox::Ok;
    });
    window.sendCommand(serialprotocol::kBrightness, qstrlen(serialprotocol::kBrightness));
    const qint64 elapsed = sinceSignal.elapsed();

    qInfo("signal to the end of the command with a failure box open: %lld ms", elapsed);
    QVERIFY(sinceSignal.isValid());
    QVERIFY(!window.isVisible());
    QCOMPARE(boxes.count(), 1);
    QVERIFY2(elapsed < kBoxExitBound, qPrintable(QString::number(elapsed)));
}

QTEST_MAIN(TestTermination)
#include "tst_termination.moc"
