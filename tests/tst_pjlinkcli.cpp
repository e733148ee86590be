// The command line on a projector that speaks PJLink, played by the simulator on a
// loopback port: passwords from the environment or a file, what PJLink cannot do, the
// quirks of real projectors, and what scripts get.

#include "commandlinerun.h"
#include "pjlinksimulator.h"
#include "simulator.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

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

private:
    void startProjector(const QStringList &setup);
    CommandLineRun run(QStringList arguments, const QString &password = QString());

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
    if (!file.isNull()) {
        const QString path = runtime.filePath(QStringLiteral("password"));
        QFile written(path);
        QVERIFY(written.open(QIODevice::WriteOnly));
        written.write(file.toUtf8());
        written.close();
        arguments << QStringLiteral("--password-file") << path;
    }
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

QTEST_GUILESS_MAIN(TestPjlinkCli)
#include "tst_pjlinkcli.moc"
