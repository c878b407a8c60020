// velmorctl's waits, signals, watch, apply-settings and ports on the
// recording test double, with a clock the test drives.
#include "tests/velmorctl/CtlFixture.h"

namespace {

// Queues the states and speeds the next polls read.
void QueuePolls(std::initializer_list<std::pair<int32_t, int32_t>> StateAndSpeed)
{
    for (const auto& P : StateAndSpeed) {
        VD::QueueRead("VLM_GetStat", P.first);
        VD::QueueRead("VLM_GetVc", P.second);
    }
}

Strings Polls(int N)
{
    Strings S;
    for (int I = 0; I < N; ++I) {
        S.push_back("VLM_GetStat()");
        S.push_back("VLM_GetVc()");
    }
    return S;
}

Strings Join(Strings A, const Strings& B)
{
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

TEST_F(Ctl, WaitEndsOnlyWhenTwoPollsInARowFindTheMotorAtRest)
{
    // "Operation done" with speed left, then a rest broken by a new motion:
    // neither ends the wait.
    QueuePolls({{4, 800}, {1, 0}, {4, 300}, {1, 0}, {1, 0}});
    VD::SetRead("VLM_GetNc", 5000);
    ASSERT_EQ(Run({"goto", "5000", "--wait"}), 0) << Err.str();
    EXPECT_EQ(Out.str(), "state: Operation done (1)\ncoordinate: 5000\ntarget: 5000 (reached)\n");
    EXPECT_EQ(VD::Log(), Session(Join(Join({"VLM_StartN(5000)"}, Polls(5)), {"VLM_GetNc()"})));
    EXPECT_EQ(Deadlines, (std::vector<int64_t>{100 * Ms, 200 * Ms, 300 * Ms, 400 * Ms, 500 * Ms}));

    // A homing that ends in "Operation done" gives its home coordinate; the
    // JSON object holds the same.
    VD::Reset();
    Out.str("");
    Base = 0;
    QueuePolls({{6, 100}, {1, 0}, {1, 0}});
    VD::SetRead("VLM_GetNc", 4990);
    VD::SetRead("VLM_GetNb", 5012);
    ASSERT_EQ(Run({"home", "forward", "--wait", "--json"}), 0);
    EXPECT_EQ(Out.str(), "{\"state\":\"Operation done\",\"state_code\":1,\"coordinate\":4990,\"target\":null,"
                         "\"on_target\":null,\"elapsed_s\":0.300,\"reason\":\"done\",\"home_coordinate\":5012}\n");
    EXPECT_EQ(VD::CallsOf("VLM_GetNb").size(), 1u);
}

TEST_F(Ctl, HowAMotionCameToRestGivesItsExitCode)
{
    const struct {
        Strings Args;
        std::initializer_list<std::pair<int32_t, int32_t>> Polls;
        int32_t Nc;
        int Code;
        const char* Out;
        const char* Err;
    } Cases[] = {
        // The limit state shows at once while the ramp goes on.
        {{"run", "forward", "--wait"}, {{3, 900}, {2, 400}, {2, 0}, {2, 0}}, 20625, 4,
         "state: Limit reached (2)\ncoordinate: 20625\n",
         "velmorctl: Limit reached: a limit switch stopped the motion at 20625\n"},
        // A limit whose ramp happens to end on the target is still a limit.
        {{"goto", "100", "--wait"}, {{2, 50}, {2, 0}, {2, 0}}, 100, 4,
         "state: Limit reached (2)\ncoordinate: 100\ntarget: 100 (reached)\n",
         "velmorctl: Limit reached: a limit switch stopped the motion at 100\n"},
        {{"goto", "100", "--wait"}, {{4, 50}, {0, 0}, {0, 0}}, 60, 2,
         "state: Stopped (0)\ncoordinate: 60\ntarget: 100 (not reached)\n",
         "velmorctl: the motor came to rest at 60 (Stopped) short of its target\n"},
        {{"move-by", "-500", "--wait"}, {{1, 0}, {1, 0}}, -500, 0, "state: Operation done (1)\ncoordinate: -500\n",
         ""},
        {{"stop", "--wait"}, {{2, 0}, {2, 0}}, 20000, 0, "state: Limit reached (2)\ncoordinate: 20000\n", ""},
        {{"wait", "--target", "7"}, {{1, 0}, {1, 0}}, 7, 0, "state: Operation done (1)\ncoordinate: 7\ntarget: 7 (reached)\n",
         ""},
        {{"wait", "--json"}, {{2, 0}, {2, 0}}, -20000, 4,
         "{\"state\":\"Limit reached\",\"state_code\":2,\"coordinate\":-20000,\"target\":null,\"on_target\":null,"
         "\"elapsed_s\":0.200,\"reason\":\"limit\"}\n",
         "velmorctl: Limit reached: a limit switch stopped the motion at -20000\n"},
    };
    for (const auto& C : Cases) {
        VD::Reset();
        Out.str("");
        Err.str("");
        Base = 0;
        QueuePolls(C.Polls);
        VD::SetRead("VLM_GetNc", C.Nc);
        EXPECT_EQ(Run(C.Args), C.Code) << C.Args[0];
        EXPECT_EQ(Out.str(), C.Out) << C.Args[0];
        EXPECT_EQ(Err.str(), C.Err) << C.Args[0];
        EXPECT_EQ(VD::CallsOf("VLM_GetStat").size(), C.Polls.size()) << C.Args[0];
    }
    // wait sends nothing.
    EXPECT_EQ(VD::Log(), Session(Join(Polls(2), {"VLM_GetNc()"})));
}

TEST_F(Ctl, TimeoutStopsTheMotorAndWaitsForRestBeforeItExits)
{
    QueuePolls({{4, 100}, {4, 100}, {4, 100}, {4, 50}, {0, 0}, {0, 0}});
    VD::SetRead("VLM_GetNc", 80);
    EXPECT_EQ(Run({"goto", "100", "--wait", "--timeout", "0.25"}), 5);
    EXPECT_EQ(VD::Log(), Session(Join(Join(Join({"VLM_StartN(100)"}, Polls(2)), {"VLM_StartD(0)"}),
                                      Join(Polls(4), {"VLM_GetNc()"}))));
    EXPECT_EQ(Err.str(), "velmorctl: still moving (Positioning...) after 250 ms; stop sent (VLM_StartD(0))\n");
    EXPECT_EQ(Out.str(), "state: Stopped (0)\ncoordinate: 80\ntarget: 100 (not reached)\n");
}

TEST_F(Ctl, ASignalDuringAWaitStopsTheMotorWaitsForRestAndExitsWithItsNumber)
{
    QueuePolls({{3, 500}, {3, 500}, {3, 200}, {0, 0}, {0, 0}});
    SignalWhen = [] { return VD::CallsOf("VLM_GetStat").size() >= 2 ? SIGHUP : 0; };
    EXPECT_EQ(Run({"run", "backward", "--wait"}), 128 + SIGHUP);
    EXPECT_EQ(VD::Log(), Session(Join(Join(Join({"VLM_StartD(-1)"}, Polls(2)), {"VLM_StartD(0)"}),
                                      Join(Polls(3), {"VLM_GetNc()"}))));
    EXPECT_EQ(Err.str(), "velmorctl: interrupted (SIGHUP); stop sent (VLM_StartD(0))\n");
    EXPECT_EQ(Out.str(), "state: Stopped (0)\ncoordinate: 0\n");

    // A stop that cannot be sent is said as such, with the link's code.
    VD::Reset();
    Err.str("");
    VD::Fail("VLM_StartD", "Link down", 1);
    SignalWhen = [] { return SIGINT; };
    EXPECT_EQ(Run({"goto", "10", "--wait"}), 6);
    EXPECT_EQ(Err.str(), "velmorctl: interrupted (SIGINT); the stop (VLM_StartD(0)) failed: Link down; the motor "
                         "may still be moving\n");

    // A command that does not wait finishes its work and reports the signal.
    VD::Reset();
    EXPECT_EQ(Run({"store"}), 128 + SIGINT);
    EXPECT_EQ(VD::Log(), Session({"VLM_SavePar()"}));
}

TEST_F(Ctl, ALostLinkDuringAWaitSaysTheMotorMayStillMove)
{
    VD::Fail("VLM_GetStat", "No answer", -1);
    VD::Fail("VLM_StartD", "No answer", -1);
    EXPECT_EQ(Run({"goto", "500", "--wait", "--json"}), 6);
    EXPECT_EQ(VD::Log(), Session({"VLM_StartN(500)", "VLM_GetStat()", "VLM_GetLastError()", "VLM_StartD(0)",
                                  "VLM_GetLastError()"}));
    EXPECT_EQ(Err.str(), "velmorctl: the link was lost during the wait: No answer; the motor may still be moving "
                         "and no stop could be sent\n");
    EXPECT_EQ(Out.str(), "{\"state\":null,\"state_code\":null,\"coordinate\":null,\"target\":500,"
                         "\"on_target\":null,\"elapsed_s\":0.100,\"reason\":\"link lost\"}\n");
}

TEST(CtlSystem, ASleepBegunAfterCtrlCEndsAtOnce)
{
    // Ctrl-C that comes between a loop's look at the flag and its sleep must
    // not be slept through: the sleep looks again with the signal held.
    std::ostringstream Out, Err;
    VelmorCtl::Context Ctx = VelmorCtl::SystemContext(Out, Err);
    VelmorCtl::InstallSignalHandlers();
    ASSERT_EQ(raise(SIGINT), 0);
    ASSERT_EQ(VelmorCtl::SignalReceived(), SIGINT);
    const int64_t Start = Ctx.Now();
    Ctx.SleepUntil(Start + 20000 * Ms);
    EXPECT_LT(Ctx.Now() - Start, 10000 * Ms);
}

TEST(CtlSystem, ASecondStopSignalEndsTheProgramAtOnce)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            VelmorCtl::InstallSignalHandlers();
            raise(SIGTERM);
            if (VelmorCtl::SignalReceived() != SIGTERM)
                _exit(1);
            raise(SIGHUP);
            _exit(2);
        },
        ::testing::ExitedWithCode(128 + SIGHUP), "");
}

TEST_F(Ctl, WatchKeepsItsIntervalWhenReadsAreSlow)
{
    // 20 ms per call: a sample takes 80 ms and the next one is still due on
    // the 100 ms grid, counted from the first sample.
    CallCost = 20 * Ms;
    ASSERT_EQ(Run({"watch", "--count", "4"}), 0);
    const int64_t Start = 20 * Ms; // after the open
    EXPECT_EQ(Deadlines, (std::vector<int64_t>{Start + 100 * Ms, Start + 200 * Ms, Start + 300 * Ms}));
    // Each row is timed at the answer of its first read, one call after
    // it was due.
    EXPECT_NE(Out.str().find("   0.320 2026-12-10T00:00:00.340Z           0      0      0  Stopped\n"
                             "samples: 4, failed: 0\n"),
              std::string::npos)
        << Out.str();

    // 30 ms per call: 120 ms per sample, so every other grid point is skipped
    // and the samples stay on the grid.
    VD::Reset();
    Deadlines.clear();
    Base = 0;
    CallCost = 30 * Ms;
    Out.str("");
    ASSERT_EQ(Run({"watch", "--count", "3", "--csv", "-"}), 0);
    EXPECT_EQ(Out.str(), "time_s,time_utc,coordinate,speed,limits,state_code,state,error\n"
                         "0.030,2026-12-10T00:00:00.060Z,0,0,0,0,Stopped,\n"
                         "0.230,2026-12-10T00:00:00.260Z,0,0,0,0,Stopped,\n"
                         "0.430,2026-12-10T00:00:00.460Z,0,0,0,0,Stopped,\n");
    EXPECT_NE(Err.str().find("samples: 3, failed: 0"), std::string::npos);
}

TEST_F(Ctl, WatchShowsEachLostSampleAsARowAndReopensWithoutSendingAnything)
{
    VD::SetRead("VLM_GetNc", 42);
    VD::SetRead("VLM_GetStat", 3);
    VD::Fail("VLM_GetLim", "No answer from the controller", 1);
    VD::FailCallAt(4, "No answer"); // the first reopen
    ASSERT_EQ(Run({"watch", "--count", "3", "--interval", "50", "--csv", "-"}), 6);
    EXPECT_EQ(VD::Log(), Session({"VLM_GetNc()", "VLM_GetLim()", "VLM_GetLastError()", // lost
                                  "VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_GetLastError()", // still down
                                  "VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_GetNc()", "VLM_GetLim()",
                                  "VLM_GetVc()", "VLM_GetStat()"}));
    EXPECT_EQ(Out.str(), "time_s,time_utc,coordinate,speed,limits,state_code,state,error\n"
                         "0.000,2026-12-10T00:00:00.000Z,,,,,,No answer from the controller\n"
                         "0.050,2026-12-10T00:00:00.050Z,,,,,,No answer\n"
                         "0.100,2026-12-10T00:00:00.100Z,42,0,0,3,Rotating...,\n");
    EXPECT_EQ(Err.str(), "  time_s time_utc                  coordinate  speed limits  state\n"
                         "   0.000 2026-12-10T00:00:00.000Z                              error: No answer from the "
                         "controller\n"
                         "   0.050 2026-12-10T00:00:00.050Z                              error: No answer\n"
                         "   0.100 2026-12-10T00:00:00.100Z          42      0      0  Rotating...\n"
                         "samples: 3, failed: 2\n"
                         "velmorctl: 2 of 3 samples could not be read\n");

    // Every read failing: every row is there, each with its error.
    VD::Reset();
    Out.str("");
    Base = 0;
    VD::Fail("VLM_GetNc", "Encoder fault", -1);
    ASSERT_EQ(Run({"watch", "--count", "4", "--csv", "-"}), 6);
    const std::string Csv = Out.str();
    EXPECT_EQ(std::count(Csv.begin(), Csv.end(), '\n'), 5);
    EXPECT_EQ(Csv.rfind(",,,,,,Encoder fault\n"), Csv.size() - 20);
}

TEST_F(Ctl, AWatchWhoseCsvFileCannotBeCreatedExitsSevenAndLeavesTheDevice)
{
    EXPECT_EQ(Run({"watch", "--count", "2", "--csv", "/nonexistent/run.csv"}), 7);
    EXPECT_EQ(Err.str(), "velmorctl: cannot write the CSV file '/nonexistent/run.csv': No such file or directory\n");
    EXPECT_EQ(VD::Log(), Session({}));
}

TEST_F(Ctl, ASignalEndsAWatchWithItsSummaryAndSendsNothing)
{
    // A watch observes a motion another program started: the signal ends
    // the watch, never the motion.
    const std::pair<int, const char*> Signals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
    for (const auto& [Sig, Name] : Signals) {
        VD::Reset();
        Out.str("");
        Err.str("");
        SignalWhen = [Sig = Sig] { return VD::CallsOf("VLM_GetStat").size() >= 3 ? Sig : 0; };
        VD::SetRead("VLM_GetNc", 1234);
        VD::SetRead("VLM_GetStat", 3);
        VD::SetRead("VLM_GetVc", 2000);
        EXPECT_EQ(Run({"watch"}), 128 + Sig);
        EXPECT_EQ(Err.str(), std::string("velmorctl: interrupted (") + Name +
                                 "); nothing sent, the motor is left as it is\n");
        Strings Sample = {"VLM_GetNc()", "VLM_GetLim()", "VLM_GetVc()", "VLM_GetStat()"};
        EXPECT_EQ(VD::Log(), Session(Join(Join(Sample, Sample), Sample)));
        EXPECT_EQ(Out.str(), "  time_s time_utc                  coordinate  speed limits  state\n"
                             "   0.000 2026-12-10T00:00:00.000Z        1234   2000      0  Rotating...\n"
                             "   0.100 2026-12-10T00:00:00.100Z        1234   2000      0  Rotating...\n"
                             "   0.200 2026-12-10T00:00:00.200Z        1234   2000      0  Rotating...\n"
                             "samples: 3, failed: 0\n");
        Base = 0;
    }
}

TEST_F(Ctl, WatchTimesASampleWhenItsAnswerArrived)
{
    // The second sample's status read is repeated by the library and its
    // answer arrives 110 ms after the request: its row carries that time,
    // and the next sample keeps to the interval's grid after it.
    static int64_t* Clock = nullptr;
    Clock = &Base;
    VD::SetCallSink([](const VD::Call& C) {
        if (C.Name == "VLM_GetNc" && VD::CallsOf("VLM_GetNc").size() == 1) // the second, as it is made
            *Clock += 110 * Ms;
    });
    VD::SetRead("VLM_GetNc", 7);
    ASSERT_EQ(Run({"watch", "--count", "3", "--csv", "-"}), 0) << Err.str();
    VD::SetCallSink(nullptr);
    EXPECT_EQ(Out.str(), "time_s,time_utc,coordinate,speed,limits,state_code,state,error\n"
                         "0.000,2026-12-10T00:00:00.000Z,7,0,0,0,Stopped,\n"
                         "0.210,2026-12-10T00:00:00.210Z,7,0,0,0,Stopped,\n"
                         "0.300,2026-12-10T00:00:00.300Z,7,0,0,0,Stopped,\n");

    // A failed read is timed when its failure was known.
    VD::Reset();
    Out.str("");
    Base = 0;
    CallCost = 5 * Ms;
    VD::Fail("VLM_GetNc", "No answer from the controller", 1);
    ASSERT_EQ(Run({"watch", "--count", "1", "--csv", "-"}), 6);
    // The open at 5 ms starts the watch; the read (10 ms) and the error
    // text (15 ms) come before the failure is known.
    EXPECT_NE(Out.str().find("\n0.010,2026-12-10T00:00:00.015Z,,,,,,No answer from the controller\n"),
              std::string::npos)
        << Out.str();
}

TEST_F(Ctl, ApplySettingsSendsThePanelsConnectionFromTheFile)
{
    TempDir Dir;
    // The file a first run of the panel leaves, found beside the program.
    {
        std::ofstream F(Dir.Path / "velmor.ini", std::ios::binary);
        F << "[General]\r\nLeft=600\r\nTop=260\r\nVmax=4000\r\n\r\n[Mode]\r\nMicrostep=0\r\nDecay=0\r\n\r\n"
             "[I]\r\nIw=200\r\nIa=300\r\nIh=100\r\nHold=0\r\n\r\n[N]\r\nNr=0\r\nRelative=0\r\n\r\n"
             "[V]\r\nVm=50\r\nVw=100\r\n\r\n[A]\r\nAw=100\r\n\r\n[Adc]\r\nShow=0\r\n\r\n"
             "[Limits]\r\nR=0\r\nL=0\r\nHome=0\r\nHomeDir=1\r\n\r\n[Control]\r\nMode=32\r\n\r\n";
    }
    Ctx.ExePath = (Dir.Path / "velmorctl").string();
    ASSERT_EQ(Run({"apply-settings"}), 0) << Err.str();
    const Strings FirstRun = {"VLM_SetMode(1,0)", "VLM_SetIh(0)",  "VLM_SetIa(300)",     "VLM_SetIw(200)",
                              "VLM_SetVm(50)",    "VLM_SetVw(100)", "VLM_SetAw(100)",    "VLM_SetLim(0,0,0)",
                              "VLM_SetCtrl(32)"};
    EXPECT_EQ(VD::Log(), Session(FirstRun));
    Strings Printed = {"file: " + (Dir.Path / "velmor.ini").string()};
    Printed.insert(Printed.end(), FirstRun.begin(), FirstRun.end());
    std::string Want;
    for (const std::string& S : Printed)
        Want += S + "\n";
    EXPECT_EQ(Out.str(), Want);

    // A bench file: holding on, half step, a working speed above the
    // maximum, words in hexadecimal; missing keys take the defaults.
    VD::Reset();
    {
        std::ofstream F(Dir.Path / "bench.ini");
        F << "[General]\nVmax=5000\n[Mode]\nMicrostep=1\nDecay=1\n[I]\nIh=150\nHold=1\nIw=0x1F4\n"
             "[V]\nVw=9000\n[Limits]\nR=1\nL=3\nHome=5\n[Control]\nMode=0x13\n";
    }
    ASSERT_EQ(Run({"apply-settings", (Dir.Path / "bench.ini").string()}), 0) << Err.str();
    EXPECT_EQ(VD::Log(), Session({"VLM_SetMode(2,1)", "VLM_SetIh(150)", "VLM_SetIa(300)", "VLM_SetIw(500)",
                                  "VLM_SetVm(50)", "VLM_SetVw(5000)", "VLM_SetAw(100)", "VLM_SetLim(3,1,5)",
                                  "VLM_SetCtrl(19)"}));
}

TEST_F(Ctl, ApplySettingsRefusesAFileThatIsNotThePanelsAndNamesMalformedValues)
{
    TempDir Dir;
    const fs::path Prose = Dir.Path / "notes.txt", Csv = Dir.Path / "run.csv", Typo = Dir.Path / "typo.ini";
    std::ofstream(Prose) << "Bench 3: the backlash is about 12 half-steps.\n";
    std::ofstream(Csv) << "time_s,coordinate\n0.000,Iw=5\n";
    // Keys the panel writes, in sections it does not, are not its settings.
    std::ofstream(Dir.Path / "elsewhere.ini") << "[Motor]\nIw=500\nVw=2000\n";
    for (const fs::path& P : {Prose, Csv, Dir.Path / "elsewhere.ini"}) {
        VD::Reset();
        Err.str("");
        EXPECT_EQ(Run({"apply-settings", P.string()}), 1) << P;
        EXPECT_NE(Err.str().find("holds none of the panel's settings"), std::string::npos) << Err.str();
        EXPECT_TRUE(VD::Log().empty()) << P;
    }

    // A malformed value is named with the default the panel uses instead.
    std::ofstream(Typo) << "[V]\nVw=fast\n[I]\nHold=yes\nIw=250\n";
    VD::Reset();
    Err.str("");
    ASSERT_EQ(Run({"apply-settings", Typo.string()}), 0) << Err.str();
    EXPECT_EQ(Err.str(), "velmorctl: " + Typo.string() + ": [I] Hold=yes is not a whole number; the panel uses the "
                         "default 0\nvelmorctl: " + Typo.string() +
                         ": [V] Vw=fast is not a whole number; the panel uses the default 100\n");
    EXPECT_EQ(VD::CallsOf("VLM_SetVw").front().Str(), "VLM_SetVw(100)");
    EXPECT_EQ(VD::CallsOf("VLM_SetIw").front().Str(), "VLM_SetIw(250)");

    // --strict refuses it.
    VD::Reset();
    Err.str("");
    EXPECT_EQ(Run({"apply-settings", "--strict", Typo.string()}), 1);
    EXPECT_NE(Err.str().find("malformed values ([I] Hold, [V] Vw); nothing sent"), std::string::npos) << Err.str();
    EXPECT_TRUE(VD::Log().empty());
}

TEST_F(Ctl, PortsListsTheStableNamesAndWhatTheyPointAt)
{
    TempDir Dir;
    Ctx.SerialByIdDir = Dir.Path.string();
    ASSERT_EQ(Run({"ports"}), 0);
    EXPECT_EQ(Out.str(), "no serial ports in " + Dir.Path.string() + "\n");
    Out.str("");
    fs::create_symlink("/dev/null", Dir.Path / "usb-FTDI_RS485_A1-if00-port0");
    fs::create_symlink(Dir.Path / "gone", Dir.Path / "usb-CH340_B2-if00-port0");
    ASSERT_EQ(Run({"ports"}), 0);
    EXPECT_EQ(Out.str(), Dir.Path.string() + "/usb-CH340_B2-if00-port0 -> (missing)  CH340 B2\n" +
                             Dir.Path.string() + "/usb-FTDI_RS485_A1-if00-port0 -> /dev/null  FTDI RS485 A1\n");

    // Under a .../serial/by-id folder the ttys of the folder above are
    // listed too, after the stable names, each device once.
    TempDir Dev;
    const fs::path ById = Dev.Path / "serial" / "by-id";
    fs::create_directories(ById);
    Ctx.SerialByIdDir = ById.string();
    Out.str("");
    ASSERT_EQ(Run({"ports"}), 0);
    EXPECT_EQ(Out.str(), "no serial ports in " + ById.string() + " or " + Dev.Path.string() + "\n");
    fs::create_symlink("/dev/tty", Dev.Path / "ttyACM0");
    fs::create_symlink("/dev/tty", ById / "usb-Arduino_Uno_75830-if00");
    fs::create_symlink("/dev/null", Dev.Path / "ttyUSB0"); // a tty's name on no tty
    Out.str("");
    ASSERT_EQ(Run({"ports"}), 0);
    EXPECT_EQ(Out.str(), ById.string() + "/usb-Arduino_Uno_75830-if00 -> /dev/tty  Arduino Uno 75830\n");
}

} // namespace
