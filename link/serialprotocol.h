#ifndef SERIALPROTOCOL_H
#define SERIALPROTOCOL_H

#include "link/commands.h"

#include <QString>

// The projector's built-in serial protocol, free of widgets and ports: the command
// texts, the framing of replies into lines, the reply grammar and the resolution report.
namespace serialprotocol {

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

// What kind of reply a line is, with a resolution report decoded.
Reply classifyReply(const QString &line);

// Refresh rate in Hz for a report's rate code; 0 for a code the projector does not define.
int refreshRate(int code);

// A decoded report as the log shows it: "1024 x 768 @ 60 Hz".
QString formatResolution(const Resolution &resolution);

} // namespace serialprotocol

#endif // SERIALPROTOCOL_H
