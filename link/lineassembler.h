#ifndef LINEASSEMBLER_H
#define LINEASSEMBLER_H

#include <QByteArray>
#include <QString>

// Assembles the projector's reply lines from received bytes, each byte a character of the
// line (its value taken as the character code). A line is cut at
// serialprotocol::kMaxReplyLength, so a stream without ends cannot grow it without bound;
// the partial line survives any number of calls, and a closing and reopening of the port.
//
// With a lone carriage return as the end (the built-in protocol's rule, and the default)
// only a carriage return ends a line: every other byte, line feed and NUL included, is a
// character of it, and an empty line is a line. Any other end (CR LF, LF, a prompt, an end
// byte) ends a line where the bytes received end with it; then a line is text: carriage
// returns and line feeds at either of its ends are not part of it (the line break before a
// prompt, the one after an end), and an empty line is no line, except under a prompt (an
// end without CR or LF), where the prompt alone is the projector's word that it took a
// command. An end with another byte than printable ASCII, CR and LF in it (\x03, \x9a)
// ends binary replies, whose bytes are all kept; there too an empty line is no line.
class LineAssembler
{
public:
    // The end of the lines from now on (1 to 4 bytes; empty for the built-in rule). Bytes
    // held as a possible start of the old end become characters of the partial line.
    void setEnd(const QByteArray &end);
    const QByteArray &end() const { return ending; }
    // Whether lines under this end are binary (see above).
    static bool endsBinaryLines(const QByteArray &end);
    // Whether an end is a prompt (see above).
    static bool isPrompt(const QByteArray &end);
    // Adds one byte; true when it completed a line, which line() then holds.
    bool feed(char byte);
    // The line received so far, or the complete one after feed() returned true.
    const QString &line() const { return current; }
    // Hands out the complete line and starts the next.
    QString take();
    // What is left of a line once the part of it in front is taken away: the line as this
    // rule would have made it (see above); empty when nothing of it is.
    QString tidied(const QString &line) const;

private:
    void keep(char byte);

    QByteArray ending = QByteArray(1, '\r');
    bool builtInRule = true;
    bool textLines = false;
    bool promptEnds = false; // a text end without a line break: a prompt such as ':'
    QByteArray held; // the last bytes, while they may be the start of the end
    QString current;
};

#endif // LINEASSEMBLER_H
