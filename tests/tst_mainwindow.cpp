// The main window's own behaviour: the keyboard shortcuts of the navigation pad, the info
// panel toggle and the window height it asks for, clearing the log, the About box and what
// start-up writes into the log. No port is opened: "COM1" does not exist here.

#include "probe/windowform.h"
#include "ui/lumivox.h"
#include "windowprobe.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTextBlock>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

constexpr int kClickDelay = 100; // ms an animated click holds the button down
constexpr int kClickDelayTolerance = 20; // timers may fire a little early
constexpr int kStartHeight = 200;
constexpr int kFormWidth = 411; // the width the form gives the window
constexpr int kFormHeight = 487; // the height it gives it, until the first tick
constexpr int kInfoHideExtra = 10;
constexpr int kModalTimeout = 5000; // ms to wait for a modal box to appear

QToolButton *navigationButton(const testsupport::WindowForm &ui, const QString &name)
{
    for (QToolButton *button : {ui.ok, ui.left, ui.up, ui.right, ui.down})
        if (button->objectName() == name)
            return button;
    return nullptr;
}

// Runs `inspect` on the first modal widget that appears, then closes it with `button`.
// Started before the call that opens the box, since that call blocks in its own loop.
class ModalWatcher : public QObject
{
public:
    using Inspect = std::function<void(QMessageBox *)>;

    explicit ModalWatcher(Inspect inspect)
        : inspect(std::move(inspect))
    {
        connect(&poll, &QTimer::timeout, this, &ModalWatcher::check);
        poll.start(kPollInterval);
        deadline.start();
    }

    bool seen = false;
    QString error;

private:
    static constexpr int kPollInterval = 20;

    void check()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal) {
            if (deadline.elapsed() > kModalTimeout) {
                error = QStringLiteral("no modal box appeared");
                poll.stop();
            }
            return;
        }
        poll.stop();
        seen = true;
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box) {
            error = QStringLiteral("modal widget is a ") + modal->metaObject()->className();
            modal->close();
            return;
        }
        inspect(box);
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    }

    Inspect inspect;
    QTimer poll;
    QElapsedTimer deadline;
};

// One spy per navigation button, to tell which one a key clicked.
struct NavigationSpies
{
    explicit NavigationSpies(const testsupport::WindowForm &ui)
        : ok(ui.ok, &QToolButton::clicked)
        , left(ui.left, &QToolButton::clicked)
        , up(ui.up, &QToolButton::clicked)
        , right(ui.right, &QToolButton::clicked)
        , down(ui.down, &QToolButton::clicked)
    { }

    int total() const
    {
        return ok.count() + left.count() + up.count() + right.count() + down.count();
    }

    QSignalSpy ok, left, up, right, down;
};

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void keysClickTheNavigationButtons_data();
    void keysClickTheNavigationButtons();
    void otherKeysClickNothing_data();
    void otherKeysClickNothing();
    void keysStayInTheFocusedLogView_data();
    void keysStayInTheFocusedLogView();
    void infoPanelHiddenAfterConstruction();
    void infoViewShowsAndHidesThePanel();
    void startHeightAppliedAtTheFirstTick();
    void clearEmptiesTheLog();
    void aboutBox();
    void startupLogReportsThePortFailure();

private:
    void showAndFocus();

    std::unique_ptr<Lumivox> window;
};

void MainWindowTest::init()
{
    window = std::make_unique<Lumivox>();
}

void MainWindowTest::cleanup()
{
    window.reset();
}

void MainWindowTest::showAndFocus()
{
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    window->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(window.get()));
}

void MainWindowTest::keysClickTheNavigationButtons_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("button");

    const Qt::KeyboardModifiers none = Qt::NoModifier;
    QTest::newRow("Return") << int(Qt::Key_Return) << none << "ok";
    QTest::newRow("Enter") << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier)
                           << "ok";
    QTest::newRow("Left") << int(Qt::Key_Left) << none << "left";
    QTest::newRow("Up") << int(Qt::Key_Up) << none << "up";
    QTest::newRow("Right") << int(Qt::Key_Right) << none << "right";
    QTest::newRow("Down") << int(Qt::Key_Down) << none << "down";
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    QTest::newRow("Shift+Left") << int(Qt::Key_Left) << shift << "left";
    QTest::newRow("Shift+Up") << int(Qt::Key_Up) << shift << "up";
    QTest::newRow("Shift+Right") << int(Qt::Key_Right) << shift << "right";
    QTest::newRow("Shift+Down") << int(Qt::Key_Down) << shift << "down";
    QTest::newRow("Shift+Return") << int(Qt::Key_Return) << shift << "ok";
}

void MainWindowTest::keysClickTheNavigationButtons()
{
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QString, button);

    showAndFocus();
    QToolButton *target = navigationButton(testsupport::WindowForm(*window), button);
    QVERIFY(target);
    QSignalSpy clicked(target, &QToolButton::clicked);
    NavigationSpies all {testsupport::WindowForm(*window)};

    QElapsedTimer elapsed;
    elapsed.start();
    // Through the window system, so the key goes where the focus is, as typed.
    QTest::keyClick(window->windowHandle(), Qt::Key(key), modifiers);
    // Pressed at once, clicked when released a while later.
    QVERIFY(target->isDown());
    QCOMPARE(clicked.count(), 0);
    QTRY_COMPARE(clicked.count(), 1);
    QVERIFY2(elapsed.elapsed() >= kClickDelay - kClickDelayTolerance,
             qPrintable(QString::number(elapsed.elapsed())));
    QVERIFY(!target->isDown());
    QCOMPARE(all.total(), 1);
}

void MainWindowTest::otherKeysClickNothing_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("A") << int(Qt::Key_A);
    QTest::newRow("Space") << int(Qt::Key_Space);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Home") << int(Qt::Key_Home);
    QTest::newRow("PageDown") << int(Qt::Key_PageDown);
    QTest::newRow("F1") << int(Qt::Key_F1);
}

void MainWindowTest::otherKeysClickNothing()
{
    QFETCH(int, key);

    showAndFocus();
    NavigationSpies all {testsupport::WindowForm(*window)};
    QTest::keyClick(window->windowHandle(), Qt::Key(key));
    // A click started by the key would come before the one that Right starts now.
    QTest::keyClick(window->windowHandle(), Qt::Key_Right);
    QTRY_COMPARE(all.right.count(), 1);
    QCOMPARE(all.total(), 1);
}

void MainWindowTest::keysStayInTheFocusedLogView_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
    QTest::newRow("Left") << int(Qt::Key_Left);
    QTest::newRow("Up") << int(Qt::Key_Up);
    QTest::newRow("Right") << int(Qt::Key_Right);
    QTest::newRow("Down") << int(Qt::Key_Down);
}

void MainWindowTest::keysStayInTheFocusedLogView()
{
    QFETCH(int, key);

    showAndFocus();
    const testsupport::WindowForm ui(*window);
    QTest::mouseClick(ui.info, Qt::LeftButton);
    QVERIFY(ui.infoFrame->isVisible());
    // Start from the middle of a log, where every one of these keys has work to do.
    ui.textEdit->setPlainText(QStringLiteral("first line\nsecond line\nthird line"));
    QTextCursor cursor = ui.textEdit->textCursor();
    cursor.setPosition(ui.textEdit->document()->findBlockByNumber(1).position() + 3);
    ui.textEdit->setTextCursor(cursor);
    ui.textEdit->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(ui.textEdit));

    NavigationSpies all {testsupport::WindowForm(*window)};
    const QString textBefore = ui.textEdit->toPlainText();
    const int positionBefore = ui.textEdit->textCursor().position();
    const int keypad = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
    QTest::keyClick(window->windowHandle(), Qt::Key(key), Qt::KeyboardModifiers(keypad));

    // The log view took the key: a new line, or a cursor move.
    const bool acted = ui.textEdit->toPlainText() != textBefore
        || ui.textEdit->textCursor().position() != positionBefore;
    QVERIFY(acted);
    // And no button goes down or is clicked: a click started now would come before the one
    // that Left starts on the window.
    QVERIFY(!ui.ok->isDown() && !ui.left->isDown() && !ui.up->isDown() && !ui.right->isDown()
            && !ui.down->isDown());
    window->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(window.get()));
    QTest::keyClick(window->windowHandle(), Qt::Key_Left);
    QTRY_COMPARE(all.left.count(), 1);
    QCOMPARE(all.total(), 1);
}

void MainWindowTest::infoPanelHiddenAfterConstruction()
{
    const testsupport::WindowForm ui(*window);
    QVERIFY(ui.infoFrame->isHidden());
    QCOMPARE(window->height(), kFormHeight); // the start height waits for the first tick
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(!ui.infoFrame->isVisible());
    // The rest of the bottom row stays, its spacer first.
    QVERIFY(ui.horizontalLayout->itemAt(0)->spacerItem());
}

void MainWindowTest::infoViewShowsAndHidesThePanel()
{
    showAndFocus();
    const testsupport::WindowForm ui(*window);
    // The start height is applied.
    QTRY_COMPARE(window->height(), qMax(kStartHeight, window->minimumSizeHint().height()));
    const int shrunkHeight = window->height();

    QTest::mouseClick(ui.info, Qt::LeftButton);
    QVERIFY(ui.infoFrame->isVisible());
    // The layout grows the window to make room for the panel.
    QTRY_VERIFY(window->height() > shrunkHeight);
    QTRY_VERIFY(ui.infoFrame->height() > 0);

    const int windowHeight = window->height();
    const int panelHeight = ui.infoFrame->height();
    // Showing the panel leaves the tick nothing to apply.
    testsupport::tick(*window);
    QCOMPARE(window->height(), windowHeight);
    // click() runs the slot at once: the height it asks for waits for a tick.
    ui.info->click();
    QVERIFY(!ui.infoFrame->isVisible());
    QCOMPARE(window->height(), windowHeight);
    const int asked = windowHeight - panelHeight - kInfoHideExtra;

    QTRY_VERIFY(window->height() < windowHeight);
    // The layout, now without the panel, may not allow that little.
    QCOMPARE(window->height(), qMax(asked, window->minimumSizeHint().height()));
}

void MainWindowTest::startHeightAppliedAtTheFirstTick()
{
    QCOMPARE(window->height(), kFormHeight);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTRY_COMPARE(window->height(), qMax(kStartHeight, window->minimumSizeHint().height()));
    const QSize minimum = window->minimumSizeHint();
    // Only the height changes: the width is the form's, or what the layout needs.
    QCOMPARE(window->width(), qMax(kFormWidth, minimum.width()));
}

void MainWindowTest::clearEmptiesTheLog()
{
    showAndFocus();
    const testsupport::WindowForm ui(*window);
    QVERIFY(!ui.textEdit->document()->isEmpty()); // the start-up messages
    QTest::mouseClick(ui.info, Qt::LeftButton);
    QTest::mouseClick(ui.clearLog, Qt::LeftButton);
    QVERIFY(ui.textEdit->document()->isEmpty());
    QCOMPARE(ui.textEdit->toPlainText(), QString());
}

void MainWindowTest::aboutBox()
{
    showAndFocus();
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QWidget *parent = nullptr;
    ModalWatcher watcher([&](QMessageBox *box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        parent = box->parentWidget();
    });
    testsupport::WindowForm(*window).actionAbout->trigger();
    QVERIFY2(watcher.error.isEmpty(), qPrintable(watcher.error));
    QVERIFY(watcher.seen);
    QCOMPARE(title, QStringLiteral("About"));
    QCOMPARE(icon, QMessageBox::Information);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(parent, static_cast<QWidget *>(window.get()));
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.first(), QStringLiteral("Lumivox"));
    QVERIFY(!lines.at(1).isEmpty());
    QVERIFY(!lines.at(2).isEmpty());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void MainWindowTest::startupLogReportsThePortFailure()
{
    QTextDocument *log = testsupport::WindowForm(*window).textEdit->document();
    QVERIFY(log->blockCount() >= 2);
    QCOMPARE(log->findBlockByNumber(0).text(), QStringLiteral("Failed to initialize Com port 1!"));
    QCOMPARE(log->findBlockByNumber(1).text(),
             QStringLiteral("Communication with projector not possible."));
    QCOMPARE(window->session().port(), nullptr);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
