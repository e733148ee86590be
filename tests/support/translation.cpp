#include "translation.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringList>

namespace testsupport {

namespace {
constexpr int kLreleaseTimeout = 30000; // ms; a handful of messages compile in well under that
} // namespace

bool compileCatalogue(const QString &lrelease, const QString &tsFile, const QString &qmFile,
                      QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!QFileInfo(tsFile).isReadable())
        return fail(QStringLiteral("catalogue source %1 is missing").arg(tsFile));

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(lrelease, {QStringLiteral("-silent"), tsFile, QStringLiteral("-qm"), qmFile});
    if (!process.waitForStarted())
        return fail(QStringLiteral("cannot start %1: %2").arg(lrelease, process.errorString()));
    if (!process.waitForFinished(kLreleaseTimeout))
        return fail(QStringLiteral("%1 did not finish").arg(lrelease));
    const QString output = QString::fromLocal8Bit(process.readAll());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return fail(QStringLiteral("%1 failed: %2").arg(lrelease, output));
    // lrelease writes no file for a source it cannot parse, and says so only in its output.
    if (!QFileInfo(qmFile).isFile() || QFileInfo(qmFile).size() == 0)
        return fail(QStringLiteral("%1 wrote no catalogue: %2").arg(lrelease, output));
    return true;
}

} // namespace testsupport
