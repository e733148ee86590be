// Command set files: the reader's acceptance and refusals, the reply patterns, frames
// with their checksums, and the built-in set against the protocol compiled in.

#include "link/characters.h"
#include "link/commands.h"
#include "link/commandset.h"
#include "link/commandsetreader.h"
#include "link/replypattern.h"
#include "link/serialprotocol.h"
#include "session/commandsetprojector.h"
#include "session/serialprojector.h"

#include <QFile>
#include <QTest>

using commands::Command;
using commands::Verdict;

namespace {
// The smallest set the reader takes, for the tables to add to.
const QByteArray kMinimal = "[set]\n"
                            "name = Test\n"
                            "[line]\n"
                            "baud = 9600\n"
                            "data-bits = 8\n"
                            "parity = none\n"
                            "stop-bits = 1\n"
                            "flow-control = none\n"
                            "[replies]\n"
                            "end = \\r\n"
                            "[commands]\n"
                            "power-on = PWR ON\n";
constexpr int kMinimalLines = 12;

// Reply lines of every kind the built-in protocol tells apart, and near misses.
QList<QByteArray> replyLines()
{
    return {
        "*000",
        "*001",
        "*0000",
        " *000",
        "LAMP 0",
        "LAMP 1",
        "lamp 1",
        "Lamp 0",
        "LAMP 2",
        "LAMP  1",
        "1234",
        "",
        "\n1234",
        "Res",
        "ResX\x04",
        QByteArray("Res \x04\x00\x03\x00\x01", 9),
        QByteArray("Res \x07\x80\x04\x38\x06tail", 13),
        QByteArray("Res \x05\x00\x04\x00\x09", 9),
        "RES 12345678",
        "res 12345678",
        "PJ-100",
        "\xff\xfe",
        QByteArray("LAMP\x00 1", 7),
    };
}

CommandSet readOrFail(const QByteArray &text)
{
    CommandSet set;
    CommandSetReader::Refusal refusal;
    if (!CommandSetReader::read(QStringLiteral("test.ini"), text, &set, &refusal))
        qWarning("%s", qPrintable(refusal.text()));
    return set;
}

QString captures(const ReplyPattern::Match &match)
{
    QStringList parts;
    for (const int value : match.values)
        parts.append(QString::number(value));
    if (!match.rest.isEmpty())
        parts.append(QString::fromLatin1(match.rest));
    return parts.join(QLatin1Char(' '));
}
} // namespace

class TestCommandSets : public QObject
{
    Q_OBJECT

private slots:
    void bytesAreShownEscaped_data();
    void bytesAreShownEscaped();
    void readsGoodFile_data();
    void readsGoodFile();
    void refusesMalformedFile_data();
    void refusesMalformedFile();
    void matchesPattern_data();
    void matchesPattern();
    void sampleMatchesBack_data();
    void sampleMatchesBack();
    void framesWithChecksum_data();
    void framesWithChecksum();
    void builtInFrameIsToday_data();
    void builtInFrameIsToday();
    void builtInGrammarIsToday_data();
    void builtInGrammarIsToday();
    void builtInProjectorIsToday_data();
    void builtInProjectorIsToday();
};

void TestCommandSets::readsGoodFile_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("summary");
    QTest::newRow("minimal") << kMinimal << QStringLiteral("Test 9600 power-on");
    QTest::newRow("crlf, comments, tabs")
        << QByteArray(kMinimal).replace("\n", "\r\n").append("\t# note\r\n\r\n")
        << QStringLiteral("Test 9600 power-on");
    QTest::newRow("alternatives, quirks, queries")
        << kMinimal
            + "[quirks]\npower-toggle = yes\nsend-twice = power-on\n"
              "busy-after-power = 30000\nwake-up = \\x00\nwake-up-wait = 100\n"
              "[power-state]\nquery = hex: 02 00 00\non = PWR=01\noff = PWR=00\n"
              "[input]\nquery = SRC?\nhdmi = SRC=30\n"
              "[frames]\nend = \\r\n"
        << QStringLiteral("Test 9600 power-on toggle twice 30000 wake 100");
    // The reference a person copies from must itself be read.
    QFile reference(QStringLiteral(LUMIVOX_SOURCE_DIR "/docs/command-set-reference.ini"));
    QVERIFY(reference.open(QIODevice::ReadOnly));
    QTest::newRow("reference") << reference.readAll()
                               << QStringLiteral("Lumivox built-in 9600 ")
            + commands::commandNames().join(QLatin1Char(' '));
}

void TestCommandSets::readsGoodFile()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, summary);
    CommandSet set;
    CommandSetReader::Refusal refusal;
    QVERIFY2(CommandSetReader::read(QStringLiteral("good.ini"), text, &set, &refusal),
             qPrintable(refusal.text()));
    QStringList parts {set.name, QString::number(set.line.bauds.value(0))};
    for (int i = 0; i < commands::kCommandCount; ++i)
        if (set.has(Command(i)))
            parts.append(QLatin1String(commands::commandTable()[i].name));
    if (set.powerToggles)
        parts.append(QStringLiteral("toggle"));
    if (set.sentTwice[int(Command::PowerOn)])
        parts.append(QStringLiteral("twice"));
    if (set.busyAfterPowerMs)
        parts.append(QString::number(set.busyAfterPowerMs));
    if (!set.wakeUp.isEmpty())
        parts.append(QStringLiteral("wake %1").arg(set.wakeUpWaitMs));
    QCOMPARE(parts.join(QLatin1Char(' ')), summary);
}

void TestCommandSets::refusesMalformedFile_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");
    const int next = kMinimalLines + 1;
    QTest::newRow("too large") << kMinimal + QByteArray(CommandSetReader::kMaxFileBytes, '#') << 0
                               << QStringLiteral("larger than 64 KiB");
    QTest::newRow("line too long") << "#" + QByteArray(CommandSetReader::kMaxLineBytes, 'x') << 1
                                   << QStringLiteral("longer than 1024 bytes");
    QTest::newRow("not UTF-8") << kMinimal + "# \xff\n" << next << QStringLiteral("not UTF-8");
    QTest::newRow("control character") << kMinimal + "# \x1b[2J\n"
                                       << next << QStringLiteral("control character");
    QTest::newRow("direction control in a name")
        << QByteArray(kMinimal).replace("= Test", "= Te\xe2\x80\xaest") << 2
        << QStringLiteral("cannot be shown");
    QTest::newRow("key before a section")
        << "name = x\n" + kMinimal << 1 << QStringLiteral("before the first section");
    QTest::newRow("unknown section") << kMinimal + "[comands]\n"
                                     << next << QStringLiteral("unknown section [comands]");
    QTest::newRow("section again") << kMinimal + "[set]\n"
                                   << next << QStringLiteral("again (first on line 1)");
    QTest::newRow("unknown key") << kMinimal + "bud = 1\n"
                                 << next << QStringLiteral("unknown key \"bud\" in [commands]");
    QTest::newRow("not a command") << kMinimal + "power-of = x\n"
                                   << next << QStringLiteral("unknown key \"power-of\"");
    QTest::newRow("key again") << kMinimal + "power-on = B\n"
                               << next << QStringLiteral("again in [commands] (first on line 12)");
    QTest::newRow("no equals sign") << kMinimal + "power-off\n"
                                    << next << QStringLiteral("neither a section");
    QTest::newRow("empty value") << kMinimal + "power-off =\n"
                                 << next << QStringLiteral("without a value");
    QTest::newRow("no [line]") << kMinimal.left(kMinimal.indexOf("[line]"))
            + kMinimal.mid(kMinimal.indexOf("[replies]"))
                               << 0 << QStringLiteral("no section [line]");
    QTest::newRow("baud missing") << QByteArray(kMinimal).replace("baud = 9600\n", "") << 3
                                  << QStringLiteral("[line] needs \"baud\"");
    QTest::newRow("baud not a number") << QByteArray(kMinimal).replace("= 9600", "= 9600, fast")
                                       << 4 << QStringLiteral("\"fast\" is not a number");
    QTest::newRow("parity unknown") << QByteArray(kMinimal).replace("= none\nstop", "= 2\nstop")
                                    << 6 << QStringLiteral("none of: none, even");
    QTest::newRow("unknown escape") << kMinimal + "power-off = A\\q\n"
                                    << next << QStringLiteral("unknown escape");
    QTest::newRow("short \\x") << kMinimal + "power-off = A\\x4\n"
                               << next << QStringLiteral("two hexadecimal digits");
    QTest::newRow("bad hex") << kMinimal + "power-off = hex: 02 0\n"
                             << next << QStringLiteral("\"0\" is not a byte");
    QTest::newRow("non-ASCII frame") << kMinimal + "power-off = \xc3\xa9\n"
                                     << next << QStringLiteral("a frame is ASCII");
    QTest::newRow("frame too long")
        << kMinimal + "power-off = " + QByteArray(CommandSetReader::kMaxFrameBytes, 'A')
            + "\n[frames]\nend = \\r\n"
        << next << QStringLiteral("longer than 256 bytes with checksum");
    QTest::newRow("reply end too long") << QByteArray(kMinimal).replace("end = \\r", "end = ABCDE")
                                        << 10 << QStringLiteral("longer than 4 bytes");
    QTest::newRow("checksum past a frame")
        << kMinimal + "[frames]\nchecksum = sum8\nchecksum-from = 6\n"
        << 12 << QStringLiteral("runs past this frame's 6 bytes");
    QTest::newRow("range without checksum") << kMinimal + "[frames]\nchecksum-to = 3\n"
                                            << next + 1 << QStringLiteral("without a checksum");
    QTest::newRow("replies again") << kMinimal + "[replies]\n"
                                   << next << QStringLiteral("section [replies] again");
    QTest::newRow("pattern with two stars")
        << QByteArray(kMinimal).replace("end = \\r\n", "end = \\r\naccepted = *a*\n") << 11
        << QStringLiteral("more than one \"*\"");
    QTest::newRow("unknown placeholder")
        << QByteArray(kMinimal).replace("end = \\r\n", "end = \\r\naccepted = {x}\n") << 11
        << QStringLiteral("unknown placeholder {x}");
    QTest::newRow("digits after a number")
        << QByteArray(kMinimal).replace("end = \\r\n", "end = \\r\nnot-now = {hours}0\n") << 11
        << QStringLiteral("right after a number placeholder");
    QTest::newRow("too many patterns") << QByteArray(kMinimal).replace(
        "end = \\r\n", "end = \\r\nignore = " + QByteArray("a|").repeated(16) + "a\n")
                                       << 11 << QStringLiteral("more than 16 patterns");
    QTest::newRow("power state without off")
        << kMinimal + "[power-state]\nquery = P?\non = 1\n"
        << next << QStringLiteral("[power-state] needs \"off\"");
    QTest::newRow("answer without its command") << kMinimal
            + "[model]\nanswer = *\n" << next << QStringLiteral("without the command \"model\"");
    QTest::newRow("toggle with power-off")
        << kMinimal + "power-off = X\n[quirks]\npower-toggle = yes\n"
        << next + 2 << QStringLiteral("without power-off");
    QTest::newRow("twice an absent command") << kMinimal + "[quirks]\nsend-twice = hdmi\n"
                                             << next + 1 << QStringLiteral("\"hdmi\" is not in");
    QTest::newRow("busy too long") << kMinimal + "[quirks]\nbusy-after-power = 999999\n"
                                   << next + 1 << QStringLiteral("from 0 to 120000");
}

void TestCommandSets::refusesMalformedFile()
{
    QFETCH(QByteArray, text);
    QFETCH(int, line);
    QFETCH(QString, reason);
    CommandSet set;
    CommandSetReader::Refusal refusal;
    QVERIFY(!CommandSetReader::read(QStringLiteral("bad.ini"), text, &set, &refusal));
    QCOMPARE(refusal.file, QStringLiteral("bad.ini"));
    QVERIFY2(refusal.reason.contains(reason), qPrintable(refusal.text()));
    QCOMPARE(refusal.line, line);
}

void TestCommandSets::matchesPattern_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("anyCase");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("matched");
    QTest::addColumn<QString>("captured");
    QTest::newRow("literal") << "\\*000" << false << QByteArray("*000") << true << "";
    QTest::newRow("literal, longer line")
        << "\\*000" << false << QByteArray("*0000") << false << "";
    QTest::newRow("case exact") << "LAMP 1" << false << QByteArray("lamp 1") << false << "";
    QTest::newRow("case any") << "LAMP 1" << true << QByteArray("lAmP 1") << true << "";
    QTest::newRow("hours") << "LAMP {n} {hours}" << false << QByteArray("LAMP 2 1234") << true
                           << "2 1234";
    QTest::newRow("hours missing")
        << "LAMP {n} {hours}" << false << QByteArray("LAMP 2 ") << false << "";
    QTest::newRow("too many digits")
        << "{hours}" << false << QByteArray("1234567890") << false << "";
    QTest::newRow("star in the middle")
        << "%1POWR={n}*h" << false << QByteArray("%1POWR=1 xh") << true << "1  x";
    QTest::newRow("star then number")
        << "*={hours}" << false << QByteArray("LAMP=77") << true << "77 LAMP";
    QTest::newRow("star overlapping") << "ab*ba" << false << QByteArray("aba") << false << "";
    QTest::newRow("any byte") << "Res?{width16}{height16}{rate-code}*" << false
                              << QByteArray("Res\x01\x04\x00\x03\x00\x01", 9) << true
                              << "1024 768 1";
    QTest::newRow("escapes") << "\\*\\?\\{\\x41" << false << QByteArray("*?{A") << true << "";
    QTest::newRow("star alone, empty line") << "*" << false << QByteArray() << true << "";
}

void TestCommandSets::matchesPattern()
{
    QFETCH(QString, pattern);
    QFETCH(bool, anyCase);
    QFETCH(QByteArray, line);
    QFETCH(bool, matched);
    QFETCH(QString, captured);
    QString error;
    const ReplyPattern compiled = ReplyPattern::parse(pattern, anyCase, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const ReplyPattern::Match match = compiled.match(line);
    QCOMPARE(match.matched, matched);
    QCOMPARE(captures(match), captured);
}

void TestCommandSets::sampleMatchesBack_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("anyCase");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QByteArray>("star");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("literal") << "\\*000" << false << QList<int>() << QByteArray()
                             << QByteArray("*000");
    QTest::newRow("lamp number and hours") << "LAMP {n} {hours}" << false << QList<int> {2, 1234}
                                           << QByteArray() << QByteArray("LAMP 2 1234");
    QTest::newRow("hours of two lamps") << "L1={hours},L2={hours}" << false << QList<int> {10, 20}
                                        << QByteArray() << QByteArray("L1=10,L2=20");
    QTest::newRow("resolution in digits")
        << "{width}x{height}@{rate}" << false << QList<int> {1920, 1080, 60} << QByteArray()
        << QByteArray("1920x1080@60");
    QTest::newRow("resolution in bytes")
        << "Res?{width16}{height16}{rate-code}*" << false << QList<int> {1024, 768, 1}
        << QByteArray("xy") << QByteArray("Res_\x04\x00\x03\x00\x01xy", 11);
    QTest::newRow("star between") << "%1POWR={n}*h" << false << QList<int> {1} << QByteArray(" x")
                                  << QByteArray("%1POWR=1 xh");
    QTest::newRow("number after star")
        << "*={hours}" << false << QList<int> {77} << QByteArray("LAMP") << QByteArray("LAMP=77");
    QTest::newRow("any byte after a number")
        << "{hours}?" << false << QList<int> {5} << QByteArray() << QByteArray("5_");
    QTest::newRow("escapes and binary")
        << "\\xa9\\x01{hours}\\s\\?" << false << QList<int> {3} << QByteArray()
        << QByteArray("\xa9\x01"
                      "3 ?");
    QTest::newRow("any case") << "\\*LTIM={hours}#" << true << QList<int> {4321} << QByteArray()
                              << QByteArray("*LTIM=4321#");
    QTest::newRow("values missing")
        << "{n}:{hours}" << false << QList<int> {7} << QByteArray() << QByteArray("7:0");
}

void TestCommandSets::sampleMatchesBack()
{
    QFETCH(QString, pattern);
    QFETCH(bool, anyCase);
    QFETCH(QList<int>, values);
    QFETCH(QByteArray, star);
    QFETCH(QByteArray, line);
    QString error;
    const ReplyPattern compiled = ReplyPattern::parse(pattern, anyCase, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QByteArray sample = compiled.sample(values, star);
    QCOMPARE(sample, line);
    // Rendered, then matched: the values come back, each where the pattern has it.
    const ReplyPattern::Match match = compiled.match(sample);
    QVERIFY(match.matched);
    QCOMPARE(match.kinds, compiled.captures());
    for (int i = 0; i < match.values.size(); ++i)
        QCOMPARE(match.values.at(i), values.value(i));
    QCOMPARE(match.rest, star);
}

void TestCommandSets::framesWithChecksum_data()
{
    QTest::addColumn<QByteArray>("frames");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("text, CR") << QByteArray("end = \\r\n") << QByteArray("PWR ON")
                              << QByteArray("PWR ON\r");
    QTest::newRow("escapes") << QByteArray("end = \\r\\n\n") << QByteArray("\\sA\\t\\\\\\x02")
                             << QByteArray(" A\t\\\x02\r\n");
    QTest::newRow("hex, no end") << QByteArray("checksum = none\n")
                                 << QByteArray("hex: 02 00 00 00 00 02")
                                 << QByteArray("\x02\0\0\0\0\x02", 6);
    QTest::newRow("sum8 of all") << QByteArray("checksum = sum8\n")
                                 << QByteArray("hex: 02 00 00 00 00")
                                 << QByteArray("\x02\0\0\0\0\x02", 6);
    QTest::newRow("sum8 wraps") << QByteArray("checksum = sum8\n") << QByteArray("hex: ff 02")
                                << QByteArray("\xff\x02\x01");
    QTest::newRow("xor8 from byte 1, then end")
        << QByteArray("checksum = xor8\nchecksum-from = 1\nend = \\x03\n")
        << QByteArray("hex: 02 41 42 43") << QByteArray("\x02\x41\x42\x43\x40\x03");
    QTest::newRow("or8 from byte 1, then end")
        << QByteArray("checksum = or8\nchecksum-from = 1\nend = \\x9a\n")
        << QByteArray("hex: a9 17 2e 00 00 00") << QByteArray("\xa9\x17\x2e\0\0\0\x3f\x9a", 8);
    QTest::newRow("sum8 of bytes 1 to 2")
        << QByteArray("checksum = sum8\nchecksum-from = 1\nchecksum-to = 2\n")
        << QByteArray("hex: 10 01 02 40") << QByteArray("\x10\x01\x02\x40\x03");
}

void TestCommandSets::framesWithChecksum()
{
    QFETCH(QByteArray, frames);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, wire);
    const CommandSet set = readOrFail(kMinimal + "hdmi = " + body + "\n[frames]\n" + frames);
    QCOMPARE(set.frame(Command::Hdmi), wire);
}

void TestCommandSets::builtInFrameIsToday_data()
{
    QTest::addColumn<int>("command");
    for (int i = 0; i < commands::kCommandCount; ++i)
        QTest::newRow(commands::commandTable()[i].name) << i;
    QTest::newRow("lamp poll") << -1;
}

void TestCommandSets::builtInFrameIsToday()
{
    QFETCH(int, command);
    const CommandSet set = CommandSetReader::builtIn();
    const QByteArray today = command < 0 ? QByteArray(serialprotocol::kLampPoll)
                                         : QByteArray(commands::command(Command(command)).text);
    const QByteArray fromFile
        = command < 0 ? set.framed(set.powerQuery) : set.frame(Command(command));
    QCOMPARE(fromFile, today + serialprotocol::kCarriageReturn);
}

void TestCommandSets::builtInGrammarIsToday_data()
{
    QTest::addColumn<QByteArray>("line");
    for (const QByteArray &line : replyLines())
        QTest::newRow(line.toPercentEncoding().constData()) << line;
}

namespace {

// What the session makes of a line for a step awaiting this kind of answer, through the
// built-in protocol it speaks today.
commands::Verdict builtInVerdict(commands::Answer awaited, const QByteArray &line)
{
    SerialProjector projector;
    const ProjectorProtocol::Heard heard = projector.hear(line);
    if (!heard.unmatched)
        return commands::Verdict::Pending;
    if (heard.unmatched->notAvailable)
        return commands::Verdict::NotAvailable;
    return heard.unmatched->kind == awaited ? commands::Verdict::Answered
                                            : commands::Verdict::Pending;
}

} // namespace

void TestCommandSets::builtInGrammarIsToday()
{
    QFETCH(QByteArray, line);
    const CommandSet set = CommandSetReader::builtIn();
    const QString received = QString::fromLatin1(line); // as the line assembler keeps bytes
    const serialprotocol::Reply reply = serialprotocol::classifyReply(received);
    for (int i = 0; i < commands::kCommandCount; ++i) {
        const commands::NamedCommand &command = commands::commandTable()[i];
        QCOMPARE(set.judge(command.id, line), builtInVerdict(command.answer, line));
    }
    const std::optional<CommandSet::PowerState> state = set.powerState(line);
    QCOMPARE(state == CommandSet::PowerState::On, reply.kind == serialprotocol::ReplyKind::LampOn);
    QCOMPARE(state == CommandSet::PowerState::Off,
             reply.kind == serialprotocol::ReplyKind::LampOff);
    QCOMPARE(state.has_value(),
             reply.kind == serialprotocol::ReplyKind::LampOn
                 || reply.kind == serialprotocol::ReplyKind::LampOff);
    const std::optional<CommandSet::Resolution> resolution = set.resolution(line);
    QCOMPARE(resolution.has_value(), reply.kind == serialprotocol::ReplyKind::Resolution);
    if (resolution) {
        QCOMPARE(resolution->width, reply.resolution.width);
        QCOMPARE(resolution->height, reply.resolution.height);
        QCOMPARE(resolution->refreshRate, reply.resolution.refreshRate);
    }
}

namespace {
// Everything a protocol says of a line, in one comparable text.
QString described(const ProjectorProtocol::Heard &heard)
{
    QStringList parts;
    parts << QStringLiteral("lamp %1").arg(heard.lamp ? int(*heard.lamp) : -1)
          << QStringLiteral("power %1").arg(heard.power ? int(*heard.power) : -1);
    for (const qint64 hours : heard.lampHours)
        parts << QStringLiteral("hours %1").arg(hours);
    for (const ProjectorProtocol::LogLine &line : heard.log)
        parts
            << QStringLiteral("log %1 %2 %3").arg(line.text).arg(int(line.error)).arg(line.answer);
    for (const ProjectorProtocol::Completion &done : heard.completed)
        parts << QStringLiteral("done %1 %2").arg(int(done.verdict)).arg(done.answer);
    if (heard.unmatched)
        parts << QStringLiteral("said %1 %2 %3")
                     .arg(heard.unmatched->kind ? int(*heard.unmatched->kind) : -1)
                     .arg(heard.unmatched->notAvailable)
                     .arg(heard.unmatched->text);
    return parts.join(QLatin1String("; "));
}
} // namespace

void TestCommandSets::builtInProjectorIsToday_data()
{
    QTest::addColumn<QByteArray>("line");
    for (const QByteArray &line : replyLines())
        QTest::newRow(line.toPercentEncoding().constData()) << line;
}

void TestCommandSets::builtInProjectorIsToday()
{
    QFETCH(QByteArray, line);
    SerialProjector today;
    CommandSetProjector fromSet(CommandSetReader::builtIn());
    QCOMPARE(fromSet.frameEnd(), today.frameEnd());
    QCOMPARE(fromSet.poll(), today.poll());
    QCOMPARE(fromSet.takesEveryCommand(), today.takesEveryCommand());
    // Each request goes out before the line comes back, as on the line.
    QList<ProjectorProtocol::Action> actions {ProjectorProtocol::Query::PowerState,
                                              ProjectorProtocol::Query::ErrorStatus};
    for (int i = 0; i < commands::kCommandCount; ++i)
        actions.append(Command(i));
    for (const ProjectorProtocol::Action &action : actions) {
        QString todayReason = QStringLiteral("unset");
        QString setReason = QStringLiteral("unset");
        QCOMPARE(fromSet.frames(action, &setReason), today.frames(action, &todayReason));
        QCOMPARE(setReason, todayReason);
        QCOMPARE(described(fromSet.hear(line)), described(today.hear(line)));
    }
}

QTEST_GUILESS_MAIN(TestCommandSets)
void TestCommandSets::bytesAreShownEscaped_data()
{
    // A set's frames and binary replies as the log, --list and --json show them: one line
    // of printable ASCII whatever the bytes.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("text") << QByteArray("PWR ON") << QStringLiteral("PWR ON");
    QTest::newRow("line ends") << QByteArray("A\r\nB") << QStringLiteral("A\\r\\nB");
    QTest::newRow("binary") << QByteArray("\xa9\x17\x2e\0\x9a", 5)
                            << QStringLiteral("\\xa9\\x17.\\x00\\x9a");
    QTest::newRow("line separator, escape, DEL") << QByteArray("a\xe2\x80\xa8\x1b[2J\x7f")
                                                 << QStringLiteral("a\\xe2\\x80\\xa8\\x1b[2J\\x7f");
}

void TestCommandSets::bytesAreShownEscaped()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QCOMPARE(characters::escapedBytes(bytes), shown);
}

#include "tst_commandsets.moc"
