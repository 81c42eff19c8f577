// Runs a task for every index of a range on a few threads, the calling one
// among them; each thread takes the next index not yet taken.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

template <typename Task>
void parallelFor(std::size_t count, int threads, const Task& task)
{
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t index = next++; index < count; index = next++)
            task(index);
    };
    const int extra = std::max(0, std::min(threads, static_cast<int>(count)) - 1);
    std::vector<std::thread> pool;
    for (int i = 0; i < extra; ++i)
        pool.emplace_back(worker);
    worker();
    for (std::thread& thread : pool)
        thread.join();
}
