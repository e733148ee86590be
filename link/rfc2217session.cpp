#include "link/rfc2217session.h"

#include "link/serialprotocol.h"

#include <iterator>

namespace {
// Telnet (RFC 854) commands and the options this client takes part in.
constexpr uchar kSe = 240;
constexpr uchar kSb = 250;
constexpr uchar kWill = 251;
constexpr uchar kWont = 252;
constexpr uchar kDo = 253;
constexpr uchar kDont = 254;
constexpr uchar kIac = 255;
constexpr uchar kBinary = 0;
constexpr uchar kSuppressGoAhead = 3;
constexpr uchar kComPort = 44;

// The serial port control requests (RFC 2217); the bridge answers each with its code + 100.
constexpr uchar kSetBaudRate = 1;
constexpr uchar kSetDataSize = 2;
constexpr uchar kSetParity = 3;
constexpr uchar kSetStopSize = 4;
constexpr uchar kSetControl = 5;
constexpr uchar kPurgeData = 12;
constexpr uchar kServerOffset = 100;

// The values of SET-PARITY, SET-STOPSIZE and the flow control of SET-CONTROL.
constexpr uchar kNoParity = 1;
constexpr uchar kOddParity = 2;
constexpr uchar kEvenParity = 3;
constexpr uchar kMarkParity = 4;
constexpr uchar kSpaceParity = 5;
constexpr uchar kOneStopBit = 1;
constexpr uchar kTwoStopBits = 2;
constexpr uchar kNoFlowControl = 1;
constexpr uchar kDtrOff = 9;
constexpr uchar kRtsOff = 12;
constexpr uchar kPurgeBoth = 3;
constexpr int kMaxSubnegotiation = 64; // longer ones (a signature) are cut, not stored whole
constexpr int kAnswerHeader = 2; // the option and the answer's code come before the value
constexpr int kBaudBytes = 4; // a baud rate goes in network byte order
constexpr int kByteBits = 8;

// The values of SET-CONTROL, in the groups a bridge answers by: the setting it reports.
constexpr uchar kXonXoffFlowControl = 2;
constexpr uchar kHardwareFlowControl = 3;
constexpr uchar kDcdFlowControl = 17;
constexpr uchar kDsrFlowControl = 19;
constexpr uchar kDtrOn = 8;
constexpr uchar kRtsOn = 11;

// The answers waited for, one bit per request code.
constexpr unsigned bit(uchar code)
{
    return 1U << code;
}
constexpr unsigned kAnswersNeeded = bit(kSetBaudRate) | bit(kSetDataSize) | bit(kSetParity)
    | bit(kSetStopSize) | bit(kSetControl) | bit(kPurgeData);

// How the log names a value of each setting.
QString baudText(quint32 rate)
{
    return QStringLiteral("%1 baud").arg(rate);
}

QString dataSizeText(uchar bits)
{
    return QStringLiteral("%1 data bits").arg(bits);
}

QString parityText(uchar parity)
{
    // Indexed by the value: kNoParity to kSpaceParity.
    static const char *const names[] = {nullptr, "no", "odd", "even", "mark", "space"};
    if (parity > 0 && size_t(parity) < std::size(names))
        return QLatin1String(names[parity]) + QStringLiteral(" parity");
    return QStringLiteral("parity %1").arg(parity);
}

QString stopSizeText(uchar size)
{
    constexpr uchar kOneAndAHalf = 3;
    if (size == kOneStopBit)
        return QStringLiteral("1 stop bit");
    if (size == kTwoStopBits)
        return QStringLiteral("2 stop bits");
    if (size == kOneAndAHalf)
        return QStringLiteral("1.5 stop bits");
    return QStringLiteral("stop size %1").arg(size);
}

QString flowText(uchar flow)
{
    switch (flow) {
    case kNoFlowControl:
        return QStringLiteral("no flow control");
    case kXonXoffFlowControl:
        return QStringLiteral("XON/XOFF flow control");
    case kHardwareFlowControl:
        return QStringLiteral("hardware flow control");
    case kDcdFlowControl:
        return QStringLiteral("DCD flow control");
    default:
        return QStringLiteral("DSR flow control");
    }
}

QString signalText(const char *name, bool on)
{
    return QLatin1String(name) + (on ? QStringLiteral(" on") : QStringLiteral(" off"));
}

bool supported(uchar option)
{
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

void command(QByteArray *out, uchar verb, uchar option)
{
    out->append(char(kIac));
    out->append(char(verb));
    out->append(char(option));
}

void request(QByteArray *out, uchar code, const QByteArray &value)
{
    out->append(char(kIac));
    out->append(char(kSb));
    out->append(char(kComPort));
    out->append(char(code));
    for (char byte : value) {
        out->append(byte);
        if (uchar(byte) == kIac)
            out->append(byte);
    }
    out->append(char(kIac));
    out->append(char(kSe));
}

QByteArray oneByte(uchar value)
{
    return QByteArray(1, char(value));
}

uchar parityValue(CommandSet::Parity parity)
{
    switch (parity) {
    case CommandSet::Parity::Odd:
        return kOddParity;
    case CommandSet::Parity::Even:
        return kEvenParity;
    case CommandSet::Parity::Mark:
        return kMarkParity;
    case CommandSet::Parity::Space:
        return kSpaceParity;
    case CommandSet::Parity::None:
        break;
    }
    return kNoParity;
}

uchar flowControlValue(CommandSet::FlowControl flow)
{
    switch (flow) {
    case CommandSet::FlowControl::Hardware:
        return kHardwareFlowControl;
    case CommandSet::FlowControl::Software:
        return kXonXoffFlowControl;
    case CommandSet::FlowControl::None:
        break;
    }
    return kNoFlowControl;
}
} // namespace

Rfc2217Session::Rfc2217Session(const SerialLine &line)
    : baud(quint32(line.baud))
    , dataSize(uchar(line.dataBits))
    , parity(parityValue(line.parity))
    , stopSize(line.stopBits == 2 ? kTwoStopBits : kOneStopBit)
    , flowControl(flowControlValue(line.flowControl))
    // Under hardware flow control RTS is the bridge's to drive.
    , rtsOff(line.flowControl != CommandSet::FlowControl::Hardware)
{ }

QByteArray Rfc2217Session::start()
{
    QByteArray out;
    askedOurs[kComPort] = askedOurs[kBinary] = askedTheirs[kBinary] = true;
    command(&out, kWill, kComPort);
    command(&out, kWill, kBinary);
    command(&out, kDo, kBinary);
    return out;
}

void Rfc2217Session::requestLine(QByteArray *answer)
{
    if (lineRequested)
        return;
    lineRequested = true;
    const char rate[] = {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    request(answer, kSetBaudRate, QByteArray(rate, sizeof rate));
    request(answer, kSetDataSize, oneByte(dataSize));
    request(answer, kSetParity, oneByte(parity));
    request(answer, kSetStopSize, oneByte(stopSize));
    request(answer, kSetControl, oneByte(flowControl));
    request(answer, kSetControl, oneByte(kDtrOff));
    if (rtsOff)
        request(answer, kSetControl, oneByte(kRtsOff));
    request(answer, kPurgeData, oneByte(kPurgeBoth));
}

void Rfc2217Session::negotiate(State verb, uchar option, QByteArray *answer)
{
    // A request for the state already in effect is not answered, so that the two sides
    // never answer each other for ever (RFC 854).
    switch (verb) {
    case State::Will:
        if (!supported(option) || option == kComPort) {
            command(answer, kDont, option);
        } else if (!theirs[option]) {
            theirs[option] = true;
            if (!askedTheirs[option])
                command(answer, kDo, option);
        }
        askedTheirs[option] = false;
        break;
    case State::Wont:
        if (theirs[option]) // a refusal of our own request needs no answer
            command(answer, kDont, option);
        theirs[option] = askedTheirs[option] = false;
        break;
    case State::Do:
        if (!supported(option)) {
            command(answer, kWont, option);
        } else if (!ours[option]) {
            ours[option] = true;
            if (!askedOurs[option])
                command(answer, kWill, option);
        }
        askedOurs[option] = false;
        if (option == kComPort)
            requestLine(answer);
        break;
    case State::Dont:
        if (ours[option])
            command(answer, kWont, option);
        ours[option] = askedOurs[option] = false;
        if (option == kComPort && refused.isEmpty())
            refused = QStringLiteral("The bridge does not offer serial port control");
        break;
    default:
        break;
    }
}

void Rfc2217Session::refuse(const QString &what, const QString &asked)
{
    if (refused.isEmpty())
        refused = QStringLiteral("The bridge set %1 instead of %2").arg(what, asked);
}

void Rfc2217Session::checkControl(uchar value)
{
    // A bridge answers each request with the setting of that group it has now; the groups
    // not asked about (break, inbound flow control) are not the line's concern here.
    switch (value) {
    case kNoFlowControl:
    case kXonXoffFlowControl:
    case kHardwareFlowControl:
    case kDcdFlowControl:
    case kDsrFlowControl:
        if (value == flowControl)
            answered |= bit(kSetControl);
        else
            refuse(flowText(value), flowText(flowControl));
        break;
    case kDtrOn:
        refuse(signalText("DTR", true), signalText("DTR", false));
        break;
    case kRtsOn:
        if (rtsOff)
            refuse(signalText("RTS", true), signalText("RTS", false));
        break;
    default:
        break;
    }
}

void Rfc2217Session::subnegotiation()
{
    // The answers to the requests count, once they have been made; the bridge's line and
    // modem state notifications and anything else are dropped. An answer of the wrong
    // length is not one: the line waits for a proper one until its time is up.
    if (!lineRequested || sub.size() < kAnswerHeader || uchar(sub.at(0)) != kComPort
        || uchar(sub.at(1)) <= kServerOffset)
        return;
    const uchar code = uchar(uchar(sub.at(1)) - kServerOffset);
    const QByteArray value = sub.mid(kAnswerHeader);
    if (code == kSetBaudRate && value.size() == kBaudBytes) {
        quint32 rate = 0;
        for (char byte : value)
            rate = (rate << kByteBits) | uchar(byte);
        if (rate == baud)
            answered |= bit(code);
        else
            refuse(baudText(rate), baudText(baud));
        return;
    }
    if (value.size() != 1)
        return;
    const uchar setting = uchar(value.at(0));
    switch (code) {
    case kSetDataSize:
        if (setting == dataSize)
            answered |= bit(code);
        else
            refuse(dataSizeText(setting), dataSizeText(dataSize));
        break;
    case kSetParity:
        if (setting == parity)
            answered |= bit(code);
        else
            refuse(parityText(setting), parityText(parity));
        break;
    case kSetStopSize:
        if (setting == stopSize)
            answered |= bit(code);
        else
            refuse(stopSizeText(setting), stopSizeText(stopSize));
        break;
    case kSetControl:
        checkControl(setting);
        break;
    case kPurgeData:
        answered |= bit(code);
        break;
    default:
        break;
    }
}

void Rfc2217Session::takeCommand(uchar byte)
{
    switch (byte) {
    case kWill:
        state = State::Will;
        break;
    case kWont:
        state = State::Wont;
        break;
    case kDo:
        state = State::Do;
        break;
    case kDont:
        state = State::Dont;
        break;
    case kSb:
        state = State::Sub;
        sub.clear();
        break;
    default:
        // Any other command (NOP, GA, a break) carries nothing for the line.
        state = State::Data;
        break;
    }
}

QByteArray Rfc2217Session::receive(const QByteArray &bytes, QByteArray *answer)
{
    QByteArray data;
    data.reserve(bytes.size());
    for (char c : bytes) {
        const uchar byte = uchar(c);
        switch (state) {
        case State::DataCr:
            state = State::Data;
            // Without BINARY the bridge sends a carriage return as CR NUL.
            if (byte == 0 && !theirs[kBinary])
                break;
            [[fallthrough]];
        case State::Data:
            if (byte == kIac) {
                state = State::Command;
            } else {
                data.append(c);
                if (c == serialprotocol::kCarriageReturn)
                    state = State::DataCr;
            }
            break;
        case State::Command:
            if (byte == kIac) {
                data.append(c);
                state = State::Data;
            } else {
                takeCommand(byte);
            }
            break;
        case State::Will:
        case State::Wont:
        case State::Do:
        case State::Dont:
            negotiate(state, byte, answer);
            state = State::Data;
            break;
        case State::Sub:
            if (byte == kIac)
                state = State::SubCommand;
            else if (sub.size() < kMaxSubnegotiation)
                sub.append(c);
            break;
        case State::SubCommand:
            if (byte == kIac) {
                if (sub.size() < kMaxSubnegotiation)
                    sub.append(c);
                state = State::Sub;
            } else {
                // IAC SE ends it; any other command ends it as well and is taken as the
                // command it is (RFC 855).
                subnegotiation();
                if (byte == kSe)
                    state = State::Data;
                else
                    takeCommand(byte);
            }
            break;
        }
    }
    return data;
}

QByteArray Rfc2217Session::encode(const QByteArray &data) const
{
    QByteArray out;
    out.reserve(data.size() + 2);
    for (char c : data) {
        out.append(c);
        if (uchar(c) == kIac)
            out.append(c);
        else if (c == serialprotocol::kCarriageReturn && !ours[kBinary])
            out.append('\0');
    }
    return out;
}

bool Rfc2217Session::isConfigured() const
{
    return refused.isEmpty() && (answered & kAnswersNeeded) == kAnswersNeeded;
}
