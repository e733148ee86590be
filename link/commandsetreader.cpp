#include "link/commandsetreader.h"

#include "link/characters.h"
#include "link/serialline.h"
#include "platform/regularfile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <iterator>

using commands::Command;

namespace {
constexpr char kBuiltInPath[] = ":/lumivox/sets/builtin.ini";
constexpr char kHexPrefix[] = "hex:";
constexpr int kHexBase = 16;
// A set names the rates any line may have; a --baud is held to the same.
constexpr int kMinBaud = SerialLine::kMinBaud;
constexpr int kMaxBaud = SerialLine::kMaxBaud;
constexpr int kMinDataBits = 5;
constexpr int kMaxDataBits = 8;
constexpr int kMaxListItems = 32;
constexpr int kMaxRateCodes = 64;
constexpr int kMaxRate = 1000;

// The sections and their keys; the command names are [commands]' keys, and the input
// commands' those of [input] beside these.
struct Section
{
    const char *name;
    std::initializer_list<const char *> keys;
};
const Section kSections[] = {
    {"set", {"name", "maker", "models", "document"}},
    {"line", {"baud", "data-bits", "parity", "stop-bits", "flow-control"}},
    {"frames", {"end", "checksum", "checksum-from", "checksum-to"}},
    {"replies",
     {"end", "echo", "letter-case", "accepted", "not-now", "unknown-command", "value-refused",
      "ignore"}},
    {"commands", {}},
    {"power-state", {"query", "letter-case", "on", "off", "warming", "cooling", "standby"}},
    {"lamp-hours", {"answer", "lamps", "letter-case"}},
    {"model", {"answer", "letter-case"}},
    {"resolution", {"answer", "rate-codes", "letter-case"}},
    {"input", {"query", "letter-case"}},
    {"quirks", {"power-toggle", "send-twice", "busy-after-power", "wake-up", "wake-up-wait"}},
};

constexpr Command kInputs[]
    = {Command::Vga, Command::Hdmi, Command::Dvi, Command::SVideo, Command::Composite};

// Thrown by the checks of values, caught once at the top: a refusal ends the reading.
struct Refused
{
    int line;
    QString reason;
};

struct Value
{
    QString text;
    int line = 0;
};

bool isSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QString trimmed(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && isSpace(text.at(first)))
        ++first;
    while (last > first && isSpace(text.at(last - 1)))
        --last;
    return text.mid(first, last - first);
}

int hexValue(char c)
{
    if (characters::isDigit(uchar(c)))
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

class Parser
{
public:
    explicit Parser(CommandSet &set)
        : set(set)
    { }

    void readLines(const QByteArray &text);
    void interpret();

private:
    bool known(const QString &section, const QString &key) const;
    const Value *find(const char *section, const char *key) const;
    const Value &require(const char *section, const char *key, int sectionLine) const;
    [[noreturn]] static void refuse(int line, const QString &reason)
    {
        throw Refused {line, reason};
    }

    QByteArray frame(const Value &value, int limit) const;
    QStringList list(const Value &value, int most = kMaxListItems) const;
    int boundedNumber(const Value &value, const QString &text, int low, int high) const;
    template<typename T, std::size_t N>
    T choice(const Value &value, const QString &text,
             const std::pair<const char *, T> (&names)[N]) const;
    bool yesNo(const Value &value) const;
    QString shown(const Value &value) const;
    QList<ReplyPattern> patterns(const char *section, const char *key) const;
    bool anyCase(const char *section) const;
    Command commandNamed(const Value &value, const QString &name) const;

    void interpretSet();
    void interpretLine();
    void interpretFrames();
    void interpretReplies();
    void interpretCommands();
    void interpretQueries();
    void interpretQuirks();
    void checkFrame(const QByteArray &body, int line) const;

    CommandSet &set;
    QHash<QString, int> sections; // the line each starts on
    QHash<QString, Value> values; // by "section/key"
};

void Parser::readLines(const QByteArray &text)
{
    if (text.size() > CommandSetReader::kMaxFileBytes)
        refuse(0,
               QStringLiteral("the file is larger than %1 KiB")
                   .arg(CommandSetReader::kMaxFileBytes / 1024));
    QString section;
    int number = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        ++number;
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QByteArray bytes = text.mid(start, end - start);
        start = end + 1;
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        if (bytes.size() > CommandSetReader::kMaxLineBytes)
            refuse(number,
                   QStringLiteral("the line is longer than %1 bytes")
                       .arg(CommandSetReader::kMaxLineBytes));
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString line = decoder.decode(bytes);
        if (decoder.hasError())
            refuse(number, QStringLiteral("the line is not UTF-8"));
        for (const QChar c : line)
            if (c != QLatin1Char('\t') && characters::isControl(c.unicode()))
                refuse(number,
                       QStringLiteral("a control character (write frames' bytes with "
                                      "escapes such as \\r or \\x02)"));
        const QString content = trimmed(line);
        if (content.isEmpty() || content.startsWith(QLatin1Char('#')))
            continue;
        if (content.startsWith(QLatin1Char('['))) {
            if (!content.endsWith(QLatin1Char(']')))
                refuse(number, QStringLiteral("a section's name ends with \"]\""));
            section = trimmed(content.mid(1, content.size() - 2));
            const auto found
                = std::find_if(std::begin(kSections), std::end(kSections),
                               [&](const Section &s) { return section == QLatin1String(s.name); });
            if (found == std::end(kSections))
                refuse(number, QStringLiteral("unknown section [%1]").arg(section));
            if (sections.contains(section))
                refuse(number,
                       QStringLiteral("section [%1] again (first on line %2)")
                           .arg(section)
                           .arg(sections.value(section)));
            sections.insert(section, number);
            continue;
        }
        const qsizetype equals = content.indexOf(QLatin1Char('='));
        if (equals < 0)
            refuse(number, QStringLiteral("neither a section, a \"key = value\" nor a comment"));
        const QString key = trimmed(content.left(equals));
        const QString value = trimmed(content.mid(equals + 1));
        if (section.isEmpty())
            refuse(number, QStringLiteral("\"%1\" before the first section").arg(key));
        if (!known(section, key))
            refuse(number, QStringLiteral("unknown key \"%1\" in [%2]").arg(key, section));
        if (value.isEmpty())
            refuse(number,
                   QStringLiteral("\"%1\" without a value (leave the key out instead)").arg(key));
        const QString path = section + QLatin1Char('/') + key;
        if (values.contains(path))
            refuse(number,
                   QStringLiteral("\"%1\" again in [%2] (first on line %3)")
                       .arg(key, section)
                       .arg(values.value(path).line));
        values.insert(path, Value {value, number});
    }
}

bool Parser::known(const QString &section, const QString &key) const
{
    if (section == QLatin1String("commands"))
        return commands::commandNamed(key) != nullptr;
    if (section == QLatin1String("input"))
        for (const Command input : kInputs)
            if (key == QLatin1String(commands::command(input).name))
                return true;
    for (const Section &s : kSections)
        if (section == QLatin1String(s.name))
            return std::any_of(s.keys.begin(), s.keys.end(),
                               [&](const char *k) { return key == QLatin1String(k); });
    return false;
}

const Value *Parser::find(const char *section, const char *key) const
{
    const auto found
        = values.constFind(QLatin1String(section) + QLatin1Char('/') + QLatin1String(key));
    return found == values.cend() ? nullptr : &*found;
}

const Value &Parser::require(const char *section, const char *key, int sectionLine) const
{
    const Value *value = find(section, key);
    if (!value)
        refuse(sectionLine,
               QStringLiteral("[%1] needs \"%2\"").arg(QLatin1String(section), QLatin1String(key)));
    return *value;
}

QByteArray Parser::frame(const Value &value, int limit) const
{
    QByteArray bytes;
    const QString &text = value.text;
    if (text.startsWith(QLatin1String(kHexPrefix))) {
        const QStringList pairs
            = text.mid(int(sizeof kHexPrefix) - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &pair : pairs) {
            if (pair.size() != 2 || !characters::isHexDigit(pair.at(0).unicode())
                || !characters::isHexDigit(pair.at(1).unicode()))
                refuse(value.line,
                       QStringLiteral("\"%1\" is not a byte in hexadecimal (two "
                                      "digits, a space between bytes)")
                           .arg(pair));
            bytes.append(char(hexValue(char(pair.at(0).unicode())) * kHexBase
                              + hexValue(char(pair.at(1).unicode()))));
            if (bytes.size() > limit)
                break;
        }
    } else {
        for (qsizetype i = 0; i < text.size() && bytes.size() <= limit; ++i) {
            const char16_t c = text.at(i).unicode();
            if (c > 0x7e)
                refuse(value.line, QStringLiteral("a frame is ASCII: write other bytes as \\xHH"));
            if (c != u'\\') {
                bytes.append(char(c));
                continue;
            }
            const char16_t next = i + 1 < text.size() ? text.at(i + 1).unicode() : u'\0';
            i += 1;
            switch (next) {
            case u'r':
                bytes.append('\r');
                break;
            case u'n':
                bytes.append('\n');
                break;
            case u't':
                bytes.append('\t');
                break;
            case u's':
                bytes.append(' ');
                break;
            case u'\\':
                bytes.append('\\');
                break;
            case u'x':
                if (i + 2 >= text.size() || !characters::isHexDigit(text.at(i + 1).unicode())
                    || !characters::isHexDigit(text.at(i + 2).unicode()))
                    refuse(value.line, QStringLiteral("\\x needs two hexadecimal digits"));
                bytes.append(char(hexValue(char(text.at(i + 1).unicode())) * kHexBase
                                  + hexValue(char(text.at(i + 2).unicode()))));
                i += 2;
                break;
            default:
                refuse(value.line,
                       QStringLiteral("unknown escape (known: \\r \\n \\t \\s \\\\ "
                                      "\\xHH)"));
            }
        }
    }
    if (bytes.isEmpty())
        refuse(value.line, QStringLiteral("an empty frame"));
    if (bytes.size() > limit)
        refuse(value.line, QStringLiteral("longer than %1 bytes").arg(limit));
    return bytes;
}

QStringList Parser::list(const Value &value, int most) const
{
    QStringList items;
    for (const QString &item : value.text.split(QLatin1Char(','))) {
        const QString entry = trimmed(item);
        if (entry.isEmpty())
            refuse(value.line, QStringLiteral("an empty entry in the list"));
        items.append(entry);
    }
    if (items.size() > most)
        refuse(value.line, QStringLiteral("more than %1 entries").arg(most));
    return items;
}

int Parser::boundedNumber(const Value &value, const QString &text, int low, int high) const
{
    const bool digitsOnly = !text.isEmpty() && text.size() <= 9
        && std::all_of(text.cbegin(), text.cend(),
                       [](QChar c) { return characters::isDigit(c.unicode()); });
    const int parsed = digitsOnly ? text.toInt() : -1;
    if (!digitsOnly || parsed < low || parsed > high)
        refuse(value.line,
               QStringLiteral("\"%1\" is not a number from %2 to %3").arg(text).arg(low).arg(high));
    return parsed;
}

template<typename T, std::size_t N>
T Parser::choice(const Value &value, const QString &text,
                 const std::pair<const char *, T> (&names)[N]) const
{
    QStringList known;
    for (const auto &name : names) {
        if (text == QLatin1String(name.first))
            return name.second;
        known.append(QLatin1String(name.first));
    }
    refuse(value.line,
           QStringLiteral("\"%1\" is none of: %2").arg(text, known.join(QLatin1String(", "))));
}

bool Parser::yesNo(const Value &value) const
{
    static constexpr std::pair<const char *, bool> kNames[] = {{"yes", true}, {"no", false}};
    return choice(value, value.text, kNames);
}

QString Parser::shown(const Value &value) const
{
    // Names reach the window and the log: nothing in them may disguise a line.
    if (characters::visibleText(value.text) != value.text)
        refuse(value.line, QStringLiteral("a character that cannot be shown"));
    return value.text;
}

bool Parser::anyCase(const char *section) const
{
    static constexpr std::pair<const char *, bool> kNames[] = {{"exact", false}, {"any", true}};
    const Value *value = find(section, "letter-case");
    return value && choice(*value, value->text, kNames);
}

QList<ReplyPattern> Parser::patterns(const char *section, const char *key) const
{
    QList<ReplyPattern> compiled;
    const Value *value = find(section, key);
    if (!value)
        return compiled;
    // Alternatives are separated by an unescaped "|".
    QStringList pieces(QString {});
    const QString &text = value->text;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\\') && i + 1 < text.size()) {
            pieces.last() += text.mid(i, 2);
            ++i;
        } else if (text.at(i) == QLatin1Char('|')) {
            pieces.append(QString());
        } else {
            pieces.last() += text.at(i);
        }
    }
    if (pieces.size() > CommandSetReader::kMaxPatternsPerKey)
        refuse(value->line,
               QStringLiteral("more than %1 patterns").arg(CommandSetReader::kMaxPatternsPerKey));
    const bool letters = anyCase(section);
    for (const QString &piece : pieces) {
        const QString source = trimmed(piece);
        if (source.isEmpty())
            refuse(value->line, QStringLiteral("an empty pattern"));
        QString error;
        const ReplyPattern pattern = ReplyPattern::parse(source, letters, &error);
        if (!error.isEmpty())
            refuse(value->line, QStringLiteral("pattern \"%1\": %2").arg(source, error));
        compiled.append(pattern);
    }
    return compiled;
}

Command Parser::commandNamed(const Value &value, const QString &name) const
{
    const commands::NamedCommand *named = commands::commandNamed(name);
    if (!named)
        refuse(value.line, QStringLiteral("no command is named \"%1\"").arg(name));
    return named->id;
}

void Parser::interpret()
{
    for (const char *required : {"set", "line", "replies", "commands"})
        if (!sections.contains(QLatin1String(required)))
            refuse(0, QStringLiteral("no section [%1]").arg(QLatin1String(required)));
    interpretSet();
    interpretLine();
    interpretFrames();
    interpretReplies();
    interpretCommands();
    interpretQueries();
    interpretQuirks();
}

void Parser::interpretSet()
{
    const int line = sections.value(QStringLiteral("set"));
    set.name = shown(require("set", "name", line));
    if (const Value *maker = find("set", "maker"))
        set.maker = shown(*maker);
    if (const Value *models = find("set", "models"))
        set.models = list(Value {shown(*models), models->line});
    if (const Value *document = find("set", "document"))
        set.document = shown(*document);
}

void Parser::interpretLine()
{
    const int line = sections.value(QStringLiteral("line"));
    const Value &baud = require("line", "baud", line);
    for (const QString &item : list(baud))
        set.line.bauds.append(boundedNumber(baud, item, kMinBaud, kMaxBaud));
    const Value &dataBits = require("line", "data-bits", line);
    for (const QString &item : list(dataBits))
        set.line.dataBits.append(boundedNumber(dataBits, item, kMinDataBits, kMaxDataBits));
    const Value &parity = require("line", "parity", line);
    for (const QString &item : list(parity))
        set.line.parities.append(choice(parity, item, CommandSet::kParityWords));
    const Value &stopBits = require("line", "stop-bits", line);
    for (const QString &item : list(stopBits))
        set.line.stopBits.append(boundedNumber(stopBits, item, 1, 2));
    const Value &flow = require("line", "flow-control", line);
    for (const QString &item : list(flow))
        set.line.flowControls.append(choice(flow, item, CommandSet::kFlowControlWords));
}

void Parser::interpretFrames()
{
    using C = CommandSet::Checksum;
    static constexpr std::pair<const char *, C> kRules[]
        = {{"none", C::None}, {"sum8", C::Sum8}, {"xor8", C::Xor8}, {"or8", C::Or8}};
    if (const Value *end = find("frames", "end"))
        set.framing.end = frame(*end, CommandSetReader::kMaxReplyEndBytes);
    const Value *rule = find("frames", "checksum");
    const Value *from = find("frames", "checksum-from");
    const Value *to = find("frames", "checksum-to");
    if (rule)
        set.framing.checksum = choice(*rule, rule->text, kRules);
    if ((from || to) && set.framing.checksum == C::None)
        refuse((from ? from : to)->line, QStringLiteral("a checksum range without a checksum"));
    if (from)
        set.framing.checksumFrom
            = boundedNumber(*from, from->text, 0, CommandSetReader::kMaxFrameBytes - 1);
    if (to && to->text != QLatin1String("end")) {
        set.framing.checksumTo
            = boundedNumber(*to, to->text, 0, CommandSetReader::kMaxFrameBytes - 1);
        if (set.framing.checksumTo < set.framing.checksumFrom)
            refuse(to->line, QStringLiteral("the range ends before it starts"));
    }
}

void Parser::interpretReplies()
{
    using E = CommandSet::Echo;
    static constexpr std::pair<const char *, E> kEchoes[]
        = {{"none", E::None}, {"once", E::Once}, {"twice", E::Twice}};
    const int line = sections.value(QStringLiteral("replies"));
    set.replyEnd = frame(require("replies", "end", line), CommandSetReader::kMaxReplyEndBytes);
    if (const Value *echo = find("replies", "echo"))
        set.echo = choice(*echo, echo->text, kEchoes);
    set.accepted = patterns("replies", "accepted");
    set.notNow = patterns("replies", "not-now");
    set.unknownCommand = patterns("replies", "unknown-command");
    set.valueRefused = patterns("replies", "value-refused");
    set.ignored = patterns("replies", "ignore");
}

void Parser::checkFrame(const QByteArray &body, int line) const
{
    const CommandSet::Framing &framing = set.framing;
    if (framing.checksum != CommandSet::Checksum::None) {
        const int last = framing.checksumTo < 0 ? int(body.size()) - 1 : framing.checksumTo;
        if (framing.checksumFrom > last || last >= body.size())
            refuse(line,
                   QStringLiteral("the checksum's range runs past this frame's %1 bytes")
                       .arg(body.size()));
    }
    if (set.framed(body).size() > CommandSetReader::kMaxFrameBytes)
        refuse(line,
               QStringLiteral("longer than %1 bytes with checksum and end")
                   .arg(CommandSetReader::kMaxFrameBytes));
}

void Parser::interpretCommands()
{
    bool any = false;
    for (int i = 0; i < commands::kCommandCount; ++i) {
        const Value *value = find("commands", commands::commandTable()[i].name);
        if (!value)
            continue;
        set.bodies[i] = frame(*value, CommandSetReader::kMaxFrameBytes);
        checkFrame(set.bodies[i], value->line);
        any = true;
    }
    if (!any)
        refuse(sections.value(QStringLiteral("commands")),
               QStringLiteral("[commands] describes no command"));
}

void Parser::interpretQueries()
{
    static const char *const kStates[] = {"on", "off", "warming", "cooling", "standby"};
    static_assert(int(std::size(kStates)) == CommandSet::kPowerStateCount, "one key a state");
    if (const int line = sections.value(QStringLiteral("power-state"))) {
        const Value &query = require("power-state", "query", line);
        set.powerQuery = frame(query, CommandSetReader::kMaxFrameBytes);
        checkFrame(set.powerQuery, query.line);
        require("power-state", "on", line);
        require("power-state", "off", line);
        for (int state = 0; state < CommandSet::kPowerStateCount; ++state)
            set.powerAnswers[state] = patterns("power-state", kStates[state]);
    }
    const auto answersFor = [&](const char *section, Command command) {
        const int line = sections.value(QLatin1String(section));
        if (!line)
            return QList<ReplyPattern>();
        if (!set.has(command))
            refuse(
                line,
                QStringLiteral("[%1] without the command \"%2\" in [commands]")
                    .arg(QLatin1String(section), QLatin1String(commands::command(command).name)));
        require(section, "answer", line);
        return patterns(section, "answer");
    };
    set.lampHoursAnswers = answersFor("lamp-hours", Command::LampTime);
    if (const Value *lamps = find("lamp-hours", "lamps"))
        set.lamps = boundedNumber(*lamps, lamps->text, 1, CommandSetReader::kMaxLamps);
    set.modelAnswers = answersFor("model", Command::Model);
    set.resolutionAnswers = answersFor("resolution", Command::Resolution);
    if (const Value *rates = find("resolution", "rate-codes")) {
        for (const QString &item : list(*rates, kMaxRateCodes))
            set.rateCodes.append(boundedNumber(*rates, item, 0, kMaxRate));
    }
    if (const int line = sections.value(QStringLiteral("input"))) {
        const Value &query = require("input", "query", line);
        set.inputQuery = frame(query, CommandSetReader::kMaxFrameBytes);
        checkFrame(set.inputQuery, query.line);
        bool any = false;
        for (const Command input : kInputs) {
            set.inputAnswers[int(input)] = patterns("input", commands::command(input).name);
            any = any || !set.inputAnswers[int(input)].isEmpty();
        }
        if (!any)
            refuse(line, QStringLiteral("[input] tells no input's answer"));
    }
}

void Parser::interpretQuirks()
{
    if (const Value *toggle = find("quirks", "power-toggle")) {
        set.powerToggles = yesNo(*toggle);
        if (set.powerToggles && (!set.has(Command::PowerOn) || set.has(Command::PowerOff)))
            refuse(toggle->line,
                   QStringLiteral("a power toggle is power-on's frame alone, "
                                  "without power-off"));
    }
    if (const Value *twice = find("quirks", "send-twice"))
        for (const QString &name : list(*twice)) {
            const Command command = commandNamed(*twice, name);
            if (!set.has(command))
                refuse(twice->line, QStringLiteral("\"%1\" is not in [commands]").arg(name));
            set.sentTwice[int(command)] = true;
        }
    if (const Value *busy = find("quirks", "busy-after-power"))
        set.busyAfterPowerMs = boundedNumber(*busy, busy->text, 0, CommandSetReader::kMaxBusyMs);
    if (const Value *wake = find("quirks", "wake-up"))
        set.wakeUp = frame(*wake, CommandSetReader::kMaxFrameBytes);
    if (const Value *wait = find("quirks", "wake-up-wait")) {
        if (set.wakeUp.isEmpty())
            refuse(wait->line, QStringLiteral("a wait without a wake-up"));
        set.wakeUpWaitMs = boundedNumber(*wait, wait->text, 0, CommandSetReader::kMaxWakeUpWaitMs);
    }
}
} // namespace

QString CommandSetReader::Refusal::text() const
{
    if (line == 0)
        return QStringLiteral("%1: %2").arg(file, reason);
    return QStringLiteral("%1:%2: %3").arg(file).arg(line).arg(reason);
}

bool CommandSetReader::read(const QString &file, const QByteArray &text, CommandSet *set,
                            Refusal *refusal)
{
    CommandSet read;
    Parser parser(read);
    try {
        parser.readLines(text);
        parser.interpret();
    } catch (const Refused &refused) {
        *refusal = Refusal {file, refused.line, refused.reason};
        return false;
    }
    *set = read;
    return true;
}

bool CommandSetReader::readFile(const QString &path, CommandSet *set, Refusal *refusal)
{
    const QString name = QFileInfo(path).fileName();
    if (path.startsWith(QLatin1Char(':'))) { // the program's own, compiled in
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *refusal = Refusal {name, 0, file.errorString()};
            return false;
        }
        return read(name, file.read(kMaxFileBytes + 1), set, refusal);
    }
    // A regular file only (a FIFO or a serial device named by mistake is never opened),
    // and one byte beyond the bound is enough to refuse it: no more is read.
    QString problem;
    const std::optional<QByteArray> content = readRegularFile(path, kMaxFileBytes, &problem);
    if (!content) {
        // Named by its whole path: what was meant may well be another file.
        const QString prefix = path + QStringLiteral(": ");
        *refusal
            = Refusal {path, 0, problem.startsWith(prefix) ? problem.mid(prefix.size()) : problem};
        return false;
    }
    return read(name, *content, set, refusal);
}

const char *CommandSetReader::builtInPath()
{
    return kBuiltInPath;
}

CommandSet CommandSetReader::builtIn()
{
    CommandSet set;
    Refusal refusal;
    // The file is the program's own and its test reads it: it cannot be refused here.
    readFile(QLatin1String(kBuiltInPath), &set, &refusal);
    return set;
}
