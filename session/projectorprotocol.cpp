#include "session/projectorprotocol.h"

ProjectorProtocol::~ProjectorProtocol() = default;

QStringList ProjectorProtocol::Heard::logTexts() const
{
    QStringList texts;
    for (const LogLine &line : log)
        texts.append(line.text);
    return texts;
}
