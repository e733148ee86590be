// The window on a projector that speaks PJLink, played by the simulator on a loopback
// port: the panel through warm-up and cool-down, the password box, connections that the
// projector closes, and the buttons PJLink has no meaning for.

#include "boxanswerer.h"
#include "channel/localchannel.h"
#include "channelprobe.h"
#include "commandlinerun.h"
#include "fakeprojector.h"
#include "link/characters.h"
#include "pjlinksimulator.h"
#include "probe/sessionprobe.h"
#include "probe/tickwatch.h"
#include "probe/windowform.h"
#include "settingsdriver.h"
#include "ui/lumivox.h"
#include "ui/settings.h"
#include "windowprobe.h"

#include <QInputDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {
constexpr int kWarmUpMs = 1000;
constexpr int kPollMs = 3100;
constexpr int kColourBound = 3000; // ms from Apply to the first colour: far above a round trip
// ms for a state change to show: the change itself, the next poll and its round trip
constexpr int kChangeBound = kWarmUpMs + 2 * kPollMs;
constexpr int kPollTicks = 31;

using testsupport::logText;
using testsupport::statusName;

// Answers the password box as a user would: types `typed` and presses OK, or cancels
// when it is null.
class PasswordTyper : public QObject
{
public:
    explicit PasswordTyper(QString typed)
        : typed(std::move(typed))
    {
        qApp->installEventFilter(this);
    }
    ~PasswordTyper() override { qApp->removeEventFilter(this); }
    int shown = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QInputDialog *>(watched);
        if (box && event->type() == QEvent::Show) {
            ++shown;
            QTimer::singleShot(0, box, [box, this] {
                if (typed.isNull()) {
                    box->reject();
                    return;
                }
                box->setTextValue(typed);
                box->accept();
            });
        }
        return false;
    }

private:
    QString typed;
};
// Notes each new colour of a widget, looked at once its painting is done.
class PaintRecorder : public QObject
{
public:
    PaintRecorder(QWidget *watched, std::function<QString()> colourOf)
        : colours {colourOf()}
        , colourOf(std::move(colourOf))
    {
        watched->installEventFilter(this);
    }
    void look()
    {
        looking = true; // the look paints the widget itself
        const QString now = colourOf();
        looking = false;
        if (now != colours.constLast())
            colours.append(now);
    }
    QStringList colours;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !looking)
            QMetaObject::invokeMethod(this, &PaintRecorder::look, Qt::QueuedConnection);
        return false;
    }

private:
    std::function<QString()> colourOf;
    bool looking = false;
};
} // namespace

class TestPjlinkWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void coloursThroughWarmUpAndCoolDown();
    void powerOffWhileWarmingIsLogged();
    void passwords_data();
    void passwords();
    void idleCloseBetweenPolls();
    void oneConnectionWhileCommandAndPollMeet();
    void disabledButtons_data();
    void disabledButtons();
    void inputsListedOnceOn();
    void scriptThroughTheWindow();
    void scriptWhileThePasswordIsWanted_data();
    void scriptWhileThePasswordIsWanted();
    void closingWhileOnSwitchesOff();
    void projectorTextInTheLog_data();
    void projectorTextInTheLog();
    void unaskedLinesAnswerNothing_data();
    void unaskedLinesAnswerNothing();

private:
    void startProjector(const PjlinkSimulator::Options &options);
    void apply(const QString &name);
    QString colour() const { return statusName(testsupport::panelColour(*window)); }
    bool requested(const QByteArray &request) const
    {
        return projector->requests().contains(request);
    }

    QTemporaryDir runtime;
    std::unique_ptr<PjlinkSimulator> projector;
    std::unique_ptr<Lumivox> window;
};

void TestPjlinkWindow::initTestCase()
{
    QVERIFY(runtime.isValid());
    // Never the user's own runtime directory, where a real window may listen.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
}

void TestPjlinkWindow::init()
{
    window = std::make_unique<Lumivox>();
    window->show();
    testsupport::WindowForm(*window).textEdit->clear(); // COM1's failure at the start
}

void TestPjlinkWindow::cleanup()
{
    window.reset();
    projector.reset();
}

void TestPjlinkWindow::startProjector(const PjlinkSimulator::Options &given)
{
    PjlinkSimulator::Options options = given;
    options.port = 0;
    options.projector.projector.warmUpMs = kWarmUpMs;
    options.projector.projector.coolDownMs = kWarmUpMs;
    projector = std::make_unique<PjlinkSimulator>(options);
    QString error;
    QVERIFY2(projector->open(&error), qPrintable(error));
}

void TestPjlinkWindow::apply(const QString &name)
{
    QVERIFY(testsupport::runSettings(
        *window, [&](Settings *dialog) { testsupport::applyName(dialog, name); }));
}

void TestPjlinkWindow::coloursThroughWarmUpAndCoolDown()
{
    startProjector({});
    apply(projector->portName());
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("red"), kColourBound);

    // Every colour the panel shows, in turn: warming up and cooling down are never red.
    // Looked at after each time the panel is painted, so that no colour, however brief or
    // however busy the machine, slips between two looks.
    PaintRecorder shown(testsupport::WindowForm(*window).on_off_groupBox,
                        [this] { return colour(); });
    testsupport::WindowForm(*window).startProjector->click();
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("green"), kChangeBound);
    testsupport::BoxAnswerer yes(QMessageBox::Yes);
    testsupport::WindowForm(*window).powerOff->click();
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("red"), kChangeBound);
    shown.look();
    QCOMPARE(shown.colours, (QStringList {"red", "yellow", "green", "yellow", "red"}));
    QVERIFY(requested("%1POWR 1") && requested("%1POWR 0"));
    QCOMPARE(logText(*window), QStringLiteral("Com-port initialized!\n"));
}

void TestPjlinkWindow::powerOffWhileWarmingIsLogged()
{
    startProjector({});
    apply(projector->portName());
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("red"), kColourBound);
    testsupport::WindowForm(*window).startProjector->click();
    testsupport::BoxAnswerer yes(QMessageBox::Yes);
    testsupport::WindowForm(*window).powerOff->click();
    QTRY_VERIFY_WITH_TIMEOUT(requested("%1POWR 0"), kColourBound);
    QTRY_COMPARE_WITH_TIMEOUT(logText(*window),
                              QStringLiteral("Com-port initialized!\n"
                                             "Command not available at the moment.\n"),
                              kColourBound);
    // The projector goes on warming up, and says so.
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("green"), kChangeBound);
}

void TestPjlinkWindow::passwords_data()
{
    // What the user types into the box (null: cancels it), and what follows.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("said"); // the log after "Com-port initialized!"
    QTest::addColumn<int>("rejections"); // seen by the projector
    QTest::newRow("right") << "secret"
                           << "red" << QString() << 0;
    QTest::newRow("wrong") << "guess"
                           << "yellow"
                           << "PORT: the projector rejected the password\n"
                           << 1;
    QTest::newRow("missing") << QString() << "yellow"
                             << "PORT: no password given; apply the name again to give one\n"
                             << 0;
    // Refused before it is sent: PJLink takes no more than 32 bytes.
    QTest::newRow("too long") << QString(33, QLatin1Char('s')) << "yellow"
                              << "PORT: the password is longer than the 32 bytes PJLink allows; "
                                 "apply the name again to give another\n"
                              << 0;
}

void TestPjlinkWindow::passwords()
{
    QFETCH(QString, typed);
    QFETCH(QString, panel);
    QFETCH(QString, said);
    QFETCH(int, rejections);
    PjlinkSimulator::Options options;
    options.password = "secret";
    startProjector(options);
    PasswordTyper typer(typed);
    apply(projector->portName());
    QTRY_COMPARE_WITH_TIMEOUT(typer.shown, 1, kColourBound);
    QTRY_COMPARE_WITH_TIMEOUT(colour(), panel, kChangeBound);

    // Two more polls: a refused or missing password is not tried again, nor asked for.
    const testsupport::TickWatch ticks(window.get());
    QTRY_VERIFY_WITH_TIMEOUT(ticks.gapsMs().size() > 2 * kPollTicks, 3 * kChangeBound);
    QCOMPARE(typer.shown, 1);
    QCOMPARE(projector->passwordsRejected(), rejections);
    const QString log = logText(*window);
    QCOMPARE(log,
             QStringLiteral("Com-port initialized!\n")
                 + QString(said).replace(QLatin1String("PORT"), projector->portName()));
    if (!typed.isEmpty())
        QVERIFY(!log.contains(typed));
    if (panel == QLatin1String("yellow") && rejections == 0)
        QCOMPARE(projector->requests(), QList<QByteArray>());
}

void TestPjlinkWindow::idleCloseBetweenPolls()
{
    PjlinkSimulator::Options options;
    options.idleCloseMs = kPollMs / 3;
    startProjector(options);
    apply(projector->portName());
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("red"), kColourBound);
    // Two polls, each on a connection of its own after the projector closed the last.
    QTRY_VERIFY_WITH_TIMEOUT(projector->connectionsAccepted() >= 3, 3 * kPollMs);
    QTRY_COMPARE_WITH_TIMEOUT(projector->requests().count("%1POWR ?"), 3, kPollMs);
    QCOMPARE(colour(), QStringLiteral("red"));
    QVERIFY(testsupport::SessionProbe::noContactTicks(window->session())
            < ProjectorSession::kNoContact);
    QCOMPARE(logText(*window), QStringLiteral("Com-port initialized!\n"));
}

void TestPjlinkWindow::oneConnectionWhileCommandAndPollMeet()
{
    PjlinkSimulator::Options options;
    options.oneConnection = true;
    startProjector(options);
    apply(projector->portName());
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("red"), kColourBound);
    // Lamp Time is clicked just as a poll reaches the projector: both need a connection,
    // and the projector takes one at a time, for one request.
    const qsizetype before = projector->requests().count("%1POWR ?");
    connect(projector.get(), &PjlinkSimulator::requestReceived, this,
            [this, before](const QByteArray &request) {
                if (request == "%1POWR ?" && projector->requests().count(request) == before + 1)
                    testsupport::WindowForm(*window).queryLampTime->click();
            });
    QTRY_VERIFY_WITH_TIMEOUT(logText(*window).contains(QLatin1String("\n1234\n")), 2 * kPollMs);
    QVERIFY(requested("%1LAMP ?"));
    QCOMPARE(projector->connectionsTurnedAway(), 0);
    QCOMPARE(colour(), QStringLiteral("red"));
    QCOMPARE(logText(*window), QStringLiteral("Com-port initialized!\n1234\n"));
}

void TestPjlinkWindow::disabledButtons_data()
{
    QTest::addColumn<int>("projectorClass");
    QTest::newRow("class 1") << 1;
    QTest::newRow("class 2") << 2;
}

void TestPjlinkWindow::disabledButtons()
{
    QFETCH(int, projectorClass);
    PjlinkSimulator::Options options;
    options.projector.projectorClass = projectorClass;
    startProjector(options);
    const testsupport::WindowForm ui(*window);
    const QString upTip = ui.up->toolTip();
    apply(projector->portName());
    // Known once the projector has listed its inputs (and named them, in class 2).
    const QByteArray lastAsked = projectorClass == 1 ? "%1INST ?" : "%2INNM ?32";
    QTRY_VERIFY_WITH_TIMEOUT(requested(lastAsked), kColourBound);
    QTRY_VERIFY_WITH_TIMEOUT(ui.hdmi->isEnabled() && !ui.menu->isEnabled(), kColourBound);

    const QList<QAbstractButton *> meaningless {ui.menu,
                                                ui.up,
                                                ui.down,
                                                ui.left,
                                                ui.right,
                                                ui.ok,
                                                ui.eKey,
                                                ui.keystone,
                                                ui.keystoneUpp,
                                                ui.keystoneDown,
                                                ui.brightness,
                                                ui.contrast,
                                                ui.colorTemperature,
                                                ui.zoom,
                                                ui.aspect4_3,
                                                ui.aspect16_9,
                                                ui.searchVideo};
    for (QAbstractButton *button : meaningless) {
        QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
        QVERIFY2(button->toolTip().contains(QLatin1String("has no such command")),
                 qPrintable(button->objectName()));
    }
    for (QAbstractButton *button : {ui.freeze, ui.resolution}) {
        QCOMPARE(button->isEnabled(), projectorClass == 2);
        QCOMPARE(button->toolTip().contains(QLatin1String("class 2")), projectorClass == 1);
    }
    for (QAbstractButton *button :
         {ui.startProjector, ui.powerOff, ui.analogRGB, ui.hdmi, ui.dvi, ui.sVideo,
          ui.compositeVideo, ui.hide, ui.queryLampTime, ui.queryModel, ui.company})
        QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));

    // Their keys do nothing: no button is clicked, no frame but the poll's goes out.
    QSignalSpy written(&window->session(), &ProjectorSession::frameWritten);
    QList<std::shared_ptr<QSignalSpy>> clicks;
    for (QAbstractButton *button : {ui.up, ui.down, ui.left, ui.right, ui.ok})
        clicks.append(std::make_shared<QSignalSpy>(button, &QAbstractButton::clicked));
    for (const Qt::Key key :
         {Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right, Qt::Key_Return})
        QTest::keyClick(window.get(), key);
    // An animated click comes a tick later: three ticks are more than enough.
    const testsupport::TickWatch ticks(window.get());
    QTRY_VERIFY(ticks.gapsMs().size() >= 3);
    for (const auto &spy : clicks)
        QCOMPARE(spy->size(), 0);
    for (const QList<QVariant> &frame : written)
        QVERIFY(frame.at(0).toByteArray() == "%1POWR ?" || frame.at(0).toByteArray() == "%1ERST ?");

    // A serial port again: every button as the form has it.
    FakeProjector serial;
    QVERIFY2(serial.isValid(), qPrintable(serial.errorString()));
    apply(serial.slavePath());
    for (QAbstractButton *button :
         meaningless + QList<QAbstractButton *> {ui.freeze, ui.resolution})
        QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));
    QCOMPARE(ui.up->toolTip(), upTip);
}

void TestPjlinkWindow::inputsListedOnceOn()
{
    PjlinkSimulator::Options options;
    options.projector.inputsOnlyWhenOn = true;
    startProjector(options);
    apply(projector->portName());
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("red"), kColourBound);
    const testsupport::WindowForm ui(*window);
    QTRY_VERIFY_WITH_TIMEOUT(requested("%1INST ?"), kColourBound);
    QVERIFY(!ui.hdmi->isEnabled());
    QVERIFY(ui.hdmi->toolTip().contains(QLatin1String("not listed its inputs")));
    testsupport::WindowForm(*window).startProjector->click();
    QTRY_VERIFY_WITH_TIMEOUT(ui.hdmi->isEnabled(), kChangeBound);
    QCOMPARE(projector->requests().count("%1INST ?"), 2);
    ui.hdmi->click();
    QTRY_VERIFY_WITH_TIMEOUT(requested("%1INPT 31"), kColourBound);
    QCOMPARE(logText(*window), QStringLiteral("Com-port initialized!\n"));
}

void TestPjlinkWindow::scriptThroughTheWindow()
{
    // The window holds the projector, its password given: a script needs none.
    PjlinkSimulator::Options options;
    options.password = "secret";
    options.projector.errorStatus = "000002";
    startProjector(options);
    LocalChannel channel(&window->session());
    channel.followPort();
    PasswordTyper typer(QStringLiteral("secret"));
    apply(projector->portName());
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("red"), kColourBound);
    QVERIFY(testsupport::listensAt(testsupport::channelOf(window->session())));
    const testsupport::CommandLineRun run = testsupport::runCommandLine(
        {QStringLiteral("--query"), QStringLiteral("errors"), QStringLiteral("--status"),
         QStringLiteral("--json"), QStringLiteral("--port"), projector->portName()},
        runtime.path());
    QCOMPARE(run.status, 0);
    const QJsonObject result = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(result.value(QStringLiteral("via")).toString(), QStringLiteral("window"));
    QCOMPARE(result.value(QStringLiteral("power")).toString(), QStringLiteral("off"));
    QCOMPARE(result.value(QStringLiteral("errors")).toObject().value(QStringLiteral("other")),
             QStringLiteral("error"));
    QCOMPARE(projector->connectionsAccepted(), 1);
    QCOMPARE(logText(*window), QStringLiteral("Com-port initialized!\nOther: error\n"));
}

void TestPjlinkWindow::scriptWhileThePasswordIsWanted_data()
{
    // The script's password (null: none), and what it gets.
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("err"); // a pattern standard error must match
    QTest::newRow("none: said at once, nothing sent")
        << QString() << 1 << "^lumivox: pjlink://127.0.0.1:\\d+: the projector asks for a password";
    QTest::newRow("the script's own") << QStringLiteral("secret") << 0 << "^$";
}

void TestPjlinkWindow::scriptWhileThePasswordIsWanted()
{
    // The window holds the projector without its password (its user closed the box): a
    // script's command is never reported done unsent, and a script that brings the
    // password is served with it.
    QFETCH(QString, password);
    QFETCH(int, status);
    QFETCH(QString, err);
    PjlinkSimulator::Options options;
    options.password = "secret";
    startProjector(options);
    LocalChannel channel(&window->session());
    channel.followPort();
    PasswordTyper typer {QString()};
    apply(projector->portName());
    QTRY_COMPARE_WITH_TIMEOUT(typer.shown, 1, kColourBound);
    QTRY_VERIFY_WITH_TIMEOUT(testsupport::listensAt(testsupport::channelOf(window->session())),
                             kColourBound);
    QProcessEnvironment environment;
    if (!password.isNull())
        environment.insert(QStringLiteral("LUMIVOX_PJLINK_PASSWORD"), password);
    const testsupport::CommandLineRun run = testsupport::runCommandLine(
        {QStringLiteral("--send"), QStringLiteral("power-on"), QStringLiteral("--json"),
         QStringLiteral("--port"), projector->portName()},
        runtime.path(), environment);
    QVERIFY2(QRegularExpression(err).match(run.err).hasMatch(), qPrintable(run.err));
    QCOMPARE(run.status, status);
    QCOMPARE(QJsonDocument::fromJson(run.out.toUtf8()).object().value(QStringLiteral("via")),
             QStringLiteral("window"));
    QCOMPARE(requested("%1POWR 1"), status == 0);
    QVERIFY(!logText(*window).contains(QStringLiteral("secret")));
}

void TestPjlinkWindow::closingWhileOnSwitchesOff()
{
    // The power-off request may need a connection of its own: the window closes once the
    // projector has answered, and the event loop runs on meanwhile.
    PjlinkSimulator::Options options;
    options.idleCloseMs = kPollMs / 3;
    startProjector(options);
    apply(projector->portName());
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("red"), kColourBound);
    testsupport::WindowForm(*window).startProjector->click();
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("green"), kChangeBound);
    QTRY_COMPARE_WITH_TIMEOUT(projector->openConnections(), 0, kPollMs); // closed, idle
    testsupport::BoxAnswerer yes(QMessageBox::Yes);
    QVERIFY(!window->close());
    QCOMPARE(yes.titles(), QStringList {QStringLiteral("Projector is on!")});
    QVERIFY(window->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), kColourBound);
    QVERIFY(requested("%1POWR 0"));
}

void TestPjlinkWindow::projectorTextInTheLog_data()
{
    // The projector's name as it sends it, and the log line it makes: one line of visible
    // characters, in the plain log and in the debug log alike.
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("line");
    const QString x = QStringLiteral("\ufffd");
    QTest::newRow("line separator") << QByteArray("Hall\xe2\x80\xa8"
                                                  "Com-port initialized!")
                                    << "Lumivox LV-1 (Hall" + x + "Com-port initialized!)";
    QTest::newRow("paragraph separator") << QByteArray("Hall\xe2\x80\xa9"
                                                       "forged")
                                         << "Lumivox LV-1 (Hall" + x + "forged)";
    QTest::newRow("right-to-left override")
        << QByteArray("\xe2\x80\xaegnp.exe") << "Lumivox LV-1 (" + x + "gnp.exe)";
    QTest::newRow("noncharacter") << QByteArray("a\xef\xb7\x90"
                                                "b")
                                  << "Lumivox LV-1 (a" + x + "b)";
}

void TestPjlinkWindow::projectorTextInTheLog()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, line);
    PjlinkSimulator::Options options;
    options.replies.insert("%1NAME ?", "%1NAME=" + name);
    startProjector(options);
    apply(projector->portName());
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("red"), kColourBound);
    testsupport::WindowForm(*window).queryModel->click();
    const QString expected = QStringLiteral("Com-port initialized!\n") + line + QLatin1Char('\n');
    QTRY_COMPARE_WITH_TIMEOUT(logText(*window), expected, kColourBound);
    QCOMPARE(testsupport::WindowForm(*window).textEdit->document()->blockCount(),
             3); // the last one empty

    // The debug log shows each line the projector sent as one line.
    testsupport::WindowForm(*window).textEdit->clear();
    testsupport::WindowForm(*window).debugCheckBox->setChecked(true);
    testsupport::WindowForm(*window).queryModel->click();
    QTRY_VERIFY_WITH_TIMEOUT(logText(*window).contains(line), kColourBound);
    for (const QString &shown : logText(*window).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QVERIFY2(shown.startsWith(QLatin1String("-> ")) || shown.startsWith(QLatin1String("<- "))
                     || shown == line,
                 qPrintable(shown));
        QCOMPARE(characters::visibleText(shown), shown);
    }
}

void TestPjlinkWindow::unaskedLinesAnswerNothing_data()
{
    // What the projector (password "secret") sends before its answer to Lamp Time: a line
    // nobody asked for, which must neither paint the panel nor count as a refusal.
    QTest::addColumn<QByteArray>("unasked");
    QTest::newRow("power on") << QByteArray("%1POWR=1");
    QTest::newRow("a command's ERRA") << QByteArray("%1POWR=ERRA");
    QTest::newRow("PJLINK ERRA") << QByteArray("PJLINK ERRA");
    QTest::newRow("a class 2 notification") << QByteArray("%2POWR=1");
}

void TestPjlinkWindow::unaskedLinesAnswerNothing()
{
    QFETCH(QByteArray, unasked);
    PjlinkSimulator::Options options;
    options.password = "secret";
    options.replies.insert("%1LAMP ?", unasked + "\r%1LAMP=1234 0");
    startProjector(options);
    PasswordTyper typer(QStringLiteral("secret"));
    apply(projector->portName());
    QTRY_COMPARE_WITH_TIMEOUT(colour(), QStringLiteral("red"), kColourBound);
    PaintRecorder shown(testsupport::WindowForm(*window).on_off_groupBox,
                        [this] { return colour(); });
    testsupport::WindowForm(*window).queryLampTime->click();
    QTRY_COMPARE_WITH_TIMEOUT(logText(*window), QStringLiteral("Com-port initialized!\n1234\n"),
                              kColourBound);
    // A poll after it is answered as before.
    const qsizetype polls = projector->requests().count("%1POWR ?");
    QTRY_VERIFY_WITH_TIMEOUT(projector->requests().count("%1POWR ?") > polls, 2 * kPollMs);
    shown.look();
    QCOMPARE(shown.colours, QStringList {QStringLiteral("red")});
    QCOMPARE(typer.shown, 1);
    QCOMPARE(logText(*window), QStringLiteral("Com-port initialized!\n1234\n"));
}

QTEST_MAIN(TestPjlinkWindow)
#include "tst_pjlinkwindow.moc"
