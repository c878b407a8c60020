#include "ui/DeviceThread.h"

#include <pthread.h>
#include <signal.h>

bool TDeviceThread::Post(std::function<void()> Job)
{
    std::lock_guard<std::mutex> Lock(FMutex);
    if (FFinishing || FJobs.size() >= FLimit)
        return false;
    FJobs.push_back(std::move(Job));
    if (!FThread.joinable())
        FThread = std::thread([this] { Run(); });
    FWake.notify_one();
    return true;
}

void TDeviceThread::Seal()
{
    {
        std::lock_guard<std::mutex> Lock(FMutex);
        FFinishing = true;
    }
    FWake.notify_all();
}

void TDeviceThread::Finish()
{
    Seal();
    if (FThread.joinable() && !OnThisThread())
        FThread.join();
}

std::size_t TDeviceThread::Outstanding() const
{
    std::lock_guard<std::mutex> Lock(FMutex);
    return FJobs.size() + FRunning;
}

bool TDeviceThread::OnThisThread() const { return std::this_thread::get_id() == FThread.get_id(); }

void TDeviceThread::Run()
{
    // Signals are the main thread's business (its handlers only write to a
    // pipe): no read of the line is cut short by one here.
    sigset_t All;
    sigfillset(&All);
    pthread_sigmask(SIG_BLOCK, &All, nullptr);
    std::unique_lock<std::mutex> Lock(FMutex);
    for (;;) {
        FWake.wait(Lock, [&] { return FFinishing || !FJobs.empty(); });
        if (FJobs.empty())
            return;
        std::function<void()> Job = std::move(FJobs.front());
        FJobs.pop_front();
        FRunning = 1;
        Lock.unlock();
        try {
            Job();
        } catch (...) {
            // A job hands its own failures back; nothing may end the thread.
        }
        Job = nullptr;
        Lock.lock();
        FRunning = 0;
    }
}
