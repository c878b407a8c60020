// velmorctl's commands on the recording test double, with a clock the test
// drives: the calls each command makes, its output and its exit code.
#include "tests/velmorctl/CtlFixture.h"

namespace {

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
        {{"move-by", "-500"}, {"VLM_StartdN(-500)"}},
        {{"wait"}, {"VLM_GetStat()", "VLM_GetVc()", "VLM_GetStat()", "VLM_GetVc()", "VLM_GetNc()"}},
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

TEST_F(Ctl, StatusOnALinkLostAfterTheOpenExitsSixAndPrintsNoHalfStatus)
{
    // Each of the readings failing: exit 6 (not 2, a refusal), the
    // library's text, nothing on standard output, the device closed.
    for (const char* Read : {"VLM_GetStat", "VLM_GetVc", "VLM_GetAdc"}) {
        VD::Reset();
        Out.str("");
        Err.str("");
        VD::Fail(Read, "No answer from the controller", -1);
        EXPECT_EQ(Run({"status", "--json"}), 6) << Read;
        EXPECT_EQ(Out.str(), "") << Read;
        EXPECT_EQ(Err.str(), "velmorctl: the link was lost while reading the status: No answer from the controller\n")
            << Read;
        const Strings Log = VD::Log();
        ASSERT_GE(Log.size(), 3u);
        EXPECT_EQ(Log.back(), "VLM_CloseDevice()");
        EXPECT_EQ(Log[Log.size() - 2], "VLM_GetLastError()");
    }
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
        {{"--link", "bogus", "status"}, "--link: the setting does not start with"},
        {{"goto", "5", "--link=serial:/dev/x?address=0"}, "--link: address 0 is out of range"},
        {{"--lock-wait"}, "--lock-wait needs a value"},
        {{"--lock-wait", "0", "status"}, "--lock-wait must be"},
        {{"--version", "status"}, "--version stands alone"},
        {{"goto", "5", "--json"}, "--json goes with --wait"},
        {{"wait", "--target", "x"}, "N must be a whole number"},
        {{"wait", "--wait"}, "unknown option '--wait'"},
        // After "--" every word is an argument.
        {{"move-by", "--", "-500", "--wait"}, "unexpected argument '--wait'"},
        {{"apply-settings", "--strict", "--strict"}, "--strict given twice"},
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

TEST_F(Ctl, AMalformedLinkSettingIsAUsageErrorNamingWhereItWasRead)
{
    TempDir Dir;
    unsetenv("VELMOR_LINK");
    setenv("VELMOR_LINK", "serial:", 1);
    EXPECT_EQ(Run({"status"}), 1);
    EXPECT_NE(Err.str().find("velmorctl: Link setting in $VELMOR_LINK: "), std::string::npos) << Err.str();
    unsetenv("VELMOR_LINK");

    Err.str("");
    const char* Old = std::getenv("XDG_CONFIG_HOME");
    const std::string Saved = Old ? Old : "";
    fs::create_directories(Dir.Path / "velmor");
    std::ofstream(Dir.Path / "velmor" / "link.conf") << "tcp:localhost:502\n";
    setenv("XDG_CONFIG_HOME", Dir.Path.c_str(), 1);
    EXPECT_EQ(Run({"goto", "5", "--wait"}), 1);
    EXPECT_NE(Err.str().find("Link setting in " + (Dir.Path / "velmor" / "link.conf").string()), std::string::npos)
        << Err.str();
    // --link stands in for the file.
    EXPECT_EQ(Run({"--link", "virtual", "store"}), 0);
    unsetenv("VELMOR_LINK");
    if (Old)
        setenv("XDG_CONFIG_HOME", Saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(VD::Log(), Session({"VLM_SavePar()"}));
}

TEST_F(Ctl, LockWaitRetriesABusyPortOnlyAndOnlyForItsTime)
{
    VD::Fail("VLM_OpenDevice", "Port /dev/ttyUSB0: busy, opened exclusively by another program", 3);
    EXPECT_EQ(Run({"--lock-wait", "1", "store"}), 0) << Err.str();
    EXPECT_EQ(VD::CallsOf("VLM_OpenDevice").size(), 4u);
    EXPECT_EQ(Deadlines, (std::vector<int64_t>{100 * Ms, 200 * Ms, 300 * Ms}));

    // Still busy when the time is up.
    VD::Reset();
    Deadlines.clear();
    Base = 0;
    Err.str("");
    VD::Fail("VLM_OpenDevice", "Port /dev/ttyUSB0: busy, opened exclusively by another program", -1);
    EXPECT_EQ(Run({"--lock-wait", "0.35", "status"}), 3);
    EXPECT_EQ(VD::CallsOf("VLM_OpenDevice").size(), 5u); // at 0, 100, 200, 300 and 350 ms
    EXPECT_NE(Err.str().find("(still busy after --lock-wait 350 ms)"), std::string::npos) << Err.str();

    // An absent port is not waited for.
    VD::Reset();
    Deadlines.clear();
    VD::Fail("VLM_OpenDevice", "Port /dev/ttyUSB0: no such port (is the adapter plugged in?)", -1);
    EXPECT_EQ(Run({"--lock-wait", "5", "status"}), 3);
    EXPECT_EQ(VD::CallsOf("VLM_OpenDevice").size(), 1u);
    EXPECT_TRUE(Deadlines.empty());
}

TEST_F(Ctl, VersionGivesTheProgramsAndTheDevicesText)
{
    ASSERT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(Out.str().rfind("velmorctl ", 0), 0u);
    EXPECT_NE(Out.str().find("\ndevice: Test double\n"), std::string::npos) << Out.str();

    // No device: the version all the same.
    VD::Reset();
    Out.str("");
    VD::Fail("VLM_OpenDevice", "No answer", -1);
    ASSERT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(Out.str().find("device:"), std::string::npos);
    EXPECT_NE(Err.str().find("no device text: No answer"), std::string::npos);

    // Nor with a malformed link setting, which opens nothing.
    VD::Reset();
    Out.str("");
    Err.str("");
    setenv("VELMOR_LINK", "serial:", 1);
    EXPECT_EQ(Run({"--version"}), 0);
    unsetenv("VELMOR_LINK");
    EXPECT_EQ(Out.str().rfind("velmorctl ", 0), 0u);
    EXPECT_NE(Err.str().find("no device text: Link setting in $VELMOR_LINK: "), std::string::npos) << Err.str();
    EXPECT_TRUE(VD::Log().empty());
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

} // namespace
