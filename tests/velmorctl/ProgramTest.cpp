// The real velmorctl on the virtual controller, run as a child process with
// its own state and control files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "sim/Storage.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    int Code = -1;
    std::string Out, Err;
};

std::string ReadAll(const fs::path& P)
{
    std::ifstream F(P, std::ios::binary);
    std::ostringstream S;
    S << F.rdbuf();
    return S.str();
}

class Program : public ::testing::Test {
protected:
    fs::path Dir;

    void SetUp() override
    {
        char Name[] = "/tmp/velmorctl-program-XXXXXX";
        ASSERT_NE(mkdtemp(Name), nullptr);
        Dir = Name;
    }
    void TearDown() override { fs::remove_all(Dir); }

    // Starts velmorctl with Args and this test's files; its output goes to
    // files in Dir, or its standard output to OutFd when given.
    pid_t Start(const std::vector<std::string>& Args, int OutFd = -1)
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
        const std::string Out = (Dir / "out").string(), Err = (Dir / "err").string();
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
    Result Finish(pid_t Pid)
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
        R.Out = ReadAll(Dir / "out");
        R.Err = ReadAll(Dir / "err");
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
        std::string Error;
        ASSERT_TRUE(Sim::SaveParameters((Dir / "state.ini").string(), P, Error)) << Error;
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

    // True once the process has its SIGINT handler in place.
    static bool CatchesSigint(pid_t Pid)
    {
        std::ifstream F("/proc/" + std::to_string(Pid) + "/status");
        std::string Line;
        while (std::getline(F, Line))
            if (Line.rfind("SigCgt:", 0) == 0)
                return (std::stoull(Line.substr(7), nullptr, 16) >> (SIGINT - 1)) & 1;
        return false;
    }
};

TEST_F(Program, GotoWithWaitEndsOnItsTarget)
{
    FastController();
    const Result R = RunCtl({"goto", "7000", "--wait", "--timeout", "15"});
    EXPECT_EQ(R.Code, 0) << R.Err;
    EXPECT_EQ(R.Out, "state: Operation done (1)\ncoordinate: 7000\n");
    EXPECT_EQ(R.Err, "");
}

TEST_F(Program, WatchWritesTheSamplesAsCsv)
{
    const fs::path Csv = Dir / "run.csv";
    const Result R = RunCtl({"watch", "--interval", "20", "--count", "5", "--csv", Csv.string()});
    ASSERT_EQ(R.Code, 0) << R.Err;
    EXPECT_NE(R.Out.find("samples: 5, failed reads: 0\n"), std::string::npos) << R.Out;
    std::istringstream In(ReadAll(Csv));
    std::string Line;
    ASSERT_TRUE(std::getline(In, Line));
    EXPECT_EQ(Line, "time_s,coordinate,speed,limits,state_code,state");
    int Rows = 0;
    while (std::getline(In, Line)) {
        double T = 0;
        int Nc = 0, Vc = 0, Lim = 0, Code = -1;
        char Text[64] = {};
        ASSERT_EQ(std::sscanf(Line.c_str(), "%lf,%d,%d,%d,%d,%63[^\n]", &T, &Nc, &Vc, &Lim, &Code, Text), 6) << Line;
        // Never crowded: sample N is taken no earlier than N intervals after
        // the first (a late one may be followed closely by one on time).
        EXPECT_GE(T, 0.020 * Rows - 0.001) << Line;
        ++Rows;
        EXPECT_EQ(Code, 0);
        EXPECT_STREQ(Text, "Stopped");
    }
    EXPECT_EQ(Rows, 5);
}

TEST_F(Program, ApplySettingsSendsTheFirstRunFileAsThePanelConnects)
{
    const fs::path Ini = Dir / "velmor.ini";
    std::ofstream(Ini, std::ios::binary)
        << "[General]\r\nLeft=600\r\nTop=260\r\nVmax=4000\r\n\r\n[Mode]\r\nMicrostep=0\r\nDecay=0\r\n\r\n"
           "[I]\r\nIw=200\r\nIa=300\r\nIh=100\r\nHold=0\r\n\r\n[N]\r\nNr=0\r\nRelative=0\r\n\r\n"
           "[V]\r\nVm=50\r\nVw=100\r\n\r\n[A]\r\nAw=100\r\n\r\n[Adc]\r\nShow=0\r\n\r\n"
           "[Limits]\r\nR=0\r\nL=0\r\nHome=0\r\nHomeDir=1\r\n\r\n[Control]\r\nMode=32\r\n\r\n";
    const Result R = RunCtl({"apply-settings", Ini.string()});
    EXPECT_EQ(R.Code, 0) << R.Err;
    EXPECT_EQ(R.Out, "file: " + Ini.string() +
                         "\nVLM_SetMode(1,0)\nVLM_SetIh(0)\nVLM_SetIa(300)\nVLM_SetIw(200)\nVLM_SetVm(50)\n"
                         "VLM_SetVw(100)\nVLM_SetAw(100)\nVLM_SetLim(0,0,0)\nVLM_SetCtrl(32)\n");
}

TEST_F(Program, CtrlCDuringAWaitStopsTheMotor)
{
    const pid_t Pid = Start({"run", "forward", "--wait"});
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool Ready = false;
    while (!(Ready = CatchesSigint(Pid)) && std::chrono::steady_clock::now() < Deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(kill(Pid, SIGINT), 0);
    const Result R = Finish(Pid);
    EXPECT_TRUE(Ready) << "no SIGINT handler within 10 s";
    EXPECT_EQ(R.Code, 130);
    EXPECT_EQ(R.Err, "velmorctl: interrupted; stop sent (VLM_StartD(0))\n");
}

TEST_F(Program, AStopRequestWhileTheOutputIsBlockedLosesNoLine)
{
    // As a watch piped into a pager that is not reading: the request comes
    // while a write waits for room. The write goes on once there is room,
    // and the summary follows it.
    int Pipe[2];
    ASSERT_EQ(pipe2(Pipe, O_CLOEXEC), 0);
    fcntl(Pipe[1], F_SETPIPE_SZ, 4096);
    const int Size = fcntl(Pipe[1], F_GETPIPE_SZ);
    const pid_t Pid = Start({"watch", "--interval", "1"}, Pipe[1]);
    close(Pipe[1]);
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const auto WaitFor = [&](auto Condition) {
        while (!Condition() && std::chrono::steady_clock::now() < Deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return Condition();
    };
    const auto Full = [&] {
        int Queued = 0;
        std::string Wchan;
        std::ifstream("/proc/" + std::to_string(Pid) + "/wchan") >> Wchan;
        return ioctl(Pipe[0], FIONREAD, &Queued) == 0 && Queued > Size - 100 &&
               StatusField(Pid, "State:").rfind("S", 0) == 0 && Wchan.find("pipe_write") != std::string::npos;
    };
    EXPECT_TRUE(WaitFor(Full)) << "the watch did not wait in a write within 10 s";
    ASSERT_EQ(kill(Pid, SIGTERM), 0);
    // Nothing is read until the request has been taken.
    EXPECT_TRUE(WaitFor([&] {
        return StatusField(Pid, "SigPnd:").find_first_not_of('0') == std::string::npos &&
               StatusField(Pid, "ShdPnd:").find_first_not_of('0') == std::string::npos;
    }));
    std::string Text;
    char Buf[4096];
    pollfd In{Pipe[0], POLLIN, 0};
    while (std::chrono::steady_clock::now() < Deadline + std::chrono::seconds(10)) {
        if (poll(&In, 1, 100) <= 0)
            continue;
        const ssize_t N = read(Pipe[0], Buf, sizeof Buf);
        if (N <= 0)
            break;
        Text.append(Buf, static_cast<size_t>(N));
    }
    close(Pipe[0]);
    const Result R = Finish(Pid);
    EXPECT_EQ(R.Code, 0) << R.Err;
    const size_t Summary = Text.rfind("\nsamples: ");
    ASSERT_NE(Summary, std::string::npos) << Text.substr(Text.size() > 200 ? Text.size() - 200 : 0);
    EXPECT_EQ(Text.find('\n', Summary + 1), Text.size() - 1);
    const int Samples = std::atoi(Text.c_str() + Summary + 10);
    EXPECT_EQ(std::count(Text.begin(), Text.end(), '\n'), Samples + 2); // the header, the samples, the summary
}

TEST_F(Program, AFailedOpenExitsThreeWithTheLibrarysText)
{
    std::ofstream(Dir / "control") << "link=down\n";
    const Result R = RunCtl({"status", "--json"});
    EXPECT_EQ(R.Code, 3);
    EXPECT_EQ(R.Err, "velmorctl: the device did not open: No answer from the controller: the link is down\n");
    EXPECT_EQ(R.Out, "");
}

} // namespace
