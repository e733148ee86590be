#ifndef PROGRAMRUN_H
#define PROGRAMRUN_H

class QProcess;
class QString;

namespace testsupport {

// Prepares `program` to run a real Lumivox on the offscreen platform from
// `workingDirectory` (where it looks for its catalogue, and where the window's local
// channel goes: a private directory); the caller starts it.
void prepareOffscreen(QProcess &program, const QString &workingDirectory);

} // namespace testsupport

#endif // PROGRAMRUN_H
