#pragma once

// The fixture of the tests that run the real velmorctl on the virtual
// controller as a child process, with its own state and control files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "sim/Storage.h"

namespace fs = std::filesystem;


struct Result {
    int Code = -1;
    std::string Out, Err;
};

inline std::string ReadAll(const fs::path& P)
{
    std::ifstream F(P, std::ios::binary);
    std::ostringstream S;
    S << F.rdbuf();
    return S.str();
}

class Program : public ::testing::Test {
protected:
    fs::path Dir;
    // "VELMOR_LINK=..." for the runs, or empty: the in-process controller.
    std::string LinkEnv;

    void SetUp() override
    {
        char Name[] = "/tmp/velmorctl-program-XXXXXX";
        ASSERT_NE(mkdtemp(Name), nullptr);
        Dir = Name;
    }
    void TearDown() override { fs::remove_all(Dir); }

    // Starts velmorctl with Args and this test's files; its output goes to
    // files in Dir, or its standard output to OutFd when given.
    pid_t Start(const std::vector<std::string>& Args, int OutFd = -1, const std::string& Tag = "")
    {
        std::vector<std::string> Env;
        for (char** E = environ; *E; ++E) {
            const std::string V = *E;
            const std::string Name = V.substr(0, V.find('='));
            if (Name != "VELMOR_SIM_STATE" && Name != "VELMOR_SIM_CONTROL" && Name != "XDG_STATE_HOME" &&
                Name != "VELMOR_LINK")
                Env.push_back(V);
        }
        Env.push_back("VELMOR_SIM_STATE=" + (Dir / "state.ini").string());
        Env.push_back("VELMOR_SIM_CONTROL=" + (Dir / "control").string());
        Env.push_back("XDG_STATE_HOME=" + Dir.string());
        if (!LinkEnv.empty())
            Env.push_back(LinkEnv);
        std::vector<char*> Envp, Argv{const_cast<char*>(VELMORCTL_PROGRAM)};
        for (std::string& V : Env)
            Envp.push_back(&V[0]);
        Envp.push_back(nullptr);
        std::vector<std::string> A = Args;
        for (std::string& V : A)
            Argv.push_back(&V[0]);
        Argv.push_back(nullptr);

        posix_spawn_file_actions_t Files;
        posix_spawn_file_actions_init(&Files);
        const std::string Out = (Dir / ("out" + Tag)).string(), Err = (Dir / ("err" + Tag)).string();
        if (OutFd >= 0)
            posix_spawn_file_actions_adddup2(&Files, OutFd, 1);
        else
            posix_spawn_file_actions_addopen(&Files, 1, Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&Files, 2, Err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t Pid = -1;
        const int Rc = posix_spawn(&Pid, VELMORCTL_PROGRAM, &Files, nullptr, Argv.data(), Envp.data());
        posix_spawn_file_actions_destroy(&Files);
        EXPECT_EQ(Rc, 0) << "cannot start " << VELMORCTL_PROGRAM;
        return Pid;
    }

    // Waits up to 20 s for the child; kills it if it does not end.
    Result Finish(pid_t Pid, const std::string& Tag = "")
    {
        Result R;
        if (Pid <= 0)
            return R;
        const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        int Status = 0;
        while (waitpid(Pid, &Status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > Deadline) {
                kill(Pid, SIGKILL);
                waitpid(Pid, &Status, 0);
                ADD_FAILURE() << "velmorctl did not end within 20 s";
                return R;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        R.Code = WIFEXITED(Status) ? WEXITSTATUS(Status) : -WTERMSIG(Status);
        R.Out = ReadAll(Dir / ("out" + Tag));
        R.Err = ReadAll(Dir / ("err" + Tag));
        return R;
    }

    Result RunCtl(const std::vector<std::string>& Args) { return Finish(Start(Args)); }

    // Stored parameters for quick moves.
    void FastController()
    {
        Sim::Parameters P;
        P.Vm = 1000;
        P.Vw = 30000;
        P.Aw = 40000;
        const Core::Status Saved = Sim::SaveParameters((Dir / "state.ini").string(), P);
        ASSERT_TRUE(Saved) << Saved.Text();
    }

    // A field of /proc/PID/status ("State:", "SigPnd:", ...), blank when gone.
    static std::string StatusField(pid_t Pid, const std::string& Name)
    {
        std::ifstream F("/proc/" + std::to_string(Pid) + "/status");
        std::string Line;
        while (std::getline(F, Line))
            if (Line.rfind(Name, 0) == 0)
                return Line.substr(Line.find_first_not_of(" \t", Name.size()));
        return {};
    }

    // True once the process has its handler of Signal in place.
    static bool Catches(pid_t Pid, int Signal = SIGINT)
    {
        std::ifstream F("/proc/" + std::to_string(Pid) + "/status");
        std::string Line;
        while (std::getline(F, Line))
            if (Line.rfind("SigCgt:", 0) == 0)
                return (std::stoull(Line.substr(7), nullptr, 16) >> (Signal - 1)) & 1;
        return false;
    }

    // Waits up to 10 s for Condition.
    template <typename F>
    static bool WaitFor(F Condition)
    {
        const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!Condition() && std::chrono::steady_clock::now() < Deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return Condition();
    }

    // Reads what the program writes to Fd into Got until Seen(Got) holds;
    // false after 10 s.
    template <typename F>
    static bool ReadUntil(int Fd, std::string& Got, F Seen)
    {
        return WaitFor([&] {
            pollfd In{Fd, POLLIN, 0};
            char Buf[512];
            if (poll(&In, 1, 10) > 0) {
                const ssize_t N = read(Fd, Buf, sizeof Buf);
                if (N > 0)
                    Got.append(Buf, static_cast<size_t>(N));
            }
            return Seen(Got);
        });
    }
};

// The rows of a watch's CSV file, after its header (checked).
inline std::vector<std::string> CsvRows(const fs::path& P)
{
    std::istringstream In(ReadAll(P));
    std::string Line;
    std::vector<std::string> Rows;
    if (!std::getline(In, Line))
        ADD_FAILURE() << P << " is empty";
    EXPECT_EQ(Line, "time_s,time_utc,coordinate,speed,limits,state_code,state,error");
    while (std::getline(In, Line))
        Rows.push_back(Line);
    return Rows;
}
