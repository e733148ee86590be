#ifndef PORTPROBE_H
#define PORTPROBE_H

#include "link/networkport.h"
#include "link/pjlinkport.h"
#include "link/portdevice.h"
#include "link/serialport.h"

#include <QtGlobal>

namespace testsupport {

// What tests and benchmarks watch the line with, which the program itself never asks:
// the platform handle under a port (a descriptor or a socket, -1 while there is none)...
inline qintptr portHandle(const PortDevice *port)
{
    if (const auto *serial = dynamic_cast<const SerialPort *>(port))
        return serial->handle();
    if (const auto *bridge = dynamic_cast<const NetworkPort *>(port))
        return bridge->handle();
    if (const auto *projector = dynamic_cast<const PjlinkPort *>(port))
        return projector->handle();
    return -1;
}

// ...and the bytes the link has taken from the line but not yet handed out.
inline qsizetype portHeldBytes(const PortDevice *port)
{
    if (const auto *serial = dynamic_cast<const SerialPort *>(port))
        return serial->heldBytes();
    if (const auto *bridge = dynamic_cast<const NetworkPort *>(port))
        return bridge->heldBytes();
    if (const auto *projector = dynamic_cast<const PjlinkPort *>(port))
        return projector->heldBytes();
    return 0;
}

} // namespace testsupport

#endif // PORTPROBE_H
