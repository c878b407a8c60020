#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <streambuf>
#include <string>
#include <vector>

// velmorctl's commands as a library: the program's main and the tests both
// call Run. Everything the commands need from the world besides the device
// library (streams, clocks, the signal that came, paths) comes in the
// Context, so the tests drive time and signals themselves.
namespace VelmorCtl {

enum ExitCode : int {
    ExitOk = 0,
    ExitUsage = 1,       // bad usage, a malformed link setting, a refused settings file
    ExitRefused = 2,     // the device refused a command, or a motion came to rest short of its target
    ExitOpenFailed = 3,  // no connection: the device did not open
    ExitLimit = 4,       // the motion was ended by a limit switch
    ExitTimeout = 5,     // --timeout passed: the motor was stopped and came to rest
    ExitLinkLost = 6,    // the link failed during the command (watch: a sample could not be read)
    ExitOutput = 7,      // standard output or the CSV file could not be written
    ExitSignal = 128,    // + the signal's number
};

struct Context {
    std::ostream& Out;
    std::ostream& Err;
    // Monotonic time in nanoseconds.
    std::function<int64_t()> Now;
    // Sleeps until the monotonic time Deadline, or less when a signal comes.
    std::function<void(int64_t Deadline)> SleepUntil;
    // The number of the first stop signal (SIGINT, SIGTERM, SIGHUP) that
    // came, 0 while none has.
    std::function<int()> Signal;
    // The full path of the velmorctl executable: the panel's settings file
    // is found beside it.
    std::string ExePath;
    // Where the serial ports' stable names live.
    std::string SerialByIdDir = "/dev/serial/by-id";
    // Wall-clock time in nanoseconds since 1970 (UTC); empty: the system's.
    std::function<int64_t()> WallNow = {};
    // The errno of the write that failed on Out, 0 when not known.
    std::function<int()> OutErrno = {};
    // --lock-wait: how long an open of a busy port is retried, in
    // nanoseconds; 0: not retried. Set by Run.
    int64_t LockWait = 0;
};

// The real world: the monotonic clock, an absolute sleep that a signal ends
// early, the signal caught by InstallSignalHandlers, /proc/self/exe.
Context SystemContext(std::ostream& Out, std::ostream& Err);

// SIGINT, SIGTERM and SIGHUP note their number and do nothing else, the
// loops act on it; a second one ends the program at once with 128 + its
// number. SIGPIPE is ignored: a write into a closed pipe fails with EPIPE and
// is handled as any failed write.
void InstallSignalHandlers();
int SignalReceived();

// A stream buffer on a file descriptor that remembers why a write failed
// (std::ostream reports only that it did). Writes are retried after EINTR and
// continued after a short write.
class FdStreamBuf : public std::streambuf {
public:
    explicit FdStreamBuf(int Fd) : FFd(Fd) { setp(FBuf, FBuf + sizeof FBuf); }
    ~FdStreamBuf() override { sync(); }
    FdStreamBuf(const FdStreamBuf&) = delete;
    FdStreamBuf& operator=(const FdStreamBuf&) = delete;
    // The errno of the first failed write, 0 while none failed.
    int Error() const { return FError; }

protected:
    int_type overflow(int_type C) override;
    int sync() override;

private:
    bool Drain();
    int FFd;
    int FError = 0;
    char FBuf[4096];
};

// Runs one command line (Args without the program name) and returns the
// exit code.
int Run(const std::vector<std::string>& Args, Context& Ctx);

} // namespace VelmorCtl
