#include "link/commands.h"
#include "session/commandsets.h"
#include "session/projectorsession.h"
#include "session/scriptedrequest.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <functional>

// Every set the program ships, spoken by the session to the simulator playing the same
// set: the projector found off, switched on through the warm-up, its lamp hours read, and
// a command the set lacks unavailable.
class TestMakerSets : public QObject
{
    Q_OBJECT

private slots:
    void playsEveryShippedSet_data();
    void playsEveryShippedSet();
    void everyShippedSetIsInTheTable();
};

namespace {
constexpr int kStartMs = 5000;
constexpr int kTickMs = 10;
constexpr int kWarmUpMs = 1000;
constexpr int kCoolDownMs = 500;
constexpr int kStepMs = 6000; // a warm-up and a few polls, with room to spare
constexpr int kLampHours = 4321;

QStringList tableNames()
{
    return {"barco-rlm", "benq-rs232",        "canon-lv",         "epson-escvp21", "jvc-dila",
            "lg-rs232c", "mitsubishi-rs232c", "panasonic-rs232c", "sharp-rs232c",  "sony-vpl"};
}
} // namespace

void TestMakerSets::playsEveryShippedSet_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("asksPower");
    QTest::addColumn<bool>("readsLamp");
    QTest::addColumn<QString>("lacking");
    QTest::newRow("barco-rlm") << "barco-rlm" << true << false << "hdmi";
    QTest::newRow("benq-rs232") << "benq-rs232" << true << true << "zoom";
    QTest::newRow("canon-lv") << "canon-lv" << true << false << "hdmi";
    QTest::newRow("epson-escvp21") << "epson-escvp21" << true << true << "hdmi";
    QTest::newRow("jvc-dila") << "jvc-dila" << true << false << "menu";
    QTest::newRow("lg-rs232c") << "lg-rs232c" << true << false << "hdmi";
    QTest::newRow("mitsubishi-rs232c") << "mitsubishi-rs232c" << false << false << "hdmi";
    QTest::newRow("panasonic-rs232c") << "panasonic-rs232c" << true << true << "menu";
    QTest::newRow("sharp-rs232c") << "sharp-rs232c" << true << true << "hdmi";
    QTest::newRow("sony-vpl") << "sony-vpl" << true << false << "hdmi";
}

void TestMakerSets::playsEveryShippedSet()
{
    QFETCH(QString, name);
    QFETCH(bool, asksPower);
    QFETCH(bool, readsLamp);
    QFETCH(QString, lacking);

    CommandSets::Entry entry;
    QString refusal;
    QVERIFY2(CommandSets::lookUp(name, &entry, &refusal), qPrintable(refusal));
    QCOMPARE(entry.path, QStringLiteral(":/lumivox/sets/%1.ini").arg(name));

    QProcess simulator;
    simulator.start(QStringLiteral(LUMIVOX_SIMULATOR),
                    {QStringLiteral("--protocol"), name, QStringLiteral("--warm-up"),
                     QString::number(kWarmUpMs), QStringLiteral("--cool-down"),
                     QString::number(kCoolDownMs), QStringLiteral("--lamp-hours"),
                     QString::number(kLampHours)});
    QVERIFY(simulator.waitForStarted(kStartMs));
    QTRY_VERIFY_WITH_TIMEOUT(simulator.canReadLine(), kStartMs);
    const QString port
        = QString::fromLocal8Bit(simulator.readLine()).trimmed().section(QLatin1String(": "), 1);
    QVERIFY2(port.startsWith(QLatin1String("/dev/pts/")), qPrintable(port));

    ProjectorSession session;
    session.setCommandSet(entry.set);
    QString reason;
    QCOMPARE(session.openPort(port, &reason), ProjectorSession::OpenResult::Open);
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, &session, &ProjectorSession::tick);
    ticker.start(kTickMs);
    QSignalSpy powers(&session, &ProjectorSession::powerChanged);
    QStringList messages;
    connect(&session, &ProjectorSession::message, this,
            [&](const QString &text) { messages.append(text); });

    // The first step that did not happen; each waits as long as a user would (and as long
    // as the set says the projector is busy after a power command).
    QString failed;
    const auto step = [&](const char *what, const std::function<bool()> &done, int more = 0) {
        if (failed.isEmpty() && !QTest::qWaitFor(done, kStepMs + more))
            failed = QLatin1String(what);
    };
    const auto reported = [&](ProjectorSession::Power power) {
        for (const QList<QVariant> &arguments : std::as_const(powers))
            if (arguments.constFirst().value<ProjectorSession::Power>() == power)
                return true;
        return false;
    };
    if (asksPower)
        step("off, from the power query",
             [&] { return session.power() == ProjectorSession::Power::Off; });
    // As a script asks: the answers it gets are the projector's.
    ScriptedRequest powerOn(ScriptedRequest::plan({QStringLiteral("power-on")}, false));
    session.submit(&powerOn);
    step("warming after power-on", [&] { return reported(ProjectorSession::Power::Warming); });
    step("power-on's step ended", [&] { return powerOn.isFinished(); });
    // A projector that takes nothing for a while after a power command is not asked then.
    if (asksPower)
        step(
            "on, from the power query",
            [&] { return session.power() == ProjectorSession::Power::On; },
            entry.set.busyAfterPowerMs);
    ScriptedRequest lampTime(ScriptedRequest::plan({QStringLiteral("lamp-time")}, false));
    if (readsLamp) {
        session.submit(&lampTime);
        step("the lamp hours", [&] { return messages.contains(QString::number(kLampHours)); });
        step("lamp-time's step ended", [&] { return lampTime.isFinished(); });
    }
    simulator.terminate();
    simulator.waitForFinished(kStartMs);

    const commands::NamedCommand *missing = commands::commandNamed(lacking);
    QVERIFY(missing);
    QVERIFY(!entry.set.has(missing->id));
    QCOMPARE(session.availability(missing->id), ProjectorProtocol::Availability::NoMeaning);

    QVERIFY2(failed.isEmpty(), qPrintable(QStringLiteral("%1: no %2").arg(name, failed)));
    // A set that says how the projector acknowledges a command: power-on is answered.
    if (!entry.set.accepted.isEmpty())
        QCOMPARE(powerOn.result().steps.value(0).outcome, ScriptedRequest::StepOutcome::Answered);
    if (readsLamp)
        QCOMPARE(lampTime.result().steps.value(0).answer, QString::number(kLampHours));
}

void TestMakerSets::everyShippedSetIsInTheTable()
{
    QStringList shipped;
    for (const CommandSets::Entry &entry : CommandSets::available())
        if (entry.path.startsWith(QLatin1String(CommandSets::kShippedFolder))
            && !CommandSets::isBuiltIn(entry))
            shipped.append(entry.name);
    QCOMPARE(shipped, tableNames());
}

QTEST_GUILESS_MAIN(TestMakerSets)
#include "tst_makersets.moc"
