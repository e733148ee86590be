#ifndef LINEASSEMBLER_H
#define LINEASSEMBLER_H

#include <QString>

// Assembles the projector's reply lines from received bytes: only a carriage return
// ends a line; every other byte (line feed and NUL included) is a character of the line,
// its value taken as the character code. A line is cut at serialprotocol::kMaxReplyLength, so
// a stream without carriage returns cannot grow it without bound. The partial line
// survives any number of calls, and a closing and reopening of the port.
class LineAssembler
{
public:
    // Adds one byte; true when it completed a line, which line() then holds.
    bool feed(char byte);
    // The line received so far, or the complete one after feed() returned true.
    const QString &line() const { return current; }
    // Hands out the complete line and starts the next.
    QString take();

private:
    QString current;
};

#endif // LINEASSEMBLER_H
