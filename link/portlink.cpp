// The projector link of the main window: open, close, read without waiting,
// and write command frames one byte at a time.

#include "lumivox.h"
#include "networkport.h"
#include "portdevice.h"
#include "protocol.h"
#include "serialport.h"

#include <QMessageBox>

namespace {
// Ticks between two looks for a port that vanished: about once a second.
constexpr int kReplugPeriod = 10;
} // namespace

bool Lumivox::openPort(const QString &name, QString *reason)
{
    // Never handed to the system (a NUL would cut the name short) nor echoed.
    if (protocol::hasControlCharacter(name)) {
        if (reason)
            *reason = QStringLiteral("The port name holds a control character");
        return false;
    }
    m_port = PortDevice::open(name, reason);
    if (!m_port)
        return false;
    openPortName = name;
    vanishedPortName.clear(); // a port is open again: nothing left to look for
    reconnecting.reset();
    return true;
}

void Lumivox::closePort()
{
    goneClosePending = false;
    vanishedPortName.clear(); // whoever closes the port has chosen what comes next
    reconnecting.reset();
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
        const PortDevice::WriteResult result = m_port->writeByte(text[i]);
        if (result == PortDevice::WriteResult::Written)
            continue;
        gone = result == PortDevice::WriteResult::Gone;
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
        && m_port->writeByte(protocol::kCarriageReturn) == PortDevice::WriteResult::Gone)
        scheduleDeviceGone();
    if (m_port && !gone) {
        m_port->flush();
        if (m_port->isGone())
            scheduleDeviceGone();
    }
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
    if (m_port || vanishedPortName.isEmpty())
        return;
    if (reconnecting) {
        reconnectBridge();
        return;
    }
    if (++replugTicks < kReplugPeriod)
        return;
    if (protocol::isNetworkPortName(vanishedPortName)) {
        reconnectBridge();
        return;
    }
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

void Lumivox::reconnectBridge()
{
    // A bridge that is away refuses or does not answer: that is its absence, not news.
    if (!reconnecting) {
        reconnecting = NetworkPort::connect(vanishedPortName);
        replugTicks = 0;
        return;
    }
    switch (reconnecting->advance(false)) {
    case NetworkPort::Progress::Pending:
        break;
    case NetworkPort::Progress::Failed:
        reconnecting.reset();
        replugTicks = 0;
        break;
    case NetworkPort::Progress::Open:
        m_port = std::move(reconnecting);
        vanishedPortName.clear();
        log(tr("Com-port initialized!\r"));
        break;
    }
}

void Lumivox::logOpenFailure(const QString &firstLine, const QString &reason)
{
    log(firstLine);
    log(tr("Communication with projector not possible.\r"));
    if (!reason.isEmpty())
        log(tr("Reason: %1\r").arg(reason));
}
