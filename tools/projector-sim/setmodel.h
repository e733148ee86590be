#ifndef SETMODEL_H
#define SETMODEL_H

#include "projectormodel.h"

#include "link/commandset.h"

#include <QByteArray>
#include <QList>

#include <array>
#include <optional>

// A projector that speaks a command set: it finds the set's frames in the bytes the
// program writes (checksum and end included; any other byte, such as a wake-up, is passed
// over), echoes them as the set says and answers with the set's patterns filled in with
// sample values, each reply ended as the set's replies end. The power follows the
// projector model (standby, warming up, on, cooling down); time is handed in by the
// caller, as for the model.
class SetModel
{
public:
    SetModel(CommandSet set, const ProjectorModel::Options &options);

    // A frame of the set found in the bytes received, or bytes passed over, and what the
    // projector sends back for it (echoes and replies, in order).
    struct Exchange
    {
        QByteArray heard;
        QByteArray answer;
    };
    // The exchanges the bytes received at nowMs complete; none while a frame is still
    // incomplete. A frame written a byte at a time is one exchange all the same.
    QList<Exchange> receive(const QByteArray &bytes, qint64 nowMs);

    static constexpr char kModelText[] = "Lumivox Demo Projector LV-1";

private:
    struct Known
    {
        QByteArray frame;
        std::optional<commands::Command> command; // none for a query
        bool powerQuery = false;
    };

    QByteArray answer(const Known &known, qint64 nowMs);
    QByteArray commandAnswer(commands::Command command, qint64 nowMs);
    QByteArray powerAnswer(qint64 nowMs);
    QByteArray lampAnswer() const;
    QByteArray resolutionAnswer() const;
    QByteArray inputAnswer() const;
    QByteArray reply(const QList<ReplyPattern> &patterns, const QList<int> &values = {},
                     const QByteArray &star = {}) const;
    QByteArray acknowledgement(bool done) const;

    CommandSet set;
    ProjectorModel::Options options;
    ProjectorModel power;
    QList<Known> known;
    QByteArray pending;
    std::optional<commands::Command> currentInput;
    std::array<bool, commands::kCommandCount> confirming {}; // the first of a sent-twice pair
};

#endif // SETMODEL_H
