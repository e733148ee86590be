#ifndef WIREFRAMES_H
#define WIREFRAMES_H

#include <QByteArray>
#include <QList>

namespace testsupport {

// The bytes that go on the wire for the first `length` characters of a command text:
// they and one carriage return.
QByteArray frameOf(const char *text, unsigned length);
QByteArray frameOf(const char *text);

// The lamp poll as the tick puts it on the wire, carriage return included.
QByteArray pollFrame();

// `frames` without the lamp polls: ticks that run while a test waits add their own.
QList<QByteArray> withoutPolls(const QList<QByteArray> &frames);

} // namespace testsupport

#endif // WIREFRAMES_H
