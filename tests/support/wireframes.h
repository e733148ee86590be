#ifndef WIREFRAMES_H
#define WIREFRAMES_H

#include <QByteArray>
#include <QList>

namespace testsupport {

// The lamp poll as the tick puts it on the wire, carriage return included.
QByteArray pollFrame();

// `frames` without the lamp polls: ticks that run while a test waits add their own.
QList<QByteArray> withoutPolls(const QList<QByteArray> &frames);

} // namespace testsupport

#endif // WIREFRAMES_H
