#ifndef COMMANDSETPROJECTOR_H
#define COMMANDSETPROJECTOR_H

#include "link/commandset.h"
#include "session/projectorprotocol.h"

#include <optional>

// A projector whose protocol a command set describes: each command is the set's frame,
// the poll asks the set's power-state query, and a reply line is what the set's patterns
// make of it. Like the built-in protocol, the replies name no command: a line answers the
// step that awaits its kind, and a refusal the request sent last.
class CommandSetProjector : public ProjectorProtocol
{
public:
    explicit CommandSetProjector(CommandSet set);

    const CommandSet &commandSet() const { return set; }

    QList<QByteArray> opened() override { return {}; }
    QList<QByteArray> poll() override;
    QList<QByteArray> frames(const Action &action, QString *reason = nullptr) override;
    Heard hear(const QByteArray &line) override;
    QByteArray frameEnd() const override { return set.framing.end; }

    Availability availability(commands::Command id) const override;
    bool takesEveryCommand() const override { return everyCommand; }
    bool wantsPassword() const override { return false; }
    bool answersEveryRequest() const override { return false; }
    bool holdsBack(const Action &) override { return false; }

private:
    // A frame as the session writes it: the body and its checksum, the frame's end
    // being the session's to add.
    QByteArray unended(const QByteArray &body) const;

    CommandSet set;
    bool everyCommand = true;
    std::optional<Action> lastSent; // what a refusal refuses
};

#endif // COMMANDSETPROJECTOR_H
