// The serial port on Windows: the Win32 serial calls. The driver keeps the 1024-byte
// queues and does the waiting; reads hand out what it holds.

#include "link/presentports.h"
#include "link/serialport.h"

#include <windows.h>

#include <string>

namespace {
constexpr DWORD kQueueBytes = 1024; // driver queue, each way
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// The flow control's characters and thresholds: XOFF when fewer than a quarter of the
// input queue is free, XON again when no more than a quarter is taken.
constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;
constexpr WORD kFlowThreshold = kQueueBytes / 4;
constexpr int kFewestDataBits = 5;
constexpr int kMostDataBits = 8;
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr size_t kDeviceTargetChars = 1024; // a device's path and the list's two NULs
const char kNotInCodePage[] = "The name has characters that this system's code page cannot "
                              "express";

// The system's own text for an error code, in the user's language.
QString systemMessage(DWORD error)
{
    wchar_t *text = nullptr;
    constexpr DWORD kFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
        | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length
        = FormatMessageW(kFlags, nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const QString message = length != 0 ? QString::fromWCharArray(text, int(length)).trimmed()
                                        : QStringLiteral("Error %1").arg(error);
    LocalFree(text);
    return message;
}

// The name in the ANSI code page that CreateFileA takes; false when a character would be
// replaced by another (a '?' or a look-alike) and so lead to some other port.
bool toAnsi(const QString &name, QByteArray *ansi)
{
    if (name.isEmpty()) {
        ansi->clear();
        return true;
    }
    const auto *wide = reinterpret_cast<const wchar_t *>(name.utf16());
    const int wideLength = int(name.size());
    // UTF-8 as the code page takes neither the best-fit flag nor the replacement report.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL replaced = FALSE;
    BOOL *replacedReport = utf8 ? nullptr : &replaced;
    const int size
        = WideCharToMultiByte(CP_ACP, flags, wide, wideLength, nullptr, 0, nullptr, replacedReport);
    if (size <= 0 || replaced)
        return false;
    ansi->resize(size);
    WideCharToMultiByte(CP_ACP, flags, wide, wideLength, ansi->data(), size, nullptr,
                        replacedReport);
    // The way back must give the very name: a look-alike would open another port.
    const int back = MultiByteToWideChar(CP_ACP, 0, ansi->constData(), size, nullptr, 0);
    std::wstring restored(size_t(qMax(back, 0)), L'\0');
    if (back > 0)
        MultiByteToWideChar(CP_ACP, 0, ansi->constData(), size, restored.data(), back);
    return !replaced && QString::fromStdWString(restored) == name;
}

std::unique_ptr<SerialPort> fail(QString *reason, const QString &path, DWORD error)
{
    if (reason)
        *reason = path + QStringLiteral(": ") + systemMessage(error);
    return nullptr;
}

BYTE parityOf(CommandSet::Parity parity)
{
    switch (parity) {
    case CommandSet::Parity::Even:
        return EVENPARITY;
    case CommandSet::Parity::Odd:
        return ODDPARITY;
    case CommandSet::Parity::Mark:
        return MARKPARITY;
    case CommandSet::Parity::Space:
        return SPACEPARITY;
    case CommandSet::Parity::None:
        break;
    }
    return NOPARITY;
}

// Why no port can have the line; empty when the driver may be asked for it.
QString lineRefusal(const SerialLine &line)
{
    if (line.baud <= 0)
        return QStringLiteral("%1 baud is not a rate this system can set").arg(line.baud);
    if (line.dataBits < kFewestDataBits || line.dataBits > kMostDataBits)
        return QStringLiteral("a serial line has no %1 data bits").arg(line.dataBits);
    if (line.stopBits != 1 && line.stopBits != 2)
        return QStringLiteral("a serial line has no %1 stop bits").arg(line.stopBits);
    return QString();
}

// The codes with which a port answers once its device has vanished: a pulled USB
// adapter gives one of the first four. A serial line that has hung up (under Wine, a
// pseudo-terminal whose far end has closed) refuses writes with ERROR_NOT_READY, while
// its reads keep returning nothing without an error.
bool isGoneError(DWORD error)
{
    switch (error) {
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_NOT_READY:
        return true;
    default:
        return false;
    }
}
} // namespace

struct SerialPort::Private
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    QString path;
    bool gone = false;
};

QString SerialPort::locationOf(const QString &name)
{
    return QLatin1String(kDevicePrefix) + name;
}

QString SerialPort::keyOf(const QString &name)
{
    // Device names are not case-sensitive (com3 is COM3), and \\.\COM3 is COM3 too.
    QString device = name;
    if (device.startsWith(QLatin1String(kDevicePrefix)))
        device = device.mid(int(qstrlen(kDevicePrefix)));
    device = device.toUpper();
    // What the name stands for in the system's device namespace (\Device\Serial0),
    // so that two names of one device are one port.
    std::wstring target(kDeviceTargetChars, L'\0');
    const DWORD length = QueryDosDeviceW(reinterpret_cast<const wchar_t *>(device.utf16()),
                                         target.data(), DWORD(target.size()));
    if (length == 0)
        return device;
    return QStringLiteral("device ") + QString::fromWCharArray(target.c_str()).toUpper();
}

std::unique_ptr<SerialPort> SerialPort::open(const QString &name, const SerialLine &line,
                                             QString *reason)
{
    const QString path = locationOf(name);
    // Nothing is done to a device for a line it could not have.
    const QString unsettable = lineRefusal(line);
    if (!unsettable.isEmpty()) {
        if (reason)
            *reason = path + QStringLiteral(": ") + unsettable;
        return nullptr;
    }
    QByteArray device;
    if (!toAnsi(path, &device)) {
        if (reason)
            *reason = path + QStringLiteral(": ") + QLatin1String(kNotInCodePage);
        return nullptr;
    }
    // Exclusive (share 0), synchronous: no other handle may use the port meanwhile.
    const HANDLE handle = CreateFileA(device.constData(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return fail(reason, path, GetLastError());
    auto state = std::make_unique<Private>();
    state->handle = handle;
    state->path = path;
    std::unique_ptr<SerialPort> port(new SerialPort(std::move(state)));

    // What the port was set to, given back on any failure from here on, as the Linux side
    // gives back its termios settings: the next program finds the line as it was.
    DCB found {};
    found.DCBlength = sizeof found;
    const bool stateFound = GetCommState(handle, &found) != FALSE;
    COMMTIMEOUTS foundTimeouts {};
    const bool timeoutsFound = GetCommTimeouts(handle, &foundTimeouts) != FALSE;
    bool timeoutsTouched = false;
    // Takes the error code before the calls giving the settings back replace it; the
    // destructor then closes the handle.
    const auto giveBack = [&](DWORD error) {
        if (timeoutsTouched && timeoutsFound)
            SetCommTimeouts(handle, &foundTimeouts);
        if (stateFound)
            SetCommState(handle, &found);
        return fail(reason, path, error);
    };

    if (!SetupComm(handle, kQueueBytes, kQueueBytes) || !PurgeComm(handle, kPurgeAll))
        return giveBack(GetLastError());

    // Members not set here keep what the driver reported (zero if it reported nothing).
    const bool hardwareFlow = line.flowControl == CommandSet::FlowControl::Hardware;
    const bool softwareFlow = line.flowControl == CommandSet::FlowControl::Software;
    DCB dcb = found;
    dcb.BaudRate = DWORD(line.baud);
    dcb.ByteSize = BYTE(line.dataBits);
    dcb.Parity = parityOf(line.parity);
    // Two stop bits after five data bits are one and a half, as a UART makes them.
    if (line.stopBits == 2)
        dcb.StopBits = line.dataBits == kFewestDataBits ? ONE5STOPBITS : TWOSTOPBITS;
    else
        dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = dcb.Parity != NOPARITY;
    dcb.fOutxCtsFlow = hardwareFlow ? TRUE : FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = softwareFlow ? TRUE : FALSE;
    dcb.fInX = softwareFlow ? TRUE : FALSE;
    if (softwareFlow) {
        dcb.XonChar = kXon;
        dcb.XoffChar = kXoff;
        dcb.XonLim = kFlowThreshold;
        dcb.XoffLim = kFlowThreshold;
    }
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = hardwareFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handle, &dcb)) {
        const DWORD error = GetLastError();
        giveBack(error);
        if (reason)
            *reason = path + QStringLiteral(": %1 cannot be set: ").arg(line.text())
                + systemMessage(error);
        return nullptr;
    }
    // A driver that takes a rate it cannot make may round it: the line would be another.
    DCB made {};
    made.DCBlength = sizeof made;
    if (GetCommState(handle, &made) && made.BaudRate != dcb.BaudRate) {
        giveBack(ERROR_INVALID_PARAMETER);
        if (reason)
            *reason = path
                + QStringLiteral(": %1 baud is not a rate this port can set (it made %2)")
                      .arg(line.baud)
                      .arg(made.BaudRate);
        return nullptr;
    }

    // A read returns at once with what has arrived; a write waits without limit.
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    timeoutsTouched = true; // a failed call may have set some of them
    if (!SetCommTimeouts(handle, &timeouts))
        return giveBack(GetLastError());
    return port;
}

SerialPort::SerialPort(std::unique_ptr<Private> state)
    : d(std::move(state))
{ }

SerialPort::~SerialPort()
{
    PurgeComm(d->handle, kPurgeAll);
    CloseHandle(d->handle);
}

bool SerialPort::isGone() const
{
    return d->gone;
}

QString SerialPort::location() const
{
    return d->path;
}

QString SerialPort::key() const
{
    return keyOf(d->path);
}

PortWatch::Probe SerialPort::sameDeviceProbe() const
{
    // The system gives a COM number to one device: whatever is back under it is that one.
    return [](const QString &name) {
        // The device map lists the ports that are present now; nothing is opened.
        return availablePortNames().contains(name, Qt::CaseInsensitive)
            ? PortWatch::Presence::Same
            : PortWatch::Presence::Absent;
    };
}

qintptr SerialPort::handle() const
{
    return reinterpret_cast<qintptr>(d->handle);
}

qsizetype SerialPort::heldBytes() const
{
    return 0; // the driver keeps the queue
}

quint32 SerialPort::read(char *buffer, quint32 count)
{
    if (d->gone || !buffer || count == 0)
        return 0;
    DWORD got = 0;
    if (!ReadFile(d->handle, buffer, count, &got, nullptr)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            d->gone = isGoneError(error);
            return 0;
        }
    }
    return got;
}

SerialPort::WriteResult SerialPort::writeByte(char byte)
{
    if (d->gone)
        return WriteResult::Gone;
    DWORD written = 0;
    if (WriteFile(d->handle, &byte, 1, &written, nullptr))
        return WriteResult::Written;
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING)
        return WriteResult::Written;
    if (isGoneError(error)) {
        d->gone = true;
        return WriteResult::Gone;
    }
    return WriteResult::Failed;
}

void SerialPort::clearError()
{
    DWORD errors = 0;
    COMSTAT status {};
    ClearCommError(d->handle, &errors, &status);
}
