// The projector link of the main window: open, close, read without waiting,
// and write command frames one byte at a time.

#include "lumivox.h"
#include "networkport.h"
#include "portdevice.h"
#include "portio.h"
#include "protocol.h"
#include "serialport.h"

#include <QMessageBox>

#include <utility>

bool Lumivox::openPort(const QString &name, QString *reason)
{
    if (reconnecting && reconnecting->advance() == NetworkPort::Progress::Open) {
        // The watch's reopening: the connection it made stands already.
        m_port = std::move(reconnecting);
    } else {
        reconnecting.reset();
        m_port = openProjectorPort(name, reason);
    }
    if (!m_port)
        return false;
    // A port is open again: nothing left to look for.
    PortWatch::Probe probe = m_port->sameDeviceProbe();
    replug.opened(name, probe ? std::move(probe) : bridgeProbe());
    return true;
}

void Lumivox::closePort()
{
    goneClosePending = false;
    replug.stop(); // whoever closes the port has chosen what comes next
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
    // A request to end the program met in a box's event loop ends the frame too: each
    // further byte could wait for the driver and show a box of its own.
    for (unsigned i = 0; i < length && m_port && !gone && !quietClose; ++i) {
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
    if (m_port && !gone && !quietClose
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
    // Replies that arrived before the hang-up are the projector's last word, and no later
    // tick will read them: all of them are handled now.
    char byte = 0;
    while (m_port && m_port->read(&byte, 1) == 1) {
        if (protocol::feedByte(replyBuffer, byte) == protocol::ByteResult::LineComplete)
            lineReceived();
    }
    closePort();
    log(tr("Communication with projector not possible.\r"));
    replug.vanished();
}

void Lumivox::reopenVanishedPort()
{
    if (m_port)
        return;
    QString reason;
    switch (replug.tick(&reason)) {
    case PortWatch::Event::Reopened:
        log(tr("Com-port initialized!\r"));
        break;
    case PortWatch::Event::Refused:
        log(tr("Reason: %1\r").arg(reason));
        break;
    case PortWatch::Event::CameBackAsOther:
        log(tr("%1 is back as a different device: apply it to use it.\r").arg(replug.name()));
        break;
    case PortWatch::Event::None:
        break;
    }
}

PortWatch::Probe Lumivox::bridgeProbe()
{
    // A bridge is looked at by connecting to it: the connection is started at one look
    // and looked at again at each tick until it stands or fails, never waited for. One
    // that stands is the one openPort() takes over. A bridge that is away refuses or
    // does not answer: that is its absence, not news.
    return [this](const QString &name) {
        if (!reconnecting) {
            reconnecting = NetworkPort::connect(name);
            return reconnecting ? PortWatch::Presence::Pending : PortWatch::Presence::Absent;
        }
        switch (reconnecting->advance()) {
        case NetworkPort::Progress::Open:
            return PortWatch::Presence::Same;
        case NetworkPort::Progress::Failed:
            reconnecting.reset();
            return PortWatch::Presence::Absent;
        case NetworkPort::Progress::Pending:
            break;
        }
        return PortWatch::Presence::Pending;
    };
}

void Lumivox::logOpenFailure(const QString &firstLine, const QString &reason)
{
    log(firstLine);
    log(tr("Communication with projector not possible.\r"));
    if (!reason.isEmpty())
        log(tr("Reason: %1\r").arg(reason));
}
