#ifndef COMMANDLINERUN_H
#define COMMANDLINERUN_H

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace testsupport {

struct CommandLineRun
{
    int status = -1; // -1: crashed or did not end in time
    QString out;
    QString err;
    qint64 elapsedMs = 0; // from the start of the process to its exit
};

// Runs the real program with these arguments and `runtimeDirectory` as its
// XDG_RUNTIME_DIR (a private one: the local channel of a window of the test, or none),
// with no display, and the variables of `extra` besides. The event loop runs meanwhile, so a
// projector or a window of the test goes on working.
CommandLineRun runCommandLine(const QStringList &arguments, const QString &runtimeDirectory,
                              const QProcessEnvironment &extra = QProcessEnvironment());

} // namespace testsupport

#endif // COMMANDLINERUN_H
