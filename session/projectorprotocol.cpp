#include "session/projectorprotocol.h"

#include "link/serialprotocol.h"

ProjectorProtocol::~ProjectorProtocol() = default;

ProjectorFacts ProjectorProtocol::facts() const
{
    return {};
}

QByteArray ProjectorProtocol::frameEnd() const
{
    return QByteArray(1, serialprotocol::kCarriageReturn);
}

QByteArray ProjectorProtocol::replyEnd() const
{
    return QByteArray(1, serialprotocol::kCarriageReturn);
}

QStringList ProjectorProtocol::Heard::logTexts() const
{
    QStringList texts;
    for (const LogLine &line : log)
        texts.append(line.text);
    return texts;
}
