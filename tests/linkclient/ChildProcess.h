#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// A helper program run for a test or a benchmark (velmor-sim, ser2net): its
// standard output read line by line, every wait bounded, stopped for sure at
// the end.
namespace LinkTest {

// Polls Ready every millisecond or so until it is true or Ms have passed.
bool WaitUntil(const std::function<bool()>& Ready, int Ms);

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Stop(); }

    // Starts Exe with Args (and NAME=VALUE pairs added to the environment).
    bool Start(const std::string& Exe, const std::vector<std::string>& Args,
               const std::vector<std::string>& Env = {});
    // The next line of its standard output within Ms, without the newline;
    // false at the end of its output or on timeout.
    bool ReadLine(std::string& Line, int Ms);
    // SIGTERM, then SIGKILL if it has not ended within a second; reaped.
    void Stop();
    // SIGKILL at once, as a power cut would; reaped.
    void Kill();
    bool Running();
    // The exit code once Running() saw it end by itself; -1 before, or when a
    // signal ended it.
    int ExitStatus() const { return FStatus; }
    pid_t Pid() const { return FPid; }

private:
    pid_t FPid = -1;
    int FStatus = -1;
    int FOut = -1;
    std::string FPending;
};

// The velmor-sim of this build folder.
std::string SimExe();
// A fresh folder under the temporary folder, removed by the caller's choice
// (the tests leave it to the system).
std::string MakeTempFolder();

// velmor-sim on a pseudo-terminal at Folder/line: started and ready (its
// line printed), with its stored parameters and control file in Folder.
struct LineSim {
    std::string Folder;
    std::string Link;    // Folder/line
    std::string Control; // Folder/control
    ChildProcess Process;
    bool Start(const std::vector<std::string>& Extra = {});
};

} // namespace LinkTest
