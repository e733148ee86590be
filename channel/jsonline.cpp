#include "channel/jsonline.h"

#include <QJsonDocument>
#include <QLocalSocket>

namespace jsonline {

QByteArray encode(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

void limitReadBuffer(QLocalSocket *socket)
{
    socket->setReadBufferSize(kMaxLine);
}

Read read(QIODevice *device, QJsonObject *object)
{
    if (!device->canReadLine())
        return device->bytesAvailable() >= kMaxLine ? Read::TooLong : Read::Waiting;
    // One byte past the limit, so that a line just too long is told from one that fits.
    const QByteArray line = device->readLine(kMaxLine + 1);
    if (line.size() > kMaxLine || !line.endsWith('\n'))
        return Read::TooLong;
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject())
        return Read::Malformed;
    *object = document.object();
    return Read::Object;
}

} // namespace jsonline
