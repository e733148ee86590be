// The command buttons against a fake projector: what each control puts on the wire,
// the debug echo, the power questions and the power-off on closing.

#include "boxanswerer.h"
#include "fakeprojector.h"
#include "link/serialprotocol.h"
#include "loadfreeclock.h"
#include "probe/windowform.h"
#include "ui/lumivox.h"
#include "ui/panelcolors.h"
#include "windowprobe.h"
#include "wireframes.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QMessageBox>
#include <QTextEdit>
#include <QtTest>

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {
constexpr int kWireWait = 2000; // ms for bytes to cross the pty
constexpr int kSilenceWait = 50; // ms in which nothing may arrive
constexpr int kPowerOffPause = 2000; // ms the window waits after the power-off frame
constexpr int kPauseSlack = 100; // ms the pause may appear shorter (timer granularity)
constexpr int kPauseBound = 4000; // ms: a close that takes longer hangs
// ms: a close without the pause ends before the pause would have (a busy machine may
// take several hundred ms for the close itself)
constexpr int kPromptBound = kPowerOffPause - kPauseSlack;

using testsupport::BoxAnswerer;
using testsupport::logText;
using testsupport::panelColour;
using testsupport::withoutPolls;

QAbstractButton *control(const Lumivox &window, const QString &name)
{
    return window.findChild<QAbstractButton *>(name);
}
} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandControls_data();
    void commandControls();
    void navigationKeys_data();
    void navigationKeys();
    void lampTimeIsNotThePoll();
    void debugEcho();
    void nothingWithoutPort();
    void powerOn();
    void powerOff_data();
    void powerOff();
    void closeWithLamp_data();
    void closeWithLamp();

private:
    // Opens the fake's pty through the program's own openPort, with nothing
    // recorded or logged yet. The window is shown but the event loop not run, so
    // no timer tick interferes unless a test spins it.
    void openWindow();

    std::unique_ptr<FakeProjector> fake;
    std::unique_ptr<Lumivox> window;
};

void TestLink::init()
{
    fake = std::make_unique<FakeProjector>();
    QVERIFY2(fake->isValid(), qPrintable(fake->errorString()));
    window = std::make_unique<Lumivox>();
    openWindow();
}

void TestLink::cleanup()
{
    window.reset();
    fake.reset();
}

void TestLink::openWindow()
{
    testsupport::openOn(*window, fake->slavePath());
    fake->clearRecord();
}

void TestLink::commandControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("frame");

    const struct
    {
        const char *name;
        const char *text;
    } rows[] = {
        {"freeze", "* 0 IR 007"},
        {"company", "* 0 IR 037"},
        {"compositeVideo", "* 0 IR 019"},
        {"searchVideo", "* 0 IR 031"},
        {"zoom", "* 0 IR 046"},
        {"colorTemperature", "* 0 IR 027"},
        {"hdmi", "* 0 IR 050"},
        {"dvi", "* 0 IR 029"},
        {"sVideo", "* 0 IR 018"},
        {"analogRGB", "* 0 IR 015"},
        {"eKey", "* 0 IR 047"},
        {"contrast", "* 0 IR 026"},
        {"brightness", "* 0 IR 025"},
        {"aspect16_9", "* 0 IR 021"},
        {"aspect4_3", "* 0 IR 022"},
        {"resolution", "* 0 IR 036"},
        // The keystone group has its own codes, not the navigation pad's.
        {"keystoneDown", "* 0 IR 043"},
        {"keystoneUpp", "* 0 IR 042"},
        {"keystone", "* 0 IR 004"},
        {"hide", "* 0 IR 030"},
        {"ok", "* 0 IR 013"},
        {"left", "* 0 IR 012"},
        {"down", "* 0 IR 010"},
        {"right", "* 0 IR 011"},
        {"up", "* 0 IR 009"},
        {"menu", "* 0 IR 008"},
        {"queryModel", "* 0 IR 035"},
        {"queryLampTime", "* 0 Lamp"},
        {"startProjector", "OKOKOKOKOK"},
        {"powerOff", "* 0 IR 002"},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.name)
                                << QByteArray(row.text).append('\r');
}

void TestLink::commandControls()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, frame);

    QAbstractButton *button = control(*window, name);
    QVERIFY(button);
    BoxAnswerer answerer(QMessageBox::Yes); // powerOff asks first
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(fake->waitForFrames(1, kWireWait));
    fake->waitForFrames(2, kSilenceWait); // a second frame would be a fault
    QCOMPARE(withoutPolls(fake->frames()), QList<QByteArray> {frame});
    QVERIFY(fake->partialFrame().isEmpty());
    QCOMPARE(logText(*window), QString()); // the echo only with Debug ticked
}

void TestLink::navigationKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("Return") << int(Qt::Key_Return) << QByteArray("* 0 IR 013\r");
    QTest::newRow("Enter") << int(Qt::Key_Enter) << QByteArray("* 0 IR 013\r");
    QTest::newRow("Left") << int(Qt::Key_Left) << QByteArray("* 0 IR 012\r");
    QTest::newRow("Up") << int(Qt::Key_Up) << QByteArray("* 0 IR 009\r");
    QTest::newRow("Right") << int(Qt::Key_Right) << QByteArray("* 0 IR 011\r");
    QTest::newRow("Down") << int(Qt::Key_Down) << QByteArray("* 0 IR 010\r");
}

void TestLink::navigationKeys()
{
    QFETCH(int, key);
    QFETCH(QByteArray, frame);

    // The animated click needs the event loop, so ticks run and polls may go out.
    QTest::keyClick(window.get(), Qt::Key(key));
    QTRY_COMPARE(withoutPolls((fake->drain(), fake->frames())), QList<QByteArray> {frame});
}

void TestLink::lampTimeIsNotThePoll()
{
    // click() runs no event loop: no tick can add a poll of its own.
    control(*window, QStringLiteral("queryLampTime"))->click();
    QVERIFY(fake->waitForFrames(1, kWireWait));
    fake->waitForFrames(2, kSilenceWait);
    QCOMPARE(fake->received(), QByteArray("* 0 Lamp\r"));
}

void TestLink::debugEcho()
{
    testsupport::WindowForm(*window).debugCheckBox->setChecked(true);
    control(*window, QStringLiteral("brightness"))->click();
    control(*window, QStringLiteral("queryLampTime"))->click();
    QCOMPARE(logText(*window), QStringLiteral("<- * 0 IR 025\n<- * 0 Lamp\n"));
    QVERIFY(fake->waitForFrames(2, kWireWait));
    // The echo shows the text only; the wire gets the carriage return.
    QCOMPARE(fake->received(), QByteArray("* 0 IR 025\r* 0 Lamp\r"));
}

void TestLink::nothingWithoutPort()
{
    window->closePort();
    QVERIFY(!window->session().port());
    testsupport::WindowForm(*window).debugCheckBox->setChecked(true);
    BoxAnswerer answerer(QMessageBox::Yes);
    const QStringList names {"freeze",
                             "company",
                             "compositeVideo",
                             "searchVideo",
                             "zoom",
                             "colorTemperature",
                             "hdmi",
                             "dvi",
                             "sVideo",
                             "analogRGB",
                             "eKey",
                             "contrast",
                             "brightness",
                             "aspect16_9",
                             "aspect4_3",
                             "resolution",
                             "keystoneDown",
                             "keystoneUpp",
                             "keystone",
                             "hide",
                             "ok",
                             "left",
                             "down",
                             "right",
                             "up",
                             "menu",
                             "queryModel",
                             "queryLampTime",
                             "startProjector",
                             "powerOff"};
    for (const QString &name : names)
        control(*window, name)->click();
    window->sendCommand(serialprotocol::kBrightness, 10);
    QVERIFY(!fake->waitForBytes(1, kSilenceWait));
    QCOMPARE(logText(*window), QString());
    // Only the power-off question; no send-failure box.
    QCOMPARE(answerer.titles(), QStringList {QStringLiteral("Turn off")});
}

void TestLink::powerOn()
{
    window->handleReply(QStringLiteral("LAMP 0"));
    QCOMPARE(panelColour(*window), panelcolors::lampOff());
    control(*window, QStringLiteral("startProjector"))->click();
    QCOMPARE(panelColour(*window), panelcolors::neutral());
    QVERIFY(fake->waitForFrames(1, kWireWait));
    QCOMPARE(fake->frames(), QList<QByteArray> {"OKOKOKOKOK\r"});
}

void TestLink::powerOff_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QColor>("colour");

    QTest::newRow("Yes") << QMessageBox::Yes << QByteArray("* 0 IR 002\r")
                         << panelcolors::neutral();
    QTest::newRow("No") << QMessageBox::No << QByteArray() << panelcolors::lampOn();
}

void TestLink::powerOff()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QByteArray, sent);
    QFETCH(QColor, colour);

    window->handleReply(QStringLiteral("LAMP 1"));
    BoxAnswerer answerer(answer);
    control(*window, QStringLiteral("powerOff"))->click();
    QCOMPARE(answerer.titles(), QStringList {QStringLiteral("Turn off")});
    QCOMPARE(answerer.texts(), QStringList {QStringLiteral("Turn the projector off?")});
    QCOMPARE(panelColour(*window), colour);
    if (!sent.isEmpty())
        QVERIFY(fake->waitForBytes(sent.size(), kWireWait));
    fake->waitForBytes(sent.size() + 1, kSilenceWait);
    // Ticks ran while the question was open; their polls are not the answer's doing.
    QCOMPARE(withoutPolls(fake->frames()),
             sent.isEmpty() ? QList<QByteArray> {} : QList<QByteArray> {sent});
    QVERIFY(window->isLampOn()); // only a lamp reply changes the flag
}

void TestLink::closeWithLamp_data()
{
    QTest::addColumn<QString>("lampReply");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("asks");
    QTest::addColumn<bool>("powersOff");
    QTest::addColumn<bool>("quietly"); // as for a request from the system to end

    QTest::newRow("lamp on, Yes") << "LAMP 1" << QMessageBox::Yes << true << true << false;
    QTest::newRow("lamp on, No") << "LAMP 1" << QMessageBox::No << true << false << false;
    QTest::newRow("lamp off") << "LAMP 0" << QMessageBox::Yes << false << false << false;
    QTest::newRow("lamp on, then off")
        << "lamp 1\rLAMP 0" << QMessageBox::Yes << false << false << false;
    QTest::newRow("lamp unknown") << QString() << QMessageBox::Yes << false << false << false;
    QTest::newRow("lamp on, closed quietly")
        << "LAMP 1" << QMessageBox::Yes << false << false << true;
}

void TestLink::closeWithLamp()
{
    QFETCH(QString, lampReply);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, asks);
    QFETCH(bool, powersOff);
    QFETCH(bool, quietly);

    for (const QString &line : lampReply.split(QLatin1Char('\r'), Qt::SkipEmptyParts))
        window->handleReply(line);
    BoxAnswerer answerer(answer);
    // The pause is the window's sleep; what a busy machine adds is left out.
    testsupport::LoadFreeClock clock;
    if (quietly)
        window->closeQuietly();
    else
        QVERIFY(window->close());
    const qint64 elapsed = clock.elapsed();

    QVERIFY(!window->isVisible());
    QCOMPARE(answerer.titles(),
             asks ? QStringList {QStringLiteral("Projector is on!")} : QStringList {});
    if (asks)
        QCOMPARE(answerer.texts().first(),
                 QStringLiteral("The projectorn is On.\nDo you want to turn it off?"));
    if (powersOff) {
        QVERIFY(elapsed >= kPowerOffPause - kPauseSlack);
        QVERIFY(elapsed < kPauseBound);
        QCOMPARE(panelColour(*window), panelcolors::neutral());
        QVERIFY(fake->waitForFrames(1, kWireWait));
        QCOMPARE(withoutPolls(fake->frames()), QList<QByteArray> {"* 0 IR 002\r"});
    } else {
        QVERIFY2(elapsed < kPromptBound, qPrintable(QString::number(elapsed)));
        fake->waitForFrames(1, kSilenceWait);
        QCOMPARE(withoutPolls(fake->frames()), QList<QByteArray> {});
    }
}

QTEST_MAIN(TestLink)

#include "tst_link.moc"
