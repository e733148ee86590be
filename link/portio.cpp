#include "portio.h"

#include "protocol.h"

std::unique_ptr<PortDevice> openProjectorPort(const QString &name, QString *reason)
{
    // Never handed to the system (a NUL would cut the name short) nor echoed.
    if (protocol::hasControlCharacter(name)) {
        if (reason)
            *reason = QStringLiteral("The port name holds a control character");
        return nullptr;
    }
    return PortDevice::open(name, reason);
}

PortDevice::WriteResult writeFrame(PortDevice &port, const QByteArray &frame)
{
    for (const char byte : frame) {
        const PortDevice::WriteResult result = port.writeByte(byte);
        if (result != PortDevice::WriteResult::Written)
            return result;
    }
    port.flush();
    return PortDevice::WriteResult::Written;
}
