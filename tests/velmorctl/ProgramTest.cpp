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
#include <climits>
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
};

TEST_F(Program, GotoWithWaitEndsOnItsTarget)
{
    FastController();
    const Result R = RunCtl({"goto", "7000", "--wait", "--timeout", "15"});
    EXPECT_EQ(R.Code, 0) << R.Err;
    EXPECT_EQ(R.Out, "state: Operation done (1)\ncoordinate: 7000\ntarget: 7000 (reached)\n");
    EXPECT_EQ(R.Err, "");
}

// The rows of a watch's CSV file, after its header (checked).
std::vector<std::string> CsvRows(const fs::path& P)
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

TEST_F(Program, WatchWritesTheSamplesAsCsv)
{
    const fs::path Csv = Dir / "run.csv";
    const Result R = RunCtl({"watch", "--interval", "20", "--count", "5", "--csv", Csv.string()});
    ASSERT_EQ(R.Code, 0) << R.Err;
    EXPECT_NE(R.Out.find("samples: 5, failed: 0\n"), std::string::npos) << R.Out;
    int Rows = 0;
    for (const std::string& Line : CsvRows(Csv)) {
        double T = 0;
        int Nc = 0, Vc = 0, Lim = 0, Code = -1, Year = 0, Month = 0, Day = 0, Hour = 0, Min = 0, Sec = 0, Milli = -1;
        char Text[64] = {};
        ASSERT_EQ(std::sscanf(Line.c_str(), "%lf,%4d-%2d-%2dT%2d:%2d:%2d.%3dZ,%d,%d,%d,%d,%63[^,\n],", &T, &Year,
                              &Month, &Day, &Hour, &Min, &Sec, &Milli, &Nc, &Vc, &Lim, &Code, Text),
                  13)
            << Line;
        EXPECT_EQ(Line.back(), ',') << "no error: the last column is empty";
        EXPECT_GE(Year, 2024);
        EXPECT_GE(Milli, 0);
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
    while (!(Ready = Catches(Pid)) && std::chrono::steady_clock::now() < Deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(kill(Pid, SIGINT), 0);
    const Result R = Finish(Pid);
    EXPECT_TRUE(Ready) << "no SIGINT handler within 10 s";
    EXPECT_EQ(R.Code, 130);
    EXPECT_EQ(R.Err, "velmorctl: interrupted (SIGINT); stop sent (VLM_StartD(0))\n");
    EXPECT_EQ(R.Out.rfind("state: Stopped (0)\ncoordinate: ", 0), 0u) << R.Out;
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
    EXPECT_EQ(R.Code, 128 + SIGTERM) << R.Err;
    const size_t Summary = Text.rfind("\nsamples: ");
    ASSERT_NE(Summary, std::string::npos) << Text.substr(Text.size() > 200 ? Text.size() - 200 : 0);
    EXPECT_EQ(Text.find('\n', Summary + 1), Text.size() - 1);
    const int Samples = std::atoi(Text.c_str() + Summary + 10);
    // The header, the samples, the state after the stop, the summary.
    EXPECT_EQ(std::count(Text.begin(), Text.end(), '\n'), Samples + 3);
    EXPECT_NE(Text.find("\nstate: Stopped (0), coordinate: 0\nsamples: "), std::string::npos);
    EXPECT_EQ(R.Err, "velmorctl: interrupted (SIGTERM); stop sent (VLM_StartD(0))\n");
}

TEST_F(Program, AFailedOpenExitsThreeWithTheLibrarysText)
{
    std::ofstream(Dir / "control") << "link=down\n";
    const Result R = RunCtl({"status", "--json"});
    EXPECT_EQ(R.Code, 3);
    EXPECT_EQ(R.Err, "velmorctl: the device did not open: No answer from the controller: the link is down\n");
    EXPECT_EQ(R.Out, "");
}

TEST_F(Program, OutputThatCannotBeWrittenExitsSeven)
{
    const int Full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(Full, 0);
    Result R = Finish(Start({"status", "--json"}, Full));
    EXPECT_EQ(R.Code, 7);
    EXPECT_EQ(R.Err, "velmorctl: cannot write standard output: No space left on device\n");
    // A malformed link is a usage error, found before anything opens.
    R = RunCtl({"--link", "bogus", "status"});
    EXPECT_EQ(R.Code, 1);
    EXPECT_NE(R.Err.find("velmorctl: --link: "), std::string::npos) << R.Err;
    close(Full);
}

// velmorctl on velmor-sim's pseudo-terminal: one controller that lives on
// between the commands, as a real one does.
class OnTheLine : public Program {
protected:
    pid_t Sim = -1;
    int SimOut = -1;

    void TearDown() override
    {
        if (Sim > 0) {
            kill(Sim, SIGTERM);
            waitpid(Sim, nullptr, 0);
        }
        if (SimOut >= 0)
            close(SimOut);
        Program::TearDown();
    }

    // Starts velmor-sim on Dir/line with this test's state and control
    // files, waits for its line to be there and points the runs at it.
    void StartSim()
    {
        int Pipe[2];
        ASSERT_EQ(pipe2(Pipe, O_CLOEXEC), 0);
        const std::string Line = (Dir / "line").string(), State = (Dir / "state.ini").string(),
                          Control = (Dir / "control").string();
        std::vector<std::string> Args = {"velmor-sim", "--pty", Line, "--state", State, "--control", Control};
        std::vector<char*> Argv;
        for (std::string& A : Args)
            Argv.push_back(&A[0]);
        Argv.push_back(nullptr);
        posix_spawn_file_actions_t Files;
        posix_spawn_file_actions_init(&Files);
        posix_spawn_file_actions_adddup2(&Files, Pipe[1], 1);
        ASSERT_EQ(posix_spawn(&Sim, VELMOR_SIM_PROGRAM, &Files, nullptr, Argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&Files);
        close(Pipe[1]);
        SimOut = Pipe[0];
        // It names its line once the line is there.
        std::string Said;
        pollfd In{SimOut, POLLIN, 0};
        const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Said.find('\n') == std::string::npos && std::chrono::steady_clock::now() < Deadline) {
            char Buf[256];
            if (poll(&In, 1, 100) > 0) {
                const ssize_t N = read(SimOut, Buf, sizeof Buf);
                if (N <= 0)
                    break;
                Said.append(Buf, static_cast<size_t>(N));
            }
        }
        ASSERT_NE(Said.find(Line), std::string::npos) << "velmor-sim did not come up: " << Said;
        // A generous deadline per request: the machine may be loaded.
        LinkEnv = "VELMOR_LINK=serial:" + Line + "?timeout=500";
    }

    // The controller's status, read by velmorctl.
    struct Status {
        int State = -1, Coordinate = 0, Speed = -1;
    };
    Status ReadStatus()
    {
        const Result R = RunCtl({"status", "--json"});
        Status S;
        EXPECT_EQ(R.Code, 0) << R.Err;
        EXPECT_EQ(std::sscanf(R.Out.c_str(), "{\"state\":%*[^,],\"state_code\":%d,\"coordinate\":%d,\"speed\":%d",
                              &S.State, &S.Coordinate, &S.Speed),
                  3)
            << R.Out;
        return S;
    }

    // The status block read by mbpoll, a Modbus tool nobody here wrote:
    // false when there is no mbpoll or it did not read.
    bool MbpollStatus(Status& S)
    {
        if (access("/usr/bin/mbpoll", X_OK) != 0)
            return false;
        const std::string Cmd = "/usr/bin/mbpoll -m rtu -a 1 -b 115200 -P none -t 3 -0 -r 0 -c 9 -1 -q -o 1 " +
                                (Dir / "line").string() + " 2>&1";
        FILE* P = popen(Cmd.c_str(), "r");
        if (!P)
            return false;
        int Reg[9];
        int Got = 0;
        char Line[256];
        while (std::fgets(Line, sizeof Line, P)) {
            int I = -1, V = 0;
            if (std::sscanf(Line, "[%d]: %d", &I, &V) == 2 && I >= 0 && I < 9) {
                Reg[I] = V & 0xFFFF;
                ++Got;
            }
        }
        pclose(P);
        if (Got != 9)
            return false;
        S.State = Reg[0];
        S.Coordinate = static_cast<int32_t>(static_cast<uint32_t>(Reg[1]) << 16 | static_cast<uint32_t>(Reg[2]));
        S.Speed = static_cast<int32_t>(static_cast<uint32_t>(Reg[5]) << 16 | static_cast<uint32_t>(Reg[6]));
        return true;
    }

    static int JsonInt(const std::string& Text, const std::string& Key)
    {
        const size_t At = Text.find("\"" + Key + "\":");
        return At == std::string::npos ? INT32_MIN : std::atoi(Text.c_str() + At + Key.size() + 3);
    }
};

TEST_F(OnTheLine, AGotoPastALimitReturnsOnlyAtRestWithFour)
{
    Sim::Parameters P;
    P.Vm = 1000;
    P.Vw = 30000;
    P.Aw = 40000;
    P.LimBackward = 1; // enabled, ramped stop
    P.LimForward = 1;
    std::string Error;
    ASSERT_TRUE(Sim::SaveParameters((Dir / "state.ini").string(), P, Error)) << Error;
    StartSim();

    // The switch at 20000 trips at full speed; the ramp ends well short of
    // the target.
    const Result R = RunCtl({"goto", "40000", "--wait", "--json"});
    EXPECT_EQ(R.Code, 4) << R.Err;
    EXPECT_NE(R.Out.find("\"state_code\":2,"), std::string::npos) << R.Out;
    EXPECT_NE(R.Out.find("\"reason\":\"limit\""), std::string::npos) << R.Out;
    const int Rest = JsonInt(R.Out, "coordinate");
    EXPECT_GT(Rest, 20000) << "the ramp after the switch belongs to the wait";
    EXPECT_LT(Rest, 40000);

    const Status Now = ReadStatus();
    EXPECT_EQ(Now.Coordinate, Rest);
    EXPECT_EQ(Now.Speed, 0);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(ReadStatus().Coordinate, Rest) << "moved on after the wait said it was at rest";
}

TEST_F(OnTheLine, AHangUpDuringAWaitLeavesTheControllerStopped)
{
    StartSim();
    // The stored defaults: 100 half-steps per second, minutes to the target.
    const pid_t Pid = Start({"goto", "15000", "--wait"});
    EXPECT_TRUE(WaitFor([&] { return Catches(Pid, SIGHUP); }));
    ASSERT_EQ(kill(Pid, SIGHUP), 0);
    const Result R = Finish(Pid);
    EXPECT_EQ(R.Code, 128 + SIGHUP) << R.Err;
    EXPECT_NE(R.Err.find("interrupted (SIGHUP); stop sent (VLM_StartD(0))"), std::string::npos) << R.Err;

    const Status First = ReadStatus();
    EXPECT_LE(First.State, 2);
    EXPECT_EQ(First.Speed, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Status Later = ReadStatus();
    EXPECT_EQ(Later.Coordinate, First.Coordinate);
    EXPECT_EQ(Later.Speed, 0);

    // The same seen by mbpoll on the line.
    Status Seen;
    if (!MbpollStatus(Seen))
        GTEST_SKIP() << "no mbpoll (Debian package mbpoll) to look at the line with";
    EXPECT_LE(Seen.State, 2);
    EXPECT_EQ(Seen.Coordinate, First.Coordinate);
    EXPECT_EQ(Seen.Speed, 0);
}

TEST_F(OnTheLine, ATimeoutStopsTheMotorAndExitsFiveOnlyAtRest)
{
    StartSim();
    const Result R = RunCtl({"goto", "15000", "--wait", "--timeout", "0.3", "--json"});
    EXPECT_EQ(R.Code, 5) << R.Err;
    EXPECT_NE(R.Out.find("\"reason\":\"timeout\""), std::string::npos) << R.Out;
    const Status Now = ReadStatus();
    EXPECT_EQ(Now.Speed, 0);
    EXPECT_EQ(Now.Coordinate, JsonInt(R.Out, "coordinate"));
    EXPECT_GT(Now.Coordinate, 0);
}

TEST_F(OnTheLine, AWatchIntoAClosedPipeEndsWithinAnIntervalAndFreesThePort)
{
    StartSim();
    int Pipe[2];
    ASSERT_EQ(pipe2(Pipe, O_CLOEXEC), 0);
    // As a service or a Python subprocess runs it: SIGPIPE ignored.
    struct sigaction Ignore {}, Before {};
    Ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &Ignore, &Before);
    const pid_t Pid = Start({"watch", "--interval", "1000"}, Pipe[1]);
    sigaction(SIGPIPE, &Before, nullptr);
    close(Pipe[1]);
    // The header and the first sample, then the reader goes away.
    std::string Got;
    EXPECT_TRUE(WaitFor([&] {
        pollfd In{Pipe[0], POLLIN, 0};
        char Buf[512];
        if (poll(&In, 1, 10) > 0) {
            const ssize_t N = read(Pipe[0], Buf, sizeof Buf);
            if (N > 0)
                Got.append(Buf, static_cast<size_t>(N));
        }
        return std::count(Got.begin(), Got.end(), '\n') >= 2;
    })) << Got;
    close(Pipe[0]);
    const auto Closed = std::chrono::steady_clock::now();
    const Result R = Finish(Pid);
    const auto Took = std::chrono::steady_clock::now() - Closed;
    EXPECT_EQ(R.Code, 7);
    EXPECT_EQ(R.Err, "velmorctl: cannot write standard output: Broken pipe\n");
    EXPECT_LT(Took, std::chrono::milliseconds(1900)) << "more than one interval after its reader went";
    EXPECT_EQ(RunCtl({"status"}).Code, 0);
}

TEST_F(OnTheLine, ALinkLossDuringAWatchLeavesRowsWithTheirErrors)
{
    StartSim();
    const fs::path Csv = Dir / "run.csv";
    const pid_t Pid = Start({"watch", "--interval", "50", "--count", "80", "--csv", Csv.string()});
    const auto Rows = [&] {
        const std::string T = ReadAll(Csv);
        return std::count(T.begin(), T.end(), '\n');
    };
    EXPECT_TRUE(WaitFor([&] { return Rows() >= 4; }));
    std::ofstream(Dir / "control") << "link=down\n";
    EXPECT_TRUE(WaitFor([&] { return ReadAll(Csv).find(",,,,,,") != std::string::npos; }));
    std::ofstream(Dir / "control") << "link=up\n";
    const Result R = Finish(Pid);
    EXPECT_EQ(R.Code, 6) << R.Err;
    EXPECT_NE(R.Err.find(" of 80 samples could not be read"), std::string::npos) << R.Err;

    int Count = 0, Failed = 0;
    double Last = -1;
    std::string Line;
    for (const std::string& Row : CsvRows(Csv)) {
        Line = Row;
        ++Count;
        const double T = std::atof(Line.c_str());
        EXPECT_GT(T, Last) << Line;
        Last = T;
        const size_t Gap = Line.find(",,,,,,");
        if (Gap != std::string::npos) {
            ++Failed;
            EXPECT_GT(Line.size(), Gap + 6) << "a failed row without its error: " << Line;
        } else {
            EXPECT_EQ(Line.back(), ',') << Line;
        }
    }
    EXPECT_EQ(Count, 80);
    EXPECT_GT(Failed, 0);
    EXPECT_EQ(Line.find(",,,,,,"), std::string::npos) << "the link did not come back: " << Line;
}

TEST_F(OnTheLine, TwoLoopsSharingTheLineWithLockWaitBothSucceedEveryTime)
{
    StartSim();
    const auto Loop = [&](const std::string& Tag, std::vector<int>& Codes) {
        for (int I = 0; I < 12; ++I)
            Codes.push_back(Finish(Start({"--lock-wait", "5", "status", "--json"}, -1, Tag), Tag).Code);
    };
    std::vector<int> A, B;
    std::thread Other([&] { Loop("b", B); });
    Loop("a", A);
    Other.join();
    EXPECT_EQ(A, std::vector<int>(12, 0));
    EXPECT_EQ(B, std::vector<int>(12, 0));
}

} // namespace
