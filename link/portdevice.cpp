#include "portdevice.h"

#include "networkport.h"
#include "protocol.h"
#include "serialport.h"

std::unique_ptr<PortDevice> PortDevice::open(const QString &name, QString *reason)
{
    if (protocol::isNetworkPortName(name))
        return NetworkPort::open(name, reason);
    return SerialPort::open(name, reason);
}

QString PortDevice::locationOf(const QString &name)
{
    return protocol::isNetworkPortName(name) ? name : SerialPort::locationOf(name);
}

bool PortDevice::isOpenedAs(const QString &name) const
{
    return location().compare(locationOf(name), SerialPort::kNameCase) == 0;
}
