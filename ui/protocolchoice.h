#ifndef PROTOCOLCHOICE_H
#define PROTOCOLCHOICE_H

#include <QString>

// The protocol the window speaks to a projector on a serial port or a bridge: a command
// set (a name of CommandSets, or a set's file) and the baud rate. The user's choice is
// kept in the settings beside nothing else of the window's, so that the next start speaks
// as the last Apply did; the command line's --protocol chooses for one run only.
struct ProtocolChoice
{
    static constexpr char kSettingsOrganization[] = "lumivox";
    static constexpr char kSettingsApplication[] = "lumivox";
    static constexpr char kSetKey[] = "port/command-set";
    static constexpr char kBaudKey[] = "port/baud";

    QString set; // empty for the program's own protocol
    int baud = 0; // 0 for the set's usual rate

    // What the last Apply kept; the program's own protocol at its usual rate when none did.
    static ProtocolChoice stored();
    void store() const;

    bool operator==(const ProtocolChoice &other) const
    {
        return set == other.set && baud == other.baud;
    }
};

#endif // PROTOCOLCHOICE_H
