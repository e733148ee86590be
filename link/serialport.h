#ifndef SERIALPORT_H
#define SERIALPORT_H

#include "link/portdevice.h"
#include "link/portwatch.h"
#include "link/serialline.h"

#include <QString>
#include <QtGlobal>

#include <memory>

// One open serial port with the projector's line settings (9600 8N1 unless told
// otherwise; DTR off, and RTS too unless it is the hardware flow control's) and 1024-byte
// queues each way. Reads never wait; a byte
// write returns once the driver has the byte. Each platform has its own file:
// serialport_win.cpp (the Win32 serial calls) and serialport_unix.cpp (termios), with
// its own private part.
class SerialPort : public PortDevice
{
public:
    // Opens and configures the port with `line`; null on failure, with the failing call's
    // own system message for the path the name leads to in *reason. A setting the
    // platform cannot make (a rate it has no way to set) is refused, never replaced.
    static std::unique_ptr<SerialPort> open(const QString &name, const SerialLine &line = {},
                                            QString *reason = nullptr);

    // The path a name leads to on this system, and the device it leads to now (see
    // PortOpener::keyOf).
    static QString locationOf(const QString &name);
    static QString keyOf(const QString &name);

    // Purges both directions and closes.
    ~SerialPort() override;

    quint32 read(char *buffer, quint32 count) override;
    WriteResult writeByte(char byte) override;
    void clearError() override;
    // True once the link has seen the device vanish (a hang-up, a pulled adapter). What
    // arrived before is still handed out by read().
    bool isGone() const override;
    // The path the port was opened under (\\.\COM1, /dev/ttyUSB0).
    QString location() const override;
    QString key() const override;
    // Tells, opening nothing, whether what is under a name later is this port's device
    // again: for the watch that reopens a port that vanished.
    PortWatch::Probe sameDeviceProbe() const override;

    // What only tests and benchmarks watch the line by: the platform handle (a
    // descriptor, a HANDLE) and the bytes the link holds that read() has not handed out
    // (none on Windows, where the driver keeps the queue).
    qintptr handle() const;
    qsizetype heldBytes() const;

private:
    struct Private;
    explicit SerialPort(std::unique_ptr<Private> state);

    std::unique_ptr<Private> d;
};

#endif // SERIALPORT_H
