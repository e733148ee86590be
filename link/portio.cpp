#include "portio.h"

#include "protocol.h"

std::unique_ptr<SerialPort> openProjectorPort(const QString &name, QString *reason)
{
    // Never handed to the system (a NUL would cut the name short) nor echoed.
    if (protocol::hasControlCharacter(name)) {
        if (reason)
            *reason = QStringLiteral("The port name holds a control character");
        return nullptr;
    }
    return SerialPort::open(name, reason);
}

SerialPort::WriteResult writeFrame(SerialPort &port, const QByteArray &frame)
{
    for (const char byte : frame) {
        const SerialPort::WriteResult result = port.writeByte(byte);
        if (result != SerialPort::WriteResult::Written)
            return result;
    }
    return SerialPort::WriteResult::Written;
}
