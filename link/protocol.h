#ifndef PROTOCOL_H
#define PROTOCOL_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <QtGlobal>

// The projector's serial protocol, free of widgets and ports: command texts and their
// names, the framing of replies into lines, the reply grammar and the resolution report.
namespace protocol {

// Commands are sent as their text followed by one carriage return.
constexpr char kCarriageReturn = '\r';

constexpr char kPowerOn[] = "OKOKOKOKOK";
constexpr char kPowerOff[] = "* 0 IR 002";
constexpr char kLampPoll[] = "* 0 Lamp ?";
constexpr char kLampTime[] = "* 0 Lamp";
constexpr char kKeystoneMenu[] = "* 0 IR 004";
constexpr char kFreeze[] = "* 0 IR 007";
constexpr char kMenu[] = "* 0 IR 008";
constexpr char kUp[] = "* 0 IR 009";
constexpr char kDown[] = "* 0 IR 010";
constexpr char kRight[] = "* 0 IR 011";
constexpr char kLeft[] = "* 0 IR 012";
constexpr char kOk[] = "* 0 IR 013";
constexpr char kAnalogRgb[] = "* 0 IR 015";
constexpr char kSVideo[] = "* 0 IR 018";
constexpr char kComposite[] = "* 0 IR 019";
constexpr char kAspect16To9[] = "* 0 IR 021";
constexpr char kAspect4To3[] = "* 0 IR 022";
constexpr char kBrightness[] = "* 0 IR 025";
constexpr char kContrast[] = "* 0 IR 026";
constexpr char kColorTemperature[] = "* 0 IR 027";
constexpr char kDvi[] = "* 0 IR 029";
constexpr char kHide[] = "* 0 IR 030";
constexpr char kSearchSource[] = "* 0 IR 031";
constexpr char kQueryModel[] = "* 0 IR 035";
constexpr char kResolution[] = "* 0 IR 036";
constexpr char kCompany[] = "* 0 IR 037";
constexpr char kKeystoneUp[] = "* 0 IR 042";
constexpr char kKeystoneDown[] = "* 0 IR 043";
constexpr char kZoom[] = "* 0 IR 046";
constexpr char kEKey[] = "* 0 IR 047";
constexpr char kHdmi[] = "* 0 IR 050";

// The bytes that go on the wire for a command text.
QByteArray frame(const char *text, unsigned length);
QByteArray frame(const char *text);

// What a command's answer looks like. The projector's replies are not matched to
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
    const char *text; // what goes on the wire, before its carriage return
    Answer answer;
};

// The one table of commands: the window's buttons and the command line both send
// from it.
const NamedCommand &command(Command id);
const NamedCommand *commandTable(); // kCommandCount entries, in the order of Command
const NamedCommand *commandNamed(const QString &name); // null for an unknown name
QStringList commandNames();

// No real reply comes near this many characters; a longer line is cut here so
// that a stream without carriage returns cannot grow the buffer without bound.
constexpr int kMaxReplyLength = 1024;

enum class ByteResult {
    Stored, // appended to the line
    Dropped, // the line is already at kMaxReplyLength; the byte is discarded
    LineComplete, // a carriage return: the line is complete and the CR not stored
};

// Adds one received byte to the line being received. Only a carriage return ends a
// line; every other value (line feed and NUL included) is a character of the line,
// its byte value taken as the character code. LineAssembler is the reader's own use.
ByteResult feedByte(QString &line, char byte);

enum class ReplyKind {
    LampOff, // "LAMP 0" in any letter case
    LampOn, // "LAMP 1" in any letter case
    NotAvailable, // "*001"
    Accepted, // "*000"
    Resolution, // "Res" followed by at least six characters
    ShortResolution, // "Res" with too few characters to decode
    Other,
};

struct Resolution
{
    int width = 0;
    int height = 0;
    int refreshRate = 0;
};

struct Reply
{
    ReplyKind kind = ReplyKind::Other;
    Resolution resolution; // valid for ReplyKind::Resolution only
};

Reply parseReply(const QString &line);

// Refresh rate in Hz for a report's rate code; 0 for a code the projector does not define.
int refreshRate(int code);

// "1024 x 768 @ 60 Hz"
QString resolutionText(const Resolution &resolution);

enum class Verdict {
    Pending, // not the awaited answer: keep waiting
    Answered,
    NotAvailable, // "*001": the projector cannot do it now
    Failed, // an answer the command does not expect: it was not taken
};

// Whether a reply line is the answer awaited.
Verdict judgeReply(Answer awaited, const Reply &reply);

// An answer as the window's log shows it: the resolution decoded, other lines as they
// came; "on" or "off" for a lamp state.
QString answerText(const Reply &reply, const QString &line);

// Text a projector sent, made fit for display: one line of visible characters. Control
// characters, line and paragraph separators, noncharacters, unpaired surrogates and the
// direction controls (which would turn the rest of a log line around) each become
// U+FFFD, so that no reply can forge a line of the log or disguise one.
QString visibleText(const QString &text);
// A reply line for the log: as visibleText(), but for the line feed a projector that ends
// its lines with CR LF leaves at the start of the next, which the log shows as the line
// break it is (a break at the start cannot forge a line: nothing stands before it).
QString logLineText(const QString &line);

} // namespace protocol

#endif // PROTOCOL_H
