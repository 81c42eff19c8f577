// A byte queue made of separately allocated chunks. Queued bytes are never
// moved; chunks that have been read go to a spare list and are reused by
// write(), so a queue in steady state allocates nothing.
// Not safe for concurrent use.
#pragma once

#include "crossover/GrowableBuffer.h"

class ChunkedQueue
{
public:
    static constexpr int kChunkCapacity = 65472;

    ChunkedQueue() = default;
    ~ChunkedQueue();
    ChunkedQueue(const ChunkedQueue&) = delete;
    ChunkedQueue& operator=(const ChunkedQueue&) = delete;

    // Appends count bytes (zeros when bytes is null). Allocates only when the
    // spare list is empty and a new chunk is needed. Returns the bytes
    // written, fewer than count only when an allocation failed.
    int write(const void* bytes, int count);

    // Copies up to count queued bytes, from the read position on, without
    // consuming them. Returns the bytes copied.
    int copyOut(void* destination, int count) const;

    // Drops count bytes from the front (all of them when count exceeds what is
    // queued); emptied chunks go to the spare list.
    void consumeBytes(int count);

    // The contiguous run of queued bytes that starts offset bytes after the
    // read position; its length goes to *length (0 and null past the end).
    const void* peek(int offset, int* length) const;

    // Empties the queue, keeping every chunk for reuse.
    void clear();
    // Keeps enough spare chunks that writing `bytes` more than are queued
    // allocates nothing; new chunks are touched once here. False when memory
    // ran out.
    bool reserve(int bytes);

    // Unread bytes.
    int queued() const { return queuedBytes; }
    int chunkCount() const { return chunks.count<GrowableBuffer*>(); }
    int spareCount() const { return spareChunks.count<GrowableBuffer*>(); }
    int readOffset() const { return firstChunkOffset; }

private:
    GrowableBuffer* takeChunk();
    static bool pushPointer(GrowableBuffer& list, GrowableBuffer* chunk);
    GrowableBuffer* chunkAt(int index) const { return chunks.as<GrowableBuffer*>()[index]; }

    GrowableBuffer chunks;      // GrowableBuffer* in queue order
    GrowableBuffer spareChunks; // GrowableBuffer* kept for reuse
    int firstChunkOffset = 0;
    int queuedBytes = 0;
};
