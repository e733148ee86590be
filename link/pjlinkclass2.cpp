#include "link/pjlinkclass2.h"

#include "link/characters.h"

#include <algorithm>

namespace pjlinkclass2 {

namespace {
constexpr char kSearch[] = "%2SRCH";
constexpr char kAcknowledgement[] = "ACKN";
constexpr char kLinkUp[] = "LKUP";
constexpr char kPower[] = "POWR";
constexpr char kError[] = "ERST";
constexpr char kInput[] = "INPT";
constexpr int kHeaderLength = 7; // "%2ACKN="
constexpr int kMacBytes = 6;
constexpr int kMacLength = kMacBytes * 3 - 1; // "aa:bb:cc:dd:ee:ff"
constexpr int kInputLength = 2;
constexpr char kFirstInputKind = '1'; // RGB
constexpr char kLastInputKind = '6'; // internal
constexpr char kEnd = '\r';

// The text of a datagram "%2XXXX=text\r" of the given command, or nothing: the class must
// be 2, the command may be in either case (as projectors write replies), and the one line
// may end in CR, LF or CR LF but holds no other control character.
std::optional<QByteArray> valueOf(const QByteArray &datagram, const char *command)
{
    if (datagram.size() > kMaxDatagram)
        return std::nullopt;
    QByteArray line = datagram;
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith(kEnd))
        line.chop(1);
    if (line.size() < kHeaderLength || line.at(0) != '%' || line.at(1) != '2'
        || line.at(kHeaderLength - 1) != '='
        || line.mid(2, 4).toUpper() != QByteArray::fromRawData(command, 4))
        return std::nullopt;
    const QByteArray value = line.mid(kHeaderLength);
    if (std::any_of(value.cbegin(), value.cend(),
                    [](char c) { return uchar(c) < 0x20 || uchar(c) >= 0x7f; }))
        return std::nullopt;
    return value;
}

bool isInputCode(const QByteArray &code)
{
    if (code.size() != kInputLength || code.at(0) < kFirstInputKind || code.at(0) > kLastInputKind)
        return false;
    const char number = code.at(1);
    return (number >= '1' && number <= '9') || (number >= 'A' && number <= 'Z');
}

QByteArray framed(const char *command, const QByteArray &value)
{
    return QByteArray("%2") + command + '=' + value + kEnd;
}
} // namespace

QByteArray searchDatagram()
{
    return QByteArray(kSearch) + kEnd;
}

bool isSearch(const QByteArray &datagram)
{
    QByteArray line = datagram;
    if (line.endsWith('\n'))
        line.chop(1);
    return line == QByteArray(kSearch) + kEnd || line == kSearch;
}

std::optional<QString> normalisedMac(const QByteArray &text)
{
    if (text.size() != kMacLength)
        return std::nullopt;
    const char separator = text.at(2);
    if (separator != ':' && separator != '-')
        return std::nullopt;
    for (int i = 0; i < kMacLength; ++i) {
        const bool between = i % 3 == 2;
        if (between ? text.at(i) != separator : !characters::isHexDigit(text.at(i)))
            return std::nullopt;
    }
    QByteArray mac = text.toLower();
    mac.replace('-', ':');
    return QString::fromLatin1(mac);
}

std::optional<QString> parseAcknowledgement(const QByteArray &datagram)
{
    const std::optional<QByteArray> value = valueOf(datagram, kAcknowledgement);
    return value ? normalisedMac(*value) : std::nullopt;
}

QByteArray acknowledgement(const QString &mac)
{
    return framed(kAcknowledgement, mac.toLatin1());
}

bool Notice::operator==(const Notice &other) const
{
    if (kind != other.kind)
        return false;
    switch (kind) {
    case Kind::LinkUp:
        return mac == other.mac;
    case Kind::Power:
        return power == other.power;
    case Kind::Error:
        return errorStatus == other.errorStatus;
    case Kind::Input:
        return input == other.input;
    }
    return false;
}

std::optional<Notice> parseNotice(const QByteArray &datagram)
{
    Notice notice;
    if (const std::optional<QByteArray> value = valueOf(datagram, kLinkUp)) {
        const std::optional<QString> mac = normalisedMac(*value);
        if (!mac)
            return std::nullopt;
        notice.kind = Notice::Kind::LinkUp;
        notice.mac = *mac;
    } else if (const std::optional<QByteArray> value = valueOf(datagram, kPower)) {
        const std::optional<pjlink::Power> power = pjlink::parsePower(*value);
        if (!power)
            return std::nullopt;
        notice.kind = Notice::Kind::Power;
        notice.power = *power;
    } else if (const std::optional<QByteArray> value = valueOf(datagram, kError)) {
        const std::optional<QByteArray> status = pjlink::parseErrorStatus(*value);
        if (!status)
            return std::nullopt;
        notice.kind = Notice::Kind::Error;
        notice.errorStatus = *status;
    } else if (const std::optional<QByteArray> value = valueOf(datagram, kInput)) {
        if (!isInputCode(*value))
            return std::nullopt;
        notice.kind = Notice::Kind::Input;
        notice.input = *value;
    } else {
        return std::nullopt;
    }
    return notice;
}

QByteArray noticeDatagram(const Notice &notice)
{
    switch (notice.kind) {
    case Notice::Kind::LinkUp:
        return framed(kLinkUp, notice.mac.toLatin1());
    case Notice::Kind::Power:
        return framed(kPower, QByteArray::number(int(notice.power)));
    case Notice::Kind::Error:
        return framed(kError, notice.errorStatus);
    case Notice::Kind::Input:
        return framed(kInput, notice.input);
    }
    return {};
}

} // namespace pjlinkclass2
