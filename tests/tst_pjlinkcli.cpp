// The command line on a projector that speaks PJLink, played by the simulator on a
// loopback port: passwords from the environment or a file, what PJLink cannot do, the
// quirks of real projectors, and what scripts get.

#include "commandlinerun.h"
#include "pjlinksimulator.h"
#include "session/scriptedrequest.h"
#include "simulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kWarmUpMs = 500;
constexpr int kWarmUpBound = 10000; // ms in which the projector must report itself on
const QString kPassword = QStringLiteral("secret");
const char kPasswordVariable[] = "LUMIVOX_PJLINK_PASSWORD";

using testsupport::CommandLineRun;
} // namespace

class TestPjlinkCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void runs_data();
    void runs();
    void powerOnWithPasswordFromEnvironment();
    void jsonCarriesPowerAndErrors();
    void projectorTextStaysOneLine_data();
    void projectorTextStaysOneLine();
    void passwordSources_data();
    void passwordSources();
    void secretFiles_data();
    void secretFiles();
    void silentProjectorGivenUp_data();
    void silentProjectorGivenUp();

private:
    void startProjector(const QStringList &setup);
    CommandLineRun run(QStringList arguments, const QString &password = QString());
    // A password file of the test's, readable by its owner alone.
    QString writeSecret(const QByteArray &content);

    QTemporaryDir runtime; // no window listens there
    std::unique_ptr<PjlinkSimulator> projector;
    std::unique_ptr<Simulator> serial;
};

void TestPjlinkCli::init()
{
    QVERIFY(runtime.isValid());
}

void TestPjlinkCli::cleanup()
{
    projector.reset();
    serial.reset();
}

void TestPjlinkCli::startProjector(const QStringList &setup)
{
    if (setup.contains(QLatin1String("serial"))) {
        serial = std::make_unique<Simulator>(Simulator::Options());
        QString error;
        QVERIFY2(serial->start(&error), qPrintable(error));
        return;
    }
    PjlinkSimulator::Options options;
    options.port = 0;
    options.projector.projector.warmUpMs = kWarmUpMs;
    if (setup.contains(QLatin1String("password")))
        options.password = kPassword.toUtf8();
    if (setup.contains(QLatin1String("class 2")))
        options.projector.projectorClass = 2;
    if (setup.contains(QLatin1String("lamp warning")))
        options.projector.errorStatus = "010000";
    options.projector.lowerCase = setup.contains(QLatin1String("lower-case"));
    options.projector.classAsText = setup.contains(QLatin1String("class-as-text"));
    options.projector.latin1Name = setup.contains(QLatin1String("latin1-name"));
    if (setup.contains(QLatin1String("lf")))
        options.projector.lineEnd = "\n";
    if (setup.contains(QLatin1String("crlf")))
        options.projector.lineEnd = "\r\n";
    options.mute = setup.contains(QLatin1String("mute"));
    // A hostile projector: "REQUEST -> REPLY" answers the request so (lines joined by CR).
    const QLatin1String arrow(" -> ");
    for (const QString &entry : setup)
        if (entry.contains(arrow))
            options.replies.insert(entry.section(arrow, 0, 0).toUtf8(),
                                   entry.section(arrow, 1).toUtf8());
    projector = std::make_unique<PjlinkSimulator>(options);
    QString error;
    QVERIFY2(projector->open(&error), qPrintable(error));
}

CommandLineRun TestPjlinkCli::run(QStringList arguments, const QString &password)
{
    const QString port = serial ? serial->portName() : projector->portName();
    arguments.replaceInStrings(QStringLiteral("PORT"), port);
    QProcessEnvironment environment;
    if (!password.isNull())
        environment.insert(QLatin1String(kPasswordVariable), password);
    CommandLineRun result = testsupport::runCommandLine(arguments, runtime.path(), environment);
    // A password is never printed, whatever happened: a run that prints it fails.
    if (!password.isEmpty() && (result.out.contains(password) || result.err.contains(password)))
        result.status = -1;
    return result;
}

QString TestPjlinkCli::writeSecret(const QByteArray &content)
{
    const QString path = runtime.filePath(QStringLiteral("password"));
    QFile written(path);
    if (!written.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || !written.setPermissions(QFile::ReadOwner | QFile::WriteOwner)
        || written.write(content) != content.size())
        qWarning("cannot write %s", qPrintable(path));
    return path;
}

void TestPjlinkCli::runs_data()
{
    // The simulated projector, the password in the environment (null: none), a password
    // file's content (null: none), the arguments, and what the script gets. The
    // projector's connections: -1 whatever they are.
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err"); // a pattern standard error must match
    QTest::addColumn<int>("connections");

    const QStringList status {"--status", "--port", "PORT"};
    const QString none;
    QTest::newRow("no password asked") << QStringList() << none << none << status << 0 << "off\n"
                                       << "^$" << 1;
    QTest::newRow("password from the environment")
        << QStringList {"password"} << kPassword << none << status << 0 << "off\n"
        << "^$" << 1;
    QTest::newRow("password from a file, its first line")
        << QStringList {"password"} << none << kPassword + "\nnot this\n"
        << status << 0 << "off\n"
        << "^$" << 1;
    QTest::newRow("wrong password: one attempt")
        << QStringList {"password"} << "guess" << none << status << 1 << ""
        << "^lumivox: pjlink://127.0.0.1:\\d+: the projector rejected the password\\n$" << 1;
    QTest::newRow("missing password")
        << QStringList {"password"} << none << none << status << 1 << ""
        << "^lumivox: pjlink://127.0.0.1:\\d+: the projector asks for a password: give it "
           "in LUMIVOX_PJLINK_PASSWORD"
        << 1;
    QTest::newRow("no such command in PJLink: nothing sent")
        << QStringList() << none << none << QStringList {"--send", "menu", "--port", "PORT"} << 3
        << ""
        << "^lumivox: menu: PJLink has no such command: nothing was sent\\n$" << 0;
    QTest::newRow("a class 2 command, class 1 projector")
        << QStringList() << none << none << QStringList {"--send", "freeze", "--port", "PORT"} << 3
        << ""
        << "^lumivox: freeze: Only a projector of PJLink class 2" << -1;
    QTest::newRow("ERR3: no input in standby")
        << QStringList() << none << none << QStringList {"--send", "hdmi", "--port", "PORT"} << 3
        << ""
        << "^lumivox: hdmi: Command not available at the moment.\\n$" << -1;
    QTest::newRow("the error status")
        << QStringList {"lamp warning"} << none << none
        << QStringList {"--query", "errors", "--port", "PORT"} << 0 << "Lamp: warning\n"
        << "^$" << -1;
    QTest::newRow("a serial projector's error status")
        << QStringList {"serial"} << none << none
        << QStringList {"--query", "errors", "--port", "PORT"} << 3 << ""
        << "^lumivox: errors: Command not available at the moment.\\n$" << -1;
    // Quirks of real projectors.
    QTest::newRow("replies in lower case")
        << QStringList {"lower-case"} << none << none
        << QStringList {"--query", "model", "--status", "--port", "PORT"} << 0
        << "lumivox lv-1 (demo projector)\noff\n"
        << "^$" << -1;
    QTest::newRow("CLSS=Class 2")
        << QStringList {"class 2", "class-as-text"} << none << none
        << QStringList {"--query", "resolution", "--port", "PORT"} << 3 << ""
        << "^lumivox: resolution: Command not available at the moment.\\n$" << -1;
    QTest::newRow("LF after the reply")
        << QStringList {"lf"} << none << none << status << 0 << "off\n"
        << "^$" << -1;
    QTest::newRow("CR LF after the reply")
        << QStringList {"crlf"} << none << none << status << 0 << "off\n"
        << "^$" << -1;
    // Lines a projector sends unasked answer nothing.
    QTest::newRow("an unasked ERRA while the status waits")
        << QStringList {"password", "%1POWR ? -> %1ERST=ERRA\r%1POWR=0"} << kPassword << none
        << status << 0 << "off\n"
        << "^$" << 1;
    QTest::newRow("an unasked PJLINK ERRA after the first request")
        << QStringList {"password", "%1CLSS ? -> PJLINK ERRA\r%1CLSS=1"} << kPassword << none
        << status << 0 << "off\n"
        << "^$" << 1;
    QTest::newRow("an unasked power state while the class is asked")
        << QStringList {"%1CLSS ? -> %1POWR=1\r%1CLSS=1"} << none << none << status << 0 << "off\n"
        << "^$" << 1;
    // A set command is taken with OK, and with nothing else.
    QTest::newRow("power on answered with a value")
        << QStringList {"%1POWR 1 -> %1POWR=1"} << none << none
        << QStringList {"--send", "power-on", "--port", "PORT"} << 1 << ""
        << "^lumivox: power-on: The projector gave an unexpected answer: 1\n$" << -1;
    QTest::newRow("mute answered with its state")
        << QStringList {"%1AVMT 31 -> %1AVMT=31"} << none << none
        << QStringList {"--send", "show-hide", "--port", "PORT"} << 1 << ""
        << "^lumivox: show-hide: The projector gave an unexpected answer: 31\n$" << -1;
    QTest::newRow("name in Latin-1")
        << QStringList {"latin1-name"} << none << none
        << QStringList {"--query", "model", "--port", "PORT"} << 0
        << QStringLiteral("Lumivox LV-1 (Salle de r\u00e9union)\n") << "^$" << -1;
}

void TestPjlinkCli::runs()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, password);
    QFETCH(QString, file);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(int, connections);
    startProjector(setup);
    if (!file.isNull())
        arguments << QStringLiteral("--password-file") << writeSecret(file.toUtf8());
    const CommandLineRun result = run(arguments, password);
    QCOMPARE(result.out, out);
    QVERIFY2(QRegularExpression(err).match(result.err).hasMatch(), qPrintable(result.err));
    QCOMPARE(result.status, status);
    if (connections >= 0)
        QCOMPARE(projector->connectionsAccepted(), connections);
    if (projector)
        QCOMPARE(projector->passwordsRejected(), password == QLatin1String("guess") ? 1 : 0);
}

void TestPjlinkCli::powerOnWithPasswordFromEnvironment()
{
    startProjector({QStringLiteral("password")});
    const QStringList status {QStringLiteral("--status"), QStringLiteral("--port"),
                              QStringLiteral("PORT")};
    const CommandLineRun on = run({QStringLiteral("--send"), QStringLiteral("power-on"),
                                   QStringLiteral("--port"), QStringLiteral("PORT")},
                                  kPassword);
    QCOMPARE(on.status, 0);
    QCOMPARE(on.out, QString());
    QVERIFY(projector->requests().contains("%1POWR 1"));
    // Unlike a serial projector's lamp, PJLink says that it warms up.
    QCOMPARE(run(status, kPassword).out, QStringLiteral("warming\n"));
    QTRY_COMPARE_WITH_TIMEOUT(run(status, kPassword).out, QStringLiteral("on\n"), kWarmUpBound);
}

void TestPjlinkCli::jsonCarriesPowerAndErrors()
{
    startProjector({QStringLiteral("lamp warning")});
    const CommandLineRun result = run({QStringLiteral("--status"), QStringLiteral("--json"),
                                       QStringLiteral("--port"), QStringLiteral("PORT")});
    QCOMPARE(result.status, 0);
    QJsonParseError error {};
    const QJsonObject object = QJsonDocument::fromJson(result.out.toUtf8(), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(result.out));
    QCOMPARE(object.value(QStringLiteral("power")).toString(), QStringLiteral("off"));
    const QJsonObject errors = object.value(QStringLiteral("errors")).toObject();
    QCOMPARE(errors.value(QStringLiteral("lamp")).toString(), QStringLiteral("warning"));
    QCOMPARE(errors.value(QStringLiteral("fan")).toString(), QStringLiteral("ok"));
    QCOMPARE(errors.size(), 6);
    QCOMPARE(object.value(QStringLiteral("port")).toString(), projector->portName());
    qInfo("%s", qPrintable(result.out.trimmed()));
}

void TestPjlinkCli::projectorTextStaysOneLine_data()
{
    // A projector's hostile answer to --query model, and the model as printed: one line of
    // visible characters, on standard output and in --json alike.
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("model");
    const QString x = QStringLiteral("\ufffd");
    QTest::newRow("name with a line separator")
        << QStringLiteral("%1NAME ? -> %1NAME=Hall\u2028lumivox: forged")
        << "Lumivox LV-1 (Hall" + x + "lumivox: forged)";
    QTest::newRow("name with a paragraph separator")
        << QStringLiteral("%1NAME ? -> %1NAME=Hall\u2029forged")
        << "Lumivox LV-1 (Hall" + x + "forged)";
    QTest::newRow("name turning the line around")
        << QStringLiteral("%1NAME ? -> %1NAME=\u202Egnp.exe") << "Lumivox LV-1 (" + x + "gnp.exe)";
    QTest::newRow("model with noncharacters")
        << QStringLiteral("%1INF2 ? -> %1INF2=LV\uFDD0\uFDD1\uFFFE1")
        << "Lumivox LV" + x + x + x + "1 (Demo Projector)";
    QTest::newRow("maker with an isolate") << QStringLiteral("%1INF1 ? -> %1INF1=\u2067Lumivox")
                                           << x + "Lumivox LV-1 (Demo Projector)";
}

void TestPjlinkCli::projectorTextStaysOneLine()
{
    QFETCH(QString, reply);
    QFETCH(QString, model);
    startProjector({reply});
    const QStringList query {QStringLiteral("--query"), QStringLiteral("model"),
                             QStringLiteral("--port"), QStringLiteral("PORT")};
    const CommandLineRun plain = run(query);
    QCOMPARE(plain.status, 0);
    QCOMPARE(plain.out, model + QLatin1Char('\n'));

    const CommandLineRun json = run(query + QStringList {QStringLiteral("--json")});
    QCOMPARE(json.status, 0);
    QCOMPARE(json.out.count(QLatin1Char('\n')), 1);
    const QJsonObject object = QJsonDocument::fromJson(json.out.toUtf8()).object();
    const QJsonObject step = object.value(QStringLiteral("commands")).toArray().at(0).toObject();
    QCOMPARE(step.value(QStringLiteral("answer")).toString(), model);
    // The raw lines, as the JSON keeps them, are made visible by the same rule.
    for (const QJsonValue &line : step.value(QStringLiteral("replies")).toArray())
        for (const QChar c : line.toString())
            QVERIFY2(c.isPrint() || c == QChar(0xfffd), qPrintable(line.toString()));
}

void TestPjlinkCli::passwordSources_data()
{
    // The projector's password, the password given in the environment or a file, and
    // what the run gets: a password PJLink cannot take is refused before anything is sent.
    QTest::addColumn<QByteArray>("projectorPassword");
    QTest::addColumn<QByteArray>("given");
    QTest::addColumn<bool>("inFile");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("err");
    const QByteArray longest(32, 'p');
    const QByteArray tooLong(33, 'p');
    const QString tooLongSaid
        = QStringLiteral(": the password is longer than the 32 bytes PJLink allows\n$");
    const QString notText = QStringLiteral(": the password is not valid UTF-8 text\n$");
    QTest::newRow("environment, LF after it")
        << kPassword.toUtf8() << QByteArray("secret\n") << false << 0 << "^$";
    QTest::newRow("environment, CR LF after it")
        << kPassword.toUtf8() << QByteArray("secret\r\n") << false << 0 << "^$";
    QTest::newRow("environment, 32 bytes") << longest << longest << false << 0 << "^$";
    QTest::newRow("environment, 33 bytes")
        << tooLong << tooLong << false << 64
        << "^lumivox: cannot read the password: LUMIVOX_PJLINK_PASSWORD" + tooLongSaid;
    QTest::newRow("file, 33 bytes")
        << tooLong << tooLong + "\n"
        << true << 64 << "^lumivox: cannot read the password: .*" + tooLongSaid;
    QTest::newRow("file, UTF-8") << QByteArray("caf\xc3\xa9") << QByteArray("caf\xc3\xa9\n") << true
                                 << 0 << "^$";
    QTest::newRow("file, Latin-1") << QByteArray("caf\xc3\xa9") << QByteArray("caf\xe9\n") << true
                                   << 64 << "^lumivox: cannot read the password: .*" + notText;
    QTest::newRow("file, a stray byte")
        << QByteArray("secret")
        << QByteArray("se\xff"
                      "cret")
        << true << 64 << "^lumivox: cannot read the password: .*" + notText;
}

void TestPjlinkCli::passwordSources()
{
    QFETCH(QByteArray, projectorPassword);
    QFETCH(QByteArray, given);
    QFETCH(bool, inFile);
    QFETCH(int, status);
    QFETCH(QString, err);
    PjlinkSimulator::Options options;
    options.port = 0;
    options.password = projectorPassword;
    projector = std::make_unique<PjlinkSimulator>(options);
    QString error;
    QVERIFY2(projector->open(&error), qPrintable(error));
    QStringList arguments {QStringLiteral("--status"), QStringLiteral("--port"),
                           QStringLiteral("PORT")};
    if (inFile)
        arguments << QStringLiteral("--password-file") << writeSecret(given);
    const CommandLineRun result = run(arguments, inFile ? QString() : QString::fromUtf8(given));
    QVERIFY2(QRegularExpression(err).match(result.err).hasMatch(), qPrintable(result.err));
    QCOMPARE(result.status, status);
    QCOMPARE(result.out, status == 0 ? QStringLiteral("off\n") : QString());
    QCOMPARE(projector->passwordsRejected(), 0);
    if (status != 0)
        QCOMPARE(projector->connectionsAccepted(), 0);
}

void TestPjlinkCli::secretFiles_data()
{
    // What the password file is, the option naming it, and what the run gets: at once,
    // whatever the file is, with one exit status for a file that cannot be read.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("err");
    const QString pjlink = QStringLiteral("--password-file");
    const QString mqtt = QStringLiteral("--mqtt-password-file");
    const QString notRegular = QStringLiteral(": not a regular file\n");
    QTest::newRow("FIFO") << "fifo" << pjlink << 64
                          << "^lumivox: cannot read the password: .*" + notRegular;
    QTest::newRow("FIFO with a writer") << "fifo with a writer" << pjlink << 64
                                        << "^lumivox: cannot read the password: .*" + notRegular;
    QTest::newRow("directory") << "directory" << pjlink << 64
                               << "^lumivox: cannot read the password: .*" + notRegular;
    QTest::newRow("missing") << "missing" << pjlink << 64
                             << "^lumivox: cannot read the password: .*: No such file";
    QTest::newRow("readable by others")
        << "readable by others" << pjlink << 0
        << "^lumivox: .*pw-file: other users of this machine may read this password file; "
           "make it readable by its owner alone \\(chmod 600\\)\n$";
    QTest::newRow("broker's, FIFO")
        << "fifo" << mqtt << 64 << "^lumivox: --mqtt-password-file: .*" + notRegular;
    QTest::newRow("broker's, FIFO with a writer")
        << "fifo with a writer" << mqtt << 64 << "^lumivox: --mqtt-password-file: .*" + notRegular;
    QTest::newRow("broker's, missing")
        << "missing" << mqtt << 64 << "^lumivox: --mqtt-password-file: .*: No such file";
}

void TestPjlinkCli::secretFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, option);
    QFETCH(int, status);
    QFETCH(QString, err);
    PjlinkSimulator::Options options;
    options.port = 0;
    options.password = kPassword.toUtf8();
    projector = std::make_unique<PjlinkSimulator>(options);
    QString error;
    QVERIFY2(projector->open(&error), qPrintable(error));
    const QString path = runtime.filePath(QStringLiteral("pw-file"));
    int writer = -1;
    if (kind.startsWith(QLatin1String("fifo"))) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), S_IRUSR | S_IWUSR), 0);
        // A writer that holds the FIFO open and writes nothing: a read would wait for ever.
        if (kind.endsWith(QLatin1String("writer")))
            writer = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK);
    } else if (kind == QLatin1String("directory")) {
        QVERIFY(QDir(runtime.path()).mkdir(QStringLiteral("pw-file")));
    } else if (kind == QLatin1String("readable by others")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kPassword.toUtf8() + '\n');
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                    | QFile::ReadOther));
    }
    QStringList arguments {QStringLiteral("--port"), QStringLiteral("PORT"), option, path};
    if (option == QLatin1String("--mqtt-password-file"))
        arguments << QStringLiteral("--serve") << QStringLiteral("--mqtt")
                  << QStringLiteral("mqtt://127.0.0.1:1") << QStringLiteral("--mqtt-user")
                  << QStringLiteral("lumivox");
    else
        arguments << QStringLiteral("--status");
    const CommandLineRun result = run(arguments);
    if (writer >= 0)
        ::close(writer);
    QFile::remove(path);
    QDir(runtime.path()).rmdir(QStringLiteral("pw-file"));
    QVERIFY2(QRegularExpression(err).match(result.err).hasMatch(), qPrintable(result.err));
    QCOMPARE(result.status, status);
    QVERIFY(!result.err.contains(kPassword));
}

void TestPjlinkCli::silentProjectorGivenUp_data()
{
    // A projector that greets and then never answers: each question is given up after
    // its own answer wait, not after what the opening asked.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("name");
    QTest::newRow("status") << QStringList {"--status"} << "status";
    QTest::newRow("error status") << QStringList {"--query", "errors"} << "errors";
    QTest::newRow("lamp time") << QStringList {"--query", "lamp-time"} << "lamp-time";
    QTest::newRow("model") << QStringList {"--query", "model"} << "model";
}

void TestPjlinkCli::silentProjectorGivenUp()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, name);
    // The answer wait, and as long again for connecting, greeting and starting: far
    // below the 10 s a user would take for a hang.
    constexpr int kBound = 3 * ScriptedRequest::kAnswerWait;
    startProjector({QStringLiteral("mute")});
    const CommandLineRun result
        = run(arguments + QStringList {QStringLiteral("--port"), QStringLiteral("PORT")});
    QCOMPARE(result.status, 2);
    QCOMPARE(result.err,
             QStringLiteral("lumivox: %1: no answer from the projector within 2 s\n").arg(name));
    QVERIFY2(result.elapsedMs < kBound, qPrintable(QString::number(result.elapsedMs)));
}

QTEST_GUILESS_MAIN(TestPjlinkCli)
#include "tst_pjlinkcli.moc"
