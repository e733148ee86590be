#ifndef PROJECTORFACTS_H
#define PROJECTORFACTS_H

#include "link/commands.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// What a projector has told of itself beyond its power state: who made it, its serial
// number and firmware, each lamp's and the filter's hours, its error status, its input
// and its mute and freeze. Empty (or unset) whatever it has not told; what a protocol
// cannot ask stays so.
struct ProjectorFacts
{
    QString maker;
    QString model;
    QString serialNumber;
    QString firmware;
    QList<qint64> lampHours; // one for each lamp
    std::optional<qint64> filterHours;
    // Six digits (fan, lamp, temperature, cover, filter, other), 0 fine, 1 warning, 2 error.
    QByteArray errorStatus;
    QByteArray input; // the projector's own code of the input shown ("31")
    // The input command that chooses that input, none where no command does.
    std::optional<commands::Command> source;
    // The input commands that choose one of its inputs; empty until it has listed them.
    QList<commands::Command> sources;
    std::optional<bool> muted; // picture and sound
    std::optional<bool> frozen;

    bool operator==(const ProjectorFacts &other) const
    {
        return maker == other.maker && model == other.model && serialNumber == other.serialNumber
            && firmware == other.firmware && lampHours == other.lampHours
            && filterHours == other.filterHours && errorStatus == other.errorStatus
            && input == other.input && source == other.source && sources == other.sources
            && muted == other.muted && frozen == other.frozen;
    }
    bool operator!=(const ProjectorFacts &other) const { return !(*this == other); }
};

#endif // PROJECTORFACTS_H
