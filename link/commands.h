#ifndef COMMANDS_H
#define COMMANDS_H

#include <QString>
#include <QStringList>

// The commands every protocol is asked for, free of widgets and ports: one for each of
// the window's buttons, with the name scripts give it and the kind of answer it awaits.
// What each becomes on the wire is its protocol's matter (serialprotocol, pjlink).
namespace commands {

// What a command's answer looks like. The serial projector's replies are not matched to
// commands, so a line counts as the answer when it is of the awaited kind.
enum class Answer {
    Acknowledgement, // "*000" (or "*001": not available now)
    LampState, // "LAMP 0" or "LAMP 1"
    Text, // any line that is no lamp state or acknowledgement (lamp hours, the model)
    Resolution, // a resolution report
    ErrorStatus, // the error status, which only a projector on the network (PJLink) tells
};

// The commands of the window's buttons, one each, grouped as the window groups them.
enum class Command {
    PowerOn,
    PowerOff,
    Vga,
    Hdmi,
    Dvi,
    SVideo,
    Composite,
    SearchAuto,
    Brightness,
    Contrast,
    ColorTemperature,
    Freeze,
    ShowHide,
    Zoom,
    Aspect16To9,
    Aspect4To3,
    KeystoneUp,
    KeystoneDown,
    KeystoneMenu,
    Menu,
    Up,
    Down,
    Left,
    Right,
    Ok,
    EKey,
    LampTime,
    Model,
    Resolution,
    Company,
};
constexpr int kCommandCount = int(Command::Company) + 1;

struct NamedCommand
{
    Command id;
    const char *name; // stable, lowercase, hyphenated: for scripts ("power-on")
    // What the built-in serial protocol puts on the wire, before its carriage return.
    const char *text;
    Answer answer;
};

// The one table of commands: the window's buttons and the command line both send
// from it.
const NamedCommand &command(Command id);
const NamedCommand *commandTable(); // kCommandCount entries, in the order of Command
const NamedCommand *commandNamed(const QString &name); // null for an unknown name
QStringList commandNames();

// How a reply line stands to the answer awaited.
enum class Verdict {
    Pending, // not the awaited answer: keep waiting
    Answered,
    NotAvailable, // the projector cannot do it now
    Failed, // an answer the command does not expect: it was not taken
};

} // namespace commands

#endif // COMMANDS_H
