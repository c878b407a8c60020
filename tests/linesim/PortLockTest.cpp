// velmor-sim --port takes the port for itself, as the device library does:
// a second program (a second velmor-sim, even run as root) is refused with a
// clear text and exit 1, and the port is free again once it ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/support/Pty.h"
#include "tests/support/TempFolder.h"

namespace {

// velmor-sim on Device with its own state and control files; its standard
// output and error read through pipes. Killed when the test leaves early.
struct Sim {
    pid_t Pid = -1;
    int Out = -1;
    int Err = -1;
    Sim(const std::string& Device, const std::string& Folder)
    {
        int O[2], E[2];
        if (pipe2(O, O_CLOEXEC) != 0 || pipe2(E, O_CLOEXEC) != 0)
            return;
        const std::string State = Folder + "/state.ini", Control = Folder + "/control";
        Pid = fork();
        if (Pid == 0) {
            dup2(O[1], 1);
            dup2(E[1], 2);
            execl(VELMOR_SIM_PROGRAM, "velmor-sim", "--port", Device.c_str(), "--state", State.c_str(), "--control",
                  Control.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(O[1]);
        close(E[1]);
        Out = O[0];
        Err = E[0];
    }
    ~Sim()
    {
        if (Pid > 0) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
        }
        if (Out >= 0)
            close(Out);
        if (Err >= 0)
            close(Err);
    }
    // Its exit code, waiting up to Ms; -1 when it is still running.
    int Exit(int Ms)
    {
        const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
        int Status = 0;
        while (std::chrono::steady_clock::now() < End) {
            if (waitpid(Pid, &Status, WNOHANG) == Pid) {
                Pid = -1;
                return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
            }
            usleep(10000);
        }
        return -1;
    }
    // What it wrote on Fd until a newline or the end, within Ms.
    static std::string Line(int Fd, int Ms)
    {
        std::string Got;
        const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
        while (Got.find('\n') == std::string::npos) {
            const auto Left =
                std::chrono::duration_cast<std::chrono::milliseconds>(End - std::chrono::steady_clock::now()).count();
            pollfd P{Fd, POLLIN, 0};
            if (Left <= 0 || poll(&P, 1, static_cast<int>(Left)) <= 0)
                break;
            char B[256];
            const ssize_t N = read(Fd, B, sizeof B);
            if (N <= 0)
                break;
            Got.append(B, static_cast<size_t>(N));
        }
        return Got;
    }
};

TEST(PortLock, APortAnotherProgramHoldsIsRefusedAndFreeAgainAfterIt)
{
    std::string Folder;
    TestSupport::MakeTempFolder("velmor-portlock", Folder);
    struct Remove {
        std::string Path;
        ~Remove() { std::filesystem::remove_all(Path); }
    } Cleanup{Folder};
    TestSupport::Pty Port;
    ASSERT_FALSE(Port.Slave.empty());

    // Another program (the library's way: flock) holds the port.
    const int Holder = ::open(Port.Slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(Holder, 0);
    ASSERT_EQ(::flock(Holder, LOCK_EX | LOCK_NB), 0);
    {
        Sim Refused(Port.Slave, Folder);
        EXPECT_EQ(Refused.Exit(10000), 1);
        EXPECT_EQ(Sim::Line(Refused.Err, 2000),
                  "velmor-sim: " + Port.Slave +
                      " is busy: another program (a velmor-sim, the panel, a gateway) holds it\n");
        EXPECT_EQ(Sim::Line(Refused.Out, 100), "") << "it must not say it serves";
    }
    ::close(Holder);

    // Free now: the first velmor-sim serves it, a second one is refused.
    Sim First(Port.Slave, Folder);
    ASSERT_EQ(Sim::Line(First.Out, 10000), Port.Slave + "\n");
    {
        Sim Second(Port.Slave, Folder);
        EXPECT_EQ(Second.Exit(10000), 1);
        EXPECT_NE(Sim::Line(Second.Err, 2000).find(" is busy: another program"), std::string::npos);
    }
    // The first one's lock keeps out the library's own open as well.
    const int Library = ::open(Port.Slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Library >= 0) { // TIOCEXCL keeps out all but root
        EXPECT_NE(::flock(Library, LOCK_EX | LOCK_NB), 0);
        ::close(Library);
    }
    ASSERT_EQ(kill(First.Pid, SIGTERM), 0);
    EXPECT_EQ(First.Exit(10000), 0);

    // Ended: the port is free again.
    const int After = ::open(Port.Slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(After, 0);
    EXPECT_EQ(::flock(After, LOCK_EX | LOCK_NB), 0);
    ::close(After);
}

} // namespace
