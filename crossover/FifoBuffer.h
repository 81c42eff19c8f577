// A byte FIFO on a GrowableBuffer: bytes are appended at the end and read
// from a read offset. Read bytes are compacted away only once more than half
// of the buffer has been read, so each byte moves at most once on average and
// the storage is kept (no allocation in steady state).
// Not safe for concurrent use.
#pragma once

#include "crossover/GrowableBuffer.h"

class FifoBuffer
{
public:
    // Adds count bytes at the end, copied from bytes or zeros when bytes is
    // null. When everything was read the buffer restarts at offset 0 first.
    // Returns the start of the appended bytes, or null when count is not
    // positive or the storage could not grow (then nothing changes).
    void* append(const void* bytes, int count);

    int unread() const { return buffer.size() - readOffset; }
    // data + read offset; null when empty or the offset is outside the data.
    void* readPointer() const;
    template <class T> T* readAs() const { return static_cast<T*>(readPointer()); }

    // Moves the read offset by count bytes, clamped to 0..size. Once more than
    // half of the buffer has been read, the unread bytes move to the start.
    void advance(int count);

    // Empties the buffer (size and read offset 0), keeping the storage.
    void clear();
    // Frees the storage.
    void release();
    // Makes room for `bytes` more than are held now, so appends up to that
    // total allocate nothing. Returns false when the storage could not grow.
    bool reserve(int bytes);

    int size() const { return buffer.size(); }
    int offset() const { return readOffset; }
    int capacity() const { return buffer.capacity(); }

private:
    GrowableBuffer buffer;
    int readOffset = 0;
};
