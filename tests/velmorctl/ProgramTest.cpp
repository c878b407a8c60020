// The real velmorctl on the virtual controller, run as a child process with
// its own state and control files.
#include "tests/velmorctl/ProgramFixture.h"

namespace {

TEST_F(Program, GotoWithWaitEndsOnItsTarget)
{
    FastController();
    const Result R = RunCtl({"goto", "7000", "--wait", "--timeout", "15"});
    EXPECT_EQ(R.Code, 0) << R.Err;
    EXPECT_EQ(R.Out, "state: Operation done (1)\ncoordinate: 7000\ntarget: 7000 (reached)\n");
    EXPECT_EQ(R.Err, "");
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
    // The header, the samples, the summary: a watch sends no stop, so no
    // state after one.
    EXPECT_EQ(std::count(Text.begin(), Text.end(), '\n'), Samples + 2);
    EXPECT_EQ(Text.find("\nstate: "), std::string::npos);
    EXPECT_EQ(R.Err, "velmorctl: interrupted (SIGTERM); nothing sent, the motor is left as it is\n");
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

} // namespace
