// The serial port link of the main window: open, close, read without waiting,
// and write command frames one byte at a time.

#include "lumivox.h"
#include "portio.h"
#include "protocol.h"
#include "serialport.h"

#include <QMessageBox>

namespace {
// Ticks between two looks for a port that vanished: about once a second.
constexpr int kReplugPeriod = 10;
} // namespace

bool Lumivox::openPort(const QString &name, QString *reason)
{
    m_port = openProjectorPort(name, reason);
    if (!m_port)
        return false;
    openPortName = name;
    vanishedPortName.clear(); // a port is open again: nothing left to look for
    return true;
}

void Lumivox::closePort()
{
    goneClosePending = false;
    vanishedPortName.clear(); // whoever closes the port has chosen what comes next
    m_port.reset();
}

quint32 Lumivox::readBytes(char *buffer, quint32 count)
{
    if (!m_port || !buffer || count == 0)
        return 0;
    const quint32 read = m_port->read(buffer, count);
    if (m_port->isGone())
        scheduleDeviceGone();
    return read;
}

void Lumivox::sendCommand(const char *text, unsigned length)
{
    // A device the link has seen vanish is as good as closed: its close is on its way.
    if (!m_port || m_port->isGone())
        return;
    bool gone = false;
    for (unsigned i = 0; i < length && m_port && !gone; ++i) {
        const SerialPort::WriteResult result = m_port->writeByte(text[i]);
        if (result == SerialPort::WriteResult::Written)
            continue;
        gone = result == SerialPort::WriteResult::Gone;
        if (gone)
            scheduleDeviceGone();
        ++sendFailureBoxes;
        QMessageBox::warning(this, tr("Error!"),
                             QStringLiteral("Failed to send data to serial port"));
        --sendFailureBoxes;
        // The box runs the event loop, so the port may have been closed meanwhile.
        if (m_port)
            m_port->clearError();
    }
    // The carriage return's own failure shows no box.
    if (m_port && !gone
        && m_port->writeByte(protocol::kCarriageReturn) == SerialPort::WriteResult::Gone)
        scheduleDeviceGone();
    if (ui.debugCheckBox->isChecked())
        log(QStringLiteral("<- ") + QString::fromLatin1(text) + QLatin1Char('\n'));
}

void Lumivox::scheduleDeviceGone()
{
    if (goneClosePending || !m_port)
        return;
    goneClosePending = true;
    // Not from inside a tick or a command that is still using the port.
    QMetaObject::invokeMethod(this, &Lumivox::deviceGone, Qt::QueuedConnection);
}

void Lumivox::deviceGone()
{
    // closePort() clears the flag, so a port closed or reopened meanwhile stays as it is.
    if (!goneClosePending)
        return;
    closePort();
    log(tr("Communication with projector not possible.\r"));
    vanishedPortName = openPortName;
    replugTicks = 0;
    replugReasonLogged = false;
}

void Lumivox::reopenVanishedPort()
{
    if (m_port || vanishedPortName.isEmpty() || ++replugTicks < kReplugPeriod)
        return;
    replugTicks = 0;
    // While the device is away this look is all it costs.
    if (!SerialPort::exists(vanishedPortName))
        return;
    QString reason;
    if (openPort(vanishedPortName, &reason)) {
        vanishedPortName.clear();
        log(tr("Com-port initialized!\r"));
    } else if (!replugReasonLogged) {
        // Back but busy or refused: said once, then tried again quietly.
        replugReasonLogged = true;
        log(tr("Reason: %1\r").arg(reason));
    }
}

void Lumivox::logOpenFailure(const QString &firstLine, const QString &reason)
{
    log(firstLine);
    log(tr("Communication with projector not possible.\r"));
    if (!reason.isEmpty())
        log(tr("Reason: %1\r").arg(reason));
}
