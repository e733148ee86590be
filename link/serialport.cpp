// The serial port link of the main window: open, close, read without waiting,
// and write command frames one byte at a time.

#include "lumivox.h"
#include "protocol.h"

#include <QMessageBox>
#include <QSerialPort>

namespace {
constexpr qint64 kQueueSize = 1024; // bytes the port buffers on input
constexpr int kByteWriteWait = 500; // ms a byte may take to reach the driver
// While a byte is being written the port may take in this much input beyond its
// queue: its wait gives up at once, byte unwritten, when input waits and the input
// buffer is at its bound.
constexpr qint64 kInputWhileWriting = 64 * 1024;
} // namespace

bool Lumivox::openPort(const QString &name, QString *reason)
{
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(protocol::latin1PortName(name));
    port->setBaudRate(protocol::kBaudRate);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    port->setReadBufferSize(kQueueSize);
    // Opening applies the settings above and is exclusive (lock file and TIOCEXCL).
    if (!port->open(QIODevice::ReadWrite)) {
        if (reason)
            *reason = protocol::portLocation(port->portName()) + QStringLiteral(": ")
                + port->errorString();
        return false;
    }
    port->clear(QSerialPort::AllDirections);
    // Ports without modem-control lines (pseudo-terminals, some adapters) refuse
    // these; the line settings that matter are in place all the same.
    port->setDataTerminalReady(false);
    port->setRequestToSend(false);
    port->clearError();
    connect(port.get(), &QSerialPort::errorOccurred, this, &Lumivox::portErrorOccurred);
    m_port = std::move(port);
    return true;
}

void Lumivox::closePort()
{
    goneClosePending = false;
    if (!m_port)
        return;
    m_port->disconnect(this);
    m_port->clear(QSerialPort::AllDirections);
    m_port->close();
    m_port.reset();
}

quint32 Lumivox::readBytes(char *buffer, quint32 count)
{
    if (!m_port || !buffer || count == 0)
        return 0;
    // Only what the port has buffered already: the event loop fills it between ticks.
    const qint64 read = m_port->read(buffer, count);
    return read > 0 ? quint32(read) : 0;
}

bool Lumivox::writeByte(char byte, bool *gone)
{
    *gone = false;
    bool written = false;
    if (m_port->write(&byte, 1) == 1) {
        m_port->setReadBufferSize(m_port->bytesAvailable() + kInputWhileWriting);
        written = m_port->waitForBytesWritten(kByteWriteWait) || m_port->bytesToWrite() == 0;
        m_port->setReadBufferSize(kQueueSize);
    }
    if (written)
        return true;
    // A full queue keeps the byte for the whole wait and reports a time-out; a
    // vanished device fails at once with a read or resource error. Without an error
    // the wait stopped on input it had no room for: not a vanished device either.
    const QSerialPort::SerialPortError error = m_port->error();
    *gone = error != QSerialPort::TimeoutError && error != QSerialPort::NoError;
    // The byte must not stay queued: it would go out later, out of its frame, and
    // on a hung-up line it keeps the write notifier firing. Clearing the output also
    // drops what the driver still holds, which is stuck behind the same full queue.
    m_port->clear(QSerialPort::Output);
    m_port->clearError();
    return false;
}

void Lumivox::sendCommand(const char *text, unsigned length)
{
    if (!m_port)
        return;
    bool gone = false;
    for (unsigned i = 0; i < length && m_port && !gone; ++i) {
        if (writeByte(text[i], &gone))
            continue;
        if (gone)
            scheduleDeviceGone();
        ++sendFailureBoxes;
        QMessageBox::warning(this, tr("Error!"),
                             QStringLiteral("Failed to send data to serial port"));
        --sendFailureBoxes;
    }
    // The box runs the event loop, so the port may have been closed meanwhile.
    if (m_port && !gone) {
        if (!writeByte(protocol::kCarriageReturn, &gone) && gone)
            scheduleDeviceGone();
    }
    if (ui.debugCheckBox->isChecked())
        log(QStringLiteral("<- ") + QString::fromLatin1(text) + QLatin1Char('\n'));
}

void Lumivox::portErrorOccurred(QSerialPort::SerialPortError error)
{
    // Qt keeps a vanished device open and reports it again and again.
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError)
        scheduleDeviceGone();
}

void Lumivox::scheduleDeviceGone()
{
    if (goneClosePending || !m_port)
        return;
    goneClosePending = true;
    // Not from inside the port's own signal: closing there would delete its
    // notifier in its own handler.
    QMetaObject::invokeMethod(this, &Lumivox::deviceGone, Qt::QueuedConnection);
}

void Lumivox::deviceGone()
{
    // closePort() clears the flag, so a port closed or reopened meanwhile stays as it is.
    if (!goneClosePending)
        return;
    closePort();
    log(tr("Communication with projector not possible.\r"));
}

void Lumivox::logOpenFailure(const QString &firstLine, const QString &reason)
{
    log(firstLine);
    log(tr("Communication with projector not possible.\r"));
    if (!reason.isEmpty())
        log(tr("Reason: %1\r").arg(reason));
}
