#include "session/serialprojector.h"

#include "link/characters.h"
#include "link/serialprotocol.h"

QList<QByteArray> SerialProjector::poll()
{
    return {QByteArray(serialprotocol::kLampPoll)};
}

QList<QByteArray> SerialProjector::frames(const Action &action, QString *reason)
{
    if (const commands::Command *id = std::get_if<commands::Command>(&action))
        return {QByteArray(commands::command(*id).text)};
    // No serial reply tells the error status: nothing to ask, and nothing to say why.
    if (std::get<Query>(action) == Query::ErrorStatus) {
        if (reason)
            *reason = QString();
        return {};
    }
    return {QByteArray(serialprotocol::kLampPoll)};
}

ProjectorProtocol::Heard SerialProjector::hear(const QByteArray &bytes)
{
    // Each byte is a character of the line (see LineAssembler).
    const QString line = QString::fromLatin1(bytes);
    const serialprotocol::Reply reply = serialprotocol::classifyReply(line);
    Heard heard;
    Unmatched said;
    switch (reply.kind) {
    case serialprotocol::ReplyKind::LampOff:
    case serialprotocol::ReplyKind::LampOn:
        heard.lamp = reply.kind == serialprotocol::ReplyKind::LampOn;
        said.kind = commands::Answer::LampState;
        said.text = *heard.lamp ? QStringLiteral("on") : QStringLiteral("off");
        break;
    case serialprotocol::ReplyKind::NotAvailable:
        heard.log.append({characters::visibleText(line), Error::Unavailable});
        said.notAvailable = true;
        break;
    case serialprotocol::ReplyKind::Accepted:
        said.kind = commands::Answer::Acknowledgement;
        said.text = characters::visibleText(line);
        break;
    case serialprotocol::ReplyKind::Resolution:
        said.kind = commands::Answer::Resolution;
        said.text = serialprotocol::formatResolution(reply.resolution);
        heard.log.append({said.text, Error::None, true});
        break;
    case serialprotocol::ReplyKind::ShortResolution:
        // Too short to decode: it shows nothing and answers nothing.
        return heard;
    case serialprotocol::ReplyKind::Other:
        // Lamp states answer the poll, and an acknowledgement tells nothing: any other
        // line is a text answer (the lamp hours, the model).
        said.kind = commands::Answer::Text;
        said.text = characters::visibleText(line);
        heard.log.append({characters::logLineText(line), Error::None, true});
        break;
    }
    heard.unmatched = said;
    return heard;
}
