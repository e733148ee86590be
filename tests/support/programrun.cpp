#include "programrun.h"

#include <QProcess>
#include <QString>

namespace testsupport {

void prepareOffscreen(QProcess &program, const QString &workingDirectory)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(workingDirectory);
}

} // namespace testsupport
