// velmorctl in the real world: the stop signals, standard output that keeps
// why a write failed, the clocks and the sleep a signal ends.
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <ctime>

#include "core/Clock.h"
#include "velmorctl/Internal.h"

namespace VelmorCtl {

namespace {

volatile std::sig_atomic_t SignalNumber = 0;

extern "C" void OnStopSignal(int N)
{
    // The second request ends the program at once; the kernel releases the
    // port with the process.
    if (SignalNumber != 0)
        _exit(ExitSignal + N);
    SignalNumber = N;
}

} // namespace

void InstallSignalHandlers()
{
    struct sigaction Action {};
    Action.sa_handler = OnStopSignal;
    sigemptyset(&Action.sa_mask);
    sigaddset(&Action.sa_mask, SIGINT);
    sigaddset(&Action.sa_mask, SIGTERM);
    sigaddset(&Action.sa_mask, SIGHUP);
    // SA_RESTART: a write to a full pipe or terminal goes on after the
    // signal instead of failing and losing its line. The sleeps (ppoll) are
    // never restarted: a signal ends them at once all the same.
    Action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &Action, nullptr);
    sigaction(SIGTERM, &Action, nullptr);
    sigaction(SIGHUP, &Action, nullptr);
    struct sigaction Ignore {};
    Ignore.sa_handler = SIG_IGN;
    sigemptyset(&Ignore.sa_mask);
    sigaction(SIGPIPE, &Ignore, nullptr);
}

int SignalReceived() { return SignalNumber; }

bool FdStreamBuf::Drain()
{
    const char* P = pbase();
    while (P < pptr()) {
        const ssize_t N = ::write(FFd, P, static_cast<size_t>(pptr() - P));
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0) {
            FError = N < 0 ? errno : EIO;
            setp(FBuf, FBuf + sizeof FBuf);
            return false;
        }
        P += N;
    }
    setp(FBuf, FBuf + sizeof FBuf);
    return true;
}

FdStreamBuf::int_type FdStreamBuf::overflow(int_type C)
{
    if (FError || !Drain())
        return traits_type::eof();
    if (!traits_type::eq_int_type(C, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(C);
        pbump(1);
    }
    return traits_type::not_eof(C);
}

int FdStreamBuf::sync()
{
    if (FError)
        return -1;
    return Drain() ? 0 : -1;
}

Context SystemContext(std::ostream& Out, std::ostream& Err)
{
    Context Ctx{Out, Err, {}, {}, {}, {}};
    Ctx.Now = Core::SteadyNow;
    Ctx.SleepUntil = [Now = Ctx.Now](int64_t Deadline) {
        // The stop signals are held while the flag is looked at and let in
        // only within the wait itself, so one that comes just before the
        // sleep ends it at once instead of being slept through. A signal ends
        // the sleep early (EINTR); the caller looks at the flag.
        sigset_t Held, Before;
        sigemptyset(&Held);
        sigaddset(&Held, SIGINT);
        sigaddset(&Held, SIGTERM);
        sigaddset(&Held, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &Held, &Before);
        const int64_t Left = Deadline - Now();
        // The first sleep after a signal returns at once so that the loop
        // looks at it; the sleeps after that (the loop waiting for the motor
        // to come to rest after its stop) sleep their time.
        static bool SignalSeen = false;
        const bool Wake = SignalNumber != 0 && !SignalSeen;
        if (SignalNumber != 0)
            SignalSeen = true;
        if (!Wake && Left > 0) {
            timespec T{};
            T.tv_sec = static_cast<time_t>(Left / Detail::Second);
            T.tv_nsec = static_cast<long>(Left % Detail::Second);
            ppoll(nullptr, 0, &T, &Before);
        }
        pthread_sigmask(SIG_SETMASK, &Before, nullptr);
    };
    Ctx.Signal = SignalReceived;
    char Buf[PATH_MAX];
    ssize_t N = readlink("/proc/self/exe", Buf, sizeof Buf - 1);
    if (N > 0)
        Ctx.ExePath.assign(Buf, static_cast<size_t>(N));
    return Ctx;
}

} // namespace VelmorCtl
