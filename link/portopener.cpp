#include "link/portopener.h"

#include "link/networkport.h"
#include "link/pjlinkport.h"
#include "link/portname.h"
#include "link/serialport.h"

namespace {
const char kControlCharacter[] = "The port name holds a control character";
const char kNotIntact[] = "The port name cannot be handed to the system unchanged";
} // namespace

PortOpener::PortOpener(const QString &name, const SerialLine &line)
    : portName(name)
    , reason(refusal(name))
{
    if (!reason.isEmpty()) {
        current = State::Failed;
    } else if (portname::isPjlinkName(name)) {
        projector = PjlinkPort::start(name, &reason);
        current = projector ? State::Pending : State::Failed;
        advance();
    } else if (portname::isNetworkPortName(name)) {
        connection = NetworkPort::start(name, line, &reason);
        current = connection ? State::Pending : State::Failed;
        advance(); // a literal address that refuses at once is known now
    } else {
        port = SerialPort::open(name, line, &reason);
        current = port ? State::Open : State::Failed;
    }
}

PortOpener::~PortOpener() = default;

PortOpener::State PortOpener::advance()
{
    if (current != State::Pending)
        return current;
    if (projector)
        current = moveOn(projector);
    else if (connection)
        current = moveOn(connection);
    return current;
}

template<typename Pending>
PortOpener::State PortOpener::moveOn(std::unique_ptr<Pending> &pending)
{
    switch (pending->advance()) {
    case NetworkPort::Progress::Open:
        port = std::move(pending);
        return State::Open;
    case NetworkPort::Progress::Failed:
        reason = pending->failure();
        pending.reset();
        return State::Failed;
    case NetworkPort::Progress::Pending:
        break;
    }
    return State::Pending;
}

std::unique_ptr<PortDevice> PortOpener::takePort()
{
    return std::move(port);
}

QString PortOpener::refusal(const QString &name)
{
    // Never handed to the system (a NUL would cut the name short) nor echoed.
    if (portname::hasControlCharacter(name))
        return QLatin1String(kControlCharacter);
    QString reason;
    if (portname::isPjlinkName(name)) {
        if (!portname::parsePjlinkName(name, &reason))
            return reason;
    } else if (portname::isNetworkPortName(name)) {
        if (!portname::parseNetworkPortName(name, &reason))
            return reason;
    } else if (!portname::reachesSystemIntact(name)) {
        return SerialPort::locationOf(name) + QStringLiteral(": ") + QLatin1String(kNotIntact);
    }
    return QString();
}

QString PortOpener::locationOf(const QString &name)
{
    if (!refusal(name).isEmpty())
        return name;
    if (!portname::isNetworkPortName(name))
        return SerialPort::locationOf(name);
    if (portname::isPjlinkName(name)) {
        const std::optional<portname::NetworkPortName> projector = portname::parsePjlinkName(name);
        return projector ? portname::canonicalPjlinkName(*projector) : name;
    }
    const std::optional<portname::NetworkPortName> address = portname::parseNetworkPortName(name);
    return address ? portname::canonicalName(*address) : name;
}

QString PortOpener::keyOf(const QString &name)
{
    if (portname::isNetworkPortName(name) || !refusal(name).isEmpty())
        return locationOf(name);
    return SerialPort::keyOf(name);
}
