#ifndef SERIALPORT_H
#define SERIALPORT_H

#include "portdevice.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

// One open serial port with the projector's fixed line settings (9600 8N1, no flow
// control, DTR and RTS off) and 1024-byte queues each way. Reads never wait; a byte
// write returns once the driver has the byte. Each platform has its own file:
// serialport_win.cpp (the Win32 serial calls) and serialport_unix.cpp (termios).
class SerialPort : public PortDevice
{
public:
    // Opens and configures the port; null on failure, with the failing call's own
    // system message for the path the name leads to in *reason.
    static std::unique_ptr<SerialPort> open(const QString &name, QString *reason = nullptr);
    // A cheap look whether a device of that name is present now, opening nothing.
    static bool exists(const QString &name);

    // Purges both directions and closes.
    ~SerialPort() override;

    quint32 read(char *buffer, quint32 count) override;
    WriteResult writeByte(char byte) override;
    void clearError() override;
    bool isGone() const override { return gone; }
    // The path the port was opened under (\\.\COM1, /dev/ttyUSB0).
    QString location() const override { return path; }
    qintptr nativeHandle() const override { return handle; }
    qsizetype queued() const override { return input.size(); }

private:
    SerialPort(qintptr handle, const QString &path);

    qintptr handle; // the platform's handle: a Win32 HANDLE or a file descriptor
    QString path;
    QByteArray input; // the program's own input queue where the driver has none
    QByteArray savedSettings; // the line settings found at open, given back at close
    bool gone = false;
};

#endif // SERIALPORT_H
