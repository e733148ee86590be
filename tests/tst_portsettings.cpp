// The port settings dialog as a user drives it from the connection button: what it
// proposes, and how Apply, Return, Cancel, Escape and the close button leave the port.

#include "fakeprojector.h"

#include "link/serialport.h"
#include "probe/windowform.h"
#include "settingsdriver.h"
#include "translation.h"
#include "ui/lumivox.h"
#include "ui/settings.h"
#include "windowprobe.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTranslator>
#include <QWindow>
#include <QtTest>

#include <functional>

namespace {
constexpr int kWireWait = 2000; // ms for bytes to cross the pty

using testsupport::applyName;
using testsupport::DialogAction;
using testsupport::dialogButton;
using testsupport::logText;
using testsupport::nameEdit;
using testsupport::typeName;

const QString failureLines = QStringLiteral(
    "Failed to initialize Com-port!\nCommunication with projector not possible.\nReason: ");
} // namespace

class TestPortSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void proposesCom1EveryTime();
    void applyReopens_data();
    void applyReopens();
    void leavesPortAlone_data();
    void leavesPortAlone();
    void openFailures_data();
    void openFailures();
    void translatedProposal();

private:
    bool runSettings(const DialogAction &action)
    {
        return testsupport::runSettings(*window, action);
    }

    std::unique_ptr<FakeProjector> fake;
    std::unique_ptr<Lumivox> window;
};

void TestPortSettings::init()
{
    fake = std::make_unique<FakeProjector>();
    QVERIFY2(fake->isValid(), qPrintable(fake->errorString()));
    window = std::make_unique<Lumivox>();
    testsupport::openOn(*window, fake->slavePath());
}

void TestPortSettings::cleanup()
{
    window.reset();
    fake.reset();
}

void TestPortSettings::proposesCom1EveryTime()
{
    QStringList proposals;
    const auto note = [&proposals](Settings *dialog) {
        proposals.append(nameEdit(dialog)->text());
    };
    QVERIFY(runSettings([&](Settings *dialog) {
        note(dialog);
        applyName(dialog, fake->slavePath());
    }));
    QVERIFY(runSettings([&](Settings *dialog) {
        note(dialog);
        typeName(dialog, QStringLiteral("ttyUSB7"));
        dialogButton(dialog, "cancelSettings")->click();
    }));
    QVERIFY(runSettings([&](Settings *dialog) {
        note(dialog);
        dialog->reject();
    }));
    QCOMPARE(proposals, QStringList(3, QStringLiteral("COM1")));
}

void TestPortSettings::applyReopens_data()
{
    QTest::addColumn<bool>("otherPort");
    QTest::addColumn<bool>("byReturn");

    QTest::newRow("another port, Apply") << true << false;
    QTest::newRow("unchanged name, Apply") << false << false;
    QTest::newRow("another port, Return") << true << true;
}

void TestPortSettings::applyReopens()
{
    QFETCH(bool, otherPort);
    QFETCH(bool, byReturn);

    FakeProjector other;
    QVERIFY(other.isValid());
    FakeProjector &target = otherPort ? other : *fake;

    QVERIFY(runSettings([&](Settings *dialog) {
        typeName(dialog, target.slavePath());
        if (byReturn)
            QTest::keyClick(nameEdit(dialog), Qt::Key_Return);
        else
            dialogButton(dialog, "applySettings")->click();
    }));
    // Closed even when the name is the same: the open is exclusive, so it would fail.
    QCOMPARE(logText(*window), QStringLiteral("Com-port initialized!\n"));
    QVERIFY(window->session().port());
    QCOMPARE(window->session().port()->location(), target.slavePath());
    if (otherPort)
        QVERIFY(SerialPort::open(fake->slavePath())); // the old port was let go

    // The reopened port carries commands.
    fake->clearRecord();
    other.clearRecord();
    testsupport::WindowForm(*window).brightness->click();
    QVERIFY(target.waitForFrames(1, kWireWait));
    QVERIFY(target.frames().contains("* 0 IR 025\r"));
}

void TestPortSettings::leavesPortAlone_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel after editing") << "cancel";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("close button") << "close";
}

void TestPortSettings::leavesPortAlone()
{
    QFETCH(QString, how);

    const PortDevice *before = window->session().port();
    QVERIFY(runSettings([&](Settings *dialog) {
        typeName(dialog, QStringLiteral("ttyUSB7"));
        if (how == QLatin1String("cancel"))
            dialogButton(dialog, "cancelSettings")->click();
        else if (how == QLatin1String("escape"))
            QTest::keyClick(nameEdit(dialog), Qt::Key_Escape);
        else
            dialog->windowHandle()->close(); // as the window system's close button does
    }));
    QCOMPARE(window->session().port(), before);
    QCOMPARE(logText(*window), QString()); // a reopen would say so
}

void TestPortSettings::openFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("held");

    QTest::newRow("empty name") << QString() << false;
    QTest::newRow("missing device") << QStringLiteral("/dev/lumivox-no-such-port") << false;
    QTest::newRow("held by another opener") << QString() << true;
}

void TestPortSettings::openFailures()
{
    QFETCH(QString, name);
    QFETCH(bool, held);

    // The other opener is a second window: the port's lock keeps it out.
    FakeProjector heldPty;
    Lumivox holder;
    if (held) {
        QVERIFY(heldPty.isValid());
        name = heldPty.slavePath();
        QString reason;
        QVERIFY2(holder.openPort(name, &reason), qPrintable(reason));
    }
    QVERIFY(runSettings([&](Settings *dialog) { applyName(dialog, name); }));
    QVERIFY(!window->session().port());
    const QString log = logText(*window);
    QVERIFY2(log.startsWith(failureLines), qPrintable(log));
    QVERIFY(log.endsWith(QLatin1Char('\n')));
    QCOMPARE(log.count(QLatin1Char('\n')), 3); // the reason is one line
    if (held)
        QVERIFY(holder.session().port());
}

void TestPortSettings::translatedProposal()
{
    if (!QFile::exists(testsupport::testCatalogueSource()))
        QSKIP("no catalogue fixture in tests/fixtures");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString error;
    const QString compiled = testsupport::buildTestCatalogue(dir.path(), &error);
    QVERIFY2(!compiled.isEmpty(), qPrintable(error));
    QTranslator translator;
    QVERIFY(translator.load(compiled));
    const QString expected = translator.translate("SettingsClass", "COM1");
    QVERIFY2(!expected.isEmpty() && expected != QLatin1String("COM1"),
             "the fixture does not map COM1 in SettingsClass");
    QVERIFY(QCoreApplication::installTranslator(&translator));

    QString proposal;
    const bool shown = runSettings([&](Settings *dialog) {
        proposal = nameEdit(dialog)->text();
        dialog->reject();
    });
    QCoreApplication::removeTranslator(&translator);
    QVERIFY(shown);
    QCOMPARE(proposal, expected);
}

QTEST_MAIN(TestPortSettings)

#include "tst_portsettings.moc"
