#ifndef SERIALLINE_H
#define SERIALLINE_H

#include "link/commandset.h"

#include <QString>

// One concrete setting of a serial line, the one a port is opened with: of the
// alternatives a command set allows, one of each. Built as it is, 9600 8N1 without flow
// control, the line of the program's own protocol.
struct SerialLine
{
    static constexpr int kDefaultBaud = 9600;
    static constexpr int kDefaultDataBits = 8;
    static constexpr int kDefaultStopBits = 1;
    // The rates a setting may name at all; whether a port can run at one is the
    // platform's to say when it opens.
    static constexpr int kMinBaud = 50;
    static constexpr int kMaxBaud = 4000000;

    int baud = kDefaultBaud;
    int dataBits = kDefaultDataBits; // 5 to 8
    CommandSet::Parity parity = CommandSet::Parity::None;
    int stopBits = kDefaultStopBits; // 1 or 2
    CommandSet::FlowControl flowControl = CommandSet::FlowControl::None;

    // The usual one of a set's alternatives: the first of each list (the default's own
    // where a list is empty).
    static SerialLine usualOf(const CommandSet::LineSettings &line);

    // "9600 8N1", with the flow control where there is one ("19200 7E2 hardware"): for
    // listings and for the reasons a line is refused.
    QString text() const;
};

#endif // SERIALLINE_H
