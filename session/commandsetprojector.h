#ifndef COMMANDSETPROJECTOR_H
#define COMMANDSETPROJECTOR_H

#include "link/commandset.h"
#include "session/projectorprotocol.h"

#include <QElapsedTimer>

#include <optional>

// A projector whose protocol a command set describes: each command is the set's frame,
// the poll asks the set's power-state query, and a reply line is what the set's patterns
// make of it. Like the built-in protocol, the replies name no command: a line answers the
// step that awaits its kind, and a refusal the request sent last.
//
// A set whose power is a toggle is never toggled blindly: power-on goes only to a projector
// known to be off (or in standby), power-off, its same frame, only to one known to be on;
// otherwise nothing is sent and the reason is given. The state is asked at the opening,
// and a power command of a script waits for that answer; after a toggle the state is
// known again only when the projector tells one other than before it, or, telling the
// same, once kToggleSettle has passed (the toggle did not take).
class CommandSetProjector : public ProjectorProtocol
{
public:
    explicit CommandSetProjector(CommandSet set);

    const CommandSet &commandSet() const { return set; }

    // After a toggle, this long a report of the state before it is taken as older than it.
    static constexpr qint64 kToggleSettle = kForgetAfter; // ms

    QList<QByteArray> opened() override;
    QList<QByteArray> poll() override;
    QList<QByteArray> frames(const Action &action, QString *reason = nullptr) override;
    Heard hear(const QByteArray &line) override;
    QByteArray frameEnd() const override { return set.framing.end; }
    QByteArray replyEnd() const override { return set.replyEnd; }
    int echoes() const override;
    Pacing pacing() const override;
    // The hours of each lamp, where the set captures them.
    ProjectorFacts facts() const override { return told; }

    Availability availability(commands::Command id) const override;
    bool takesEveryCommand() const override { return everyCommand; }
    bool wantsPassword() const override { return false; }
    bool answersEveryRequest() const override { return false; }
    bool holdsBack(const Action &action) override;

private:
    // A frame as the session writes it: the body and its checksum, the frame's end
    // being the session's to add.
    QByteArray unended(const QByteArray &body) const;
    // The toggle's frame when the known state lets it switch the way asked; else none and why.
    QList<QByteArray> toggle(commands::Command id, QString *reason);
    void heardPower(CommandSet::PowerState state);

    CommandSet set;
    bool everyCommand = true;
    bool binaryReplies = false; // shown byte for byte
    bool promptEnded = false; // a reply ends in a prompt, alone when nothing is to be said
    std::optional<Action> lastSent; // what a refusal refuses
    ProjectorFacts told;
    // What the projector said of its power last; none before it said or while a toggle's
    // outcome is awaited.
    std::optional<CommandSet::PowerState> knownPower;
    std::optional<CommandSet::PowerState> toggledFrom; // the state before the last toggle
    QElapsedTimer toggled; // since the last toggle
    QElapsedTimer asked; // since the opening's question, while it is unanswered
};

#endif // COMMANDSETPROJECTOR_H
