// libvelmor.so's device sessions (libvelmor/velmor_session.h): sessions on
// one port of velmor-sim share it and take turns from several threads, each
// with its own address and last error; sessions on the virtual controller
// share its one model.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "libvelmor/velmor_session.h"
#include "tests/linkclient/ChildProcess.h"

namespace {

using LinkTest::LineSim;

struct Free {
    void operator()(VLMS_Session* S) const { VLMS_Free(S); }
};
using Session = std::unique_ptr<VLMS_Session, Free>;

Session New(const std::string& Link, int32_t Address = 0) { return Session(VLMS_New(Link.c_str(), Address)); }

std::string Error(const Session& S)
{
    char* Text = nullptr;
    EXPECT_TRUE(VLMS_GetLastError(S.get(), &Text));
    return Text ? Text : "(null)";
}

bool Has(const std::string& Text, const std::string& Part) { return Text.find(Part) != std::string::npos; }

class Sessions : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The in-process model stores nothing of the user's.
        const std::string Folder = LinkTest::MakeTempFolder();
        setenv("VELMOR_SIM_STATE", (Folder + "/state.ini").c_str(), 1);
        setenv("VELMOR_SIM_CONTROL", (Folder + "/control").c_str(), 1);
    }
};

TEST_F(Sessions, TwoSessionsShareOnePortAndKeepTheirOwnErrors)
{
    LineSim Sim;
    ASSERT_TRUE(Sim.Start());
    const std::string Link = "serial:" + Sim.Link + "?timeout=500";
    Session A = New(Link), B = New(Link, 1);
    ASSERT_TRUE(A && B);
    ASSERT_TRUE(VLMS_OpenDevice(A.get())) << Error(A);
    // The port is exclusive: a second open of it in this process would be
    // "busy"; the session joins the one open.
    ASSERT_TRUE(VLMS_OpenDevice(B.get())) << Error(B);

    EXPECT_FALSE(VLMS_SetVw(A.get(), -5));
    EXPECT_TRUE(Has(Error(A), "Working speed -5")) << Error(A);
    EXPECT_TRUE(VLMS_SetNc(B.get(), 1234));
    EXPECT_TRUE(Has(Error(A), "Working speed -5")) << "B's success left A's text alone: " << Error(A);
    int32_t Nc = 0;
    ASSERT_TRUE(VLMS_GetNc(A.get(), &Nc)) << Error(A);
    EXPECT_EQ(Nc, 1234);

    // Closing one leaves the other on the port.
    EXPECT_TRUE(VLMS_CloseDevice(A.get()));
    EXPECT_FALSE(VLMS_GetNc(A.get(), &Nc));
    EXPECT_EQ(Error(A), "Device is not open");
    ASSERT_TRUE(VLMS_GetNc(B.get(), &Nc)) << Error(B);
    EXPECT_EQ(Nc, 1234);
    // And it opens again beside it.
    ASSERT_TRUE(VLMS_OpenDevice(A.get())) << Error(A);
    char* Info = nullptr;
    ASSERT_TRUE(VLMS_GetInfo(A.get(), &Info));
    EXPECT_TRUE(Has(Info, "#1: Virtual controller VLM-1")) << Info;
}

TEST_F(Sessions, AnAddressNobodyServesFailsAloneAndTheOtherGoesOn)
{
    LineSim Sim;
    ASSERT_TRUE(Sim.Start());
    Session One = New("serial:" + Sim.Link + "?timeout=200");
    Session Nine = New("serial:" + Sim.Link + "?timeout=50&address=1", 9);
    ASSERT_TRUE(VLMS_OpenDevice(One.get())) << Error(One);
    EXPECT_FALSE(VLMS_OpenDevice(Nine.get()));
    EXPECT_TRUE(Has(Error(Nine), "#9 (no answer")) << Error(Nine);
    int32_t State = -1;
    EXPECT_TRUE(VLMS_GetStat(One.get(), &State)) << Error(One);
    EXPECT_EQ(State, 0);
}

TEST_F(Sessions, AnotherSpeedOnAPortHeldOpenIsRefused)
{
    LineSim Sim;
    ASSERT_TRUE(Sim.Start());
    Session A = New("serial:" + Sim.Link + "?timeout=500");
    Session B = New("serial:" + Sim.Link + "?baud=9600&timeout=500");
    ASSERT_TRUE(VLMS_OpenDevice(A.get())) << Error(A);
    EXPECT_FALSE(VLMS_OpenDevice(B.get()));
    EXPECT_TRUE(Has(Error(B), "open at 115200 baud 8E1, not 9600 baud 8E1")) << Error(B);
    EXPECT_TRUE(VLMS_CloseDevice(A.get()));
    // Once nobody holds it, the other speed is taken.
    EXPECT_TRUE(VLMS_OpenDevice(B.get())) << Error(B);
}

TEST_F(Sessions, ThreadsTakeTurnsOnThePort)
{
    LineSim Sim;
    ASSERT_TRUE(Sim.Start());
    const std::string Link = "serial:" + Sim.Link + "?timeout=500";
    Session A = New(Link), B = New(Link);
    ASSERT_TRUE(VLMS_OpenDevice(A.get())) << Error(A);
    ASSERT_TRUE(VLMS_OpenDevice(B.get())) << Error(B);
    ASSERT_TRUE(VLMS_SetNc(A.get(), 777));
    // One thread writes parameters while the other reads the status block:
    // every request gets its own answer, none is lost or crossed.
    std::atomic<int> Bad{0};
    std::thread Writer([&] {
        for (int I = 0; I < 40; ++I)
            if (!VLMS_SetVw(A.get(), 1000 + I))
                ++Bad;
    });
    std::thread Reader([&] {
        for (int I = 0; I < 40; ++I) {
            int32_t Nc = 0, Adc = 0;
            if (!VLMS_GetNc(B.get(), &Nc) || Nc != 777 || !VLMS_GetAdc(B.get(), &Adc) || Adc < 239 || Adc > 241)
                ++Bad;
        }
    });
    Writer.join();
    Reader.join();
    EXPECT_EQ(Bad.load(), 0) << Error(A) << " / " << Error(B);
}

TEST_F(Sessions, VirtualSessionsShareTheOneModel)
{
    Session A = New("virtual"), B = New("virtual", 1), Two = New("virtual", 2);
    ASSERT_TRUE(VLMS_OpenDevice(A.get())) << Error(A);
    ASSERT_TRUE(VLMS_OpenDevice(B.get())) << Error(B);
    ASSERT_TRUE(VLMS_SetNc(A.get(), -42));
    int32_t Nc = 0;
    ASSERT_TRUE(VLMS_GetNc(B.get(), &Nc));
    EXPECT_EQ(Nc, -42);
    // The model answers at address 1 only.
    EXPECT_FALSE(VLMS_OpenDevice(Two.get()));
    EXPECT_TRUE(Has(Error(Two), "no answer from the controller at address 2")) << Error(Two);
    EXPECT_FALSE(VLMS_GetNc(Two.get(), &Nc));
    // One close leaves the other open; its own calls fail.
    EXPECT_TRUE(VLMS_CloseDevice(A.get()));
    EXPECT_FALSE(VLMS_GetNc(A.get(), &Nc));
    EXPECT_EQ(Error(A), "Device is not open");
    EXPECT_TRUE(VLMS_GetNc(B.get(), &Nc)) << Error(B);
    EXPECT_FALSE(VLMS_SetVw(B.get(), -1));
    EXPECT_TRUE(Has(Error(B), "Working speed -1")) << Error(B);
    EXPECT_EQ(Error(A), "Device is not open");
}

TEST_F(Sessions, AMalformedLinkOrAddressSaysWhatIsWrong)
{
    Session Bad = New("serial:/dev/null?adress=1");
    EXPECT_FALSE(VLMS_OpenDevice(Bad.get()));
    EXPECT_TRUE(Has(Error(Bad), "unknown option \"adress\"")) << Error(Bad);
    int32_t V = 0;
    EXPECT_FALSE(VLMS_GetNc(Bad.get(), &V));
    EXPECT_EQ(Error(Bad), "Device is not open");
    Session Far = New("virtual", 300);
    EXPECT_FALSE(VLMS_OpenDevice(Far.get()));
    EXPECT_TRUE(Has(Error(Far), "300 is out of range 1..247")) << Error(Far);
    // A null session is refused, not followed.
    EXPECT_FALSE(VLMS_OpenDevice(nullptr));
    EXPECT_FALSE(VLMS_GetNc(nullptr, &V));
    VLMS_Free(nullptr);
}

// The parameters as set through a session, read back in one request.
void ExpectParametersReadBack(const Session& S)
{
    ASSERT_TRUE(VLMS_SetMode(S.get(), 1, 1)) << Error(S);
    ASSERT_TRUE(VLMS_SetIw(S.get(), 1200));
    ASSERT_TRUE(VLMS_SetIa(S.get(), 1300));
    ASSERT_TRUE(VLMS_SetIh(S.get(), 100));
    ASSERT_TRUE(VLMS_SetVm(S.get(), 700));
    ASSERT_TRUE(VLMS_SetVw(S.get(), 9000));
    ASSERT_TRUE(VLMS_SetAw(S.get(), 25000));
    ASSERT_TRUE(VLMS_SetLim(S.get(), 1, 3, 5));
    ASSERT_TRUE(VLMS_SetCtrl(S.get(), 35));
    VLMS_Parameters P;
    std::memset(&P, 0x55, sizeof P);
    ASSERT_TRUE(VLMS_ReadParameters(S.get(), &P)) << Error(S);
    const int32_t Got[] = {P.step, P.decay, P.iw, P.ia, P.ih, P.vm,
                           P.vw, P.aw, P.lim_backward, P.lim_forward, P.lim_home, P.ctrl};
    const int32_t Want[] = {1, 1, 1200, 1300, 100, 700, 9000, 25000, 1, 3, 5, 35};
    for (int I = 0; I < 12; ++I)
        EXPECT_EQ(Got[I], Want[I]) << "parameter " << I;
    EXPECT_FALSE(VLMS_ReadParameters(S.get(), nullptr));
    EXPECT_EQ(Error(S), "VLMS_ReadParameters: no place for the result (null pointer)");
    ASSERT_TRUE(VLMS_CloseDevice(S.get()));
    EXPECT_FALSE(VLMS_ReadParameters(S.get(), &P));
    EXPECT_EQ(Error(S), "Device is not open");
}

TEST_F(Sessions, ParametersReadBackFromTheLine)
{
    LineSim Sim;
    ASSERT_TRUE(Sim.Start());
    Session S = New("serial:" + Sim.Link + "?timeout=500");
    ASSERT_TRUE(VLMS_OpenDevice(S.get())) << Error(S);
    ExpectParametersReadBack(S);
}

TEST_F(Sessions, ParametersReadBackFromTheVirtualController)
{
    Session S = New("virtual");
    ASSERT_TRUE(VLMS_OpenDevice(S.get())) << Error(S);
    ExpectParametersReadBack(S);
}

// What a scan reported.
struct ScanLog {
    std::vector<std::pair<int32_t, std::string>> Found;
    std::vector<int32_t> Done;
    int32_t Total = 0;
    int32_t StopAfter = 0; // cancel once this many are done (0: never)
};

VLM_BOOL RunScan(const std::string& Link, const std::vector<int32_t>& Addresses, ScanLog& Log, std::string& Error)
{
    char Text[256] = "untouched";
    const VLM_BOOL Ok = VLMS_Scan(
        Link.c_str(), Addresses.empty() ? nullptr : Addresses.data(), static_cast<int32_t>(Addresses.size()),
        [](void* User, int32_t Address, const char* Info) {
            static_cast<ScanLog*>(User)->Found.emplace_back(Address, Info);
        },
        [](void* User, int32_t Done, int32_t Total) -> VLM_BOOL {
            ScanLog& L = *static_cast<ScanLog*>(User);
            L.Done.push_back(Done);
            L.Total = Total;
            return L.StopAfter == 0 || Done < L.StopAfter;
        },
        &Log, Text, sizeof Text);
    Error = Text;
    return Ok;
}

TEST_F(Sessions, AScanFindsTheControllerAndIsCancelledMidway)
{
    LineSim Sim;
    ASSERT_TRUE(Sim.Start({"--address", "5"}));
    const std::string Link = "serial:" + Sim.Link;
    // A session holds the port: the scan takes turns on it.
    Session Held = New(Link, 5);
    ASSERT_TRUE(VLMS_OpenDevice(Held.get())) << Error(Held);

    ScanLog Listed;
    std::string Text;
    ASSERT_TRUE(RunScan(Link, {7, 5, 4}, Listed, Text)) << Text;
    EXPECT_EQ(Text, "");
    ASSERT_EQ(Listed.Found.size(), 1u);
    EXPECT_EQ(Listed.Found[0].first, 5);
    EXPECT_EQ(Listed.Found[0].second, "Virtual controller VLM-1 (simulated)");
    EXPECT_EQ(Listed.Done, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(Listed.Total, 3);

    ScanLog Cut;
    Cut.StopAfter = 12;
    ASSERT_TRUE(RunScan(Link, {}, Cut, Text)) << Text;
    EXPECT_EQ(Cut.Total, 247);
    ASSERT_EQ(Cut.Done.size(), 12u) << "no address is probed after the cancel";
    EXPECT_EQ(Cut.Done.back(), 12);
    ASSERT_EQ(Cut.Found.size(), 1u);
    EXPECT_EQ(Cut.Found[0].first, 5);

    int32_t State = -1;
    EXPECT_TRUE(VLMS_GetStat(Held.get(), &State)) << Error(Held);
}

TEST_F(Sessions, AScanSaysWhyItCannotRun)
{
    ScanLog Log;
    std::string Text;
    EXPECT_FALSE(RunScan("serial:/nonexistent/velmor-line", {}, Log, Text));
    EXPECT_TRUE(Has(Text, "no such port")) << Text;
    EXPECT_FALSE(RunScan("serial:/dev/null?adress=1", {}, Log, Text));
    EXPECT_TRUE(Has(Text, "unknown option")) << Text;
    EXPECT_FALSE(RunScan("virtual", {1, 248}, Log, Text));
    EXPECT_EQ(Text, "VLMS_Scan: address 248 is out of range 1..247");
    EXPECT_TRUE(Log.Done.empty());
    // The virtual controller is found at address 1 only.
    ASSERT_TRUE(RunScan("virtual", {2, 1, 3}, Log, Text)) << Text;
    ASSERT_EQ(Log.Found.size(), 1u);
    EXPECT_EQ(Log.Found[0].first, 1);
    EXPECT_EQ(Log.Done.size(), 3u);
}

} // namespace
