#include "link/pjlink.h"

#include "link/characters.h"
#include "link/replytexts.h"

#include <QCryptographicHash>
#include <QStringDecoder>

#include <algorithm>

namespace pjlink {

namespace {
constexpr char kPrefix = '%';
constexpr int kCommandLength = 4;
constexpr int kHeaderLength = 1 + 1 + kCommandLength; // "%1POWR"
constexpr int kRandomLength = 8;
constexpr int kMaxInputs = 64; // two characters and a space each fill a reply
constexpr int kMaxLamps = 8;
constexpr char kRgb = '1';
constexpr char kVideo = '2';
constexpr char kDigital = '3';

constexpr Error kErrors[] = {Error::Undefined, Error::OutOfParameter, Error::Unavailable,
                             Error::Failure, Error::Authentication};
constexpr char kGreeting[] = "PJLINK ";
constexpr char kNoPassword = '0';
constexpr char kPassword = '1';
constexpr qint64 kMaxHours = 99999; // five digits, as PJLink writes them

using characters::isAsciiLetterOrDigit;
using characters::isDigit;
using characters::isHexDigit;
} // namespace

QByteArray request(char protocolClass, const char *command, const QByteArray &parameter)
{
    return QByteArray(1, kPrefix) + protocolClass + command + ' ' + parameter;
}

Greeting parseGreeting(const QByteArray &line)
{
    Greeting greeting;
    const QByteArray text = line.trimmed().toUpper();
    if (text == "PJLINK 0") {
        greeting.kind = Greeting::Kind::Open;
    } else if (text == "PJLINK ERRA") {
        greeting.kind = Greeting::Kind::Rejected;
    } else if (text.startsWith("PJLINK 1 ")) {
        // The random number as sent: it goes into the digest byte for byte.
        const QByteArray random = line.trimmed().mid(int(qstrlen("PJLINK 1 ")));
        if (random.size() == kRandomLength
            && std::all_of(random.cbegin(), random.cend(), isHexDigit)) {
            greeting.kind = Greeting::Kind::Challenge;
            greeting.random = random;
        }
    }
    return greeting;
}

QByteArray greeting(const QByteArray &random)
{
    if (random.isEmpty())
        return kGreeting + QByteArray(1, kNoPassword);
    return kGreeting + QByteArray(1, kPassword) + ' ' + random;
}

QByteArray rejection()
{
    return kGreeting + errorCode(Error::Authentication);
}

DigestCheck checkDigest(const QByteArray &line, const QByteArray &random,
                        const QByteArray &password, QByteArray *rest)
{
    const QByteArray given = line.left(kDigestLength);
    if (given.size() < kDigestLength || !std::all_of(given.cbegin(), given.cend(), isHexDigit))
        return DigestCheck::Missing;
    *rest = line.mid(kDigestLength);
    // Every byte compared, so that the time taken tells nothing of how much was right.
    const QByteArray expected = digest(random, password);
    char differs = 0;
    for (int i = 0; i < kDigestLength; ++i)
        differs |= char(QChar::toLower(uint(uchar(given.at(i)))) ^ expected.at(i));
    return differs == 0 ? DigestCheck::Matches : DigestCheck::Wrong;
}

QString passwordProblem(const QByteArray &password)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(password); // the decoder decodes only into a string
    if (utf8.hasError())
        return QStringLiteral("the password is not valid UTF-8 text");
    if (password.size() > kMaxPassword)
        return QStringLiteral("the password is longer than the %1 bytes PJLink allows")
            .arg(kMaxPassword);
    return {};
}

QByteArray digest(const QByteArray &random, const QByteArray &password)
{
    return QCryptographicHash::hash(random + password, QCryptographicHash::Md5).toHex();
}

Reply parseReply(const QByteArray &line)
{
    Reply reply;
    const QByteArray text = line.trimmed();
    if (text.size() < kHeaderLength + 1 || text.at(0) != kPrefix || !isDigit(text.at(1))
        || text.at(kHeaderLength) != '=')
        return reply;
    reply.protocolClass = text.at(1);
    reply.command = text.mid(2, kCommandLength).toUpper();
    if (!std::all_of(reply.command.cbegin(), reply.command.cend(), isAsciiLetterOrDigit))
        return reply;
    reply.result = text.mid(kHeaderLength + 1).trimmed();
    const QByteArray upper = reply.result.toUpper();
    if (upper == "OK")
        reply.result = upper;
    for (const Error error : kErrors)
        if (upper == errorCode(error))
            reply.error = error;
    reply.valid = true;
    return reply;
}

Request parseRequest(const QByteArray &line)
{
    Request request;
    if (line.size() < kHeaderLength || line.at(0) != kPrefix || !isDigit(line.at(1))
        || line.at(1) == '0')
        return request;
    const QByteArray command = line.mid(2, kCommandLength);
    if (!std::all_of(command.cbegin(), command.cend(), isAsciiLetterOrDigit))
        return request;
    request.protocolClass = line.at(1);
    request.command = command.toUpper();
    if (line.size() > kMaxRequestLine - 1)
        request.problem = Request::Problem::TooLong;
    else if (line.size() <= kHeaderLength || line.at(kHeaderLength) != ' ')
        request.problem = Request::Problem::NoSeparator;
    else
        request.problem = Request::Problem::None;
    request.parameter = line.mid(kHeaderLength + 1);
    return request;
}

QByteArray answer(char protocolClass, const QByteArray &command, const QByteArray &result)
{
    return QByteArray(1, kPrefix) + protocolClass + command + '=' + result;
}

QByteArray errorCode(Error error)
{
    switch (error) {
    case Error::None:
        break;
    case Error::Undefined:
        return QByteArrayLiteral("ERR1");
    case Error::OutOfParameter:
        return QByteArrayLiteral("ERR2");
    case Error::Unavailable:
        return QByteArrayLiteral("ERR3");
    case Error::Failure:
        return QByteArrayLiteral("ERR4");
    case Error::Authentication:
        return QByteArrayLiteral("ERRA");
    }
    return {};
}

QByteArray lampResult(const QList<qint64> &hours, bool on)
{
    QList<QByteArray> items;
    for (const qint64 each : hours.mid(0, kMaxLamps)) {
        items.append(QByteArray::number(std::clamp<qint64>(each, 0, kMaxHours)));
        items.append(on ? "1" : "0");
    }
    return items.join(' ');
}

QByteArray textResult(const QString &text, int maxBytes)
{
    const QString shown = characters::visibleText(text).trimmed();
    QByteArray bytes;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        // A character of two halves goes whole or not at all.
        const qsizetype length = shown.at(i).isHighSurrogate() && i + 1 < shown.size() ? 2 : 1;
        const QByteArray one = shown.mid(i, length).toUtf8();
        if (bytes.size() + one.size() > maxBytes)
            break;
        bytes += one;
        i += length - 1;
    }
    return bytes;
}

namespace {
struct InputEntry
{
    commands::Command id;
    const char *code;
    const char *name;
};
constexpr InputEntry kInputs[] = {
    {commands::Command::Vga, "11", "VGA"},        {commands::Command::Composite, "21", "Composite"},
    {commands::Command::SVideo, "22", "S-Video"}, {commands::Command::Hdmi, "31", "HDMI"},
    {commands::Command::Dvi, "32", "DVI"},
};
} // namespace

QByteArray inputCode(commands::Command id)
{
    for (const InputEntry &entry : kInputs)
        if (entry.id == id)
            return entry.code;
    return {};
}

std::optional<commands::Command> inputCommand(const QByteArray &code)
{
    for (const InputEntry &entry : kInputs)
        if (code == entry.code)
            return entry.id;
    return std::nullopt;
}

QString inputName(commands::Command id)
{
    for (const InputEntry &entry : kInputs)
        if (entry.id == id)
            return QLatin1String(entry.name);
    return {};
}

const QList<commands::Command> &inputCommands()
{
    static const QList<commands::Command> ids = [] {
        QList<commands::Command> all;
        for (const InputEntry &entry : kInputs)
            all.append(entry.id);
        return all;
    }();
    return ids;
}

bool isAnswerTo(const QByteArray &line, const QByteArray &request)
{
    // The header as parseReply() reads it: any letter case, white space around the line.
    const QByteArray text = line.trimmed();
    return text.size() > kHeaderLength && request.size() >= kHeaderLength && text.at(0) == kPrefix
        && request.at(0) == kPrefix && text.at(1) == request.at(1) && isDigit(text.at(1))
        && text.at(kHeaderLength) == '='
        && text.mid(2, kCommandLength).toUpper() == request.mid(2, kCommandLength).toUpper();
}

bool refusesPassword(const QByteArray &line)
{
    const QByteArray text = line.trimmed();
    const qsizetype equals = text.indexOf('=');
    return equals >= 0
        && text.mid(equals + 1).trimmed().toUpper() == errorCode(Error::Authentication);
}

QString errorText(Error error)
{
    switch (error) {
    case Error::None:
        break;
    case Error::Undefined:
        return QStringLiteral("The projector does not know this command.");
    case Error::OutOfParameter:
        return QStringLiteral("The projector does not take this command's value.");
    case Error::Unavailable:
        return QString::fromLatin1(replytexts::kNotAvailable);
    case Error::Failure:
        return QStringLiteral("The projector reports a failure: it cannot carry the command out.");
    case Error::Authentication:
        return QStringLiteral("The projector rejected the password.");
    }
    return {};
}

std::optional<Power> parsePower(const QByteArray &result)
{
    if (result.size() != 1 || result.at(0) < '0' || result.at(0) > '3')
        return std::nullopt;
    return Power(result.at(0) - '0');
}

int parseClass(const QByteArray &result)
{
    for (auto it = result.crbegin(); it != result.crend(); ++it)
        if (isDigit(*it))
            return *it == '0' ? 0 : std::min(*it - '0', 2);
    return 0;
}

QList<QByteArray> parseInputs(const QByteArray &result)
{
    QList<QByteArray> inputs;
    for (const QByteArray &item : result.split(' ')) {
        if (item.size() != 2 || item.at(0) < '1' || item.at(0) > '9'
            || !isAsciiLetterOrDigit(item.at(1)))
            continue;
        const QByteArray input = item.toUpper();
        if (!inputs.contains(input) && inputs.size() < kMaxInputs)
            inputs.append(input);
    }
    return inputs;
}

std::optional<QByteArray> parseErrorStatus(const QByteArray &result)
{
    if (result.size() != kErrorFields || !std::all_of(result.cbegin(), result.cend(), [](char c) {
            return c >= '0' && c <= '2';
        }))
        return std::nullopt;
    return result;
}

const char *errorFieldName(int field)
{
    static const char *const names[kErrorFields]
        = {"fan", "lamp", "temperature", "cover", "filter", "other"};
    return field >= 0 && field < kErrorFields ? names[field] : "";
}

const char *errorLevelName(char digit)
{
    switch (digit) {
    case '1':
        return "warning";
    case '2':
        return "error";
    default:
        return "ok";
    }
}

namespace {
QString fieldLine(int field, char digit)
{
    QString name = QLatin1String(errorFieldName(field));
    name[0] = name.at(0).toUpper();
    return name + QStringLiteral(": ") + QLatin1String(errorLevelName(digit));
}
} // namespace

QStringList errorChanges(const QByteArray &before, const QByteArray &after)
{
    QStringList lines;
    for (int field = 0; field < kErrorFields && field < after.size(); ++field) {
        const char old = field < before.size() ? before.at(field) : '0';
        if (after.at(field) != old)
            lines.append(fieldLine(field, after.at(field)));
    }
    return lines;
}

QString errorSummary(const QByteArray &status)
{
    QStringList faults;
    for (int field = 0; field < kErrorFields && field < status.size(); ++field)
        if (status.at(field) != '0')
            faults.append(fieldLine(field, status.at(field)));
    return faults.isEmpty() ? QStringLiteral("ok") : faults.join(QStringLiteral(", "));
}

QList<qint64> parseLampHours(const QByteArray &result)
{
    const QList<QByteArray> items = result.simplified().split(' ');
    QList<qint64> hours;
    if (items.size() % 2 != 0 || items.size() > 2 * kMaxLamps)
        return hours;
    for (int i = 0; i + 1 < items.size(); i += 2) {
        bool number = false;
        const qint64 value = items.at(i).toLongLong(&number);
        if (!number || value < 0 || (items.at(i + 1) != "0" && items.at(i + 1) != "1"))
            return {};
        hours.append(value);
    }
    return hours;
}

QString lampHoursText(const QList<qint64> &hours)
{
    if (hours.size() == 1)
        return QString::number(hours.constFirst());
    QStringList lamps;
    for (int i = 0; i < hours.size(); ++i)
        lamps.append(QStringLiteral("lamp %1: %2").arg(i + 1).arg(hours.at(i)));
    QString text = lamps.join(QStringLiteral(", "));
    if (!text.isEmpty())
        text[0] = text.at(0).toUpper();
    return text;
}

std::optional<bool> parsePictureMute(const QByteArray &result)
{
    static const QList<QByteArray> muted {"11", "31"};
    static const QList<QByteArray> shown {"10", "20", "21", "30"};
    if (muted.contains(result))
        return true;
    if (shown.contains(result))
        return false;
    return std::nullopt;
}

std::optional<bool> parseFreeze(const QByteArray &result)
{
    if (result == "1" || result == "0")
        return result == "1";
    return std::nullopt;
}

QString decodeResolution(const QByteArray &result)
{
    if (result == "-")
        return QStringLiteral("No signal");
    const QList<QByteArray> sides = result.toLower().split('x');
    bool width = false;
    bool height = false;
    if (sides.size() == 2) {
        const int w = sides.at(0).toInt(&width);
        const int h = sides.at(1).toInt(&height);
        if (width && height)
            return QStringLiteral("%1 x %2").arg(w).arg(h);
    }
    return decodeText(result);
}

QString decodeText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    return characters::visibleText(text).trimmed();
}

Use useOf(commands::Command id)
{
    using C = commands::Command;
    switch (id) {
    case C::PowerOn:
        return Use::PowerOn;
    case C::PowerOff:
        return Use::PowerOff;
    case C::Vga:
    case C::Hdmi:
    case C::Dvi:
    case C::SVideo:
    case C::Composite:
        return Use::Input;
    case C::ShowHide:
        return Use::Hide;
    case C::Freeze:
        return Use::Freeze;
    case C::LampTime:
        return Use::LampHours;
    case C::Model:
        return Use::Model;
    case C::Company:
        return Use::Maker;
    case C::Resolution:
        return Use::Resolution;
    default:
        return Use::None;
    }
}

bool needsClass2(Use use)
{
    return use == Use::Freeze || use == Use::Resolution;
}

namespace {
QList<QByteArray> ofKind(const QList<QByteArray> &inputs, char kind)
{
    QList<QByteArray> found;
    for (const QByteArray &input : inputs)
        if (input.at(0) == kind)
            found.append(input);
    return found;
}

// Letters and digits only, in lower case: "S-Video", "S VIDEO" and "svideo" are one.
QString bare(const QString &name)
{
    QString letters;
    for (const QChar c : name)
        if (c.isLetterOrNumber())
            letters.append(c.toLower());
    return letters;
}

bool isDviName(const QString &name)
{
    return bare(name).contains(QLatin1String("dvi"));
}

bool isSVideoName(const QString &name)
{
    const QString letters = bare(name);
    return letters.contains(QLatin1String("svideo")) || letters == QLatin1String("yc");
}

// The input of `candidates` named as `matches` says; else the one at `fallback`.
QByteArray named(const QList<QByteArray> &candidates, const QHash<QByteArray, QString> &names,
                 bool (*matches)(const QString &), int fallback)
{
    for (const QByteArray &input : candidates)
        if (names.contains(input) && matches(names.value(input)))
            return input;
    return candidates.value(fallback);
}

// The first of `candidates` not named as `other` says, where names are known.
QByteArray firstNot(const QList<QByteArray> &candidates, const QHash<QByteArray, QString> &names,
                    bool (*other)(const QString &))
{
    for (const QByteArray &input : candidates)
        if (!names.contains(input) || !other(names.value(input)))
            return input;
    return candidates.value(0);
}
} // namespace

QByteArray inputFor(commands::Command id, const QList<QByteArray> &inputs,
                    const QHash<QByteArray, QString> &names)
{
    using C = commands::Command;
    switch (id) {
    case C::Vga:
        return ofKind(inputs, kRgb).value(0);
    case C::Hdmi:
        return firstNot(ofKind(inputs, kDigital), names, isDviName);
    case C::Dvi:
        return named(ofKind(inputs, kDigital), names, isDviName, 1);
    case C::Composite:
        return firstNot(ofKind(inputs, kVideo), names, isSVideoName);
    case C::SVideo:
        return named(ofKind(inputs, kVideo), names, isSVideoName, 1);
    default:
        return {};
    }
}

} // namespace pjlink
