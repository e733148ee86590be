#include "link/serialprotocol.h"
#include "projectormodel.h"

#include <QtTest>

// The simulated projector must speak exactly the grammar the program reads, or the
// demo and the end-to-end test would prove nothing.
class TestProjectorModel : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void reportsDecodeAsTheProgramReadsThem_data();
    void reportsDecodeAsTheProgramReadsThem();
    void lineEndAndSilence();
};

namespace {
constexpr qint64 kWarmUp = 1000;
constexpr qint64 kCoolDown = 500;

ProjectorModel::Options options()
{
    ProjectorModel::Options o;
    o.warmUpMs = kWarmUp;
    o.coolDownMs = kCoolDown;
    o.lampHours = 321;
    return o;
}

// One step: the command, when it arrives (ms), the reply without its line end.
struct Step
{
    QByteArray command;
    qint64 at;
    QByteArray reply;
};
} // namespace

Q_DECLARE_METATYPE(QList<Step>)

void TestProjectorModel::answers_data()
{
    QTest::addColumn<QList<Step>>("steps");
    const QByteArray vga = ProjectorModel::resolutionReport("VGA");
    const QByteArray hdmi = ProjectorModel::resolutionReport("HDMI");
    QTest::newRow("standby") << QList<Step> {{serialprotocol::kLampPoll, 0, "LAMP 0"},
                                             {serialprotocol::kLampTime, 0, "321"},
                                             {serialprotocol::kResolution, 0, "*001"},
                                             {serialprotocol::kPowerOff, 0, "*001"},
                                             {serialprotocol::kHdmi, 0, "*001"}};
    QTest::newRow("power on and warm-up")
        << QList<Step> {{serialprotocol::kPowerOn, 0, "*000"},
                        {serialprotocol::kLampPoll, kWarmUp - 1, "LAMP 0"},
                        {serialprotocol::kPowerOn, kWarmUp - 1, "*001"},
                        {serialprotocol::kLampPoll, kWarmUp, "LAMP 1"},
                        {serialprotocol::kResolution, kWarmUp, vga}};
    QTest::newRow("source keys switch the input")
        << QList<Step> {{serialprotocol::kPowerOn, 0, "*000"},
                        {serialprotocol::kHdmi, kWarmUp, "*000"},
                        {serialprotocol::kResolution, kWarmUp, hdmi},
                        {serialprotocol::kBrightness, kWarmUp, "*000"}};
    QTest::newRow("power off and cool-down")
        << QList<Step> {{serialprotocol::kPowerOn, 0, "*000"},
                        {serialprotocol::kPowerOff, kWarmUp, "*000"},
                        {serialprotocol::kLampPoll, kWarmUp + 1, "LAMP 0"},
                        {serialprotocol::kPowerOn, kWarmUp + kCoolDown - 1, "*001"},
                        {serialprotocol::kPowerOn, kWarmUp + kCoolDown, "*000"}};
    QTest::newRow("model and unknown text") << QList<Step> {
        {serialprotocol::kQueryModel, 0, "Lumivox Demo Projector LV-1"}, {"hello", 0, "*001"}};
}

void TestProjectorModel::answers()
{
    QFETCH(QList<Step>, steps);
    ProjectorModel projector(options());
    for (const Step &step : steps)
        QCOMPARE(projector.answer(step.command, step.at), step.reply + "\r");
}

void TestProjectorModel::reportsDecodeAsTheProgramReadsThem_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("text");
    QTest::newRow("VGA") << QByteArray("VGA") << "1024 x 768 @ 60 Hz";
    QTest::newRow("DVI") << QByteArray("DVI") << "1280 x 1024 @ 60 Hz";
    QTest::newRow("HDMI") << QByteArray("HDMI") << "1920 x 1080 @ 60 Hz";
    QTest::newRow("S-Video") << QByteArray("S-Video") << "720 x 576 @ 50 Hz";
    QTest::newRow("Composite") << QByteArray("Composite") << "720 x 480 @ 60 Hz";
}

void TestProjectorModel::reportsDecodeAsTheProgramReadsThem()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, text);
    const QByteArray report = ProjectorModel::resolutionReport(input);
    QVERIFY(!report.contains('\r'));
    QString line;
    for (const char byte : report)
        QCOMPARE(serialprotocol::feedByte(line, byte), serialprotocol::ByteResult::Stored);
    const serialprotocol::Reply reply = serialprotocol::classifyReply(line);
    QCOMPARE(reply.kind, serialprotocol::ReplyKind::Resolution);
    QCOMPARE(serialprotocol::formatResolution(reply.resolution), text);
}

void TestProjectorModel::lineEndAndSilence()
{
    ProjectorModel::Options o = options();
    o.lineEnd = "\r\n";
    o.silentInStandby = true;
    ProjectorModel projector(o);
    QCOMPARE(projector.answer(serialprotocol::kLampPoll, 0), QByteArray());
    QCOMPARE(projector.answer(serialprotocol::kPowerOn, 0), QByteArray("*000\r\n"));
    QCOMPARE(projector.answer(serialprotocol::kLampPoll, kWarmUp), QByteArray("LAMP 1\r\n"));
}

QTEST_MAIN(TestProjectorModel)
#include "tst_projectormodel.moc"
