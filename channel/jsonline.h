#ifndef JSONLINE_H
#define JSONLINE_H

#include <QByteArray>
#include <QJsonObject>
#include <QtGlobal>

class QIODevice;
class QLocalSocket;

// How both ends of the local channel frame what they say: one JSON object on one line.
// Compact JSON escapes every newline inside its strings, so a newline ends the object.
namespace jsonline {

// Bytes of one line, its newline included, either way. The longest line is a result: at
// most ScriptedRequest::kMaxCommands steps and the status, each collecting reply lines only
// while it waits for its answer (2 s, one line per 100 ms tick, so ~21), each line at most
// serialprotocol::kMaxReplyLength characters of up to 3 UTF-8 bytes: about 4.3 MB. Twice that
// leaves room for the step fields and still bounds what a connection can make a peer hold.
constexpr qint64 kMaxLine = qint64(8) << 20;

enum class Read {
    Waiting, // no whole line yet
    Object, // a line of one JSON object
    TooLong, // kMaxLine bytes without a newline
    Malformed, // a whole line that is not one JSON object
};

// The line that carries `object`, its newline included.
QByteArray encode(const QJsonObject &object);

// Lets the socket hold at most one line, so that a peer that never ends its line cannot
// make this program buffer more.
void limitReadBuffer(QLocalSocket *socket);

// Takes the next line from the device when it is whole; *object is set for Read::Object.
// After TooLong or Malformed the rest of the stream means nothing.
Read read(QIODevice *device, QJsonObject *object);

} // namespace jsonline

#endif // JSONLINE_H
