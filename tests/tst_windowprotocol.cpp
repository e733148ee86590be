// The window speaking another maker's protocol: the set and baud rate the settings dialog
// keeps and applies, the one kept at the start (or chosen for the run), the buttons the
// set has no frame for, and the panel coloured from the set's power query.

#include "fakeprojector.h"

#include "probe/windowform.h"
#include "settingsdriver.h"
#include "ui/lumivox.h"
#include "ui/settings.h"
#include "windowprobe.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

namespace {
constexpr int kWireWait = 2000; // ms for bytes to cross the pty
constexpr int kColourBound = 5000; // ms for the first poll's answer to colour the panel

const QString setName = QStringLiteral("Test protocol"); // the fixture's [set] name
const QString notInTheSet = QStringLiteral("Not available: Test protocol has no such command");

using testsupport::dialogButton;
using testsupport::logText;
using testsupport::typeName;

QComboBox *combo(Settings *dialog, const char *name)
{
    return dialog->findChild<QComboBox *>(QLatin1String(name));
}

QString chosenSetName(const Lumivox &window)
{
    const std::optional<CommandSet> &set = window.session().chosenCommandSet();
    return set ? set->name : QString();
}
} // namespace

class TestWindowProtocol : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dialogKeepsAndApplies_data();
    void dialogKeepsAndApplies();
    void choiceAtStart_data();
    void choiceAtStart();
    void buttonsOfTheSet_data();
    void buttonsOfTheSet();
    void panelFromPowerQuery_data();
    void panelFromPowerQuery();

private:
    // A window on the fake projector, speaking the fixture's set.
    void openWithSet();

    QTemporaryDir config;
    QTemporaryDir data;
    std::unique_ptr<FakeProjector> fake;
    std::unique_ptr<Lumivox> window;
};

void TestWindowProtocol::initTestCase()
{
    // The settings and the user's sets of this test alone, before anything reads them.
    QVERIFY(config.isValid() && data.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    const QString sets = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
        + QStringLiteral("/sets");
    QVERIFY(QDir().mkpath(sets));
    QVERIFY(QFile::copy(QStringLiteral(LUMIVOX_SOURCE_DIR "/tests/fixtures/testset.ini"),
                        sets + QStringLiteral("/testset.ini")));
    QFile broken(sets + QStringLiteral("/broken.ini"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("[set]\nname = Broken\n[no-such-section]\n");
}

void TestWindowProtocol::init()
{
    QSettings(QSettings::IniFormat, QSettings::UserScope,
              QLatin1String(ProtocolChoice::kSettingsOrganization),
              QLatin1String(ProtocolChoice::kSettingsApplication))
        .clear();
    fake = std::make_unique<FakeProjector>();
    QVERIFY2(fake->isValid(), qPrintable(fake->errorString()));
}

void TestWindowProtocol::cleanup()
{
    window.reset();
    fake.reset();
}

void TestWindowProtocol::openWithSet()
{
    ProtocolChoice choice;
    choice.set = QStringLiteral("testset");
    window = std::make_unique<Lumivox>(nullptr, Qt::WindowFlags(), choice);
    testsupport::openOn(*window, fake->slavePath());
}

void TestWindowProtocol::dialogKeepsAndApplies_data()
{
    QTest::addColumn<QString>("port"); // FAKE for the fake projector
    QTest::addColumn<QString>("set"); // as the choice holds it: empty for the built-in
    QTest::addColumn<QString>("rate"); // typed; empty to leave the usual one
    QTest::addColumn<bool>("apply");
    QTest::addColumn<bool>("serialChoices"); // whether the set and rate can be chosen
    QTest::addColumn<QString>("keptSet");
    QTest::addColumn<int>("keptBaud");
    QTest::addColumn<QString>("spoken"); // the session's set's name
    QTest::addColumn<QByteArray>("powerOn"); // what power-on then writes

    const QString fakePort = QStringLiteral("FAKE");
    QTest::newRow("the built-in, as it was")
        << fakePort << QString() << QString() << true << true << QString() << 0 << QString()
        << QByteArray("OKOKOKOKOK\r");
    QTest::newRow("a maker's set at its usual rate")
        << fakePort << "testset" << QString() << true << true << "testset" << 0 << setName
        << QByteArray("PWR ONt\r");
    QTest::newRow("its other rate")
        << fakePort << "testset"
        << "9600" << true << true << "testset" << 9600 << setName << QByteArray("PWR ONt\r");
    QTest::newRow("a typed rate") << fakePort << "testset"
                                  << "38400" << true << true << "testset" << 38400 << setName
                                  << QByteArray("PWR ONt\r");
    QTest::newRow("cancelled") << fakePort << "testset"
                               << "9600" << false << true << QString() << 0 << QString()
                               << QByteArray("OKOKOKOKOK\r");
    QTest::newRow("a PJLink name") << "pjlink://127.0.0.1:9" << QString() << QString() << false
                                   << false << QString() << 0 << QString() << QByteArray();
}

void TestWindowProtocol::dialogKeepsAndApplies()
{
    QFETCH(QString, port);
    QFETCH(QString, set);
    QFETCH(QString, rate);
    QFETCH(bool, apply);
    QFETCH(bool, serialChoices);
    QFETCH(QString, keptSet);
    QFETCH(int, keptBaud);
    QFETCH(QString, spoken);
    QFETCH(QByteArray, powerOn);

    window = std::make_unique<Lumivox>();
    testsupport::openOn(*window, fake->slavePath());
    port.replace(QStringLiteral("FAKE"), fake->slavePath());
    bool enabled = false;
    QVERIFY(testsupport::runSettings(*window, [&](Settings *dialog) {
        typeName(dialog, port);
        QComboBox *sets = combo(dialog, "commandSet");
        QComboBox *rates = combo(dialog, "baudRate");
        enabled = sets->isEnabled() && rates->isEnabled();
        // The built-in first, under its set's name.
        QCOMPARE(sets->itemText(0), QStringLiteral("Lumivox built-in"));
        sets->setCurrentIndex(sets->findData(set));
        if (!rate.isEmpty()) {
            rates->lineEdit()->selectAll();
            QTest::keyClicks(rates->lineEdit(), rate);
        }
        dialogButton(dialog, apply ? "applySettings" : "cancelSettings")->click();
    }));
    QCOMPARE(enabled, serialChoices);
    const ProtocolChoice kept = ProtocolChoice::stored();
    QCOMPARE(kept.set, keptSet);
    QCOMPARE(kept.baud, keptBaud);
    QCOMPARE(chosenSetName(*window), spoken);
    QCOMPARE(window->session().chosenBaudRate(), apply ? keptBaud : 0);
    if (powerOn.isEmpty())
        return;
    fake->clearRecord();
    testsupport::WindowForm(*window).startProjector->click();
    QVERIFY(fake->waitForFrames(1, kWireWait));
    QCOMPARE(fake->frames().constLast(), powerOn);
}

void TestWindowProtocol::choiceAtStart_data()
{
    QTest::addColumn<QString>("kept"); // the set the settings keep
    QTest::addColumn<QString>("forThisRun"); // the command line's; "-" for none
    QTest::addColumn<QString>("spoken");
    QTest::addColumn<QString>("said"); // in the log; empty for nothing about the set

    QTest::newRow("nothing kept") << QString() << "-" << QString() << QString();
    QTest::newRow("a kept set") << "testset"
                                << "-" << setName << QString();
    QTest::newRow("a kept set gone")
        << "gone"
        << "-" << QString() << "Command set gone not used (unknown protocol 'gone'";
    QTest::newRow("a kept set that no longer reads")
        << "broken"
        << "-" << QString() << "Command set broken not used (broken.ini:3: unknown section";
    QTest::newRow("this run's set") << "broken"
                                    << "testset" << setName << QString();
    QTest::newRow("this run's built-in") << "testset"
                                         << "builtin" << QString() << QString();
}

void TestWindowProtocol::choiceAtStart()
{
    QFETCH(QString, kept);
    QFETCH(QString, forThisRun);
    QFETCH(QString, spoken);
    QFETCH(QString, said);

    ProtocolChoice stored;
    stored.set = kept;
    stored.store();
    std::optional<ProtocolChoice> run;
    if (forThisRun != QLatin1String("-"))
        run = ProtocolChoice {forThisRun, 0};
    window = std::make_unique<Lumivox>(nullptr, Qt::WindowFlags(), run);
    QCOMPARE(chosenSetName(*window), spoken);
    const QString log = logText(*window);
    if (said.isEmpty())
        QVERIFY2(!log.contains(QStringLiteral("Command set")), qPrintable(log));
    else
        QVERIFY2(log.contains(said), qPrintable(log));
    // This run's choice is not kept.
    QCOMPARE(ProtocolChoice::stored().set, kept);
}

void TestWindowProtocol::buttonsOfTheSet_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("power on") << "startProjector" << true;
    QTest::newRow("power off") << "powerOff" << true;
    QTest::newRow("lamp time") << "queryLampTime" << true;
    QTest::newRow("hdmi") << "hdmi" << false;
    QTest::newRow("model") << "queryModel" << false;
    QTest::newRow("menu") << "menu" << false;
}

void TestWindowProtocol::buttonsOfTheSet()
{
    QFETCH(QString, button);
    QFETCH(bool, enabled);

    openWithSet();
    auto *pushButton = window->findChild<QPushButton *>(button);
    QVERIFY(pushButton);
    QCOMPARE(pushButton->isEnabled(), enabled);
    QCOMPARE(pushButton->toolTip() == notInTheSet, !enabled);
    // Back on the built-in protocol every button is there again.
    window->closePort();
    QVERIFY(pushButton->isEnabled());
    QVERIFY(pushButton->toolTip() != notInTheSet);
}

void TestWindowProtocol::panelFromPowerQuery_data()
{
    QTest::addColumn<QByteArray>("answer"); // to the set's power query
    QTest::addColumn<QString>("panel");

    QTest::newRow("on") << QByteArray("PWR=01\r") << "green";
    QTest::newRow("off") << QByteArray("PWR=00\r") << "red";
    QTest::newRow("no answer") << QByteArray() << "yellow";
}

void TestWindowProtocol::panelFromPowerQuery()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, panel);

    connect(fake.get(), &FakeProjector::frameReceived, fake.get(), [&](const QByteArray &frame) {
        if (frame == "PWR?j\r" && !answer.isEmpty())
            fake->send(answer);
    });
    openWithSet();
    QTRY_VERIFY_WITH_TIMEOUT(fake->frames().contains("PWR?j\r"), kColourBound);
    QTRY_COMPARE_WITH_TIMEOUT(testsupport::statusName(testsupport::panelColour(*window)), panel,
                              kColourBound);
}

QTEST_MAIN(TestWindowProtocol)
#include "tst_windowprotocol.moc"
