#ifndef SERIALPORT_H
#define SERIALPORT_H

#include "portwatch.h"

#include <QString>
#include <QtGlobal>

#include <memory>

// One open serial port with the projector's fixed line settings (9600 8N1, no flow
// control, DTR and RTS off) and 1024-byte queues each way. Reads never wait; a byte
// write returns once the driver has the byte. Each platform has its own file:
// serialport_win.cpp (the Win32 serial calls) and serialport_unix.cpp (termios), with
// its own private part.
class SerialPort
{
public:
    enum class WriteResult {
        Written, // the driver has the byte
        Failed, // not taken (a full queue that did not drain in time, a line error)
        Gone, // the device has vanished: nothing will be taken any more
    };

    // Opens and configures the port; null on failure, with the failing call's own
    // system message for the path the name leads to in *reason.
    static std::unique_ptr<SerialPort> open(const QString &name, QString *reason = nullptr);

    // Purges both directions and closes.
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Up to count bytes that have arrived, at once; 0 when none have or on a failure.
    quint32 read(char *buffer, quint32 count);
    WriteResult writeByte(char byte);
    // Clears the port's error condition after a failed write, so that later ones go on.
    void clearError();
    // True once the link has seen the device vanish (a hang-up, a pulled adapter). What
    // arrived before is still handed out by read().
    bool isGone() const;
    // The path the port was opened under (\\.\COM1, /dev/ttyUSB0).
    QString location() const;
    // Tells, opening nothing, whether what is under a name later is this port's device
    // again: for the watch that reopens a port that vanished.
    PortWatch::Probe sameDeviceProbe() const;
    // For tests that watch the line: the platform handle, and the bytes the link has
    // taken from the device but not yet handed out.
    qintptr nativeHandle() const;
    qsizetype queued() const;

private:
    struct Private;
    explicit SerialPort(std::unique_ptr<Private> state);

    std::unique_ptr<Private> d;
};

#endif // SERIALPORT_H
