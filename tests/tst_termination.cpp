// The real program asked to end by the system (a logout, kill, Ctrl+C, its terminal
// closed): it shuts down in order and exits with status 0, promptly.

#include "programrun.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {
constexpr int kStartTimeout = 10000; // ms for the program to come up and catch signals
// ms to shut down after the signal: a second or so, bounded generously for a busy machine
constexpr int kExitBound = 5000;
constexpr int kHexBase = 16;

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

QTEST_GUILESS_MAIN(TestTermination)
#include "tst_termination.moc"
