#include "portnames.h"

#include <QDir>
#include <QSerialPortInfo>

QStringList availablePortNames()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        names.append(port.portName());
#ifdef Q_OS_LINUX
    // Stable names that survive moving a USB adapter to another socket.
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    const QFileInfoList links = byId.entryInfoList(QDir::System | QDir::Files, QDir::Name);
    for (const QFileInfo &link : links)
        names.append(link.absoluteFilePath());
#endif
    names.removeDuplicates();
    return names;
}
