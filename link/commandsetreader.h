#ifndef COMMANDSETREADER_H
#define COMMANDSETREADER_H

#include "link/commandset.h"

#include <QByteArray>
#include <QString>

// Reads a command set file: "# comments", "[section]" and "key = value" lines, UTF-8,
// strictly. A file that is too large, has a line too long or with control characters,
// an unknown or repeated section or key, or a value out of its bounds is refused with the
// file's name, the line and the reason, so that a person writing one for a new projector
// learns where it is wrong; no file gets a frame or a pattern past the reader that the
// file does not describe or that the program could not bound. The keys are explained in
// docs/command-set-reference.ini.
class CommandSetReader
{
public:
    struct Refusal
    {
        QString file;
        int line = 0; // from 1; 0 for the file as a whole
        QString reason;

        QString text() const; // "file:line: reason", or "file: reason" for the whole file
    };

    static constexpr int kMaxFileBytes = 64 * 1024;
    static constexpr int kMaxLineBytes = 1024;
    static constexpr int kMaxFrameBytes = 256; // a framed command, checksum and end included
    static constexpr int kMaxReplyEndBytes = 4;
    static constexpr int kMaxPatternsPerKey = 16;
    static constexpr int kMaxLamps = 4;
    static constexpr int kMaxBusyMs = 120000; // the longest warm-up of a lamp and more
    static constexpr int kMaxWakeUpWaitMs = 10000;

    // The text of a file named file (for the refusal only). True and the set, or false
    // and why.
    static bool read(const QString &file, const QByteArray &text, CommandSet *set,
                     Refusal *refusal);
    // Reads the file at path, no more of it than kMaxFileBytes allows.
    static bool readFile(const QString &path, CommandSet *set, Refusal *refusal);
    // The program's own projector protocol, from the file compiled into the program.
    static CommandSet builtIn();
    static const char *builtInPath(); // the compiled-in file, as Qt's resources name it
};

#endif // COMMANDSETREADER_H
