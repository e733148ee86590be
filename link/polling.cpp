// The 100 ms tick: reading reply lines, the lamp poll, the contact watchdog, and
// what the projector's replies mean.

#include "lumivox.h"
#include "protocol.h"

namespace {
// Bytes one tick takes at most: the 1024-byte input queue. At 9600 baud about 96 arrive
// per tick; a far end that sends faster (a pseudo-terminal, a bridge) cannot hold a
// tick for longer than this many bytes take.
constexpr int kTickReadLimit = 1024;
} // namespace

void Lumivox::OnTimer()
{
    // At most one line per tick; what follows its carriage return waits for the next.
    bool complete = false;
    char byte = 0;
    for (int taken = 0; !complete && taken < kTickReadLimit && readBytes(&byte, 1) == 1; ++taken)
        complete = protocol::feedByte(replyBuffer, byte) == protocol::ByteResult::LineComplete;

    if (complete)
        lineReceived();

    // Held back while a send-failure box is open; it goes out at the first tick after.
    ++pollCount;
    if (pollCount > kPollThreshold && sendFailureBoxes == 0) {
        sendKey(protocol::kLampPoll);
        pollCount = 0;
    }

    ++noContactCount;
    if (noContactCount >= kNoContact) {
        // Set again at every tick, so nothing else can colour the panel meanwhile.
        noContactCount = kNoContact;
        ui.on_off_groupBox->setColor(protocol::neutralColor());
        ui.connectionStatus->setIcon(noContactIcon);
        ui.connectionStatus->setToolTip(tr("No Contact"));
    }

    reopenVanishedPort();

    if (pendingHeight != 0) {
        resize(width(), pendingHeight);
        pendingHeight = 0;
    }
}

void Lumivox::lineReceived()
{
    if (noContactCount >= kNoContact) {
        // Decoded at the first contact rather than during start-up.
        if (contactIcon.isNull())
            contactIcon = QIcon(QPixmap(QStringLiteral(":/Lumivox/Resources/connect.png")));
        ui.connectionStatus->setIcon(contactIcon);
        ui.connectionStatus->setToolTip(tr("Contact"));
    }
    noContactCount = 0;
    handleReply(replyBuffer);
    replyBuffer.clear();
}

void Lumivox::handleReply(const QString &line)
{
    const protocol::Reply reply = protocol::parseReply(line);
    switch (reply.kind) {
    case protocol::ReplyKind::LampOff:
        ui.on_off_groupBox->setColor(protocol::lampOffColor());
        lampOn = false;
        break;
    case protocol::ReplyKind::LampOn:
        ui.on_off_groupBox->setColor(protocol::lampOnColor());
        lampOn = true;
        break;
    case protocol::ReplyKind::NotAvailable:
        log(tr("Command not available at the moment.\r"));
        break;
    case protocol::ReplyKind::Resolution:
        log(protocol::resolutionText(reply.resolution) + QLatin1Char('\r'));
        break;
    case protocol::ReplyKind::Accepted:
    case protocol::ReplyKind::ShortResolution:
        break;
    case protocol::ReplyKind::Other:
        log(line + QLatin1Char('\r'));
        break;
    }
    if (ui.debugCheckBox->isChecked())
        log(QStringLiteral("-> ") + line + QLatin1Char('\r'));
    ui.textEdit->ensureCursorVisible();
    emit replyHandled(line);
}
