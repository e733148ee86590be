#include "commandlinerun.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>

namespace testsupport {

namespace {
constexpr int kRunBound = 30000; // ms: a command line that takes longer hangs
} // namespace

CommandLineRun runCommandLine(const QStringList &arguments, const QString &runtimeDirectory,
                              const QProcessEnvironment &extra)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDirectory);
    // It needs no display: there is none to find.
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(extra);
    process.setProcessEnvironment(environment);
    QSignalSpy finished(&process, &QProcess::finished);
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(LUMIVOX_EXECUTABLE), arguments);
    CommandLineRun run;
    if (!finished.wait(kRunBound)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.elapsedMs = clock.elapsed();
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace testsupport
