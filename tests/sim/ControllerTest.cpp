// The virtual controller's calls: link, validation, stored parameters, the
// control file and the supply voltage.
#include "tests/sim/SimFixture.h"

#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "sim/ControlFile.h"
#include "sim/Storage.h"

namespace {

using Call = std::function<bool(Sim::VirtualController&)>;

// A sound argument of each type: 1 for every number (a valid value of each
// setting and command), a place for a reading or a text.
template <class T>
T Sound()
{
    return 1;
}
template <>
int32_t* Sound<int32_t*>()
{
    static int32_t Out;
    return &Out;
}
template <>
char** Sound<char**>()
{
    static char* Text;
    return &Text;
}

template <class... P>
bool CallSoundly(Sim::VirtualController& D, bool (Sim::VirtualController::*Op)(P...))
{
    return (D.*Op)(Sound<P>()...);
}

// Every call but OpenDevice, CloseDevice and GetLastError (the list of
// device/Operations.h), with sound arguments.
std::vector<std::pair<const char*, Call>> EveryCall()
{
#define VELMOR_SOUND_CALL(Name, Params, Args) \
    {"VLM_" #Name, [](Sim::VirtualController& D) { return CallSoundly(D, &Sim::VirtualController::Name); }},
    return {VELMOR_DEVICE_OPERATIONS(VELMOR_SOUND_CALL)};
#undef VELMOR_SOUND_CALL
}

std::string ErrorText(Sim::VirtualController& D)
{
    char* Text = nullptr;
    EXPECT_TRUE(D.GetLastError(&Text));
    return Text ? Text : "(null)";
}

} // namespace

using ControllerTest = SimFixture;

TEST_F(ControllerTest, LinkOpensClosesAndReopens)
{
    Make(false);
    EXPECT_EQ(ErrorText(*Device), "");
    EXPECT_TRUE(Device->CloseDevice()); // no link: harmless
    for (auto& [Name, Do] : EveryCall()) {
        EXPECT_FALSE(Do(*Device)) << Name;
        EXPECT_EQ(ErrorText(*Device), "Device is not open") << Name;
    }
    ASSERT_TRUE(Device->OpenDevice());
    char* Info = nullptr;
    ASSERT_TRUE(Device->GetInfo(&Info));
    EXPECT_STREQ(Info, "Virtual controller VLM-1 (simulated)");
    ASSERT_TRUE(Device->StartD(1));
    Wait(1);
    ASSERT_TRUE(Device->CloseDevice());
    EXPECT_FALSE(Device->StartD(0));
    Wait(1); // the motor runs on with the link closed
    ASSERT_TRUE(Device->OpenDevice());
    EXPECT_TRUE(Device->OpenDevice());
    EXPECT_GT(Nc(), 100);
    EXPECT_EQ(Stat(), 3);
    EXPECT_FALSE(Device->GetNc(nullptr));
    EXPECT_EQ(ErrorText(*Device), "VLM_GetNc: no place for the result (null pointer)");
}

TEST_F(ControllerTest, ValuesTheControllerRefusesChangeNothing)
{
    Make();
    const Sim::Parameters Before = Device->Params();
    const std::vector<std::pair<Call, const char*>> Bad = {
        {[](auto& D) { return D.SetMode(0, 0); }, "Step mode 0 is not valid: use 1 (full step) or 2 (half step)"},
        {[](auto& D) { return D.SetMode(2, -1); }, "Decay mode -1 is not valid: use 0 (slow) or 1 (fast)"},
        {[](auto& D) { return D.SetIw(2500); }, "Working current 2500 mA is out of range 0..2000"},
        {[](auto& D) { return D.SetIa(-1); }, "Acceleration current -1 mA is out of range 0..2000"},
        {[](auto& D) { return D.SetIh(2001); }, "Holding current 2001 mA is out of range 0..2000"},
        {[](auto& D) { return D.SetVm(0); }, "Minimum speed 0 half-steps/s is out of range 1..30000"},
        {[](auto& D) { return D.SetVw(30001); }, "Working speed 30001 half-steps/s is out of range 0..30000"},
        {[](auto& D) { return D.SetVw(-1); }, "Working speed -1 half-steps/s is out of range 0..30000"},
        {[](auto& D) { return D.SetAw(40001); }, "Acceleration 40001 is out of range 0..40000"},
        {[](auto& D) { return D.SetLim(8, 0, 0); }, "Backward limit word 8 is not valid: only bits 0..2 may be set"},
        {[](auto& D) { return D.SetLim(1, 1, -1); }, "Home sensor word -1 is not valid: only bits 0..2 may be set"},
        {[](auto& D) { return D.SetCtrl(64); }, "Control word 64 is not valid: only bits 0..5 may be set"},
        {[](auto& D) { return D.SetCtrl(0x28); },
         "Control word 40 is not valid: local control mode 8 is out of range 0..7"},
        {[](auto& D) { return D.StartD(2); }, "Direction 2 is not valid: use 1 (forward), -1 (backward) or 0 (stop)"},
    };
    for (auto& [Do, Text] : Bad) {
        EXPECT_FALSE(Do(*Device)) << Text;
        EXPECT_EQ(ErrorText(*Device), Text);
        // The line carries the reason and its value; the text made from
        // them is the same.
        EXPECT_EQ(Device->LastRefusal().Text(), Text);
        EXPECT_EQ(Device->Params(), Before) << Text;
        EXPECT_EQ(Stat(), 0) << Text;
    }
    // The edges of what the panel sends are all taken.
    const std::vector<Call> Good = {
        [](auto& D) { return D.SetMode(1, 0) && D.SetMode(2, 1); },
        [](auto& D) { return D.SetIw(0) && D.SetIw(2000) && D.SetIa(2000) && D.SetIh(0); },
        [](auto& D) { return D.SetVm(1) && D.SetVm(30000) && D.SetVw(0) && D.SetVw(30000); },
        [](auto& D) { return D.SetAw(0) && D.SetAw(40000); },
        [](auto& D) { return D.SetLim(0, 0, 0) && D.SetLim(7, 7, 7); },
        [](auto& D) { return D.SetCtrl(0) && D.SetCtrl(0x37) && D.SetCtrl(32); },
    };
    for (size_t I = 0; I < Good.size(); ++I)
        EXPECT_TRUE(Good[I](*Device)) << I << ": " << Device->LastError();
    EXPECT_EQ(Device->Params().Vw, 30000);
    EXPECT_EQ(Device->Params().LimHome, 7);
}

TEST_F(ControllerTest, SavedParametersAreTheValuesAfterTheNextOpen)
{
    Make();
    EXPECT_EQ(Device->Params(), Sim::Parameters()); // nothing stored yet
    ASSERT_TRUE(Device->SetMode(2, 1) && Device->SetIw(1500) && Device->SetIa(700) && Device->SetIh(20) &&
                Device->SetVm(77) && Device->SetVw(2345) && Device->SetAw(999) && Device->SetLim(3, 5, 1) &&
                Device->SetCtrl(0x13));
    const Sim::Parameters Saved = Device->Params();
    ASSERT_TRUE(Device->SavePar()) << Device->LastError();
    ASSERT_TRUE(Device->SetVw(10)); // not saved
    // The link drops and comes back: a powered controller keeps what it was
    // given, and a store by someone else meanwhile is not loaded either.
    ASSERT_TRUE(Device->CloseDevice());
    Sim::VirtualController Other(Opts());
    ASSERT_TRUE(Other.OpenDevice() && Other.SetVm(5) && Other.SavePar());
    ASSERT_TRUE(Device->OpenDevice());
    EXPECT_EQ(Device->Params().Vw, 10);
    EXPECT_EQ(Device->Params().Vm, Saved.Vm);
    ASSERT_TRUE(Device->SavePar());

    Make(false); // power-on, before any open
    Sim::Parameters Expected = Saved;
    Expected.Vw = 10;
    EXPECT_EQ(Device->Params(), Expected);
    // Written whole, with nothing left beside it.
    std::vector<std::string> Files;
    for (auto& E : std::filesystem::directory_iterator(Dir + "/state"))
        Files.push_back(E.path().filename().string());
    EXPECT_EQ(Files, std::vector<std::string>{"virtual-controller.ini"});

    // A place that cannot be written: the call fails and keeps the values.
    WriteFile(Dir + "/file", "x");
    Sim::Options O = Opts();
    O.StatePath = Dir + "/file/virtual-controller.ini";
    Sim::VirtualController Blocked(O);
    ASSERT_TRUE(Blocked.OpenDevice());
    EXPECT_FALSE(Blocked.SavePar());
    EXPECT_EQ(Blocked.LastError().rfind("Cannot store the parameters: ", 0), 0u) << Blocked.LastError();
    EXPECT_EQ(Blocked.LastRefusal().Code, Link::Reason::StoreFailed);
}

TEST_F(ControllerTest, MissingOrDamagedStateGivesTheDefaults)
{
    Sim::Parameters P;
    P.Vw = 4321;
    P.LimForward = 5;
    const std::string Good = Sim::FormatParameters(P);
    Sim::Parameters Back;
    ASSERT_TRUE(Sim::ParseParameters(Good, Back));
    EXPECT_EQ(Back, P);

    auto Replace = [&](const std::string& From, const std::string& To) {
        std::string T = Good;
        T.replace(T.find(From), From.size(), To);
        return T;
    };
    const std::vector<std::string> Damaged = {
        "", "garbage\n\x01\x02", Replace("Vw=4321", "Vw=12abc"), Replace("Iw=200", "Iw=5000"),
        Replace("Aw=100\n", ""), Good + "Vw=5\n", Replace("[Parameters]", "[Other]"),
        Replace("Ctrl=32", "Ctrl=99999999999"), std::string(100000, 'x'),
    };
    for (const std::string& Text : Damaged) {
        Sim::Parameters Out;
        Out.Vw = -7;
        EXPECT_FALSE(Sim::ParseParameters(Text, Out)) << Text.substr(0, 80);
        EXPECT_EQ(Out.Vw, -7);
        WriteFile(StatePath(), Text);
        Make();
        EXPECT_EQ(Device->Params(), Sim::Parameters()) << Text.substr(0, 80);
    }
    WriteFile(StatePath(), Good);
    Make();
    EXPECT_EQ(Device->Params(), P);
}

TEST_F(ControllerTest, StateAndControlFileLocations)
{
    using Sim::StatePathFrom;
    EXPECT_EQ(StatePathFrom("/t/s.ini", "/xdg", "/home/u"), "/t/s.ini");
    EXPECT_EQ(StatePathFrom("", "/xdg", "/home/u"), "/xdg/velmor/virtual-controller.ini");
    EXPECT_EQ(StatePathFrom(nullptr, "relative", "/home/u"), "/home/u/.local/state/velmor/virtual-controller.ini");
    EXPECT_EQ(StatePathFrom(nullptr, nullptr, ""), "");
    EXPECT_EQ(Sim::ControlPathFrom(nullptr, "/a/b/virtual-controller.ini"), "/a/b/virtual-controller.control");
    EXPECT_EQ(Sim::ControlPathFrom("/c/ctl", "/a/b/virtual-controller.ini"), "/c/ctl");
    EXPECT_EQ(Sim::ControlPathFrom(nullptr, ""), "");
    // A second controller on the line keeps its own file beside the first's.
    EXPECT_EQ(Sim::StatePathAt("/a/b/virtual-controller.ini", 2), "/a/b/virtual-controller-2.ini");
    EXPECT_EQ(Sim::StatePathAt("/a.d/state", 17), "/a.d/state-17");
    EXPECT_EQ(Sim::StatePathAt("/a/.state", 3), "/a/.state-3");
    EXPECT_EQ(Sim::StatePathAt("", 3), "");
}

TEST_F(ControllerTest, CutLinkFailsEveryCallUntilRestored)
{
    MakeDrive();
    ASSERT_TRUE(Device->StartD(1));
    WriteFile(ControlPath(), "# demo\nlink=down\n");
    Wait(0.2);
    const std::string Down = "No answer from the controller: the link is down";
    for (auto& [Name, Do] : EveryCall()) {
        EXPECT_FALSE(Do(*Device)) << Name;
        EXPECT_EQ(ErrorText(*Device), Down) << Name;
    }
    EXPECT_TRUE(Device->CloseDevice());
    EXPECT_FALSE(Device->OpenDevice());
    EXPECT_EQ(ErrorText(*Device), Down);
    EXPECT_FALSE(Device->LastRefusal()); // nothing refused: no answer at all

    WriteFile(ControlPath(), "link = up\n");
    Wait(0.1); // not looked at again yet
    EXPECT_FALSE(Device->OpenDevice());
    Wait(0.1);
    ASSERT_TRUE(Device->OpenDevice());
    EXPECT_EQ(Stat(), 3); // the motor ran on: 0.4 s on the ramp
    EXPECT_EQ(Nc(), 120);

    WriteFile(ControlPath(), "link=down\n");
    Wait(0.3);
    EXPECT_FALSE(Device->GetNc(nullptr));
    std::filesystem::remove(ControlPath()); // no file: normal operation
    Wait(0.3);
    EXPECT_TRUE(Device->SetVw(100));
}

TEST_F(ControllerTest, FailLinesFailTheNamedCalls)
{
    Make();
    WriteFile(ControlPath(), "fail VLM_SetVw Speed rejected by drive\nfail-once VLM_GetNc Timeout\n"
                             "fail GetAdc\nnonsense line\nfail VLM_GetLastError x\n");
    Wait(0.2);
    const int32_t Vw = Device->Params().Vw;
    for (int I = 0; I < 3; ++I) {
        EXPECT_FALSE(Device->SetVw(500));
        EXPECT_EQ(ErrorText(*Device), "Speed rejected by drive");
        EXPECT_EQ(Device->LastRefusal().Code, Link::Reason::DeviceFailure);
    }
    EXPECT_EQ(Device->Params().Vw, Vw);
    int32_t Out;
    EXPECT_FALSE(Device->GetNc(&Out));
    EXPECT_EQ(ErrorText(*Device), "Timeout");
    EXPECT_TRUE(Device->GetNc(&Out));
    Wait(1); // an unchanged file does not arm it again
    EXPECT_TRUE(Device->GetNc(&Out));
    EXPECT_FALSE(Device->GetAdc(&Out));
    EXPECT_EQ(ErrorText(*Device), "Simulated failure of VLM_GetAdc");
    EXPECT_TRUE(Device->SetVm(60));

    WriteFile(ControlPath(), "fail-once VLM_GetNc Timeout again\nfail VLM_OpenDevice Port COM3 busy\n");
    Wait(0.2);
    EXPECT_FALSE(Device->GetNc(&Out));
    EXPECT_EQ(ErrorText(*Device), "Timeout again");
    EXPECT_TRUE(Device->SetVw(500));
    EXPECT_TRUE(Device->CloseDevice());
    EXPECT_FALSE(Device->OpenDevice());
    EXPECT_EQ(ErrorText(*Device), "Port COM3 busy");
}

TEST_F(ControllerTest, ControlTextParsing)
{
    Sim::ControlState S = Sim::ParseControl("  link=down \n; note\nlink=UP\n\nfail-once   StartD   No power \n"
                                            "fail\nunknown VLM_SetVw x\r\nfail VLM_GetLastError\n");
    EXPECT_FALSE(S.LinkDown);
    ASSERT_EQ(S.Rules.size(), 1u);
    EXPECT_EQ(S.Rules[0].Name, "VLM_StartD");
    EXPECT_EQ(S.Rules[0].Text, "No power");
    EXPECT_TRUE(S.Rules[0].Once);
}

TEST_F(ControllerTest, SupplyVoltageRipplesAround24Volts)
{
    Make();
    std::set<int32_t> Seen;
    for (int I = 0; I < 40; ++I) {
        int32_t R = 0;
        ASSERT_TRUE(Device->GetAdc(&R));
        EXPECT_GE(R, 239);
        EXPECT_LE(R, 241);
        EXPECT_EQ(R, Sim::VirtualController::SupplyReading(NowNs));
        Seen.insert(R);
        Wait(0.05);
    }
    EXPECT_EQ(Seen, (std::set<int32_t>{239, 240, 241}));
    EXPECT_EQ(Sim::VirtualController::SupplyReading(-1), Sim::VirtualController::SupplyReading(999999999));
}

TEST_F(ControllerTest, TheWatchdogRampsDownAMotorNobodyTalksTo)
{
    MakeDrive();
    EXPECT_EQ(Device->Watchdog(), 0); // off at power-on
    EXPECT_FALSE(Device->SetWatchdog(-1));
    EXPECT_EQ(ErrorText(*Device), "Watchdog time -1 ms is out of range 0..65535");
    EXPECT_FALSE(Device->SetWatchdog(65536));
    ASSERT_TRUE(Device->SetWatchdog(500));
    ASSERT_TRUE(Device->StartD(1));
    // Heard every 300 ms: it runs on.
    for (int I = 0; I < 10; ++I) {
        Wait(0.3);
        Device->Heard();
    }
    EXPECT_EQ(Stat(), 3);
    EXPECT_EQ(Vc(), 1000);
    EXPECT_FALSE(Device->TakeWatchdogStop());
    // Reads without a request heard (the model's own) do not feed it.
    const int32_t LastHeardAt = Nc();
    // Silence: 0.5 s more at 1000, then the ramp from 1000 to 100 (0.9 s,
    // 495 half-steps), whenever the model is next looked at.
    Wait(3);
    EXPECT_EQ(Stat(), 0);
    EXPECT_EQ(Vc(), 0);
    EXPECT_EQ(Nc(), LastHeardAt + 500 + 495);
    EXPECT_TRUE(Device->TakeWatchdogStop());
    EXPECT_FALSE(Device->TakeWatchdogStop()) << "said once";

    // A motor at rest is left alone, however long the silence.
    Device->Heard();
    Wait(5);
    EXPECT_EQ(Stat(), 0);
    EXPECT_FALSE(Device->TakeWatchdogStop());

    // Off: the motion goes on without anyone.
    ASSERT_TRUE(Device->SetWatchdog(0));
    ASSERT_TRUE(Device->StartD(-1));
    Wait(10);
    EXPECT_EQ(Stat(), 3);
    EXPECT_FALSE(Device->TakeWatchdogStop());
}

TEST_F(ControllerTest, TheWatchdogStopsAPositioningRunOnItsRamp)
{
    MakeDrive();
    ASSERT_TRUE(Device->SetWatchdog(200));
    ASSERT_TRUE(Device->StartN(900));
    Device->Heard();
    // 0.2 s into the ramp (speed 300, 40 half-steps): ramped down from there
    // to Vm (0.2 s, 40 more), well short of the target.
    Wait(2);
    EXPECT_EQ(Stat(), 0);
    EXPECT_EQ(Nc(), 80);
    EXPECT_TRUE(Device->TakeWatchdogStop());
}
