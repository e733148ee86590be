#include "link/lineassembler.h"

#include "link/protocol.h"

#include <utility>

bool LineAssembler::feed(char byte)
{
    return protocol::feedByte(current, byte) == protocol::ByteResult::LineComplete;
}

QString LineAssembler::take()
{
    return std::exchange(current, QString());
}
