#include "crossover/FifoBuffer.h"

#include <algorithm>
#include <cstring>

void* FifoBuffer::append(const void* bytes, int count)
{
    if (count <= 0)
        return nullptr;
    if (readOffset >= buffer.size())
        clear();
    const int start = buffer.size();
    if (static_cast<long long>(start) + count > 0x7fffffffLL)
        return nullptr;
    buffer.resize(start + count);
    if (buffer.size() != start + count)
        return nullptr;
    char* target = buffer.as<char>() + start;
    if (bytes)
        std::memmove(target, bytes, static_cast<std::size_t>(count));
    else
        std::memset(target, 0, static_cast<std::size_t>(count));
    return target;
}

void* FifoBuffer::readPointer() const
{
    if (buffer.size() <= 0 || readOffset < 0 || readOffset >= buffer.size())
        return nullptr;
    return buffer.as<char>() + readOffset;
}

void FifoBuffer::advance(int count)
{
    const long long moved = static_cast<long long>(readOffset) + count;
    readOffset = static_cast<int>(std::clamp(moved, 0LL, static_cast<long long>(buffer.size())));
    if (readOffset <= buffer.size() / 2)
        return;
    const int remaining = buffer.size() - readOffset;
    if (remaining > 0)
        std::memmove(buffer.data(), buffer.as<char>() + readOffset, static_cast<std::size_t>(remaining));
    buffer.resize(remaining);
    readOffset = 0;
}

void FifoBuffer::clear()
{
    buffer.resize(0);
    readOffset = 0;
}

void FifoBuffer::release()
{
    buffer.release();
    readOffset = 0;
}

bool FifoBuffer::reserve(int bytes)
{
    const int held = buffer.size();
    if (bytes <= 0 || static_cast<long long>(held) + bytes > 0x7fffffffLL)
        return bytes <= 0;
    buffer.resize(held + bytes);
    const bool grown = buffer.size() == held + bytes;
    buffer.resize(held);
    return grown;
}
