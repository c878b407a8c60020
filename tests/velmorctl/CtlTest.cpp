// velmorctl's commands on the recording test double, with a clock the test
// drives: the calls each command makes, its output and its exit code.
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/VelmorDouble.h"
#include "velmorctl/Ctl.h"

namespace VD = VelmorDouble;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

constexpr int64_t Ms = 1000000;

struct TempDir {
    fs::path Path;
    TempDir()
    {
        char Name[] = "/tmp/velmorctl-test-XXXXXX";
        Path = mkdtemp(Name);
    }
    ~TempDir() { fs::remove_all(Path); }
};

class Ctl : public ::testing::Test {
protected:
    std::ostringstream Out, Err;
    VelmorCtl::Context Ctx{Out, Err, {}, {}, {}, {}};
    // Fake time: every library call takes CallCost.
    int64_t Base = 0, CallCost = 0;
    std::vector<int64_t> Deadlines;
    std::function<bool()> InterruptWhen = [] { return false; };

    void SetUp() override
    {
        VD::Reset();
        Ctx.Now = [this] { return Base + CallCost * static_cast<int64_t>(VD::Calls().size()); };
        Ctx.SleepUntil = [this](int64_t D) {
            Deadlines.push_back(D);
            if (D > Ctx.Now())
                Base = D - CallCost * static_cast<int64_t>(VD::Calls().size());
        };
        Ctx.Interrupted = [this] { return InterruptWhen(); };
    }

    int Run(const Strings& Args) { return VelmorCtl::Run(Args, Ctx); }
    static Strings Session(Strings Calls)
    {
        Calls.insert(Calls.begin(), "VLM_OpenDevice()");
        Calls.push_back("VLM_CloseDevice()");
        return Calls;
    }
};

TEST_F(Ctl, EachCommandOpensMakesItsCallsAndCloses)
{
    const struct {
        Strings Args;
        Strings Calls;
    } Cases[] = {
        {{"info"}, {"VLM_GetInfo()"}},
        {{"status"}, {"VLM_GetStat()", "VLM_GetNc()", "VLM_GetVc()", "VLM_GetLim()", "VLM_GetNb()", "VLM_GetAdc()"}},
        {{"run", "forward"}, {"VLM_StartD(1)"}},
        {{"run", "backward"}, {"VLM_StartD(-1)"}},
        {{"stop"}, {"VLM_StartD(0)"}},
        {{"halt"}, {"VLM_Stop()"}},
        {{"goto", "-1234"}, {"VLM_StartN(-1234)"}},
        {{"move-by", "--", "-500"}, {"VLM_StartdN(-500)"}},
        {{"zero"}, {"VLM_StartN(0)"}},
        {{"reset-coordinate"}, {"VLM_SetNc(0)"}},
        {{"home", "backward"}, {"VLM_Home(-1)"}},
        {{"home", "forward"}, {"VLM_Home(1)"}},
        {{"store"}, {"VLM_SavePar()"}},
        {{"set", "vw=2000", "control=0x21", "iw=800", "step=half", "limits=3,0x3,5", "decay=fast", "ih=0",
          "ia=1000", "vm=100", "aw=4000"},
         {"VLM_SetMode(2,1)", "VLM_SetIh(0)", "VLM_SetIa(1000)", "VLM_SetIw(800)", "VLM_SetVm(100)",
          "VLM_SetVw(2000)", "VLM_SetAw(4000)", "VLM_SetLim(3,3,5)", "VLM_SetCtrl(33)"}},
        {{"set", "step=full", "decay=slow", "iw=2000"}, {"VLM_SetMode(1,0)", "VLM_SetIw(2000)"}},
    };
    for (const auto& C : Cases) {
        VD::Reset();
        EXPECT_EQ(Run(C.Args), 0) << C.Args[0] << Err.str();
        EXPECT_EQ(VD::Log(), Session(C.Calls)) << C.Args[0];
    }
    VD::Reset();
    EXPECT_EQ(Run({"ports"}), 0);
    EXPECT_TRUE(VD::Log().empty());
}

TEST_F(Ctl, StatusPrintsEveryReadingAsTextOrJson)
{
    const auto Script = [] {
        VD::SetRead("VLM_GetStat", 4);
        VD::SetRead("VLM_GetNc", -1500);
        VD::SetRead("VLM_GetVc", -300);
        VD::SetRead("VLM_GetLim", 5);
        VD::SetRead("VLM_GetNb", 4990);
        VD::SetRead("VLM_GetAdc", 241);
    };
    Script();
    ASSERT_EQ(Run({"status"}), 0);
    EXPECT_EQ(Out.str(), "state: Positioning... (4)\ncoordinate: -1500\nspeed: -300\n"
                         "limits: backward=1 forward=0 home=1 (word 5)\nhome coordinate: 4990\nsupply: 24.1 V\n");
    Out.str("");
    Script();
    ASSERT_EQ(Run({"status", "--json"}), 0);
    EXPECT_EQ(Out.str(), "{\"state\":\"Positioning...\",\"state_code\":4,\"coordinate\":-1500,\"speed\":-300,"
                         "\"limit_word\":5,\"limits\":{\"backward\":true,\"forward\":false,\"home\":true},"
                         "\"home_coordinate\":4990,\"supply_volts\":24.1}\n");
}

TEST_F(Ctl, BadUsageSendsNothingAndExitsOneWithTheUsage)
{
    const struct {
        Strings Args;
        const char* Says;
    } Cases[] = {
        {{}, "no command given"},
        {{"fly"}, "unknown command 'fly'"},
        {{"info", "now"}, "unexpected argument 'now'"},
        {{"status", "--jsn"}, "unknown option '--jsn'"},
        {{"run"}, "missing argument"},
        {{"run", "sideways"}, "'forward' or 'backward'"},
        {{"goto", "12.5"}, "whole number"},
        {{"goto", "2000000001"}, "from -2000000000 to 2000000000"},
        {{"stop", "--timeout", "5"}, "--timeout goes with --wait"},
        {{"zero", "--wait", "--timeout", "0"}, "seconds above 0"},
        {{"zero", "--wait", "--wait"}, "--wait given twice"},
        {{"watch", "--interval", "0"}, "--interval must be"},
        {{"watch", "--count"}, "--count needs a value"},
        {{"set"}, "no KEY=VALUE"},
        {{"set", "speed=5"}, "unknown key 'speed'"},
        {{"set", "iw"}, "not KEY=VALUE"},
        {{"set", "vm=100", "iw=2001"}, "iw=2001 is outside the panel's range 0..2000"},
        {{"set", "vm=0"}, "vm=0 is outside the panel's range 1..30000"},
        {{"set", "aw=40001"}, "range 0..40000"},
        {{"set", "iw=-1"}, "range 0..2000"},
        {{"set", "iw=1", "iw=2"}, "given twice"},
        {{"set", "step=half"}, "give both"},
        {{"set", "step=quarter", "decay=slow"}, "'full' or 'half'"},
        {{"set", "limits=1,2"}, "three words"},
        {{"set", "limits=8,0,0"}, "limit word 0..7"},
        {{"set", "control=8"}, "not a control word"},
        {{"set", "control=0x40"}, "not a control word"},
        {{"apply-settings", "/nonexistent/panel.ini"}, "no settings file at '/nonexistent/panel.ini'"},
        {{"--link"}, "--link needs a SPEC"},
    };
    for (const auto& C : Cases) {
        VD::Reset();
        Err.str("");
        EXPECT_EQ(Run(C.Args), 1) << C.Says;
        EXPECT_NE(Err.str().find(C.Says), std::string::npos) << Err.str();
        EXPECT_NE(Err.str().find("Usage: velmorctl"), std::string::npos) << C.Says;
        EXPECT_TRUE(VD::Log().empty()) << C.Says;
    }
}

TEST_F(Ctl, LinkSpecReachesTheLibraryBeforeItsFirstCall)
{
    unsetenv("VELMOR_LINK");
    ASSERT_EQ(Run({"--link", "tcp:127.0.0.1:5020", "info"}), 0);
    ASSERT_NE(std::getenv("VELMOR_LINK"), nullptr);
    EXPECT_STREQ(std::getenv("VELMOR_LINK"), "tcp:127.0.0.1:5020");
    EXPECT_EQ(Out.str(), "Test double\n");
    unsetenv("VELMOR_LINK");
}

TEST_F(Ctl, RefusalExitsTwoWithTheLibraryTextAndStillCloses)
{
    VD::Fail("VLM_StartN", "Target beyond the travel");
    EXPECT_EQ(Run({"goto", "5"}), 2);
    EXPECT_EQ(Err.str(), "velmorctl: Target beyond the travel\n");
    EXPECT_EQ(VD::Log(), Session({"VLM_StartN(5)", "VLM_GetLastError()"}));

    // A refused set stops at the refused call.
    VD::Reset();
    VD::Fail("VLM_SetVw", "Speed rejected by drive");
    EXPECT_EQ(Run({"set", "aw=500", "vw=300", "vm=60"}), 2);
    EXPECT_EQ(VD::Log(), Session({"VLM_SetVm(60)", "VLM_SetVw(300)", "VLM_GetLastError()"}));

    VD::Reset();
    Err.str("");
    VD::Fail("VLM_OpenDevice", "\xCD\xE5\xF2 \xF1\xE2\xFF\xE7\xE8"); // Windows-1251
    EXPECT_EQ(Run({"status"}), 3);
    EXPECT_EQ(Err.str(), "velmorctl: the device did not open: Нет связи\n");
    EXPECT_EQ(VD::Log(), (Strings{"VLM_OpenDevice()", "VLM_GetLastError()"}));
}

TEST_F(Ctl, WaitPollsTheStateUntilTheMotionEnds)
{
    for (int32_t S : {4, 4, 1})
        VD::QueueRead("VLM_GetStat", S);
    VD::SetRead("VLM_GetNc", 5000);
    ASSERT_EQ(Run({"goto", "5000", "--wait"}), 0) << Err.str();
    EXPECT_EQ(Out.str(), "state: Operation done (1)\ncoordinate: 5000\n");
    EXPECT_EQ(VD::Log(), Session({"VLM_StartN(5000)", "VLM_GetStat()", "VLM_GetStat()", "VLM_GetStat()",
                                  "VLM_GetNc()"}));
    EXPECT_EQ(Deadlines, (std::vector<int64_t>{100 * Ms, 200 * Ms, 300 * Ms}));

    // A homing that ends in "Operation done" gives its home coordinate.
    VD::Reset();
    Out.str("");
    for (int32_t S : {6, 1})
        VD::QueueRead("VLM_GetStat", S);
    VD::SetRead("VLM_GetNc", 4990);
    VD::SetRead("VLM_GetNb", 5012);
    ASSERT_EQ(Run({"home", "forward", "--wait"}), 0);
    EXPECT_EQ(Out.str(), "state: Operation done (1)\ncoordinate: 4990\nhome coordinate: 5012\n");
    EXPECT_EQ(VD::CallsOf("VLM_GetNb").size(), 1u);
}

TEST_F(Ctl, WaitFailsOnLimitReachedAndOnItsTimeout)
{
    for (int32_t S : {3, 2})
        VD::QueueRead("VLM_GetStat", S);
    VD::SetRead("VLM_GetNc", 20000);
    EXPECT_EQ(Run({"run", "forward", "--wait"}), 2);
    EXPECT_EQ(Out.str(), "state: Limit reached (2)\ncoordinate: 20000\n");
    EXPECT_EQ(Err.str(), "velmorctl: Limit reached\n");

    // The timeout stops the motor before failing.
    VD::Reset();
    Err.str("");
    VD::SetRead("VLM_GetStat", 4);
    EXPECT_EQ(Run({"goto", "100", "--wait", "--timeout", "0.25"}), 2);
    EXPECT_EQ(VD::Log(), Session({"VLM_StartN(100)", "VLM_GetStat()", "VLM_GetStat()", "VLM_GetStat()",
                                  "VLM_StartD(0)"}));
    EXPECT_EQ(Err.str(), "velmorctl: still moving (Positioning...) after 250 ms; stop sent (VLM_StartD(0))\n");
}

TEST_F(Ctl, CtrlCDuringAWaitStopsTheMotorAndSaysSo)
{
    VD::SetRead("VLM_GetStat", 3);
    InterruptWhen = [] { return VD::CallsOf("VLM_GetStat").size() == 2; };
    EXPECT_EQ(Run({"run", "backward", "--wait"}), 130);
    EXPECT_EQ(VD::Log(), Session({"VLM_StartD(-1)", "VLM_GetStat()", "VLM_GetStat()", "VLM_StartD(0)"}));
    EXPECT_EQ(Err.str(), "velmorctl: interrupted; stop sent (VLM_StartD(0))\n");

    // A failed stop is said as such.
    VD::Reset();
    Err.str("");
    VD::Fail("VLM_StartD", "Link down", 1);
    InterruptWhen = [] { return true; };
    EXPECT_EQ(Run({"goto", "10", "--wait"}), 2);
    EXPECT_EQ(Err.str(), "velmorctl: interrupted; the stop (VLM_StartD(0)) failed: Link down\n");
}

TEST(CtlSystem, ASleepBegunAfterCtrlCEndsAtOnce)
{
    // Ctrl-C that comes between a loop's look at the flag and its sleep must
    // not be slept through: the sleep looks again with the signal held.
    std::ostringstream Out, Err;
    VelmorCtl::Context Ctx = VelmorCtl::SystemContext(Out, Err);
    VelmorCtl::InstallInterruptHandlers();
    ASSERT_EQ(raise(SIGINT), 0);
    ASSERT_TRUE(VelmorCtl::InterruptRequested());
    const int64_t Start = Ctx.Now();
    Ctx.SleepUntil(Start + 20000 * Ms);
    EXPECT_LT(Ctx.Now() - Start, 10000 * Ms);
}

TEST_F(Ctl, WatchKeepsItsIntervalWhenReadsAreSlow)
{
    // 20 ms per call: a sample takes 80 ms and the next one is still due on
    // the 100 ms grid, counted from the first sample.
    CallCost = 20 * Ms;
    ASSERT_EQ(Run({"watch", "--count", "4"}), 0);
    const int64_t Start = 20 * Ms; // after the open
    EXPECT_EQ(Deadlines, (std::vector<int64_t>{Start + 100 * Ms, Start + 200 * Ms, Start + 300 * Ms}));
    EXPECT_NE(Out.str().find("   0.300           0      0      0  Stopped\nsamples: 4, failed reads: 0\n"),
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
    EXPECT_EQ(Out.str(), "time_s,coordinate,speed,limits,state_code,state\n"
                         "0.000,0,0,0,0,Stopped\n0.200,0,0,0,0,Stopped\n0.400,0,0,0,0,Stopped\n");
    EXPECT_NE(Err.str().find("samples: 3, failed reads: 0"), std::string::npos);
}

TEST_F(Ctl, WatchLogsALostLinkAndReopensWithoutSendingAnything)
{
    VD::SetRead("VLM_GetNc", 42);
    VD::SetRead("VLM_GetStat", 3);
    VD::Fail("VLM_GetLim", "No answer from the controller", 1);
    VD::FailCallAt(4, "No answer"); // the first reopen
    ASSERT_EQ(Run({"watch", "--count", "3", "--interval", "50"}), 0);
    EXPECT_EQ(VD::Log(), Session({"VLM_GetNc()", "VLM_GetLim()", "VLM_GetLastError()", // lost
                                  "VLM_CloseDevice()", "VLM_OpenDevice()",              // still down
                                  "VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_GetNc()", "VLM_GetLim()",
                                  "VLM_GetVc()", "VLM_GetStat()"}));
    EXPECT_EQ(Out.str(), "  time_s  coordinate  speed limits  state\n"
                         "   0.000  link lost: No answer from the controller\n"
                         "   0.100  link restored\n"
                         "   0.100          42      0      0  Rotating...\n"
                         "samples: 3, failed reads: 2\n");
}

TEST_F(Ctl, CtrlCEndsAWatchWithItsSummary)
{
    InterruptWhen = [] { return VD::CallsOf("VLM_GetStat").size() == 3; };
    EXPECT_EQ(Run({"watch"}), 0);
    EXPECT_NE(Out.str().find("samples: 3, failed reads: 0\n"), std::string::npos);
    EXPECT_EQ(VD::Log().back(), "VLM_CloseDevice()");
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
