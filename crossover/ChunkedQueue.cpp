#include "crossover/ChunkedQueue.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace
{
void deleteChunks(GrowableBuffer& list)
{
    GrowableBuffer** pointers = list.as<GrowableBuffer*>();
    for (int i = 0; i < list.count<GrowableBuffer*>(); ++i)
        delete pointers[i];
    list.resize(0);
}
} // namespace

ChunkedQueue::~ChunkedQueue()
{
    deleteChunks(chunks);
    deleteChunks(spareChunks);
}

bool ChunkedQueue::pushPointer(GrowableBuffer& list, GrowableBuffer* chunk)
{
    const int bytes = list.size();
    list.resize(bytes + static_cast<int>(sizeof(GrowableBuffer*)));
    if (list.size() == bytes)
        return false;
    list.as<GrowableBuffer*>()[bytes / static_cast<int>(sizeof(GrowableBuffer*))] = chunk;
    return true;
}

// A chunk for the end of the queue: the last spare one, else a new one.
GrowableBuffer* ChunkedQueue::takeChunk()
{
    const int spares = spareCount();
    GrowableBuffer* chunk = nullptr;
    if (spares > 0) {
        chunk = spareChunks.as<GrowableBuffer*>()[spares - 1];
        chunk->resize(0);
    } else {
        chunk = new (std::nothrow) GrowableBuffer;
        if (!chunk)
            return nullptr;
    }
    if (!pushPointer(chunks, chunk)) {
        if (spares == 0)
            delete chunk;
        return nullptr;
    }
    if (spares > 0)
        spareChunks.resize((spares - 1) * static_cast<int>(sizeof(GrowableBuffer*)));
    return chunk;
}

int ChunkedQueue::write(const void* bytes, int count)
{
    const char* source = static_cast<const char*>(bytes);
    int written = 0;
    while (written < count) {
        const int existing = chunkCount();
        GrowableBuffer* chunk = existing > 0 ? chunkAt(existing - 1) : nullptr;
        if (!chunk || chunk->size() >= kChunkCapacity)
            chunk = takeChunk();
        if (!chunk)
            break;
        const int fill = chunk->size();
        const int step = std::min(count - written, kChunkCapacity - fill);
        chunk->resize(fill + step);
        if (chunk->size() != fill + step)
            break;
        char* target = chunk->as<char>() + fill;
        if (source)
            std::memcpy(target, source + written, static_cast<std::size_t>(step));
        else
            std::memset(target, 0, static_cast<std::size_t>(step));
        written += step;
    }
    queuedBytes += written;
    return written;
}

int ChunkedQueue::copyOut(void* destination, int count) const
{
    char* target = static_cast<char*>(destination);
    int copied = 0;
    while (copied < count) {
        int length = 0;
        const void* run = peek(copied, &length);
        if (!run || length <= 0)
            break;
        const int step = std::min(length, count - copied);
        std::memcpy(target + copied, run, static_cast<std::size_t>(step));
        copied += step;
    }
    return copied;
}

void ChunkedQueue::consumeBytes(int count)
{
    if (count <= 0)
        return;
    firstChunkOffset += std::min(count, queuedBytes);
    queuedBytes = std::max(queuedBytes - count, 0);
    int remaining = chunkCount();
    int released = 0;
    while (released < remaining && firstChunkOffset >= chunkAt(released)->size()) {
        firstChunkOffset -= chunkAt(released)->size();
        if (!pushPointer(spareChunks, chunkAt(released)))
            delete chunkAt(released);
        ++released;
    }
    if (released > 0) {
        remaining -= released;
        GrowableBuffer** pointers = chunks.as<GrowableBuffer*>();
        std::memmove(pointers, pointers + released, static_cast<std::size_t>(remaining) * sizeof(GrowableBuffer*));
        chunks.resize(remaining * static_cast<int>(sizeof(GrowableBuffer*)));
    }
    if (remaining == 0)
        firstChunkOffset = 0;
}

const void* ChunkedQueue::peek(int offset, int* length) const
{
    if (length)
        *length = 0;
    if (offset < 0 || offset >= queuedBytes)
        return nullptr;
    long long position = static_cast<long long>(firstChunkOffset) + offset;
    for (int i = 0; i < chunkCount(); ++i) {
        const GrowableBuffer* chunk = chunkAt(i);
        if (position < chunk->size()) {
            if (length)
                *length = chunk->size() - static_cast<int>(position);
            return chunk->as<char>() + position;
        }
        position -= chunk->size();
    }
    return nullptr;
}

void ChunkedQueue::clear()
{
    for (int i = chunkCount() - 1; i >= 0; --i) {
        if (!pushPointer(spareChunks, chunkAt(i)))
            delete chunkAt(i);
    }
    chunks.resize(0);
    firstChunkOffset = 0;
    queuedBytes = 0;
}

bool ChunkedQueue::reserve(int bytes)
{
    // Room left in the last chunk, then whole spare chunks.
    long long room = 0;
    if (chunkCount() > 0) {
        // The last chunk is filled up to the full capacity before the next is taken.
        GrowableBuffer* last = chunkAt(chunkCount() - 1);
        const int held = last->size();
        last->resize(kChunkCapacity);
        if (last->size() != kChunkCapacity)
            return false;
        last->resize(held);
        room = kChunkCapacity - held;
    }
    room += static_cast<long long>(spareCount()) * kChunkCapacity;
    while (room < bytes) {
        auto* chunk = new (std::nothrow) GrowableBuffer;
        if (!chunk)
            return false;
        chunk->resize(kChunkCapacity);
        if (chunk->size() != kChunkCapacity || !pushPointer(spareChunks, chunk)) {
            delete chunk;
            return false;
        }
        std::memset(chunk->data(), 0, kChunkCapacity);
        chunk->resize(0);
        room += kChunkCapacity;
    }
    // The chunk list itself must not grow on the audio path either.
    const int listBytes = chunks.size();
    const int wantedList = listBytes + (spareCount() + 1) * static_cast<int>(sizeof(GrowableBuffer*));
    chunks.resize(wantedList);
    chunks.resize(listBytes);
    return chunks.capacity() >= wantedList;
}
