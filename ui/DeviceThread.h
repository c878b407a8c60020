#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// The panel's device thread: the one thread that calls the device library.
// Jobs run one at a time in the order they were handed over. Plain C++; the
// window brings results back to its own thread itself. The thread starts
// with the first job, so an idle panel costs nothing at start-up.
class TDeviceThread {
public:
    explicit TDeviceThread(std::size_t Limit = 256) : FLimit(Limit) {}
    // Runs what is queued, then ends the thread.
    ~TDeviceThread() { Finish(); }

    TDeviceThread(const TDeviceThread&) = delete;
    TDeviceThread& operator=(const TDeviceThread&) = delete;

    // Queues a job; false when the queue is full or the thread is finishing.
    bool Post(std::function<void()> Job);
    // No job is taken any more; the queued ones still run.
    void Seal();
    // Seal, and wait until the queued jobs have run and the thread has
    // ended (from the thread itself: Seal only).
    void Finish();
    // Jobs queued or running.
    std::size_t Outstanding() const;
    bool OnThisThread() const;

private:
    void Run();

    const std::size_t FLimit;
    mutable std::mutex FMutex;
    std::condition_variable FWake;
    std::deque<std::function<void()>> FJobs;
    std::size_t FRunning = 0;
    bool FFinishing = false;
    std::thread FThread;
};
