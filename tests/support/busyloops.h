#pragma once

#include <atomic>
#include <thread>
#include <vector>

// Threads that only spin, standing for other CPU-heavy jobs on the machine, for as long as the
// object lives.
class BusyLoops
{
public:
    explicit BusyLoops(int count)
    {
        for (int i = 0; i < count; ++i)
            threads.emplace_back([this] {
                while (!stop.load(std::memory_order_relaxed)) {
                }
            });
    }
    ~BusyLoops()
    {
        stop = true;
        for (std::thread& thread : threads)
            thread.join();
    }
    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;

private:
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
};
