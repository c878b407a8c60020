#include "tests/linkclient/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace LinkTest {

namespace {

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

bool WaitUntil(const std::function<bool()>& Ready, int Ms)
{
    const int64_t Until = NowMs() + Ms;
    while (true) {
        if (Ready())
            return true;
        if (NowMs() > Until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool ChildProcess::Start(const std::string& Exe, const std::vector<std::string>& Args,
                         const std::vector<std::string>& Env)
{
    Stop();
    FStatus = -1;
    // Everything the child needs is made before the fork: between fork and
    // exec only async-signal-safe calls.
    std::vector<std::string> Vars = Env;
    for (char** E = environ; *E; ++E) {
        const char* Eq = std::strchr(*E, '=');
        bool Replaced = false;
        for (const std::string& V : Env)
            Replaced = Replaced || (Eq && V.compare(0, static_cast<size_t>(Eq - *E) + 1, *E, static_cast<size_t>(Eq - *E) + 1) == 0);
        if (!Replaced)
            Vars.push_back(*E);
    }
    std::vector<char*> Envp;
    for (std::string& V : Vars)
        Envp.push_back(&V[0]);
    Envp.push_back(nullptr);
    std::vector<char*> Argv;
    Argv.push_back(const_cast<char*>(Exe.c_str()));
    for (const std::string& A : Args)
        Argv.push_back(const_cast<char*>(A.c_str()));
    Argv.push_back(nullptr);
    int Pipe[2];
    if (::pipe2(Pipe, O_CLOEXEC) != 0)
        return false;
    pid_t Pid = ::fork();
    if (Pid < 0) {
        ::close(Pipe[0]);
        ::close(Pipe[1]);
        return false;
    }
    if (Pid == 0) {
        ::dup2(Pipe[1], STDOUT_FILENO);
        ::execve(Exe.c_str(), Argv.data(), Envp.data());
        ::_exit(127);
    }
    ::close(Pipe[1]);
    FPid = Pid;
    FOut = Pipe[0];
    FPending.clear();
    return true;
}

bool ChildProcess::ReadLine(std::string& Line, int Ms)
{
    const int64_t Until = NowMs() + Ms;
    while (true) {
        size_t Nl = FPending.find('\n');
        if (Nl != std::string::npos) {
            Line = FPending.substr(0, Nl);
            FPending.erase(0, Nl + 1);
            return true;
        }
        if (FOut < 0)
            return false;
        int64_t Left = Until - NowMs();
        if (Left < 0)
            return false;
        struct pollfd P = {FOut, POLLIN, 0};
        int N = ::poll(&P, 1, static_cast<int>(Left));
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return false;
        char Buffer[512];
        ssize_t Got = ::read(FOut, Buffer, sizeof Buffer);
        if (Got <= 0) {
            ::close(FOut);
            FOut = -1;
            continue;
        }
        FPending.append(Buffer, static_cast<size_t>(Got));
    }
}

bool ChildProcess::Running()
{
    if (FPid <= 0)
        return false;
    int Status;
    if (::waitpid(FPid, &Status, WNOHANG) == FPid) {
        FPid = -1;
        FStatus = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
        return false;
    }
    return true;
}

void ChildProcess::Kill()
{
    if (FPid > 0) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
        FPid = -1;
    }
    if (FOut >= 0) {
        ::close(FOut);
        FOut = -1;
    }
}

void ChildProcess::Stop()
{
    if (FPid > 0) {
        ::kill(FPid, SIGTERM);
        if (!WaitUntil([&] { return !Running(); }, 1000))
            Kill();
    }
    Kill();
}

std::string SimExe() { return VELMOR_SIM_EXE; }

std::string MakeTempFolder()
{
    const char* Tmp = std::getenv("TMPDIR");
    std::string Template = std::string(Tmp && *Tmp ? Tmp : "/tmp") + "/velmor-link-XXXXXX";
    if (!::mkdtemp(&Template[0]))
        return {};
    return Template;
}

bool LineSim::Start(const std::vector<std::string>& Extra)
{
    if (Folder.empty()) {
        Folder = MakeTempFolder();
        Link = Folder + "/line";
        Control = Folder + "/control";
    }
    std::vector<std::string> Args = {"--pty", Link};
    Args.insert(Args.end(), Extra.begin(), Extra.end());
    if (!Process.Start(SimExe(), Args,
                       {"VELMOR_SIM_STATE=" + Folder + "/state.ini", "VELMOR_SIM_CONTROL=" + Control}))
        return false;
    std::string Line;
    return Process.ReadLine(Line, 5000) && ::access(Link.c_str(), F_OK) == 0;
}

} // namespace LinkTest
