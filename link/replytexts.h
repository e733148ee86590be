#ifndef REPLYTEXTS_H
#define REPLYTEXTS_H

// What the program says of a projector's answers in more than one place: the log, the
// command line, the broker's results. Each text is written here once.
namespace replytexts {

// The projector cannot take the command now: a serial projector's "*001", PJLink's ERR3.
inline constexpr char kNotAvailable[] = "Command not available at the moment.";

} // namespace replytexts

#endif // REPLYTEXTS_H
