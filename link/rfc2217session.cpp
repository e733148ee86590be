#include "rfc2217session.h"

#include "protocol.h"

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

constexpr quint32 kBaudRate = 9600; // the projector's line, as the serial port sets it
constexpr uchar kEightBits = 8;
constexpr uchar kNoParity = 1;
constexpr uchar kOneStopBit = 1;
constexpr uchar kNoFlowControl = 1;
constexpr uchar kDtrOff = 9;
constexpr uchar kRtsOff = 12;
constexpr uchar kPurgeBoth = 3;
constexpr int kMaxSubnegotiation = 64; // longer ones (a signature) are cut, not stored whole

// The answers waited for, one bit per request code.
constexpr unsigned bit(uchar code)
{
    return 1U << code;
}
constexpr unsigned kAnswersNeeded = bit(kSetBaudRate) | bit(kSetDataSize) | bit(kSetParity)
    | bit(kSetStopSize) | bit(kSetControl) | bit(kPurgeData);

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
} // namespace

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
    const quint32 baud = kBaudRate;
    const char rate[] = {char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    request(answer, kSetBaudRate, QByteArray(rate, sizeof rate));
    request(answer, kSetDataSize, oneByte(kEightBits));
    request(answer, kSetParity, oneByte(kNoParity));
    request(answer, kSetStopSize, oneByte(kOneStopBit));
    request(answer, kSetControl, oneByte(kNoFlowControl));
    request(answer, kSetControl, oneByte(kDtrOff));
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
        if (option == kComPort)
            refused = true;
        break;
    default:
        break;
    }
}

void Rfc2217Session::subnegotiation()
{
    // Answers to the requests count; the bridge's line and modem state notifications and
    // anything else are dropped.
    if (sub.size() < 2 || uchar(sub.at(0)) != kComPort)
        return;
    const uchar code = uchar(sub.at(1));
    if (code > kServerOffset && code - kServerOffset <= kPurgeData)
        answered |= bit(uchar(code - kServerOffset));
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
                if (c == protocol::kCarriageReturn)
                    state = State::DataCr;
            }
            break;
        case State::Command:
            state = State::Data;
            if (byte == kIac)
                data.append(c);
            else if (byte == kWill)
                state = State::Will;
            else if (byte == kWont)
                state = State::Wont;
            else if (byte == kDo)
                state = State::Do;
            else if (byte == kDont)
                state = State::Dont;
            else if (byte == kSb)
                state = State::Sub, sub.clear();
            // Any other command (NOP, GA, a break) carries nothing for the line.
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
                // IAC SE ends it; any other command ends it as well (RFC 855).
                subnegotiation();
                state = State::Data;
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
        else if (c == protocol::kCarriageReturn && !ours[kBinary])
            out.append('\0');
    }
    return out;
}

bool Rfc2217Session::isConfigured() const
{
    return (answered & kAnswersNeeded) == kAnswersNeeded;
}
