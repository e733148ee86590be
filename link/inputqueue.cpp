#include "link/inputqueue.h"

#include <cstring>

qsizetype InputQueue::append(const char *data, qsizetype size)
{
    const qsizetype kept = qBound(qsizetype(0), size, room());
    bytes.append(data, kept);
    return kept;
}

bool InputQueue::appendWhole(const QByteArray &more)
{
    if (more.size() > room())
        return false;
    bytes += more;
    return true;
}

quint32 InputQueue::read(char *buffer, quint32 count)
{
    const qsizetype taken = qMin(qsizetype(count), bytes.size());
    if (!buffer || taken <= 0)
        return 0;
    std::memcpy(buffer, bytes.constData(), size_t(taken));
    bytes.remove(0, taken);
    return quint32(taken);
}
