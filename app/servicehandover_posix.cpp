#include "app/serviceprogram.h"

#include "session/exitstatus.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {
constexpr char kServiceProgram[] = "/lumivox-serve";
} // namespace

// The program of the window and the command line leaves the service to the service's own
// program beside it, which alone loads the broker's client library: this process becomes
// that program, with the same arguments and the same process id (as systemd and a shell
// that started it expect).
int runService(char *argv[], const QCommandLineParser &, const QString &, const QString &,
               const std::optional<CommandSet> &, int, QString *)
{
    const QByteArray program
        = QFile::encodeName(QCoreApplication::applicationDirPath()) + kServiceProgram;
    ::execv(program.constData(), argv);
    const int error = errno;
    std::fprintf(stderr, "lumivox: cannot start %s: %s\n", program.constData(),
                 std::strerror(error));
    return exitstatus::PortFailed;
}
