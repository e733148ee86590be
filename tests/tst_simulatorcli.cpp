#include <QProcess>
#include <QtTest>

// The simulator is a user-facing tool: its help must explain every option, and a
// mistyped option must say what is wrong and exit with status 2.
class TestSimulatorCli : public QObject
{
    Q_OBJECT

private slots:
    void helpNamesEveryOption();
    void badOptions_data();
    void badOptions();
    void printsThePortToApply();
};

namespace {
constexpr int kWaitMs = 5000;

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run runSimulator(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(LUMIVOX_SIMULATOR), arguments);
    Run run;
    if (!process.waitForFinished(kWaitMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}
} // namespace

void TestSimulatorCli::helpNamesEveryOption()
{
    const Run run = runSimulator({QStringLiteral("--help")});
    QCOMPARE(run.status, 0);
    for (const char *option :
         {"--warm-up", "--cool-down", "--lamp-hours", "--mute", "--crlf", "--silent-standby",
          "--hang-up-after", "--garbage", "--seed", "--log", "--protocol", "LAMP 1", "*001"})
        QVERIFY2(run.out.contains(QLatin1String(option)), option);
}

void TestSimulatorCli::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown option") << QStringList {"--bogus"} << "bogus";
    QTest::newRow("not a number") << QStringList {"--warm-up", "soon"} << "warm-up";
    QTest::newRow("negative") << QStringList {"--hang-up-after", "-3"} << "hang-up-after";
    QTest::newRow("garbage rate zero") << QStringList {"--garbage", "0"} << "garbage";
    QTest::newRow("missing value") << QStringList {"--seed"} << "seed";
    QTest::newRow("stray argument") << QStringList {"ttyS0"} << "ttyS0";
    QTest::newRow("unknown protocol") << QStringList {"--protocol", "nosuch"} << "nosuch";
    QTest::newRow("a set with PJLink")
        << QStringList {"--protocol", "epson-escvp21", "--pjlink"} << "--pjlink";
}

void TestSimulatorCli::badOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Run run = runSimulator(arguments);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
}

void TestSimulatorCli::printsThePortToApply()
{
    QProcess process;
    process.start(QStringLiteral(LUMIVOX_SIMULATOR), {QStringLiteral("--mute")});
    QVERIFY(process.waitForStarted(kWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), kWaitMs);
    const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
    process.terminate();
    process.waitForFinished(kWaitMs);
    QVERIFY2(line.startsWith(QLatin1String("Apply this port name in Lumivox: /dev/")),
             qPrintable(line));
    // A pseudo-terminal's slave, never one of the machine's serial devices.
    QVERIFY2(line.contains(QLatin1String("/dev/pts/")), qPrintable(line));
}

QTEST_GUILESS_MAIN(TestSimulatorCli)
#include "tst_simulatorcli.moc"
