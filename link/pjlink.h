#ifndef PJLINK_H
#define PJLINK_H

#include "link/commands.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// PJLink, the projector makers' common control protocol on TCP, free of sockets and
// widgets: the request frames, the greeting and its authentication, the reply grammar
// with the quirks of real projectors, what the answers mean, and what the window's
// commands become.
namespace pjlink {

// The longest line a projector sends is 136 bytes; anything beyond this is cut off, so
// that a stream without line ends cannot grow a line without bound.
constexpr int kMaxLine = 256;

// "%1POWR 1": a request's text, without the carriage return that ends its frame.
QByteArray request(char protocolClass, const char *command, const QByteArray &parameter);

// The line a projector greets each connection with.
struct Greeting
{
    enum class Kind {
        Invalid, // not a PJLink greeting
        Open, // "PJLINK 0": no password
        Challenge, // "PJLINK 1 <8 hex digits>": a password, with this connection's random number
        Rejected, // "PJLINK ERRA": the password sent was wrong
    };
    Kind kind = Kind::Invalid;
    QByteArray random;
};
Greeting parseGreeting(const QByteArray &line);

// The longest password PJLink takes, in bytes.
constexpr int kMaxPassword = 32;
// Why a password cannot be a PJLink projector's as given, wherever it comes from (the
// environment, a file, the window's box); empty when it can. It goes into the digest byte
// for byte, so one that is not valid UTF-8 would be altered on its way, and one longer
// than PJLink allows would be cut or refused by the projector without a word.
QString passwordProblem(const QByteArray &password);

// What goes directly before the first request of a connection that asks for a password:
// the 32 lower-case hex digits of MD5(random + password), with nothing between the two.
QByteArray digest(const QByteArray &random, const QByteArray &password);

enum class Error {
    None,
    Undefined, // ERR1: the projector does not know the command
    OutOfParameter, // ERR2: it knows it, not with this parameter
    Unavailable, // ERR3: not now (warming up, in standby)
    Failure, // ERR4: the projector has failed
    Authentication, // ERRA: the password was wrong
};

struct Reply
{
    bool valid = false;
    char protocolClass = '1';
    QByteArray command; // upper case, "POWR"
    QByteArray result; // what follows the '=', without surrounding white space
    Error error = Error::None;
    bool isOk() const { return error == Error::None && result == "OK"; }
};

// A reply line "%1CMD=result", read tolerantly: in any letter case, with white space or
// a stray line feed around it.
Reply parseReply(const QByteArray &line);

// Whether a reply line answers a request ("%1POWR 1"): the same class and the same
// command, read from the line's header alone (its result is the protocol's to parse, once).
// Anything else a projector sends (a line nobody asked for, a notification) answers
// nothing, whatever it says.
bool isAnswerTo(const QByteArray &line, const QByteArray &request);
// Whether a reply line refuses the password ("%1POWR=ERRA"), from its result alone.
bool refusesPassword(const QByteArray &line);

// A log line for an error the projector answered (empty for Error::None).
QString errorText(Error error);

// The power state of "%1POWR=": 0 standby, 1 on, 2 cooling down, 3 warming up.
enum class Power { Standby, On, Cooling, Warming };
std::optional<Power> parsePower(const QByteArray &result);

// The class of "%1CLSS=": "1", "2", or as some projectors write it, "Class 1"; 0 when
// there is no digit. A class above 2 has class 2's commands.
int parseClass(const QByteArray &result);

// The inputs of "%1INST=": two characters each, the kind first ('1' RGB, '2' video,
// '3' digital, '4' storage, '5' network, '6' internal).
QList<QByteArray> parseInputs(const QByteArray &result);

// The error status of "%1ERST=": six digits (fan, lamp, temperature, cover, filter,
// other), each 0 fine, 1 warning, 2 error. Nothing when malformed.
std::optional<QByteArray> parseErrorStatus(const QByteArray &result);
constexpr int kErrorFields = 6;
// "fan", "lamp", ...: the fields' names, in the order of the status.
const char *errorFieldName(int field);
// "ok", "warning", "error" for a field's digit.
const char *errorLevelName(char digit);
// One log line for each field that differs from `before` ("Lamp: warning", "Fan: ok");
// an empty `before` counts as all fine.
QStringList errorChanges(const QByteArray &before, const QByteArray &after);
// "ok", or the fields that are not fine ("Lamp: warning, Filter: error").
QString errorSummary(const QByteArray &status);

// Each lamp's hours from "%1LAMP=" (hours and on/off for each lamp).
QList<qint64> parseLampHours(const QByteArray &result);
QString lampHoursText(const QList<qint64> &hours);

// Whether "%1AVMT=" says the picture is muted (11 or 31).
std::optional<bool> parsePictureMute(const QByteArray &result);
// "%2FREZ=": 1 frozen, 0 not.
std::optional<bool> parseFreeze(const QByteArray &result);
// "%2IRES=": "1920x1080" as "1920 x 1080", "-" (no signal) as "No signal".
QString decodeResolution(const QByteArray &result);

// A name or text the projector sent: UTF-8 where it is valid, else Latin-1 (older
// projectors), made one line of visible characters (characters::visibleText).
QString decodeText(const QByteArray &bytes);

// The projector's side of PJLink: what a controller sends, and what a projector answers.

// The longest request a controller may send, its carriage return included: "%1", the
// command, the separator and a parameter of up to 128 bytes.
constexpr int kMaxRequestLine = 136;
// The digest before a connection's first request: 32 hex digits.
constexpr int kDigestLength = 32;

// A request line "%1POWR 1", without its carriage return and without a digest before it.
struct Request
{
    enum class Problem {
        None,
        NoHeader, // no '%', class digit and four letters or digits: nothing to answer
        NoSeparator, // the command is not followed by a space
        TooLong, // longer than kMaxRequestLine
    };
    Problem problem = Problem::NoHeader;
    char protocolClass = '1';
    QByteArray command; // upper case, "POWR"
    QByteArray parameter; // as sent
    bool isQuestion() const { return parameter == "?"; }
};
// `line` as read (at most kMaxRequestLine bytes are kept of a longer one: it is TooLong).
Request parseRequest(const QByteArray &line);

// "%1POWR=OK": an answer's text, without the carriage return.
QByteArray answer(char protocolClass, const QByteArray &command, const QByteArray &result);
// "ERR1" ... "ERRA"; empty for Error::None.
QByteArray errorCode(Error error);
// "PJLINK 1 <random>", or "PJLINK 0" where no password is asked (an empty random).
QByteArray greeting(const QByteArray &random);
// What a projector sends for a wrong or missing digest, before it closes the connection.
QByteArray rejection();

// Whether a request line begins with the digest of `random` and `password`; the request
// after it in `rest`. Missing: the line does not begin with 32 hex digits.
enum class DigestCheck { Matches, Wrong, Missing };
DigestCheck checkDigest(const QByteArray &line, const QByteArray &random,
                        const QByteArray &password, QByteArray *rest);

// "1234 1": each lamp's hours (at most 99999, as PJLink writes them) and whether it is on.
QByteArray lampResult(const QList<qint64> &hours, bool on);
// A text answer (NAME, INF1 ...): one line of visible characters, cut to `maxBytes` of
// UTF-8 without splitting a character.
QByteArray textResult(const QString &text, int maxBytes);
constexpr int kMaxNameLength = 64; // NAME
constexpr int kMaxInfoLength = 32; // INF1, INF2, INFO

// The input a projector on a serial line lists for each of the window's input commands:
// "11" VGA, "21" Composite, "22" S-Video, "31" HDMI, "32" DVI; empty for any other
// command. And the command of such an input, none for any other.
QByteArray inputCode(commands::Command id);
std::optional<commands::Command> inputCommand(const QByteArray &code);
// "VGA", "HDMI" ...: what a projector calls the input (INNM), as inputFor reads names.
QString inputName(commands::Command id);
// The window's input commands, in the order INST lists them.
const QList<commands::Command> &inputCommands();

// What a command of the window means to a PJLink projector.
enum class Use {
    None, // nothing in PJLink: the menu and its keys, keystone, picture, aspect, search
    PowerOn,
    PowerOff,
    Input, // one of the projector's inputs, chosen from its list (inputFor)
    Hide, // the picture and sound mute
    Freeze, // class 2
    LampHours,
    Model, // maker, model and the projector's name
    Maker,
    Resolution, // class 2
};
Use useOf(commands::Command id);
bool needsClass2(Use use);

// The projector's input for an input command: VGA the first RGB input, HDMI the first
// digital one, DVI a digital one named DVI where the names are known, else the second;
// Composite the first video input, S-Video one named S-Video, else the second. Where the
// names are known, HDMI and Composite skip an input named for the other. Empty when the
// projector has no such input.
QByteArray inputFor(commands::Command id, const QList<QByteArray> &inputs,
                    const QHash<QByteArray, QString> &names);

} // namespace pjlink

#endif // PJLINK_H
