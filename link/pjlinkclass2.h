#ifndef PJLINKCLASS2_H
#define PJLINKCLASS2_H

#include "link/pjlink.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// What class 2 projectors and controllers say to each other in UDP datagrams, free of
// sockets: the search a controller broadcasts and each projector's acknowledgement with its
// MAC address, and the status notifications a projector sends its controller unasked
// (its link coming up, its power, error status and input). Each datagram is one line
// ended by a carriage return. None of them is authenticated: a notification is a hint
// that something changed, never what the projector's state is.
namespace pjlinkclass2 {

// Both the search and the notifications go to this port, on the projector's side and on
// the controller's.
constexpr quint16 kPort = 4352;
// A datagram longer than a PJLink line is nobody's.
constexpr int kMaxDatagram = 136;

// "%2SRCH" and its carriage return.
QByteArray searchDatagram();
// Whether a datagram is a search (which a controller also hears of its own broadcast).
bool isSearch(const QByteArray &datagram);

// "aa:bb:cc:dd:ee:ff" from six pairs of hex digits joined by ':' or '-', in either case;
// nothing for anything else.
std::optional<QString> normalisedMac(const QByteArray &text);

// The MAC address of "%2ACKN=AA:BB:CC:DD:EE:FF", in lower case; nothing for any other
// datagram.
std::optional<QString> parseAcknowledgement(const QByteArray &datagram);
QByteArray acknowledgement(const QString &mac);

struct Notice
{
    enum class Kind {
        LinkUp, // "%2LKUP=<MAC>": the projector's network came up
        Power, // "%2POWR=<0..3>"
        Error, // "%2ERST=<6 digits>"
        Input, // "%2INPT=<2 characters>"
    };
    Kind kind = Kind::LinkUp;
    QString mac; // LinkUp
    pjlink::Power power = pjlink::Power::Standby; // Power
    QByteArray errorStatus; // Error: fan, lamp, temperature, cover, filter, other
    QByteArray input; // Input: "31", the kind first, as INPT answers it

    bool operator==(const Notice &other) const;
};

// A notification datagram; nothing for one malformed, too long or of another kind.
std::optional<Notice> parseNotice(const QByteArray &datagram);
// The datagram a projector sends for the notice.
QByteArray noticeDatagram(const Notice &notice);

} // namespace pjlinkclass2

#endif // PJLINKCLASS2_H
