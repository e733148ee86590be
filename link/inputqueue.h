#ifndef INPUTQUEUE_H
#define INPUTQUEUE_H

#include <QByteArray>
#include <QtGlobal>

// The bytes a port has taken from its line but not yet handed to the reader, bounded as
// a serial driver's queue: what does not fit is lost, so a flood leaves no backlog behind
// it, and nothing arrived ever waits for room.
class InputQueue
{
public:
    static constexpr qsizetype kCapacity = 1024; // bytes, as the serial driver's queue

    // Keeps what fits of `size` bytes and drops the rest; the count kept.
    qsizetype append(const char *data, qsizetype size);
    // Keeps all of `bytes` or, when they do not fit, none: a reply line is never cut.
    bool appendWhole(const QByteArray &bytes);
    // Hands out up to `count` bytes, the oldest first; the count handed out.
    quint32 read(char *buffer, quint32 count);

    qsizetype size() const { return bytes.size(); }
    bool isEmpty() const { return bytes.isEmpty(); }
    qsizetype room() const { return kCapacity - bytes.size(); }

private:
    QByteArray bytes;
};

#endif // INPUTQUEUE_H
