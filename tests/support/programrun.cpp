#include "programrun.h"

#include <QProcess>
#include <QString>

namespace testsupport {

void prepareOffscreen(QProcess &program, const QString &workingDirectory)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The window's local channel goes there, never into the user's own runtime directory.
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), workingDirectory);
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(workingDirectory);
}

} // namespace testsupport
