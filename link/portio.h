#ifndef PORTIO_H
#define PORTIO_H

#include "portdevice.h"

#include <QByteArray>
#include <QString>

#include <memory>

// The one way a port is opened by name, for the window and the command line alike: a
// name with a control character is refused before the system sees it.
std::unique_ptr<PortDevice> openProjectorPort(const QString &name, QString *reason = nullptr);

// Writes a whole frame, byte by byte as the window does; stops at the first byte the
// port does not take and returns that result.
PortDevice::WriteResult writeFrame(PortDevice &port, const QByteArray &frame);

#endif // PORTIO_H
