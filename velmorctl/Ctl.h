#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

// velmorctl's commands as a library: the program's main and the tests both
// call Run. Everything the commands need from the world besides the device
// library (streams, clock, the interrupt flag, paths) comes in the Context,
// so the tests drive time and Ctrl-C themselves.
namespace VelmorCtl {

enum ExitCode : int {
    ExitOk = 0,
    ExitUsage = 1,       // bad usage: the usage is printed
    ExitFailed = 2,      // the device refused a command, or a wait failed
    ExitOpenFailed = 3,  // the device did not open
    ExitInterrupted = 130, // Ctrl-C ended a wait; the stop was sent
};

struct Context {
    std::ostream& Out;
    std::ostream& Err;
    // Monotonic time in nanoseconds.
    std::function<int64_t()> Now;
    // Sleeps until the monotonic time Deadline, or less when a signal comes.
    std::function<void(int64_t Deadline)> SleepUntil;
    // True once Ctrl-C (or a termination request) has come.
    std::function<bool()> Interrupted;
    // The full path of the velmorctl executable: the panel's settings file
    // is found beside it.
    std::string ExePath;
    // Where the serial ports' stable names live.
    std::string SerialByIdDir = "/dev/serial/by-id";
};

// The real world: the monotonic clock, an absolute sleep that a signal ends
// early, the flag set by InstallInterruptHandlers, /proc/self/exe.
Context SystemContext(std::ostream& Out, std::ostream& Err);

// SIGINT and SIGTERM set a flag and do nothing else; the loops act on it.
void InstallInterruptHandlers();
bool InterruptRequested();

// Runs one command line (Args without the program name) and returns the
// exit code.
int Run(const std::vector<std::string>& Args, Context& Ctx);

} // namespace VelmorCtl
