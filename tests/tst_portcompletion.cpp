#include "portnames.h"
#include "portnames_unix.h"
#include "settings.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestPortCompletion : public QObject
{
    Q_OBJECT

private slots:
    void offersTheListedNames_data();
    void offersTheListedNames();
    void listsThePortsOnlyOnce();
    void listsTerminalsWithADevice();
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

void TestPortCompletion::listsTerminalsWithADevice()
{
    // A /sys/class/tty and a /dev/serial/by-id of our own: only terminals backed by a
    // device are ports, and every by-id link is offered under its full path.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QDir dir(root.path());
    for (const char *tty : {"ttyS0/device", "tty1", "ptmx", "ttyUSB0/device", "console"})
        QVERIFY(dir.mkpath(QStringLiteral("sys/") + QLatin1String(tty)));
    QVERIFY(dir.mkpath(QStringLiteral("by-id")));
    const QString link = dir.filePath(QStringLiteral("by-id/usb-Adapter-if00-port0"));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), link)); // a device, as the real links lead to

    QCOMPARE(availablePortNamesIn(dir.filePath(QStringLiteral("sys")),
                                  dir.filePath(QStringLiteral("by-id"))),
             (QStringList {QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0"), link}));
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
