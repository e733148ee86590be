#ifndef COMMANDSET_H
#define COMMANDSET_H

#include "link/commands.h"
#include "link/replypattern.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <utility>

// One projector protocol as a command set file describes it (CommandSetReader reads
// one): the line settings, how frames are written and replies end, the frame of each of
// the window's commands the projector has, the patterns of its answers and its quirks.
// Plain data with the few answers the rest of the program asks of it; every value in it
// has passed the reader's bounds.
struct CommandSet
{
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class FlowControl { None, Hardware, Software };
    enum class Checksum { None, Sum8, Xor8, Or8 };
    // The words a set's file and a listing of sets use for them.
    static constexpr std::pair<const char *, Parity> kParityWords[] = {{"none", Parity::None},
                                                                       {"even", Parity::Even},
                                                                       {"odd", Parity::Odd},
                                                                       {"mark", Parity::Mark},
                                                                       {"space", Parity::Space}};
    static constexpr std::pair<const char *, FlowControl> kFlowControlWords[]
        = {{"none", FlowControl::None},
           {"hardware", FlowControl::Hardware},
           {"software", FlowControl::Software}};
    static QString parityWord(Parity parity);
    static QString flowControlWord(FlowControl flow);
    enum class Echo { None, Once, Twice };
    enum class PowerState { On, Off, Warming, Cooling, Standby };
    static constexpr int kPowerStateCount = int(PowerState::Standby) + 1;
    // What a reply line that is not an answer of its own may say of the command.
    enum class Refusal { NotNow, UnknownCommand, ValueRefused };

    // Each list holds what the maker allows, the usual setting first.
    struct LineSettings
    {
        QList<int> bauds;
        QList<int> dataBits;
        QList<Parity> parities;
        QList<int> stopBits;
        QList<FlowControl> flowControls;
    };

    struct Framing
    {
        QByteArray end; // after the checksum
        Checksum checksum = Checksum::None;
        int checksumFrom = 0; // the first byte of the body summed
        int checksumTo = -1; // the last one; -1 for the body's last byte
    };

    struct Resolution
    {
        int width = 0;
        int height = 0;
        int refreshRate = 0; // 0 when the projector's code is not in the set's list
    };

    // The set's own description.
    QString name;
    QString maker;
    QStringList models;
    QString document; // the public document the set follows

    LineSettings line;
    Framing framing;

    QByteArray replyEnd;
    Echo echo = Echo::None;
    QList<ReplyPattern> accepted;
    QList<ReplyPattern> notNow;
    QList<ReplyPattern> unknownCommand;
    QList<ReplyPattern> valueRefused;
    QList<ReplyPattern> ignored; // lines that answer nothing

    // The bodies of the commands' frames, before checksum and end; empty for a command
    // the projector does not have.
    std::array<QByteArray, commands::kCommandCount> bodies;

    QByteArray powerQuery; // empty when the projector cannot be asked
    std::array<QList<ReplyPattern>, kPowerStateCount> powerAnswers;
    // A command awaits the acknowledgement unless its answer is described here.
    QList<ReplyPattern> lampHoursAnswers;
    int lamps = 1;
    QList<ReplyPattern> modelAnswers;
    QList<ReplyPattern> resolutionAnswers;
    QList<int> rateCodes; // the refresh rate in Hz of each code, from code 0
    QByteArray inputQuery;
    // For each input command (vga, hdmi, ...) the answers that say it is the one shown.
    std::array<QList<ReplyPattern>, commands::kCommandCount> inputAnswers;

    // The quirks.
    bool powerToggles = false; // power-on's frame switches either way; no power-off
    std::array<bool, commands::kCommandCount> sentTwice {}; // confirmed by sending it again
    int busyAfterPowerMs = 0; // the projector takes nothing this long after a power command
    QByteArray wakeUp; // written, as it is, before the first command
    int wakeUpWaitMs = 0; // and this long waited after it

    bool has(commands::Command command) const { return !bodies[int(command)].isEmpty(); }
    // What is written for a command (empty if the projector does not have it) or for a
    // query's body: the body, its checksum and the frame's end.
    QByteArray frame(commands::Command command) const;
    QByteArray framed(const QByteArray &body) const;

    // How a reply line (without its end) stands to the answer awaited by a command.
    commands::Verdict judge(commands::Command awaited, const QByteArray &line) const;
    // Why a line refuses a command, if it does.
    std::optional<Refusal> refusal(const QByteArray &line) const;
    std::optional<PowerState> powerState(const QByteArray &line) const;
    std::optional<Resolution> resolution(const QByteArray &line) const;
    // A lamp-hours answer's hours, one for each lamp it tells of.
    QList<int> lampHours(const QByteArray &line) const;

    static quint8 checksum(Checksum rule, const QByteArray &bytes);

private:
    bool claimed(const QByteArray &line) const;
};

#endif // COMMANDSET_H
