#ifndef PORTDEVICE_H
#define PORTDEVICE_H

#include "link/portwatch.h"

#include <QString>
#include <QtGlobal>

// The link's one interface to the line the projector is on: a serial port of this
// computer, or a port on a serial-to-network bridge (PortOpener opens either by name).
// Reads never wait; a byte write returns once the port has taken the byte; a finished
// frame is handed on by flush().
class PortDevice
{
public:
    enum class WriteResult {
        Written, // the port has the byte
        Failed, // not taken (a full queue that did not drain in time, a line error)
        Gone, // the device has vanished: nothing will be taken any more
    };

    PortDevice() = default;
    virtual ~PortDevice() = default;
    PortDevice(const PortDevice &) = delete;
    PortDevice &operator=(const PortDevice &) = delete;

    // Up to count bytes that have arrived, at once; 0 when none have or on a failure.
    virtual quint32 read(char *buffer, quint32 count) = 0;
    // A port that frames the reply lines itself (PJLink) hands them out whole, so that
    // nobody splits them again: one line, without its end, per call; false when none has
    // arrived. Such a port's read() hands out nothing.
    virtual bool handsLines() const { return false; }
    virtual bool takeLine(QByteArray *line)
    {
        (void)line;
        return false;
    }
    virtual WriteResult writeByte(char byte) = 0;
    // Hands what was written so far on, without waiting: a frame may leave in one piece.
    virtual void flush() { }
    // Clears the port's error condition after a failed write, so that later ones go on.
    virtual void clearError() = 0;
    // True once the link has seen the device vanish (a hang-up, a pulled adapter, a
    // connection that ended). What arrived before is still handed out by read().
    virtual bool isGone() const = 0;
    // Where the port was opened (\\.\COM1, /dev/ttyUSB0, socket://10.0.0.5:4001).
    virtual QString location() const = 0;
    // The device the port is, in one spelling for every name that leads to it (see
    // PortOpener::keyOf): two names are the same port when their keys are equal.
    virtual QString key() const = 0;
    // Tells, opening nothing, whether what is under a name later is this port's device
    // again; empty where only a new connection can tell (a bridge).
    virtual PortWatch::Probe sameDeviceProbe() const = 0;
    // How far a far end that takes commands only with a password (a projector on the
    // network) has got with it; every other port is open to all.
    enum class Access {
        Granted, // no password needed, or one is given and not refused
        PasswordWanted, // a password is needed and none is given: nothing is sent
        PasswordRejected, // the password given was refused: nothing is sent any more
    };
    virtual Access access() const { return Access::Granted; }
    // The password for such a far end, held in memory only; other ports ignore it. One
    // that was refused is never tried again.
    virtual void setPassword(const QByteArray &password) { (void)password; }
    // How long a port that connects for its requests (a PJLink projector's) waits after a
    // failed connection before the next; other ports ignore it.
    virtual void setRetryPolicy(const RetryPolicy &policy) { (void)policy; }
    // The far end says it is back: such a port ends its wait and connects for its next
    // frame at once.
    virtual void retryNow() { }
};

#endif // PORTDEVICE_H
