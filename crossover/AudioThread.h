// The rules that keep the audio thread safe, and their debug-build checks.
//
//  1. The audio thread destroys nothing: whatever it stops using is retired
//     into a list with room reserved ahead, and freed by another thread.
//  2. Only publishing hands objects on: a design side thread gives the audio
//     thread a new object, and takes back what it retired, in one publish
//     under the effect lock; nothing else moves objects between threads.
//  3. One pending update: a publish replaces the update still waiting, never
//     queues a second behind it.
//  4. Retired lists are bounded: their room is reserved before any audio
//     runs, and retiring beyond it (which would allocate) is a fault.
//
// AudioThread::Scope marks the code that runs a block; the checks below
// (assert, so debug builds only) fire when one of the rules is broken.
#pragma once

#include <cassert>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace AudioThread
{

inline thread_local bool running = false;

// Marks the current thread as running a block for the scope's lifetime.
class Scope
{
public:
    Scope() : outer(running) { running = true; }
    ~Scope() { running = outer; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    bool outer;
};

inline bool active()
{
    return running;
}

// For destructors and hand-overs: rules 1 and 2.
inline void assertAway(const char* what)
{
    assert(!active() && what);
    (void)what;
}

} // namespace AudioThread

// A single slot for the update waiting to be adopted (rule 3).
template <class T>
class PendingSlot
{
public:
    explicit operator bool() const { return item != nullptr; }
    T* get() const { return item.get(); }
    T& operator*() const { return *item; }
    T* operator->() const { return item.get(); }

    // Fills the empty slot; the caller takes the waiting update out first.
    void put(std::unique_ptr<T> update)
    {
        assert(!item && "one pending update: take the waiting one out before publishing another");
        item = std::move(update);
    }
    std::unique_ptr<T> take() { return std::move(item); }

private:
    std::unique_ptr<T> item;
};

// Objects the audio thread no longer uses, waiting for another thread to
// free them (rules 1, 2 and 4).
template <class T>
class RetiredList
{
public:
    // Reserves room for `capacity` objects. Allocates; not on the audio thread.
    void reserve(std::size_t capacity) { items.reserve(capacity); }
    std::size_t size() const { return items.size(); }

    // Keeps an object for later freeing; never allocates.
    void retire(std::unique_ptr<T> item)
    {
        if (!item)
            return;
        assert(items.size() < items.capacity() && "retired list full: retiring more would allocate");
        items.push_back(std::move(item));
    }

    // Hands everything over to another thread's list (publishing only).
    void handOver(std::vector<std::unique_ptr<T>>& to)
    {
        AudioThread::assertAway("only publishing hands retired objects on, never the audio thread");
        for (auto& item : items)
            to.push_back(std::move(item));
        items.clear();
    }

private:
    std::vector<std::unique_ptr<T>> items;
};
