// The port settings dialog as a user drives it from the connection button: what it
// proposes, and how Apply, Return, Cancel, Escape and the close button leave the port.

#include "fakeprojector.h"
#include "lumivox.h"
#include "protocol.h"
#include "settings.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTranslator>
#include <QWindow>
#include <QtTest>

#include <functional>

namespace {
constexpr int kProbeInterval = 10; // ms between looks for the dialog
constexpr int kDialogBound = 5000; // ms after which a dialog left open is closed
constexpr int kWireWait = 2000; // ms for bytes to cross the pty

using DialogAction = std::function<void(Settings *)>;

QLineEdit *nameEdit(Settings *dialog)
{
    return dialog->findChild<QLineEdit *>(QStringLiteral("comPort"));
}

QPushButton *button(Settings *dialog, const char *name)
{
    return dialog->findChild<QPushButton *>(QString::fromLatin1(name));
}

void typeName(Settings *dialog, const QString &name)
{
    QLineEdit *edit = nameEdit(dialog);
    edit->selectAll();
    if (name.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    else
        QTest::keyClicks(edit, name);
}

void applyName(Settings *dialog, const QString &name)
{
    typeName(dialog, name);
    button(dialog, "applySettings")->click();
}

QString logText(const Lumivox &window)
{
    return window.form().textEdit->toPlainText();
}

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
    // Clicks the connection button and, once the dialog shows, runs the action on it;
    // returns when the dialog has closed. False if no dialog appeared.
    bool runSettings(const DialogAction &action);

    std::unique_ptr<FakeProjector> fake;
    std::unique_ptr<Lumivox> window;
};

void TestPortSettings::init()
{
    fake = std::make_unique<FakeProjector>();
    QVERIFY2(fake->isValid(), qPrintable(fake->errorString()));
    window = std::make_unique<Lumivox>();
    window->show();
    QString reason;
    QVERIFY2(window->openPort(fake->slavePath(), &reason), qPrintable(reason));
    window->form().textEdit->clear();
}

void TestPortSettings::cleanup()
{
    window.reset();
    fake.reset();
}

bool TestPortSettings::runSettings(const DialogAction &action)
{
    bool shown = false;
    std::function<void()> probe = [&] {
        auto *dialog = qobject_cast<Settings *>(QApplication::activeModalWidget());
        if (!dialog) {
            QTimer::singleShot(kProbeInterval, this, probe);
            return;
        }
        shown = true;
        // A test whose action leaves the dialog open fails instead of hanging.
        QTimer::singleShot(kDialogBound, dialog, &QDialog::reject);
        action(dialog);
    };
    QTimer::singleShot(0, this, probe);
    window->form().connectionStatus->click();
    return shown;
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
        button(dialog, "cancelSettings")->click();
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
    QSignalSpy closed(window->port(), &QSerialPort::aboutToClose);

    QVERIFY(runSettings([&](Settings *dialog) {
        typeName(dialog, target.slavePath());
        if (byReturn)
            QTest::keyClick(nameEdit(dialog), Qt::Key_Return);
        else
            button(dialog, "applySettings")->click();
    }));
    QCOMPARE(closed.count(), 1); // closed even when the name is the same
    QCOMPARE(logText(*window), QStringLiteral("Com-port initialized!\n"));
    QVERIFY(window->port());
    QCOMPARE(protocol::portLocation(window->port()->portName()), target.slavePath());

    // The reopened port carries commands.
    fake->clearRecord();
    other.clearRecord();
    window->form().brightness->click();
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

    QSerialPort *before = window->port();
    QSignalSpy closed(before, &QSerialPort::aboutToClose);
    QVERIFY(runSettings([&](Settings *dialog) {
        typeName(dialog, QStringLiteral("ttyUSB7"));
        if (how == QLatin1String("cancel"))
            button(dialog, "cancelSettings")->click();
        else if (how == QLatin1String("escape"))
            QTest::keyClick(nameEdit(dialog), Qt::Key_Escape);
        else
            dialog->windowHandle()->close(); // as the window system's close button does
    }));
    QCOMPARE(window->port(), before);
    QVERIFY(before->isOpen());
    QCOMPARE(closed.count(), 0);
    QCOMPARE(logText(*window), QString());
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

    // The other opener is a second window: the exclusive open is the port library's.
    FakeProjector heldPty;
    Lumivox holder;
    if (held) {
        QVERIFY(heldPty.isValid());
        name = heldPty.slavePath();
        QString reason;
        QVERIFY2(holder.openPort(name, &reason), qPrintable(reason));
    }
    QVERIFY(runSettings([&](Settings *dialog) { applyName(dialog, name); }));
    QVERIFY(!window->port());
    const QString log = logText(*window);
    QVERIFY2(log.startsWith(failureLines), qPrintable(log));
    QVERIFY(log.endsWith(QLatin1Char('\n')));
    QCOMPARE(log.count(QLatin1Char('\n')), 3); // the reason is one line
    if (held)
        QVERIFY(holder.port() && holder.port()->isOpen());
}

void TestPortSettings::translatedProposal()
{
    const QString source = QStringLiteral(LUMIVOX_SOURCE_DIR "/tests/fixtures/lumivox_test.ts");
    if (!QFile::exists(source))
        QSKIP("no catalogue fixture in tests/fixtures");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString compiled = dir.filePath(QStringLiteral("lumivox_test.qm"));
    QCOMPARE(
        QProcess::execute(QStringLiteral(LUMIVOX_LRELEASE),
                          {QStringLiteral("-silent"), source, QStringLiteral("-qm"), compiled}),
        0);
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
