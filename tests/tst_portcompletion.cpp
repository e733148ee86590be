#include "settings.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class TestPortCompletion : public QObject
{
    Q_OBJECT

private slots:
    void offersTheListedNames_data();
    void offersTheListedNames();
    void listsThePortsOnlyOnce();
    void returnStillApplies();
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

void TestPortCompletion::returnStillApplies()
{
    Settings settings(nullptr, stubPorts);
    auto *edit = settings.findChild<QLineEdit *>(QStringLiteral("comPort"));
    settings.show();
    QVERIFY(QTest::qWaitForWindowActive(&settings));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("ttyUSB0"));
    // Close the completion list the typing opened, as a user would with Escape.
    if (edit->completer()->popup()->isVisible())
        QTest::keyClick(edit->completer()->popup(), Qt::Key_Escape);
    QVERIFY(!edit->completer()->popup()->isVisible());
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_VERIFY(!settings.isVisible());
    QVERIFY(settings.isApplied());
    QCOMPARE(settings.portName(), QStringLiteral("ttyUSB0"));
}

QTEST_MAIN(TestPortCompletion)
#include "tst_portcompletion.moc"
