// The command line without a window, against the simulated projector: what scripts and
// schedules get on standard output, standard error and in the exit status.

#include "commandlinerun.h"
#include "fakeprojector.h"
#include "simulator.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {
constexpr int kWarmUpMs = 300;
constexpr int kLampHours = 4321; // not the simulator's default
constexpr int kWarmUpBound = 10000; // ms in which the lamp must be reported on
constexpr int kRunBound = 30000; // ms: a command line that takes longer hangs

using testsupport::CommandLineRun;
} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void powerOnThenStatusReachesOn();
    void runs_data();
    void runs();
    void statusAsJson();
    void unwritableOutput_data();
    void unwritableOutput();
    void nameNotInTheSystemsEncoding();
    void protocols_data();
    void protocols();

private:
    CommandLineRun run(QStringList arguments)
    {
        arguments.replaceInStrings(QStringLiteral("PORT"), simulator->portName());
        return testsupport::runCommandLine(arguments, runtime.path());
    }
    void startSimulator(bool mute);

    QTemporaryDir runtime; // no window listens there
    std::unique_ptr<Simulator> simulator;
};

void TestCommandLine::init()
{
    QVERIFY(runtime.isValid());
    startSimulator(false);
}

void TestCommandLine::cleanup()
{
    simulator.reset();
}

void TestCommandLine::startSimulator(bool mute)
{
    Simulator::Options options;
    options.projector.warmUpMs = kWarmUpMs;
    options.projector.lampHours = kLampHours;
    options.mute = mute;
    simulator = std::make_unique<Simulator>(options);
    QString error;
    QVERIFY2(simulator->start(&error), qPrintable(error));
}

void TestCommandLine::powerOnThenStatusReachesOn()
{
    const QStringList status {QStringLiteral("--status"), QStringLiteral("--port"),
                              QStringLiteral("PORT")};
    QCOMPARE(run(status).out, QStringLiteral("off\n"));
    const CommandLineRun on = run({QStringLiteral("--send"), QStringLiteral("power-on"),
                                   QStringLiteral("--port"), QStringLiteral("PORT")});
    QCOMPARE(on.status, 0);
    QCOMPARE(on.out, QString());
    // While the lamp warms up the projector reports it off.
    QTRY_COMPARE_WITH_TIMEOUT(run(status).out, QStringLiteral("on\n"), kWarmUpBound);
}

void TestCommandLine::runs_data()
{
    QTest::addColumn<bool>("mute");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err"); // a pattern standard error must match

    const QString port = QStringLiteral("PORT");
    QTest::newRow("lamp time") << false << QStringList {"--query", "lamp-time", "--port", port} << 0
                               << "4321\n"
                               << "^$";
    QTest::newRow("model and lamp state")
        << false << QStringList {"--query", "model", "--status", "--port", port} << 0
        << "Lumivox Demo Projector LV-1\noff\n"
        << "^$";
    QTest::newRow("not available in standby")
        << false << QStringList {"--send", "hdmi", "menu", "--port", port} << 3 << ""
        << "^lumivox: hdmi: Command not available at the moment.\n$";
    QTest::newRow("silent projector")
        << true << QStringList {"--status", "--port", port} << 2 << "unknown\n"
        << "status: no answer";
    // An acknowledgement is not a question: silence is no failure.
    QTest::newRow("silent after a command")
        << true << QStringList {"--send", "menu", "--port", port} << 0 << ""
        << "^$";
    QTest::newRow("missing port") << false
                                  << QStringList {"--status", "--port", "/nonexistent/ttyUSB9"} << 1
                                  << ""
                                  << "^lumivox: /nonexistent/ttyUSB9: No such file or directory\n$";
    QTest::newRow("unknown name") << false << QStringList {"--send", "power-onn"} << 64 << ""
                                  << "unknown command name 'power-onn'.*power-on.*lamp-time";
    QTest::newRow("not a query") << false << QStringList {"--query", "menu"} << 64 << ""
                                 << "'menu'; the names are: lamp-time, model, resolution, errors\n";
    QTest::newRow("empty port") << false << QStringList {"--status", "--port", ""} << 64 << ""
                                << "--port needs a port name";
    QTest::newRow("missing value") << false << QStringList {"--send"} << 64 << ""
                                   << "Missing value after '--send'";
    QTest::newRow("nothing to do") << false << QStringList {"--json"} << 64 << ""
                                   << "nothing to do";
    // Every way in takes the same names: the error status is a name for --send too.
    QTest::newRow("errors of a serial projector")
        << false << QStringList {"--send", "errors", "--port", port} << 3 << ""
        << "^lumivox: errors: Command not available at the moment.\n$";
    // A name no way in takes is a usage error, for a script as for the service, before
    // any window, port or broker is asked.
    const QString zeroPort
        = QStringLiteral("pjlink://host-a:0: The port number must be 1 to 65535");
    QTest::newRow("malformed name")
        << false << QStringList {"--status", "--port", "pjlink://host-a:0"} << 64 << "" << zeroPort;
    QTest::newRow("malformed name for the service")
        << false
        << QStringList {"--serve", "--mqtt", "mqtt://127.0.0.1:9", "--port", "pjlink://host-a:0"}
        << 64 << "" << zeroPort;
    QTest::newRow("control character")
        << false << QStringList {"--send", "menu", "--port", "tty\rS0"} << 64 << ""
        << "^lumivox: The port name holds a control character\n";
}

void TestCommandLine::runs()
{
    QFETCH(bool, mute);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);

    if (mute)
        startSimulator(true);
    const CommandLineRun result = run(arguments);
    QCOMPARE(result.out, out);
    QVERIFY2(QRegularExpression(err).match(result.err).hasMatch(), qPrintable(result.err));
    QCOMPARE(result.status, status);
}

void TestCommandLine::statusAsJson()
{
    const CommandLineRun result = run({QStringLiteral("--status"), QStringLiteral("--json"),
                                       QStringLiteral("--port"), QStringLiteral("PORT")});
    QCOMPARE(result.status, 0);
    QJsonParseError error {};
    const QJsonObject object = QJsonDocument::fromJson(result.out.toUtf8(), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(result.out));
    QCOMPARE(object.value(QStringLiteral("lamp")).toString(), QStringLiteral("off"));
    QCOMPARE(object.value(QStringLiteral("contact")).toBool(), true);
    QCOMPARE(object.value(QStringLiteral("via")).toString(), QStringLiteral("port"));
    QCOMPARE(object.value(QStringLiteral("port")).toString(), simulator->portName());
    qInfo("%s", qPrintable(result.out.trimmed()));
}

void TestCommandLine::unwritableOutput_data()
{
    // Where the output goes, and whether standard error can still say why.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QStringList status {"--status", "--port", "PORT"};
    QTest::newRow("status to a full disk") << status << "/dev/full" << QString();
    QTest::newRow("list to a full disk") << QStringList {"--list"} << "/dev/full" << QString();
    QTest::newRow("json to a full disk")
        << QStringList {"--status", "--json", "--port", "PORT"} << "/dev/full" << QString();
    QTest::newRow("the reason to a full disk too") << status << "/dev/full"
                                                   << "/dev/full";
}

void TestCommandLine::unwritableOutput()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, out);
    QFETCH(QString, err);
    arguments.replaceInStrings(QStringLiteral("PORT"), simulator->portName());
    QProcess program;
    program.setStandardOutputFile(out);
    if (!err.isEmpty())
        program.setStandardErrorFile(err);
    program.start(QStringLiteral(LUMIVOX_EXECUTABLE), arguments);
    QVERIFY(program.waitForFinished(kRunBound));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    // Nothing was written, and a script must not take that for success.
    QCOMPARE(program.exitCode(), 1);
    if (err.isEmpty())
        QVERIFY2(program.readAllStandardError().contains("cannot write the output: No space"),
                 "the reason is on standard error");
}

void TestCommandLine::nameNotInTheSystemsEncoding()
{
    // A name that is not valid UTF-8 beside a link spelt as its replacement character
    // would make of it: the link leads to a projector, and must never be opened.
    FakeProjector fake;
    QVERIFY2(fake.isValid(), qPrintable(fake.errorString()));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray replaced = QFile::encodeName(dir.path()) + "/p\xef\xbf\xbd";
    QVERIFY(QFile::link(fake.slavePath(), QFile::decodeName(replaced)));
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("exec \"$0\" --status --port \"$1/$(printf 'p\\351')\""),
                 QStringLiteral(LUMIVOX_EXECUTABLE), dir.path()});
    QVERIFY(shell.waitForFinished(kRunBound));
    QCOMPARE(shell.exitCode(), 64);
    const QByteArray err = shell.readAllStandardError();
    QVERIFY2(err.contains("The port name cannot be handed to the system unchanged"),
             err.constData());
    // The status poll never reached the projector behind the link.
    fake.drain();
    QCOMPARE(fake.received(), QByteArray());
}

void TestCommandLine::protocols_data()
{
    // FAKE is the fake projector's port, SET the fixture's file (also in the user's folder
    // of sets under the name testset), BAD a file the reader refuses.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err"); // a pattern standard error must match
    QTest::addColumn<QByteArray>("wire"); // what reached the projector

    const QString fake = QStringLiteral("FAKE");
    QTest::newRow("power-on from a file")
        << QStringList {"--send", "power-on", "--protocol", "SET", "--port", fake} << 0 << ""
        << "^$" << QByteArray("PWR ONt\r");
    QTest::newRow("status by name")
        << QStringList {"--status", "--protocol", "testset", "--port", fake} << 0 << "on\n"
        << "^$" << QByteArray("PWR?j\r");
    QTest::newRow("lamp hours") << QStringList {"--query", "lamp-time", "--protocol",
                                                "testset", "--port",    fake}
                                << 0 << "1234\n"
                                << "^$" << QByteArray("LAMP?/\r");
    QTest::newRow("not in the set")
        << QStringList {"--send", "hdmi", "--protocol", "testset", "--port", fake} << 3 << ""
        << "^lumivox: hdmi: Test protocol has no such command: nothing was sent\n$" << QByteArray();
    QTest::newRow("the built-in set by name")
        << QStringList {"--status", "--protocol", "builtin", "--port", fake} << 0 << "on\n"
        << "^$" << QByteArray("* 0 Lamp ?\r");
    // The program's own sets by name, then the user's.
    QTest::newRow("list") << QStringList {"--list-protocols"} << 0
                          << "barco-rlm           Barco, Barco RLM (9600 8N1)\n"
                             "benq-rs232          BenQ, BenQ RS232 (9600 8N1)\n"
                             "builtin             Lumivox built-in (9600 8N1)\n"
                             "canon-lv            Canon, Canon LV (19200 8N1)\n"
                             "epson-escvp21       Epson, Epson ESC/VP21 (9600 8N1)\n"
                             "jvc-dila            JVC, JVC D-ILA (19200 8N1)\n"
                             "lg-rs232c           LG, LG RS-232C (9600 8N1)\n"
                             "mitsubishi-rs232c   Mitsubishi, Mitsubishi RS-232C (9600 8N1)\n"
                             "panasonic-rs232c    Panasonic, Panasonic RS-232C (9600 8N1)\n"
                             "sharp-rs232c        Sharp, Sharp RS-232C (9600 8N1)\n"
                             "sony-vpl            Sony, Sony VPL (38400 8E1)\n"
                             "testset             Example, Test protocol (19200 8N1)\n"
                          << "^$" << QByteArray();
    QTest::newRow("pjlink") << QStringList {"--status", "--protocol", "testset", "--port",
                                            "pjlink://127.0.0.1"}
                            << 64 << ""
                            << "^lumivox: --protocol is for serial ports and bridges"
                            << QByteArray();
    QTest::newRow("unknown name")
        << QStringList {"--status", "--protocol", "nosuch", "--port", fake} << 64 << ""
        << "^lumivox: unknown protocol 'nosuch'; the protocols are: barco-rlm, benq-rs232, "
           "builtin, canon-lv, epson-escvp21, jvc-dila, lg-rs232c, mitsubishi-rs232c, "
           "panasonic-rs232c, sharp-rs232c, sony-vpl, testset\n"
        << QByteArray();
    QTest::newRow("refused file") << QStringList {"--status", "--protocol", "BAD", "--port", fake}
                                  << 64 << ""
                                  << "^lumivox: bad.ini:3: unknown section" << QByteArray();
    // Neither is opened: a FIFO would hold the program, a device would be touched.
    QTest::newRow("a FIFO as the set")
        << QStringList {"--status", "--protocol", "FIFO", "--port", fake} << 64 << ""
        << "^lumivox: /.*/fifo.ini: not a regular file\n"
        << QByteArray();
    QTest::newRow("a serial device as the set")
        << QStringList {"--status", "--protocol", "FAKE", "--port", fake} << 64 << ""
        << "^lumivox: /dev/pts/[0-9]+: not a regular file\n"
        << QByteArray();
    QTest::newRow("the set's commands") << QStringList {"--list", "--protocol", "testset"} << 0
                                        << "power-on            PWR ONt\n"
                                           "power-off           PWR OFF:\n"
                                           "lamp-time           LAMP?/\n"
                                        << "^$" << QByteArray();
    QTest::newRow("the set's commands as JSON")
        << QStringList {"--list", "--json", "--protocol", "SET"} << 0
        << "{\"commands\":[{\"frame\":\"PWR ONt\",\"name\":\"power-on\"},{\"frame\":"
           "\"PWR OFF:\",\"name\":\"power-off\"},{\"frame\":\"LAMP?/\",\"name\":"
           "\"lamp-time\"}]}\n"
        << "^$" << QByteArray();
    QTest::newRow("the commands of an unknown set")
        << QStringList {"--list", "--protocol", "nosuch"} << 64 << ""
        << "^lumivox: unknown protocol 'nosuch'" << QByteArray();
    // Without anything to send the window would start: these are refused before it does.
    QTest::newRow("the window with an unknown set")
        << QStringList {"--protocol", "nosuch"} << 64 << ""
        << "^lumivox: unknown protocol 'nosuch'" << QByteArray();
    QTest::newRow("the window with a set on PJLink")
        << QStringList {"--protocol", "testset", "--port", "pjlink://127.0.0.1"} << 64 << ""
        << "^lumivox: --protocol is for serial ports and bridges" << QByteArray();
    QTest::newRow("the window at no rate")
        << QStringList {"--protocol", "testset", "--baud", "fast"} << 64 << ""
        << "^lumivox: --baud takes a rate from 50" << QByteArray();
    // The service takes a set too, but never for a PJLink projector.
    QTest::newRow("with the service, a pjlink:// projector")
        << QStringList {"--serve", "--mqtt", "mqtt://127.0.0.1:9", "--protocol",
                        "testset", "--port", "pjlink://127.0.0.1"}
        << 64 << ""
        << "^lumivox: --protocol is for serial ports and bridges" << QByteArray();
    QTest::newRow("a rate chosen")
        << QStringList {"--status", "--protocol", "testset", "--baud", "38400", "--port", fake} << 0
        << "on\n"
        << "^$" << QByteArray("PWR?j\r");
    QTest::newRow("a rate termios has not")
        << QStringList {"--status", "--baud", "12345", "--port", fake} << 1 << ""
        << "^lumivox: /dev/pts/[0-9]+: 12345 baud is not a rate this system can set\n"
        << QByteArray();
    const QString rates = QStringLiteral("^lumivox: --baud takes a rate from 50 to 4000000\n");
    QTest::newRow("--baud 0") << QStringList {"--status", "--baud", "0", "--port", fake} << 64 << ""
                              << rates << QByteArray();
    QTest::newRow("--baud negative") << QStringList {"--status", "--baud", "-9600", "--port", fake}
                                     << 64 << "" << rates << QByteArray();
    QTest::newRow("--baud absurd") << QStringList {"--status", "--baud", "99999999", "--port", fake}
                                   << 64 << "" << rates << QByteArray();
    QTest::newRow("--baud not a number")
        << QStringList {"--status", "--baud", "fast", "--port", fake} << 64 << "" << rates
        << QByteArray();
    QTest::newRow("--baud with the service")
        << QStringList {"--serve", "--mqtt", "mqtt://127.0.0.1:9", "--baud", "0", "--port", fake}
        << 64 << "" << rates << QByteArray();
    QTest::newRow("--baud for a pjlink:// projector")
        << QStringList {"--status", "--baud", "9600", "--port", "pjlink://127.0.0.1"} << 64 << ""
        << "^lumivox: --baud is for serial ports and bridges" << QByteArray();
    QTest::newRow("--baud for a raw bridge")
        << QStringList {"--status", "--baud", "9600", "--port", "socket://127.0.0.1:9"} << 64 << ""
        << "^lumivox: --baud is for serial ports and rfc2217:// bridges" << QByteArray();
    // Without a request --baud is the window's, bounded as any.
    QTest::newRow("--baud without a request, out of bounds")
        << QStringList {"--baud", "10", "--port", fake} << 64 << ""
        << "^lumivox: --baud takes a rate from 50 to 4000000\n" << QByteArray();
}

void TestCommandLine::protocols()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QByteArray, wire);

    const QString set = QStringLiteral(LUMIVOX_SOURCE_DIR "/tests/fixtures/testset.ini");
    QTemporaryDir data;
    QVERIFY(data.isValid());
    QVERIFY(QDir(data.path()).mkpath(QStringLiteral("home/lumivox/sets")));
    QVERIFY(QFile::copy(set, data.filePath(QStringLiteral("home/lumivox/sets/testset.ini"))));
    const QString bad = data.filePath(QStringLiteral("bad.ini"));
    QFile badFile(bad);
    QVERIFY(badFile.open(QIODevice::WriteOnly));
    badFile.write("[set]\nname = Bad\n[no-such-section]\n");
    badFile.close();

    // The projector of the fixture: each frame it knows has its answer.
    FakeProjector fake;
    QVERIFY2(fake.isValid(), qPrintable(fake.errorString()));
    const QHash<QByteArray, QByteArray> answers {{"PWR ONt\r", "ACK\r"},
                                                 {"PWR?j\r", "PWR=01\r"},
                                                 {"LAMP?/\r", "LAMP=1234\r"},
                                                 {"* 0 Lamp ?\r", "LAMP 1\r"}};
    connect(&fake, &FakeProjector::frameReceived, &fake, [&](const QByteArray &frame) {
        if (answers.contains(frame))
            fake.send(answers.value(frame));
    });

    const QString fifo = data.filePath(QStringLiteral("fifo.ini"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    arguments.replaceInStrings(QStringLiteral("FIFO"), fifo);
    arguments.replaceInStrings(QStringLiteral("FAKE"), fake.slavePath());
    arguments.replaceInStrings(QStringLiteral("SET"), set);
    arguments.replaceInStrings(QStringLiteral("BAD"), bad);
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), data.filePath(QStringLiteral("system")));
    const CommandLineRun result
        = testsupport::runCommandLine(arguments, runtime.path(), environment);
    QCOMPARE(result.out, out);
    QVERIFY2(QRegularExpression(err).match(result.err).hasMatch(), qPrintable(result.err));
    QCOMPARE(result.status, status);
    fake.drain();
    QCOMPARE(fake.received(), wire);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
