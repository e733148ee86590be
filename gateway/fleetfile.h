#ifndef FLEETFILE_H
#define FLEETFILE_H

#include <QList>
#include <QString>
#include <QStringList>

// The projectors a gateway holds, as its fleet file lists them: INI, one section per
// projector named by its id, with the keys
//   port           any port name the program takes (serial, socket://, rfc2217://, pjlink://)
//   protocol       a command set's name or file (not for pjlink://)
//   password-file  a file whose first line is the projector's PJLink password
//   group          the projector's groups, comma-separated
//   mac            the projector's MAC address, for a search to find it by
// A file is taken whole or not at all: the first mistake refuses it, with the line.
class FleetFile
{
public:
    // Ids that are topic levels of the gateway's own.
    static constexpr char kGatewayLevel[] = "gateway";
    static constexpr char kGroupLevel[] = "group";

    struct Entry
    {
        QString id;
        QString port;
        QString protocol; // empty: the program's own
        QString passwordFile; // empty: none
        QStringList groups;
        QString mac; // lower case, colon-separated; empty: none given

        // Whether a projector of `other` is served as one of this (groups aside, which
        // change no session).
        bool sameProjector(const Entry &other) const;
        bool operator==(const Entry &other) const
        {
            return sameProjector(other) && groups == other.groups;
        }
        bool operator!=(const Entry &other) const { return !(*this == other); }
    };

    // Reads and checks the file; false with "FILE line N: what is wrong" (or "FILE: ..."
    // for the file as a whole). A password file's content is never in a message.
    static bool read(const QString &path, QList<Entry> *entries, QString *problem);
    // What is wrong with one entry alone, and under which key ("" for the section);
    // empty when nothing. Also for a projector found at run time.
    static QString entryProblem(const Entry &entry, QString *key = nullptr);
    // The MAC address in one spelling (aa:bb:cc:dd:ee:ff); empty for one that is not.
    static QString normalMac(const QString &text);
};

#endif // FLEETFILE_H
