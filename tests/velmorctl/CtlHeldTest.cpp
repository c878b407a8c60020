// velmorctl's commands on what the controller holds (get-settings,
// apply-settings --verify and --diff), its bus scan and the link options
// --address and --watchdog, on the recording test double.
#include "tests/velmorctl/CtlFixture.h"

namespace {

std::string ReadAll(const fs::path& P)
{
    std::ifstream F(P, std::ios::binary);
    std::ostringstream S;
    S << F.rdbuf();
    return S.str();
}

// What a session's read of the parameters records.
const Strings ReadBack = {"VLMS_New(0)", "VLMS_OpenDevice()", "VLMS_ReadParameters()", "VLMS_CloseDevice()",
                          "VLMS_Free()"};

TEST_F(Ctl, GetSettingsThenApplySettingsGivesTheControllerBackWhatItHeld)
{
    TempDir Dir;
    const fs::path File = Dir.Path / "held.ini";
    // Half step, fast decay, a holding current, a working speed far above
    // the panel's default maximum (4000), limit words and a control word.
    const VD::Parameters Held = {2, 1, 1500, 1200, 150, 77, 25000, 30000, 3, 1, 5, 19};
    VD::SetParameters(Held);
    ASSERT_EQ(Run({"get-settings", File.string()}), 0) << Err.str();
    EXPECT_EQ(VD::Log(), ReadBack); // read only: nothing sent
    EXPECT_EQ(Out.str(), "file: " + File.string() + "\n");
    EXPECT_EQ(Err.str(), "");
    const std::string Text = ReadAll(File);
    EXPECT_NE(Text.find("Vmax=25000"), std::string::npos) << Text;
    EXPECT_NE(Text.find("Hold=1"), std::string::npos) << Text;

    // Another controller, or the same one changed since: the file sends it all back.
    VD::Reset();
    ASSERT_EQ(Run({"apply-settings", "--strict", File.string()}), 0) << Err.str();
    EXPECT_EQ(VD::Log(), Session({"VLM_SetMode(2,1)", "VLM_SetIh(150)", "VLM_SetIa(1200)", "VLM_SetIw(1500)",
                                  "VLM_SetVm(77)", "VLM_SetVw(25000)", "VLM_SetAw(30000)", "VLM_SetLim(3,1,5)",
                                  "VLM_SetCtrl(19)"}));
    EXPECT_EQ(VD::HeldParameters(), Held);

    // No holding current held: the file says so with Hold, and 0 goes back.
    VD::Reset();
    Out.str("");
    VD::SetParameters({1, 0, 800, 900, 0, 1, 0, 0, 0, 0, 0, 0});
    ASSERT_EQ(Run({"get-settings"}), 0) << Err.str();
    const std::string Printed = Out.str();
    EXPECT_NE(Printed.find("Hold=0"), std::string::npos) << Printed;
    EXPECT_EQ(Printed.find("Left="), std::string::npos) << "the window's place is the panel's own";
    std::ofstream(Dir.Path / "printed.ini") << Printed;
    VD::Reset();
    ASSERT_EQ(Run({"apply-settings", (Dir.Path / "printed.ini").string()}), 0) << Err.str();
    EXPECT_EQ(VD::HeldParameters(), (VD::Parameters{1, 0, 800, 900, 0, 1, 0, 0, 0, 0, 0, 0}));
}

TEST_F(Ctl, GetSettingsKeepsTheRestOfAFileAndNamesWhatItCannotHold)
{
    TempDir Dir;
    const fs::path File = Dir.Path / "velmor.ini";
    std::ofstream(File) << "[General]\nLeft=321\nTop=123\nVmax=20000\n[N]\nNr=4500\n[V]\nVw=50\n";
    VD::SetParameters({2, 0, 300, 300, 0, 60, 7000, 500, 0, 0, 0, 32});
    ASSERT_EQ(Run({"get-settings", File.string()}), 0) << Err.str();
    const std::string Text = ReadAll(File);
    for (const char* Kept : {"Left=321", "Top=123", "Nr=4500", "Vmax=20000", "Vw=7000"})
        EXPECT_NE(Text.find(Kept), std::string::npos) << Kept << "\n" << Text;

    // A step mode the panel has no item for: the file is written, the
    // value that does not come back is named, and the exit says so.
    VD::Reset();
    Err.str("");
    VD::SetParameters({3, 0, 300, 300, 0, 60, 7000, 500, 0, 0, 0, 32});
    EXPECT_EQ(Run({"get-settings", File.string()}), 2);
    EXPECT_EQ(Err.str(), "velmorctl: the settings file cannot hold step=3 (apply-settings would send 0)\n");

    // A file that is not the panel's is left alone, and nothing is read.
    VD::Reset();
    const fs::path Other = Dir.Path / "other.ini";
    std::ofstream(Other) << "[Database]\nHost=db\n";
    EXPECT_EQ(Run({"get-settings", Other.string()}), 1);
    EXPECT_EQ(ReadAll(Other), "[Database]\nHost=db\n");
    EXPECT_TRUE(VD::Log().empty());

    // A failed read is a lost link; the file stays as it was.
    VD::Reset();
    Err.str("");
    const std::string Before = ReadAll(File);
    VD::Fail("VLMS_ReadParameters", "No answer from the controller");
    EXPECT_EQ(Run({"get-settings", File.string()}), 6);
    EXPECT_EQ(Err.str(), "velmorctl: the link was lost while reading the parameters: No answer from the controller\n");
    EXPECT_EQ(ReadAll(File), Before);
}

// Whatever the controller holds after the writes, as a controller that keeps
// a lower working speed than it was sent would.
void HoldsALowerSpeed(const VD::Call& C)
{
    if (C.Name == "VLMS_ReadParameters") {
        VD::Parameters P = VD::HeldParameters();
        P[6] = 4000;
        VD::SetParameters(P);
    }
}

TEST_F(Ctl, ApplySettingsVerifyReadsBackAfterTheWritesAndFailsOnADifference)
{
    TempDir Dir;
    const fs::path File = Dir.Path / "bench.ini";
    std::ofstream(File) << "[General]\nVmax=6000\n[V]\nVw=5000\n";
    ASSERT_EQ(Run({"apply-settings", "--verify", File.string()}), 0) << Err.str();
    Strings Sent = {"VLM_SetMode(1,0)", "VLM_SetIh(0)",  "VLM_SetIa(300)",    "VLM_SetIw(200)", "VLM_SetVm(50)",
                    "VLM_SetVw(5000)",  "VLM_SetAw(100)", "VLM_SetLim(0,0,0)", "VLM_SetCtrl(32)"};
    Strings Want = Session(Sent);
    Want.insert(Want.end(), ReadBack.begin(), ReadBack.end());
    EXPECT_EQ(VD::Log(), Want);
    EXPECT_EQ(Out.str().substr(Out.str().rfind("VLM_SetCtrl")),
              "VLM_SetCtrl(32)\nverified: the controller holds every value sent\n");

    VD::Reset();
    Out.str("");
    VD::SetCallSink(HoldsALowerSpeed);
    EXPECT_EQ(Run({"apply-settings", "--verify", File.string()}), 2);
    VD::SetCallSink(nullptr);
    EXPECT_EQ(Err.str(), "velmorctl: --verify: vw was sent as 5000, the controller holds 4000\n");
    EXPECT_EQ(Out.str().find("verified"), std::string::npos);
}

TEST_F(Ctl, ApplySettingsDiffShowsWhatWouldChangeAndSendsNothing)
{
    TempDir Dir;
    const fs::path File = Dir.Path / "bench.ini";
    std::ofstream(File) << "[General]\nVmax=6000\n[V]\nVw=5000\n[I]\nIh=120\nHold=1\n[Limits]\nHome=4\n";
    ASSERT_EQ(Run({"apply-settings", "--diff", File.string()}), 0) << Err.str();
    EXPECT_EQ(VD::Log(), ReadBack);
    EXPECT_EQ(Out.str(), "file: " + File.string() + "\nih: 0 -> 120\nvw: 100 -> 5000\nlimits.home: 0 -> 4\n"
                         "3 of 12 parameters would change; nothing sent\n");

    VD::Reset();
    EXPECT_EQ(Run({"apply-settings", "--diff", "--verify", File.string()}), 1);
    EXPECT_TRUE(VD::Log().empty());
}

TEST_F(Ctl, AddressAndWatchdogAreTheLinksOptionsForTheRun)
{
    const auto LinkOf = [this](const Strings& Args) {
        VD::Reset();
        Err.str("");
        const int Code = Run(Args);
        const char* L = getenv("VELMOR_LINK");
        const std::string R = std::to_string(Code) + " " + (L ? L : "(unset)");
        unsetenv("VELMOR_LINK");
        return R;
    };
    EXPECT_EQ(LinkOf({"--link", "serial:/dev/ttyUSB0?baud=9600&address=3&timeout=40", "--address", "17", "info"}),
              "0 serial:/dev/ttyUSB0?baud=9600&timeout=40&address=17");
    EXPECT_EQ(LinkOf({"info", "--address=2", "--link", "modbus-tcp:127.0.0.1:5020?unit=1&baud=115200"}),
              "0 modbus-tcp:127.0.0.1:5020?baud=115200&address=2");
    setenv("VELMOR_LINK", "tcp:127.0.0.1:4001", 1);
    EXPECT_EQ(LinkOf({"--address", "247", "status"}), "0 tcp:127.0.0.1:4001?address=247");
    EXPECT_EQ(LinkOf({"--link", "serial:/dev/ttyUSB0?watchdog=100&trace=/tmp/t&x", "--watchdog", "250", "--address", "3",
                      "run", "forward"}),
              "1 (unset)") << "a malformed link (the option x) is refused, with or without the options added";
    EXPECT_EQ(LinkOf({"--link", "serial:/dev/ttyUSB0?watchdog=100&baud=9600", "--watchdog", "250", "--address", "3",
                      "run", "forward"}),
              "0 serial:/dev/ttyUSB0?baud=9600&address=3&watchdog=250");
    EXPECT_EQ(VD::Log(), Session({"VLM_StartD(1)"}));
    EXPECT_EQ(LinkOf({"--link", "modbus-tcp:127.0.0.1:5020", "--watchdog", "0", "info"}),
              "0 modbus-tcp:127.0.0.1:5020?watchdog=0");

    // Wrong ones send nothing.
    for (const Strings& Bad : {Strings{"--address", "0", "info"}, Strings{"--address", "248", "info"},
                               Strings{"--address", "two", "info"}, Strings{"--address", "1", "--address", "2", "info"},
                               Strings{"--link", "virtual", "--address", "2", "info"},
                               Strings{"--link", "serial:/dev/ttyUSB0", "--watchdog", "-5", "info"},
                               Strings{"--link", "serial:/dev/ttyUSB0", "--address", "2", "scan"}}) {
        EXPECT_EQ(LinkOf(Bad).substr(0, 2), "1 ") << Bad[1] << " " << Bad[2];
        EXPECT_TRUE(VD::Log().empty());
        EXPECT_NE(Err.str().find("Usage: velmorctl"), std::string::npos) << Err.str();
    }
}

TEST_F(Ctl, ScanPrintsEachControllerFoundAndASignalCancelsIt)
{
    VD::SetScanFound({{2, "Virtual controller VLM-2"}, {5, "Axis \xC2\xAB" "Y\xC2\xBB"}, {200, "not probed"}});
    ASSERT_EQ(Run({"scan", "--addresses", "1-3,5,3"}), 0) << Err.str();
    EXPECT_EQ(VD::Log(), (Strings{"VLMS_Scan(1,2,3,5)"}));
    EXPECT_EQ(Out.str(), "2  Virtual controller VLM-2\n5  Axis \xC2\xAB" "Y\xC2\xBB\n");
    EXPECT_EQ(Err.str(), "velmorctl: scanned 4 of 4 addresses\nvelmorctl: 2 controllers found\n");

    // The whole line unless told, and Ctrl-C ends it at the next address.
    VD::Reset();
    Out.str("");
    Err.str("");
    VD::SetScanFound({{1, "first"}, {100, "too late"}});
    SignalWhen = [this] { return Out.str().empty() ? 0 : SIGINT; };
    EXPECT_EQ(Run({"scan"}), 128 + SIGINT);
    EXPECT_EQ(VD::CallsOf("VLMS_Scan").at(0).Args.size(), 247u);
    EXPECT_EQ(Out.str(), "1  first\n");
    EXPECT_EQ(Err.str(), "velmorctl: scan cancelled (SIGINT) after 1 of 247 addresses; 1 found\n");

    // A link that does not open.
    VD::Reset();
    Err.str("");
    SignalWhen = [] { return 0; };
    VD::Fail("VLMS_Scan", "Cannot open the port /dev/ttyUSB0: busy");
    EXPECT_EQ(Run({"scan"}), 3);
    EXPECT_EQ(Err.str(), "velmorctl: the device did not open: Cannot open the port /dev/ttyUSB0: busy\n");

    // Output that cannot be written ends the scan at once, with exit 7.
    VD::Reset();
    Err.str("");
    VD::SetScanFound({{1, "first"}});
    SignalWhen = [this] {
        if (!Out.str().empty())
            Out.setstate(std::ios::badbit);
        return 0;
    };
    EXPECT_EQ(Run({"scan"}), 7);
    EXPECT_EQ(Err.str(), "velmorctl: cannot write standard output: write error\n");
    Out.clear();
    SignalWhen = [] { return 0; };

    for (const char* Bad : {"0", "1-248", "5-2", "1,,2", "x", "-3"}) {
        VD::Reset();
        EXPECT_EQ(Run({"scan", "--addresses", Bad}), 1) << Bad;
        EXPECT_TRUE(VD::Log().empty()) << Bad;
    }
}

} // namespace
