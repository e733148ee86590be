#include "channelprobe.h"

#include "channel/channelname.h"
#include "link/portdevice.h"
#include "session/projectorsession.h"

#include <QLocalSocket>

namespace testsupport {

namespace {
constexpr int kConnectWait = 2000; // ms; a listening program's system takes it at once
} // namespace

QString channelOf(const ProjectorSession &session)
{
    return session.port() ? localChannelName(session.port()->key()) : QString();
}

bool listensAt(const QString &name)
{
    if (name.isEmpty())
        return false;
    QLocalSocket probe;
    probe.connectToServer(name);
    return probe.waitForConnected(kConnectWait);
}

} // namespace testsupport
