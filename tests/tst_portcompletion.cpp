#include "fakesysfs.h"
#include "link/portrules.h"
#include "link/presentports.h"
#include "link/presentports_unix.h"
#include "ui/settings.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>

class TestPortCompletion : public QObject
{
    Q_OBJECT

private slots:
    void offersTheListedNames_data();
    void offersTheListedNames();
    void listsThePortsOnlyOnce();
    void listsWhatTheOpenerTakes_data();
    void listsWhatTheOpenerTakes();
    void oneKeyPress_data();
    void oneKeyPress();
};

namespace {
QStringList stubPorts()
{
    return {QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0"), QStringLiteral("ttyACM1"),
            QStringLiteral("/dev/serial/by-id/usb-Adapter_Serial-if00-port0")};
}
} // namespace

void TestPortCompletion::offersTheListedNames_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("offered");
    QTest::newRow("prefix") << "tty" << QStringList {"ttyS0", "ttyUSB0", "ttyACM1"};
    QTest::newRow("any case, inside the name")
        << "usb" << QStringList {"ttyUSB0", "/dev/serial/by-id/usb-Adapter_Serial-if00-port0"};
    QTest::newRow("stable link") << "/dev/serial"
                                 << QStringList {"/dev/serial/by-id/usb-Adapter_Serial-if00-port0"};
    QTest::newRow("nothing matches") << "COM" << QStringList {};
}

void TestPortCompletion::offersTheListedNames()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, offered);

    Settings settings(nullptr, stubPorts);
    auto *edit = settings.findChild<QLineEdit *>(QStringLiteral("comPort"));
    QVERIFY(edit);
    QCOMPARE(edit->text(), QStringLiteral("COM1"));
    QCompleter *completer = edit->completer();
    QVERIFY(completer);

    completer->setCompletionPrefix(typed);
    QStringList shown;
    for (int row = 0; completer->setCurrentRow(row); ++row)
        shown << completer->currentCompletion();
    QCOMPARE(shown, offered);
}

void TestPortCompletion::listsThePortsOnlyOnce()
{
    int calls = 0;
    Settings settings(nullptr, [&calls] {
        ++calls;
        return stubPorts();
    });
    QCOMPARE(calls, 1);
    auto *edit = settings.findChild<QLineEdit *>(QStringLiteral("comPort"));
    QCOMPARE(edit->completer()->model()->rowCount(), stubPorts().size());
}

void TestPortCompletion::listsWhatTheOpenerTakes_data()
{
    // A /sys, /dev and /proc of our own: /sys/class/tty lists ttyT0, whose node leads to
    // /dev/zero (looked at, never opened) and has a by-id link; the fake sysfs says what
    // /dev/zero's numbers are. A name is offered for a hardware port only, the link for
    // anything the opener takes.
    QTest::addColumn<QString>("subsystem"); // empty: no sysfs entry
    QTest::addColumn<bool>("hasDevice");
    QTest::addColumn<bool>("byName");
    QTest::addColumn<bool>("byLink");

    QTest::newRow("hardware port") << "tty" << true << true << true;
    QTest::newRow("terminal without a device") << "tty" << false << false << true;
    QTest::newRow("memory device") << "mem" << true << false << false;
    QTest::newRow("no sysfs entry") << "" << false << false << false;
}

void TestPortCompletion::listsWhatTheOpenerTakes()
{
    QFETCH(QString, subsystem);
    QFETCH(bool, hasDevice);
    QFETCH(bool, byName);
    QFETCH(bool, byLink);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QDir dir(root.path());
    QVERIFY(dir.mkpath(QStringLiteral("sys/class/tty/ttyT0"))
            && dir.mkpath(QStringLiteral("dev/serial/by-id"))
            && dir.mkpath(QStringLiteral("proc")));
    const QString node = dir.filePath(QStringLiteral("dev/ttyT0"));
    const QString link = dir.filePath(QStringLiteral("dev/serial/by-id/usb-Adapter-if00-port0"));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), node) && QFile::link(node, link));
    struct stat status
    {
    };
    QCOMPARE(::stat(QFile::encodeName(node).constData(), &status), 0);
    const QString sys = dir.filePath(QStringLiteral("sys"));
    if (!subsystem.isEmpty())
        QVERIFY(testsupport::addSysfsDevice(sys, ::major(status.st_rdev), ::minor(status.st_rdev),
                                            subsystem, hasDevice));

    const QString proc = dir.filePath(QStringLiteral("proc"));
    QStringList offered;
    if (byName)
        offered << QStringLiteral("ttyT0");
    if (byLink)
        offered << link;
    QCOMPARE(availablePortNamesIn(sys, dir.filePath(QStringLiteral("dev")), proc), offered);
    QCOMPARE(portrules::judge(status, sys, proc).refusal.isEmpty(), byLink); // the opener's word
}

void TestPortCompletion::oneKeyPress_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("listShows");
    QTest::addColumn<int>("entry"); // the list's row chosen before the key, -1 none
    QTest::addColumn<QString>("how"); // a key, or "click" for the mouse on the entry
    QTest::addColumn<bool>("applied");
    QTest::addColumn<QString>("name");

    QTest::newRow("typed into the fresh dialog, Return, no list")
        << "/dev/pts/3" << false << -1 << "Return" << true << "/dev/pts/3";
    QTest::newRow("Return, list showing") << "tty" << true << -1 << "Return" << true << "tty";
    QTest::newRow("Enter, list showing") << "tty" << true << -1 << "Enter" << true << "tty";
    QTest::newRow("Escape, list showing") << "tty" << true << -1 << "Escape" << false << "tty";
    QTest::newRow("arrow keys and Return") << "tty" << true << 1 << "Return" << true << "ttyUSB0";
    QTest::newRow("mouse") << "usb" << true << 1 << "click" << true
                           << "/dev/serial/by-id/usb-Adapter_Serial-if00-port0";
}

// One press closes the dialog, the completion list showing or not. Every row types into a
// fresh dialog without selecting first: the proposal must give way to the typed name.
void TestPortCompletion::oneKeyPress()
{
    QFETCH(QString, typed);
    QFETCH(bool, listShows);
    QFETCH(int, entry);
    QFETCH(QString, how);
    QFETCH(bool, applied);
    QFETCH(QString, name);

    Settings settings(nullptr, stubPorts);
    auto *edit = settings.findChild<QLineEdit *>(QStringLiteral("comPort"));
    QAbstractItemView *list = edit->completer()->popup();
    settings.show();
    QVERIFY(QTest::qWaitForWindowActive(&settings));
    QWindow *window = settings.windowHandle();
    QTest::keyClicks(edit, typed);
    QCOMPARE(list->isVisible(), listShows);

    // Keys go to the dialog's window, which hands them to the list while it shows.
    if (how == QLatin1String("click")) {
        const QModelIndex index = list->model()->index(entry, 0);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
    } else {
        for (int row = 0; row <= entry; ++row)
            QTest::keyClick(window, Qt::Key_Down);
        const QMap<QString, Qt::Key> keys {
            {"Return", Qt::Key_Return}, {"Enter", Qt::Key_Enter}, {"Escape", Qt::Key_Escape}};
        QTest::keyClick(window, keys.value(how));
    }
    QVERIFY(!settings.isVisible());
    QCOMPARE(settings.isApplied(), applied);
    QCOMPARE(settings.portName(), name);
}

QTEST_MAIN(TestPortCompletion)
#include "tst_portcompletion.moc"
