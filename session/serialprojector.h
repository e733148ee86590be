#ifndef SERIALPROJECTOR_H
#define SERIALPROJECTOR_H

#include "session/projectorprotocol.h"

// The projector's built-in serial protocol: each command is its text of the command
// table, the poll asks the lamp state, and the replies name no command, so a line is
// the answer to a step when it is of the kind the step awaits. It tells only whether its
// lamp is on, not its error status, and takes every command.
class SerialProjector : public ProjectorProtocol
{
public:
    QList<QByteArray> opened() override { return {}; }
    QList<QByteArray> poll() override;
    QList<QByteArray> frames(const Action &action, QString *reason = nullptr) override;
    Heard hear(const QByteArray &line) override;

    Availability availability(commands::Command) const override { return Availability::Available; }
    bool takesEveryCommand() const override { return true; }
    bool wantsPassword() const override { return false; }
    bool answersEveryRequest() const override { return false; }
    bool holdsBack(const Action &) override { return false; }
};

#endif // SERIALPROJECTOR_H
