// The one table of command names: every command button has exactly one name, and a
// name puts on the wire what its button puts there.

#include "boxanswerer.h"
#include "fakeprojector.h"
#include "link/commands.h"
#include "link/serialprotocol.h"
#include "ui/lumivox.h"
#include "windowprobe.h"
#include "wireframes.h"

#include <QAbstractButton>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {
constexpr int kWireWait = 2000; // ms for bytes to cross the pty
// The buttons that send nothing.
const QSet<QString> notCommands {QStringLiteral("info"), QStringLiteral("connectionStatus"),
                                 QStringLiteral("clearLog")};

// Each command's button, by object name, as the window lays them out.
QString buttonOf(commands::Command id)
{
    using C = commands::Command;
    static const QHash<C, QString> buttons {{C::PowerOn, "startProjector"},
                                            {C::PowerOff, "powerOff"},
                                            {C::Vga, "analogRGB"},
                                            {C::Hdmi, "hdmi"},
                                            {C::Dvi, "dvi"},
                                            {C::SVideo, "sVideo"},
                                            {C::Composite, "compositeVideo"},
                                            {C::SearchAuto, "searchVideo"},
                                            {C::Brightness, "brightness"},
                                            {C::Contrast, "contrast"},
                                            {C::ColorTemperature, "colorTemperature"},
                                            {C::Freeze, "freeze"},
                                            {C::ShowHide, "hide"},
                                            {C::Zoom, "zoom"},
                                            {C::Aspect16To9, "aspect16_9"},
                                            {C::Aspect4To3, "aspect4_3"},
                                            {C::KeystoneUp, "keystoneUpp"},
                                            {C::KeystoneDown, "keystoneDown"},
                                            {C::KeystoneMenu, "keystone"},
                                            {C::Menu, "menu"},
                                            {C::Up, "up"},
                                            {C::Down, "down"},
                                            {C::Left, "left"},
                                            {C::Right, "right"},
                                            {C::Ok, "ok"},
                                            {C::EKey, "eKey"},
                                            {C::LampTime, "queryLampTime"},
                                            {C::Model, "queryModel"},
                                            {C::Resolution, "resolution"},
                                            {C::Company, "company"}};
    return buttons.value(id);
}
} // namespace

class TestCommandNames : public QObject
{
    Q_OBJECT

private slots:
    void everyButtonHasOneName();
    void nameSendsWhatItsButtonSends_data();
    void nameSendsWhatItsButtonSends();
};

void TestCommandNames::everyButtonHasOneName()
{
    const Lumivox window;
    QSet<QString> buttons;
    for (const QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
        const QByteArray slot = "on_" + button->objectName().toLatin1() + "_clicked()";
        if (window.metaObject()->indexOfSlot(slot.constData()) >= 0
            && !notCommands.contains(button->objectName()))
            buttons.insert(button->objectName());
    }
    QCOMPARE(buttons.size(), commands::kCommandCount);

    const QRegularExpression form(QStringLiteral("^[a-z0-9]+(-[a-z0-9]+)*$"));
    QSet<QString> names;
    QSet<QString> named;
    for (int i = 0; i < commands::kCommandCount; ++i) {
        const commands::NamedCommand &entry = commands::commandTable()[i];
        const QString name = QLatin1String(entry.name);
        QVERIFY2(form.match(name).hasMatch(), entry.name);
        QCOMPARE(commands::commandNamed(name), &entry);
        names.insert(name);
        named.insert(buttonOf(entry.id));
    }
    QCOMPARE(names.size(), commands::kCommandCount);
    QCOMPARE(named, buttons);
}

void TestCommandNames::nameSendsWhatItsButtonSends_data()
{
    QTest::addColumn<QString>("name");
    for (const QString &name : commands::commandNames())
        QTest::newRow(qPrintable(name)) << name;
}

void TestCommandNames::nameSendsWhatItsButtonSends()
{
    QFETCH(QString, name);
    const commands::NamedCommand *entry = commands::commandNamed(name);
    QVERIFY(entry);

    FakeProjector fake;
    QVERIFY2(fake.isValid(), qPrintable(fake.errorString()));
    Lumivox window;
    testsupport::openOn(window, fake.slavePath());
    testsupport::BoxAnswerer answerer(QMessageBox::Yes); // "Power Off" asks first
    auto *button = window.findChild<QAbstractButton *>(buttonOf(entry->id));
    QVERIFY(button);
    button->click();
    QVERIFY(fake.waitForFrames(1, kWireWait));
    QCOMPARE(testsupport::withoutPolls(fake.frames()),
             QList<QByteArray> {testsupport::frameOf(entry->text)});
}

QTEST_MAIN(TestCommandNames)
#include "tst_commandnames.moc"
