#ifndef CHANNELPROBE_H
#define CHANNELPROBE_H

#include <QString>

class ProjectorSession;

namespace testsupport {

// Where a LocalChannel that follows the session's port listens; empty without a port. On
// POSIX systems it is the socket's path: QLocalServer takes an absolute name as it is.
QString channelOf(const ProjectorSession &session);

// Whether a program takes connections at the channel `name` now.
bool listensAt(const QString &name);

} // namespace testsupport

#endif // CHANNELPROBE_H
