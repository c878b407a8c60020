// The real velmorctl on velmor-sim's pseudo-terminal, run as child processes.
#include "tests/velmorctl/ProgramFixture.h"

namespace {

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
    void StartSim(const std::string& Addresses = "1")
    {
        int Pipe[2];
        ASSERT_EQ(pipe2(Pipe, O_CLOEXEC), 0);
        const std::string Line = (Dir / "line").string(), State = (Dir / "state.ini").string(),
                          Control = (Dir / "control").string();
        std::vector<std::string> Args = {"velmor-sim", "--pty",   Line,     "--state", State,
                                         "--control",  Control, "--address", Addresses};
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
    const Core::Status Saved = Sim::SaveParameters((Dir / "state.ini").string(), P);
    ASSERT_TRUE(Saved) << Saved.Text();
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
    EXPECT_TRUE(ReadUntil(Pipe[0], Got,
                          [](const std::string& G) { return std::count(G.begin(), G.end(), '\n') >= 2; })) << Got;
    close(Pipe[0]);
    const auto Closed = std::chrono::steady_clock::now();
    const Result R = Finish(Pid);
    const auto Took = std::chrono::steady_clock::now() - Closed;
    EXPECT_EQ(R.Code, 7);
    EXPECT_EQ(R.Err, "velmorctl: cannot write standard output: Broken pipe\n");
    EXPECT_LT(Took, std::chrono::milliseconds(1900)) << "more than one interval after its reader went";
    EXPECT_EQ(RunCtl({"status"}).Code, 0);
}

TEST_F(OnTheLine, CtrlCEndsAWatchAndTheMotionAnotherCommandStartedGoesOn)
{
    StartSim();
    ASSERT_EQ(RunCtl({"set", "vw=2000", "aw=4000"}).Code, 0);
    ASSERT_EQ(RunCtl({"run", "forward"}).Code, 0);
    int Pipe[2];
    ASSERT_EQ(pipe2(Pipe, O_CLOEXEC), 0);
    const pid_t Pid = Start({"watch", "--interval", "50"}, Pipe[1]);
    close(Pipe[1]);
    std::string Got;
    EXPECT_TRUE(ReadUntil(Pipe[0], Got,
                          [](const std::string& G) { return G.find("Rotating...") != std::string::npos; })) << Got;
    ASSERT_EQ(kill(Pid, SIGINT), 0);
    const Result R = Finish(Pid);
    close(Pipe[0]);
    EXPECT_EQ(R.Code, 128 + SIGINT) << R.Err;
    EXPECT_EQ(R.Err, "velmorctl: interrupted (SIGINT); nothing sent, the motor is left as it is\n");
    // The motor runs on and reaches its working speed: no stop was sent.
    EXPECT_TRUE(WaitFor([&] {
        const Status S = ReadStatus();
        return S.State == 3 && S.Speed == 2000;
    }));
    EXPECT_EQ(RunCtl({"stop", "--wait", "--timeout", "20"}).Code, 0);
}

TEST_F(OnTheLine, GetSettingsThenApplySettingsRestoresWhatTheControllerHeld)
{
    StartSim();
    // A working speed above the panel's default maximum (4000), half step,
    // a holding current, limit and control words.
    ASSERT_EQ(RunCtl({"set", "step=half", "decay=fast", "iw=1500", "ia=1200", "ih=150", "vm=77", "vw=25000",
                      "aw=30000", "limits=3,1,5", "control=0x13"})
                  .Code,
              0);
    const std::string File = (Dir / "held.ini").string();
    Result R = RunCtl({"get-settings", File});
    ASSERT_EQ(R.Code, 0) << R.Err;
    const Result Saved = RunCtl({"get-settings"});
    ASSERT_EQ(Saved.Code, 0) << Saved.Err;

    // The controller changed since; --diff says what the file would change
    // and changes nothing.
    ASSERT_EQ(RunCtl({"set", "vw=100", "ih=0", "limits=0,0,0"}).Code, 0);
    R = RunCtl({"apply-settings", "--diff", File});
    EXPECT_EQ(R.Code, 0) << R.Err;
    EXPECT_EQ(R.Out, "file: " + File + "\nih: 0 -> 150\nvw: 100 -> 25000\nlimits.backward: 0 -> 3\n"
                     "limits.forward: 0 -> 1\nlimits.home: 0 -> 5\n5 of 12 parameters would change; nothing sent\n");
    EXPECT_EQ(RunCtl({"apply-settings", "--diff", File}).Out, R.Out) << "the first --diff sent something";

    // The file restores every value, as read back.
    R = RunCtl({"apply-settings", "--verify", File});
    EXPECT_EQ(R.Code, 0) << R.Err;
    EXPECT_NE(R.Out.find("verified: the controller holds every value sent\n"), std::string::npos) << R.Out;
    EXPECT_EQ(RunCtl({"get-settings"}).Out, Saved.Out);
}

TEST_F(OnTheLine, AddressPicksOneOfTheControllersOnTheLineAndScanFindsThemAll)
{
    StartSim("1,2,3");
    ASSERT_EQ(RunCtl({"--address", "2", "set", "vw=4000", "aw=20000"}).Code, 0);
    Result R = RunCtl({"--address", "2", "goto", "700", "--wait", "--timeout", "30"});
    EXPECT_EQ(R.Code, 0) << R.Err;
    // Only controller 2 moved.
    for (const auto& [Address, Coordinate] : {std::pair<const char*, int>{"1", 0}, {"2", 700}, {"3", 0}}) {
        R = RunCtl({"--address", Address, "status", "--json"});
        EXPECT_EQ(R.Code, 0) << R.Err;
        EXPECT_EQ(JsonInt(R.Out, "coordinate"), Coordinate) << Address;
    }
    R = RunCtl({"--address", "4", "status"});
    EXPECT_EQ(R.Code, 3) << "an address nobody serves";

    // Exactly the addresses served, each with its text.
    R = RunCtl({"scan", "--addresses", "1-12"});
    EXPECT_EQ(R.Code, 0) << R.Err;
    std::vector<int> Found;
    std::istringstream Lines(R.Out);
    for (std::string L; std::getline(Lines, L);) {
        Found.push_back(std::atoi(L.c_str()));
        EXPECT_NE(L.find("  Virtual controller"), std::string::npos) << L;
    }
    EXPECT_EQ(Found, (std::vector<int>{1, 2, 3}));
    EXPECT_NE(R.Err.find("velmorctl: scanned 12 of 12 addresses\nvelmorctl: 3 controllers found\n"), std::string::npos)
        << R.Err;

    // Ctrl-C midway through the whole line: what was found, and 130 long
    // before the 247 addresses.
    int Pipe[2];
    ASSERT_EQ(pipe2(Pipe, O_CLOEXEC), 0);
    const pid_t Pid = Start({"scan"}, Pipe[1]);
    close(Pipe[1]);
    std::string Got;
    EXPECT_TRUE(ReadUntil(Pipe[0], Got,
                          [](const std::string& G) { return G.find("3  ") != std::string::npos; })) << Got;
    ASSERT_EQ(kill(Pid, SIGINT), 0);
    R = Finish(Pid);
    close(Pipe[0]);
    EXPECT_EQ(R.Code, 128 + SIGINT) << R.Err;
    EXPECT_NE(R.Err.find("velmorctl: scan cancelled (SIGINT) after "), std::string::npos) << R.Err;
    EXPECT_EQ(R.Err.find("scanned 247 of 247"), std::string::npos) << R.Err;
}

TEST_F(OnTheLine, WatchdogStopsARunNobodyPollsAndNotOneThatIsWatched)
{
    StartSim();
    ASSERT_EQ(RunCtl({"set", "vw=2000", "aw=20000"}).Code, 0);
    const auto Quiet = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1500)); };

    // A one-shot run with the watchdog: nothing polls, so it stops.
    Result R = RunCtl({"--watchdog", "300", "run", "forward"});
    ASSERT_EQ(R.Code, 0) << R.Err;
    Quiet();
    Status S = ReadStatus();
    EXPECT_EQ(S.Speed, 0);
    EXPECT_EQ(S.State, 0);

    // A watch is a master that polls: the run goes on while it watches.
    ASSERT_EQ(RunCtl({"--watchdog", "300", "run", "forward"}).Code, 0);
    R = RunCtl({"--watchdog", "300", "watch", "--interval", "50", "--count", "30"});
    EXPECT_EQ(R.Code, 0) << R.Err;
    const size_t LastRow = R.Out.rfind("Rotating...");
    ASSERT_NE(LastRow, std::string::npos) << R.Out;
    EXPECT_EQ(R.Out.find("Stopped"), std::string::npos) << R.Out;
    Quiet();
    EXPECT_EQ(ReadStatus().Speed, 0) << "stopped once the watch had ended";

    // --watchdog 0 turns it off: the run outlives its command.
    ASSERT_EQ(RunCtl({"--watchdog", "0", "run", "backward"}).Code, 0);
    Quiet();
    S = ReadStatus();
    EXPECT_EQ(S.State, 3);
    EXPECT_EQ(S.Speed, -2000);
    EXPECT_EQ(RunCtl({"stop", "--wait", "--timeout", "20"}).Code, 0);
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
