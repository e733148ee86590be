#include "link/lineassembler.h"

#include "link/serialprotocol.h"

#include <utility>

bool LineAssembler::feed(char byte)
{
    return serialprotocol::feedByte(current, byte) == serialprotocol::ByteResult::LineComplete;
}

QString LineAssembler::take()
{
    return std::exchange(current, QString());
}
