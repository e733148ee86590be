// The projector protocol without widgets or ports: command texts and frames, the
// framing of received bytes into lines, the reply grammar, the resolution report and
// the port-name rules, and the ports' bounded input queue.

#include "link/inputqueue.h"
#include "link/portname.h"
#include "link/serialprotocol.h"
#include "ui/panelcolors.h"
#include "wireframes.h"

#include <QtTest>

using serialprotocol::ByteResult;
using serialprotocol::ReplyKind;

Q_DECLARE_METATYPE(serialprotocol::ReplyKind)

namespace {
// A reply line as the tick builds it: one character per byte value.
QString lineOf(const QByteArray &bytes)
{
    QString line;
    for (char byte : bytes)
        line.append(QChar(uchar(byte)));
    return line;
}

QByteArray resolutionReport(uchar widthHigh, uchar widthLow, uchar heightHigh, uchar heightLow,
                            uchar rate)
{
    QByteArray line("Res?");
    line.append(char(widthHigh));
    line.append(char(widthLow));
    line.append(char(heightHigh));
    line.append(char(heightLow));
    line.append(char(rate));
    return line;
}
} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void commandTexts_data();
    void commandTexts();
    void frameBytes_data();
    void frameBytes();
    void inputQueueBound_data();
    void inputQueueBound();
    void feedByte_data();
    void feedByte();
    void feedByteBound();
    void parseReply_data();
    void parseReply();
    void resolution_data();
    void resolution();
    void refreshRates_data();
    void refreshRates();
    void colours();
    void portLocation_data();
    void portLocation();
    void networkPortName_data();
    void networkPortName();
};

void TestProtocol::commandTexts_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");

    // Key codes as the projector's remote defines them; a wrong digit drives the
    // wrong function.
    const struct
    {
        const char *name;
        const char *text;
        const char *expected;
    } rows[] = {
        {"powerOn", serialprotocol::kPowerOn, "OKOKOKOKOK"},
        {"powerOff", serialprotocol::kPowerOff, "* 0 IR 002"},
        {"lampPoll", serialprotocol::kLampPoll, "* 0 Lamp ?"},
        {"lampTime", serialprotocol::kLampTime, "* 0 Lamp"},
        {"keystoneMenu", serialprotocol::kKeystoneMenu, "* 0 IR 004"},
        {"freeze", serialprotocol::kFreeze, "* 0 IR 007"},
        {"menu", serialprotocol::kMenu, "* 0 IR 008"},
        {"up", serialprotocol::kUp, "* 0 IR 009"},
        {"down", serialprotocol::kDown, "* 0 IR 010"},
        {"right", serialprotocol::kRight, "* 0 IR 011"},
        {"left", serialprotocol::kLeft, "* 0 IR 012"},
        {"ok", serialprotocol::kOk, "* 0 IR 013"},
        {"analogRgb", serialprotocol::kAnalogRgb, "* 0 IR 015"},
        {"sVideo", serialprotocol::kSVideo, "* 0 IR 018"},
        {"composite", serialprotocol::kComposite, "* 0 IR 019"},
        {"aspect16to9", serialprotocol::kAspect16To9, "* 0 IR 021"},
        {"aspect4to3", serialprotocol::kAspect4To3, "* 0 IR 022"},
        {"brightness", serialprotocol::kBrightness, "* 0 IR 025"},
        {"contrast", serialprotocol::kContrast, "* 0 IR 026"},
        {"colorTemperature", serialprotocol::kColorTemperature, "* 0 IR 027"},
        {"dvi", serialprotocol::kDvi, "* 0 IR 029"},
        {"hide", serialprotocol::kHide, "* 0 IR 030"},
        {"searchSource", serialprotocol::kSearchSource, "* 0 IR 031"},
        {"queryModel", serialprotocol::kQueryModel, "* 0 IR 035"},
        {"resolution", serialprotocol::kResolution, "* 0 IR 036"},
        {"company", serialprotocol::kCompany, "* 0 IR 037"},
        {"keystoneUp", serialprotocol::kKeystoneUp, "* 0 IR 042"},
        {"keystoneDown", serialprotocol::kKeystoneDown, "* 0 IR 043"},
        {"zoom", serialprotocol::kZoom, "* 0 IR 046"},
        {"eKey", serialprotocol::kEKey, "* 0 IR 047"},
        {"hdmi", serialprotocol::kHdmi, "* 0 IR 050"},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << QByteArray(row.text) << QByteArray(row.expected);
}

void TestProtocol::commandTexts()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(text, expected);
}

void TestProtocol::frameBytes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<unsigned>("length");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("brightness") << QByteArray("* 0 IR 025") << 10u
                                << QByteArray::fromHex("2A2030204952203032350D");
    QTest::newRow("lamp time, 8 bytes") << QByteArray("* 0 Lamp") << 8u << QByteArray("* 0 Lamp\r");
    QTest::newRow("length shorter than text")
        << QByteArray("OKOKOKOKOK") << 4u << QByteArray("OKOK\r");
    QTest::newRow("length 0: the CR alone") << QByteArray("* 0 IR 025") << 0u << QByteArray("\r");
}

void TestProtocol::frameBytes()
{
    QFETCH(QByteArray, text);
    QFETCH(unsigned, length);
    QFETCH(QByteArray, expected);
    QCOMPARE(testsupport::frameOf(text.constData(), length), expected);
}

void TestProtocol::inputQueueBound_data()
{
    QTest::addColumn<int>("held"); // bytes already queued
    QTest::addColumn<int>("arriving");
    QTest::addColumn<bool>("whole"); // a reply line, kept whole or not at all
    QTest::addColumn<int>("kept");

    constexpr int kFull = int(InputQueue::kCapacity);
    QTest::newRow("fits") << 0 << 100 << false << 100;
    QTest::newRow("fills it exactly") << kFull - 10 << 10 << false << 10;
    QTest::newRow("what fits of a flood") << kFull - 10 << 4096 << false << 10;
    QTest::newRow("full: nothing") << kFull << 1 << false << 0;
    QTest::newRow("a line that fits") << kFull - 10 << 10 << true << 10;
    QTest::newRow("a line one byte too long: none of it") << kFull - 10 << 11 << true << 0;
}

void TestProtocol::inputQueueBound()
{
    QFETCH(int, held);
    QFETCH(int, arriving);
    QFETCH(bool, whole);
    QFETCH(int, kept);

    InputQueue queue;
    QCOMPARE(queue.append(QByteArray(held, 'h').constData(), held), qsizetype(held));
    const QByteArray bytes(arriving, 'a');
    if (whole)
        QCOMPARE(queue.appendWhole(bytes), kept == arriving);
    else
        QCOMPARE(queue.append(bytes.constData(), arriving), qsizetype(kept));
    QCOMPARE(queue.size(), qsizetype(held + kept));

    // Handed out oldest first, and only what was kept.
    QByteArray out(held + arriving, '\0');
    QCOMPARE(queue.read(out.data(), quint32(out.size())), quint32(held + kept));
    QCOMPARE(out.left(held + kept), QByteArray(held, 'h') + QByteArray(kept, 'a'));
    QVERIFY(queue.isEmpty());
}

void TestProtocol::feedByte_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("completeAt"); // index of the byte that ends the line, -1: none
    QTest::addColumn<QString>("line");

    QTest::newRow("lamp reply") << QByteArray("LAMP 1\r") << 6 << QStringLiteral("LAMP 1");
    QTest::newRow("lone CR") << QByteArray("\r") << 0 << QString();
    QTest::newRow("LF is a character")
        << QByteArray("\nLAMP 1\r") << 7 << QStringLiteral("\nLAMP 1");
    QTest::newRow("NUL is a character")
        << QByteArray("a\0b\r", 4) << 3 << QString(QStringLiteral("a") + QChar(0) + "b");
    QTest::newRow("high bytes keep their value")
        << QByteArray("\xff\x80\r") << 2 << QString(QChar(0xff)) + QChar(0x80);
    QTest::newRow("no CR, no line") << QByteArray("LAMP 1") << -1 << QStringLiteral("LAMP 1");
}

void TestProtocol::feedByte()
{
    QFETCH(QByteArray, input);
    QFETCH(int, completeAt);
    QFETCH(QString, line);

    QString buffer;
    int completed = -1;
    for (int i = 0; i < input.size(); ++i) {
        const ByteResult result = serialprotocol::feedByte(buffer, input.at(i));
        if (result == ByteResult::LineComplete) {
            completed = i;
            break;
        }
        QCOMPARE(result, ByteResult::Stored);
    }
    QCOMPARE(completed, completeAt);
    QCOMPARE(buffer, line);
}

void TestProtocol::feedByteBound()
{
    QString buffer;
    for (int i = 0; i < serialprotocol::kMaxReplyLength; ++i)
        QCOMPARE(serialprotocol::feedByte(buffer, 'x'), ByteResult::Stored);
    QCOMPARE(buffer.size(), serialprotocol::kMaxReplyLength);
    QCOMPARE(serialprotocol::feedByte(buffer, 'y'), ByteResult::Dropped);
    QCOMPARE(serialprotocol::feedByte(buffer, '\n'), ByteResult::Dropped);
    QCOMPARE(buffer, QString(serialprotocol::kMaxReplyLength, QLatin1Char('x')));
    // The carriage return still ends the cut line, so the next reply starts clean.
    QCOMPARE(serialprotocol::feedByte(buffer, '\r'), ByteResult::LineComplete);
}

void TestProtocol::parseReply_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<ReplyKind>("kind");

    QTest::newRow("LAMP 0") << QByteArray("LAMP 0") << ReplyKind::LampOff;
    QTest::newRow("lamp 0") << QByteArray("lamp 0") << ReplyKind::LampOff;
    QTest::newRow("LaMp 0") << QByteArray("LaMp 0") << ReplyKind::LampOff;
    QTest::newRow("LAMP 1") << QByteArray("LAMP 1") << ReplyKind::LampOn;
    QTest::newRow("lamp 1") << QByteArray("lamp 1") << ReplyKind::LampOn;
    QTest::newRow("trailing blank") << QByteArray("LAMP 1 ") << ReplyKind::Other;
    QTest::newRow("leading blank") << QByteArray(" LAMP 1") << ReplyKind::Other;
    QTest::newRow("LF before") << QByteArray("\nLAMP 1") << ReplyKind::Other;
    QTest::newRow("LAMP 2") << QByteArray("LAMP 2") << ReplyKind::Other;
    QTest::newRow("*001") << QByteArray("*001") << ReplyKind::NotAvailable;
    QTest::newRow("*000") << QByteArray("*000") << ReplyKind::Accepted;
    QTest::newRow("*0010") << QByteArray("*0010") << ReplyKind::Other;
    QTest::newRow("*00") << QByteArray("*00") << ReplyKind::Other;
    QTest::newRow("*0000") << QByteArray("*0000") << ReplyKind::Other;
    QTest::newRow("Res, 9 characters") << resolutionReport(4, 0, 3, 0, 1) << ReplyKind::Resolution;
    QTest::newRow("Res, 8 characters")
        << QByteArray("Res?\x04\x00\x03\x00", 8) << ReplyKind::ShortResolution;
    QTest::newRow("Res alone") << QByteArray("Res") << ReplyKind::ShortResolution;
    QTest::newRow("res lower case")
        << QByteArray("res?\x04\x00\x03\x00\x01", 9) << ReplyKind::Other;
    QTest::newRow("RES upper case")
        << QByteArray("RES?\x04\x00\x03\x00\x01", 9) << ReplyKind::Other;
    QTest::newRow("empty") << QByteArray() << ReplyKind::Other;
    QTest::newRow("model name") << QByteArray("XD1080") << ReplyKind::Other;
}

void TestProtocol::parseReply()
{
    QFETCH(QByteArray, line);
    QFETCH(ReplyKind, kind);
    QCOMPARE(serialprotocol::classifyReply(lineOf(line)).kind, kind);
}

void TestProtocol::resolution_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("text");

    QTest::newRow("1024 x 768 @ 60")
        << resolutionReport(4, 0, 3, 0, 1) << QStringLiteral("1024 x 768 @ 60 Hz");
    QTest::newRow("unknown rate 9")
        << resolutionReport(4, 0, 3, 0, 9) << QStringLiteral("1024 x 768 @ 0 Hz");
    QTest::newRow("1920 x 1080 @ 50")
        << resolutionReport(7, 128, 4, 56, 0) << QStringLiteral("1920 x 1080 @ 50 Hz");
    QTest::newRow("high bytes") << resolutionReport(255, 255, 255, 255, 6)
                                << QStringLiteral("65535 x 65535 @ 120 Hz");
    QTest::newRow("characters after the report ignored")
        << resolutionReport(4, 0, 3, 0, 1) + "tail" << QStringLiteral("1024 x 768 @ 60 Hz");
}

void TestProtocol::resolution()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, text);
    const serialprotocol::Reply reply = serialprotocol::classifyReply(lineOf(line));
    QCOMPARE(reply.kind, ReplyKind::Resolution);
    QCOMPARE(serialprotocol::formatResolution(reply.resolution), text);
}

void TestProtocol::refreshRates_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("rate");

    const int rates[] = {50, 60, 70, 72, 75, 85, 120};
    for (int code = 0; code < int(sizeof(rates) / sizeof(rates[0])); ++code)
        QTest::addRow("code %d", code) << code << rates[code];
    QTest::newRow("code 7") << 7 << 0;
    QTest::newRow("code 13") << 13 << 0;
    QTest::newRow("code 255") << 255 << 0;
    QTest::newRow("code -1") << -1 << 0;
}

void TestProtocol::refreshRates()
{
    QFETCH(int, code);
    QFETCH(int, rate);
    QCOMPARE(serialprotocol::refreshRate(code), rate);
}

void TestProtocol::colours()
{
    QCOMPARE(panelcolors::lampOff(), QColor(255, 0, 0, 255));
    QCOMPARE(panelcolors::lampOn(), QColor(0, 255, 0, 255));
    QCOMPARE(panelcolors::neutral(), QColor(200, 200, 0, 255));
}

void TestProtocol::portLocation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("location");

    QTest::newRow("COM1") << QStringLiteral("COM1") << QStringLiteral("/dev/COM1");
    QTest::newRow("ttyUSB0") << QStringLiteral("ttyUSB0") << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("absolute") << QStringLiteral("/x") << QStringLiteral("/x");
    QTest::newRow("relative ./") << QStringLiteral("./x") << QStringLiteral("./x");
    QTest::newRow("relative ../") << QStringLiteral("../x") << QStringLiteral("../x");
    QTest::newRow("dot without slash") << QStringLiteral(".x") << QStringLiteral("/dev/.x");
    QTest::newRow("empty") << QString() << QStringLiteral("/dev/");
}

void TestProtocol::portLocation()
{
    QFETCH(QString, name);
    QFETCH(QString, location);
    QCOMPARE(portname::portLocation(name), location);
}

void TestProtocol::networkPortName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("rfc2217");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");

    QTest::newRow("name") << "socket://host-7.example.org:4001" << false << "host-7.example.org"
                          << 4001;
    QTest::newRow("IPv4, RFC 2217") << "rfc2217://127.0.0.5:2217" << true << "127.0.0.5" << 2217;
    QTest::newRow("IPv6 in brackets") << "socket://[::1]:7000" << false << "::1" << 7000;
    QTest::newRow("scheme in capitals") << "RFC2217://host:1" << true << "host" << 1;
    QTest::newRow("highest port") << "socket://host:65535" << false << "host" << 65535;
    QTest::newRow("leading zeros") << "socket://host:00080" << false << "host" << 80;
}

void TestProtocol::networkPortName()
{
    QFETCH(QString, name);
    QFETCH(bool, rfc2217);
    QFETCH(QString, host);
    QFETCH(int, port);

    QVERIFY(portname::isNetworkPortName(name));
    QString reason;
    const auto parsed = portname::parseNetworkPortName(name, &reason);
    QVERIFY2(parsed, qPrintable(reason));
    QCOMPARE(parsed->bridge, rfc2217 ? portname::Bridge::Rfc2217 : portname::Bridge::Raw);
    QCOMPARE(parsed->host, host);
    QCOMPARE(int(parsed->port), port);
}

QTEST_APPLESS_MAIN(TestProtocol)

#include "tst_protocol.moc"
