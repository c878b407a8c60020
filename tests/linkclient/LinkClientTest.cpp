// The device library's line client against the real velmor-sim on a
// pseudo-terminal (and through ser2net on TCP): the values of every
// operation, refusal texts, the faults of a line, hang-up and replug, absent
// and busy ports; and the link setting's parser.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

#include "linksetting/LinkConfig.h"
#include "linksetting/LinkFormat.h"
#include "link/RtuClient.h"
#include "sim/Controller.h"
#include "tests/linkclient/ChildProcess.h"

namespace {

using Link::LinkConfig;
using Link::RtuClient;
using LinkTest::WaitUntil;

bool Has(const std::string& Text, const std::string& Part) { return Text.find(Part) != std::string::npos; }

LinkConfig Serial(const std::string& Path, int TimeoutMs = 0)
{
    const std::string Line = "serial:" + Path + (TimeoutMs ? "?timeout=" + std::to_string(TimeoutMs) : "");
    const Core::Result<LinkConfig> C = Link::ParseLinkLine(Line);
    EXPECT_TRUE(C) << C.Error();
    return *C;
}

class LinkClient : public ::testing::Test {
protected:
    LinkTest::LineSim Sim;

    void SetUp() override { ASSERT_TRUE(Sim.Start()) << "velmor-sim did not come up on " << Sim.Link; }

    // A generous deadline where a test does not play with time, so a busy
    // machine cannot make a request late.
    std::unique_ptr<RtuClient> Open(int TimeoutMs = 500, RtuClient::Clock Now = Link::NowUs)
    {
        auto C = std::make_unique<RtuClient>(Serial(Sim.Link, TimeoutMs), Now);
        EXPECT_TRUE(C->OpenDevice()) << C->LastError();
        return C;
    }

    // Puts Text in velmor-sim's control file and lets it be seen: the sim
    // looks at the file at a request when 200 ms have passed since its last
    // look, so after 250 ms without requests the next request sees it.
    void Control(const std::string& Text)
    {
        std::ofstream(Sim.Control, std::ios::trunc) << Text;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
};

TEST_F(LinkClient, EveryOperationCarriesItsValues)
{
    auto Client = Open();
    RtuClient& C = *Client;
    char* Info = nullptr;
    ASSERT_TRUE(C.GetInfo(&Info));
    EXPECT_EQ(std::string(Info), "RTU " + Sim.Link + " 115200 #1: " + Sim::VirtualController::InfoText);

    ASSERT_TRUE(C.SetMode(2, 1));
    ASSERT_TRUE(C.SetIw(1500));
    ASSERT_TRUE(C.SetIa(1600));
    ASSERT_TRUE(C.SetIh(0));
    ASSERT_TRUE(C.SetVm(1000));
    ASSERT_TRUE(C.SetVw(4000));
    ASSERT_TRUE(C.SetAw(40000));
    ASSERT_TRUE(C.SetLim(1, 1, 5));
    ASSERT_TRUE(C.SetCtrl(35));
    int32_t P[12] = {};
    ASSERT_TRUE(C.ReadParameters(P)) << C.LastError();
    const int32_t Want[12] = {2, 1, 1500, 1600, 0, 1000, 4000, 40000, 1, 1, 5, 35};
    for (int I = 0; I < 12; ++I)
        EXPECT_EQ(P[I], Want[I]) << "parameter " << I;

    int32_t State = -1, Nc = 0, Nb = 0, Vc = 0, Lim = -1, Adc = 0;
    ASSERT_TRUE(C.StartN(3000));
    ASSERT_TRUE(WaitUntil([&] { return C.GetStat(&State) && State == 1; }, 5000)) << State;
    ASSERT_TRUE(C.GetNc(&Nc));
    EXPECT_EQ(Nc, 3000);
    ASSERT_TRUE(C.StartdN(-1000));
    ASSERT_TRUE(WaitUntil([&] { return C.GetStat(&State) && State == 1; }, 5000));
    ASSERT_TRUE(C.GetNc(&Nc));
    EXPECT_EQ(Nc, 2000);
    ASSERT_TRUE(C.SetNc(0));
    ASSERT_TRUE(C.GetNc(&Nc));
    EXPECT_EQ(Nc, 0) << "a command makes the status block stale";

    ASSERT_TRUE(C.StartD(-1));
    ASSERT_TRUE(WaitUntil([&] { return C.GetVc(&Vc) && Vc == -4000; }, 3000)) << Vc;
    ASSERT_TRUE(C.Stop());
    ASSERT_TRUE(C.GetStat(&State));
    EXPECT_EQ(State, 0);
    ASSERT_TRUE(C.GetVc(&Vc));
    EXPECT_EQ(Vc, 0);

    // The home sensor stands at 5000 of the simulated axis, 3000 since the
    // coordinate was set to 0 at 2000; it stops the motor at once (bit 4 of
    // its word), on the sensor.
    ASSERT_TRUE(C.Home(1));
    ASSERT_TRUE(WaitUntil([&] { return C.GetStat(&State) && State == 1; }, 5000)) << State;
    ASSERT_TRUE(C.GetNb(&Nb));
    EXPECT_NEAR(Nb, 3000, 50);
    ASSERT_TRUE(C.GetLim(&Lim));
    EXPECT_EQ(Lim, 4) << "standing on the home sensor";
    ASSERT_TRUE(C.GetAdc(&Adc));
    EXPECT_GE(Adc, 239);
    EXPECT_LE(Adc, 241);
    ASSERT_TRUE(C.SavePar()) << C.LastError();

    ASSERT_TRUE(C.CloseDevice());
    EXPECT_FALSE(C.GetNc(&Nc));
    EXPECT_EQ(C.LastError(), RtuClient::NotOpenText);
    EXPECT_TRUE(C.CloseDevice()) << "a second close is harmless";
}

int64_t StoppedClock() { return 1000000; }

TEST_F(LinkClient, TheReadsOfOneTickTakeOneRequest)
{
    // With time stood still the status block stays fresh.
    auto Client = Open(500, StoppedClock);
    RtuClient& C = *Client;
    int32_t V;
    const uint64_t Before = C.RequestsSent();
    ASSERT_TRUE(C.GetNc(&V) && C.GetLim(&V) && C.GetVc(&V) && C.GetStat(&V));
    EXPECT_EQ(C.RequestsSent() - Before, 1u);
    ASSERT_TRUE(C.SetVw(200));
    ASSERT_TRUE(C.GetStat(&V));
    EXPECT_EQ(C.RequestsSent() - Before, 3u) << "a setter in between: its write, then a fresh status read";
}

TEST_F(LinkClient, RefusalsGiveTheInProcessControllersTexts)
{
    auto Client = Open();
    RtuClient& C = *Client;
    Sim::Options O;
    O.StatePath.clear();
    O.ControlPath.clear();
    Sim::VirtualController Local(O);
    ASSERT_TRUE(Local.OpenDevice());

    EXPECT_FALSE(C.SetIw(5000));
    EXPECT_FALSE(Local.SetIw(5000));
    EXPECT_EQ(C.LastError(), Local.LastError());
    EXPECT_FALSE(C.SetMode(1, 7));
    EXPECT_FALSE(Local.SetMode(1, 7));
    EXPECT_EQ(C.LastError(), Local.LastError());
    EXPECT_FALSE(C.SetCtrl(9));
    EXPECT_FALSE(Local.SetCtrl(9));
    EXPECT_EQ(C.LastError(), Local.LastError());
    EXPECT_FALSE(C.Home(1)) << "no home sensor enabled";
    EXPECT_FALSE(Local.Home(1));
    EXPECT_EQ(C.LastError(), Local.LastError());
    EXPECT_FALSE(Local.LastError().empty());
    int32_t V;
    EXPECT_TRUE(C.GetNc(&V)) << "a refusal leaves the link up";
}

TEST_F(LinkClient, LostOrDamagedAnswersAreAskedForOnce)
{
    auto Client = Open();
    RtuClient& C = *Client;
    for (const char* Fault : {"no-answer", "bad-crc", "truncate"}) {
        Control(std::string("line-once ") + Fault + "\n");
        const uint64_t Before = C.RequestsSent();
        EXPECT_TRUE(C.SetVw(300)) << Fault << ": " << C.LastError();
        EXPECT_EQ(C.RequestsSent() - Before, 2u) << Fault;
    }
    // A move by is never sent twice: the first was carried out.
    int32_t Nc0 = 0, Nc = 0, State = 0;
    ASSERT_TRUE(C.SetVm(1000) && C.SetVw(4000) && C.SetAw(40000));
    ASSERT_TRUE(C.GetNc(&Nc0));
    Control("line-once no-answer\n");
    const uint64_t Before = C.RequestsSent();
    EXPECT_FALSE(C.StartdN(500));
    EXPECT_EQ(C.RequestsSent() - Before, 1u);
    EXPECT_TRUE(Has(C.LastError(), "not sent again")) << C.LastError();
    EXPECT_TRUE(C.IsOpen());
    ASSERT_TRUE(WaitUntil([&] { return C.GetStat(&State) && State == 1; }, 5000)) << C.LastError();
    ASSERT_TRUE(C.GetNc(&Nc));
    EXPECT_EQ(Nc, Nc0 + 500) << "moved once";
}

TEST_F(LinkClient, AnswersLostTwiceFailTheCallAndCloseThePort)
{
    for (const char* Fault : {"no-answer", "bad-crc", "truncate"}) {
        auto Client = Open(100);
        RtuClient& C = *Client;
        Control(std::string("line ") + Fault + "\n");
        int32_t V;
        EXPECT_FALSE(C.GetNc(&V)) << Fault;
        EXPECT_TRUE(Has(C.LastError(), "VLM_GetNc: no valid answer from the controller")) << C.LastError();
        const std::string Kind = std::string(Fault) == "no-answer" ? "no answer within 100 ms" : 
                                 std::string(Fault) == "bad-crc" ? "bad CRC" : "truncated frame";
        EXPECT_TRUE(Has(C.LastError(), Kind + ", then " + Kind)) << C.LastError();
        EXPECT_FALSE(C.IsOpen());
        EXPECT_FALSE(C.GetNc(&V));
        EXPECT_EQ(C.LastError(), RtuClient::NotOpenText);
        Control("");
    }
}

TEST_F(LinkClient, HangUpFailsTheCallAndTheOpenAfterTheReplugSucceeds)
{
    auto Client = Open();
    RtuClient& C = *Client;
    Control("line hangup 300\n");
    int32_t V;
    EXPECT_FALSE(C.GetNc(&V));
    EXPECT_TRUE(Has(C.LastError(), "hung up")) << C.LastError();
    EXPECT_FALSE(C.IsOpen());
    EXPECT_TRUE(WaitUntil([&] { return C.OpenDevice(); }, 5000)) << C.LastError();
    EXPECT_TRUE(C.GetNc(&V)) << C.LastError();
}

TEST_F(LinkClient, AbsentAndBusyPortsFailAtOnce)
{
    RtuClient Absent(Serial(Sim.Folder + "/unplugged"));
    EXPECT_FALSE(Absent.OpenDevice());
    EXPECT_EQ(Absent.LastError(),
              "Cannot open the port " + Sim.Folder + "/unplugged: no such port (is the adapter plugged in?)");
    EXPECT_EQ(Absent.RequestsSent(), 0u);

    // Another program holds the port exclusively.
    int Other = ::open(Sim.Link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(Other, 0);
    ASSERT_EQ(::flock(Other, LOCK_EX | LOCK_NB), 0);
    RtuClient Busy(Serial(Sim.Link));
    EXPECT_FALSE(Busy.OpenDevice());
    EXPECT_EQ(Busy.LastError(),
              "Cannot open the port " + Sim.Link + ": busy, opened exclusively by another program");
    EXPECT_EQ(Busy.RequestsSent(), 0u);
    ASSERT_EQ(::flock(Other, LOCK_UN), 0);
    EXPECT_TRUE(Busy.OpenDevice()) << Busy.LastError();

    // Exclusive while open, and no longer once closed, though velmor-sim
    // still holds the terminal: else an ordinary user's reopen is refused.
    // Asked on a descriptor opened before, which only root could open now.
    int Exclusive = -1;
    ASSERT_EQ(::ioctl(Other, TIOCGEXCL, &Exclusive), 0);
    EXPECT_EQ(Exclusive, 1);
    Busy.CloseDevice();
    ASSERT_EQ(::ioctl(Other, TIOCGEXCL, &Exclusive), 0);
    EXPECT_EQ(Exclusive, 0);
    ::close(Other);
}

// A free TCP port on the loopback address.
int FreePort()
{
    int S = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A = {};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t L = sizeof A;
    int Port = 0;
    if (::bind(S, reinterpret_cast<sockaddr*>(&A), sizeof A) == 0 &&
        ::getsockname(S, reinterpret_cast<sockaddr*>(&A), &L) == 0)
        Port = ntohs(A.sin_port);
    ::close(S);
    return Port;
}

TEST_F(LinkClient, TcpThroughSer2netInFrontOfThePseudoTerminal)
{
    const int Port = FreePort();
    ASSERT_GT(Port, 0);
    LinkTest::ChildProcess Gateway;
    std::string Target;
    if (::access("/usr/sbin/ser2net", X_OK) == 0) {
        const std::string Conf = Sim.Folder + "/ser2net.yaml";
        std::ofstream(Conf) << "connection: &velmor\n"
                               "  accepter: tcp,127.0.0.1," << Port << "\n"
                               "  connector: serialdev," << Sim.Link << ",115200n81,local\n"
                               "  options:\n"
                               "    kickolduser: true\n";
        ASSERT_TRUE(Gateway.Start("/usr/sbin/ser2net", {"-n", "-c", Conf, "-P", Sim.Folder + "/ser2net.pid"}));
        Target = "ser2net";
    } else {
        std::printf("ser2net is not installed: TCP tested on velmor-sim --tcp instead\n");
        ASSERT_TRUE(Gateway.Start(LinkTest::SimExe(), {"--tcp", "127.0.0.1:" + std::to_string(Port)}));
        Target = "velmor-sim --tcp";
    }
    const Core::Result<LinkConfig> Config = Link::ParseLinkLine("tcp:127.0.0.1:" + std::to_string(Port) + "?timeout=500");
    ASSERT_TRUE(Config) << Config.Error();
    RtuClient C(*Config);
    ASSERT_TRUE(WaitUntil([&] { return C.OpenDevice(); }, 5000)) << Target << ": " << C.LastError();
    char* Info = nullptr;
    ASSERT_TRUE(C.GetInfo(&Info));
    EXPECT_EQ(std::string(Info), "RTU tcp 127.0.0.1:" + std::to_string(Port) + " 9600 #1: " +
                                     Sim::VirtualController::InfoText);
    int32_t Nc = -1, State = -1;
    ASSERT_TRUE(C.SetNc(0) && C.SetVm(1000) && C.SetVw(4000) && C.SetAw(40000)) << C.LastError();
    ASSERT_TRUE(C.StartN(-700));
    ASSERT_TRUE(WaitUntil([&] { return C.GetStat(&State) && State == 1; }, 5000)) << C.LastError();
    ASSERT_TRUE(C.GetNc(&Nc));
    EXPECT_EQ(Nc, -700);
    Gateway.Stop();
    EXPECT_FALSE(C.Stop()) << "the gateway went away";
    EXPECT_FALSE(C.IsOpen()) << C.LastError();
}

// ---- the link setting ------------------------------------------------------

// The parser's answer as a truth value, its setting into C, its text into E.
bool ParseInto(const std::string& Line, LinkConfig& C, std::string& E)
{
    const Core::Result<LinkConfig> Parsed = Link::ParseLinkLine(Line);
    Parsed ? void(C = *Parsed) : void(E = Parsed.Error());
    return Parsed.Ok();
}

TEST(LinkSetting, LinesGiveTheirFieldsOrSayWhatIsWrong)
{
    LinkConfig C;
    std::string E;
    ASSERT_TRUE(ParseInto(" serial:/dev/serial/by-id/usb-FTDI_x?baud=9600&address=17&timeout=80\n", C, E));
    EXPECT_TRUE(C.Type == LinkConfig::Kind::Serial && C.Path == "/dev/serial/by-id/usb-FTDI_x" && C.Baud == 9600 &&
                C.Address == 17 && C.TimeoutMs == 80);
    // The Modbus serial default is 8E1; no parity means two stop bits unless
    // they are given.
    EXPECT_TRUE(C.Parity == Link::Parity::Even && C.StopBits == 1) << Link::FramingName(C.Parity, C.StopBits);
    const std::pair<const char*, const char*> Framings[] = {
        {"serial:/dev/ttyS0?parity=none", "8N2"},
        {"serial:/dev/ttyS0?stopbits=1&parity=none", "8N1"},
        {"serial:/dev/ttyS0?parity=odd", "8O1"},
        {"serial:/dev/ttyS0?stopbits=2", "8E2"},
    };
    for (const auto& F : Framings) {
        ASSERT_TRUE(ParseInto(F.first, C, E)) << F.first << ": " << E;
        EXPECT_STREQ(Link::FramingName(C.Parity, C.StopBits), F.second) << F.first;
    }
    // Behind a gateway the speed is the gateway's line's, 9600 unless given.
    ASSERT_TRUE(ParseInto("tcp:[::1]:4001?address=2", C, E));
    EXPECT_TRUE(C.Type == LinkConfig::Kind::Tcp && C.Host == "::1" && C.Port == 4001 && C.Address == 2 &&
                C.Baud == 9600 && C.TimeoutMs == 0);
    ASSERT_TRUE(ParseInto("modbus-tcp:10.0.0.7:502?unit=9&baud=115200&trace=/tmp/a b.trace", C, E)) << E;
    EXPECT_TRUE(C.Type == LinkConfig::Kind::ModbusTcp && C.Host == "10.0.0.7" && C.Port == 502 && C.Address == 9 &&
                C.Baud == 115200 && C.TracePath == "/tmp/a b.trace");
    ASSERT_TRUE(ParseInto("virtual", C, E));
    EXPECT_TRUE(C.Type == LinkConfig::Kind::Virtual);

    const std::pair<const char*, const char*> Bad[] = {
        {"serial:/dev/ttyUSB0?address=0", "address 0 is out of range 1..247"},
        {"serial:/dev/ttyUSB0?baud=12345", "baud 12345 is not a standard speed"},
        {"serial:/dev/ttyUSB0?baud=9600&baud=9600", "option baud is given twice"},
        {"serial:/dev/ttyUSB0?parity=mark", "parity \"mark\" is not none, even or odd"},
        {"serial:/dev/ttyUSB0?stopbits=1.5", "stopbits \"1.5\" is not 1 or 2"},
        {"serial:/dev/ttyUSB0?unit=3", "unknown option \"unit\""},
        {"serial:/dev/ttyUSB0?trace=", "trace needs a file"},
        {"tcp:127.0.0.1:4001?parity=none", "option parity is for serial links only"},
        {"modbus-tcp:127.0.0.1:502?unit=3&address=3", "option unit (or address) is given twice"},
        {"modbus-tcp:127.0.0.1", "tcp needs HOST:PORT"},
        {"serial:/dev/ttyUSB0?timeout=", "timeout \"\" is not a number"},
        {"serial:", "serial needs the port's path"},
        {"tcp:127.0.0.1", "tcp needs HOST:PORT"},
        {"tcp:gateway.local:4001", "host \"gateway.local\" is not a numeric address"},
        {"tcp:300.1.2.3:4001", "host \"300.1.2.3\" is not a numeric address"},
        {"tcp:[1::2::3]:4001", "host \"1::2::3\" is not a numeric address"},
        {"tcp:127.0.0.1:70000", "port 70000 is out of range 1..65535"},
        {"COM1", "does not start with virtual, serial:, tcp: or modbus-tcp:"},
    };
    for (const auto& B : Bad) {
        E.clear();
        EXPECT_FALSE(ParseInto(B.first, C, E)) << B.first;
        EXPECT_TRUE(Has(E, B.second)) << B.first << " gave: " << E;
    }
}

std::string FakeFile;
int FakeErr = 0;
int ReadFake(const std::string&, std::string& Text)
{
    Text = FakeFile;
    return FakeErr;
}

TEST(LinkSetting, TheWatchdogIsReadAndWrittenBack)
{
    LinkConfig C;
    std::string E;
    ASSERT_TRUE(ParseInto("serial:/dev/ttyS0", C, E)) << E;
    EXPECT_EQ(C.WatchdogMs, -1) << "left as the controller has it";
    EXPECT_EQ(Link::FormatLinkLine(C), "serial:/dev/ttyS0");
    for (const char* Line : {"serial:/dev/ttyS0?watchdog=0", "tcp:127.0.0.1:4001?address=2&watchdog=65535",
                             "modbus-tcp:127.0.0.1:502?watchdog=500&trace=/tmp/t"}) {
        ASSERT_TRUE(ParseInto(Line, C, E)) << Line << ": " << E;
        EXPECT_EQ(Link::FormatLinkLine(C), Line);
    }
    EXPECT_EQ(C.WatchdogMs, 500);
    EXPECT_FALSE(ParseInto("serial:/dev/ttyS0?watchdog=65536", C, E));
    EXPECT_TRUE(Has(E, "watchdog")) << E;
    EXPECT_FALSE(ParseInto("serial:/dev/ttyS0?watchdog=-1", C, E));
    EXPECT_FALSE(ParseInto("serial:/dev/ttyS0?watchdog=1&watchdog=2", C, E));
    EXPECT_TRUE(Has(E, "option watchdog is given twice")) << E;
}

TEST(LinkSetting, TheVariableComesFirstThenTheFileAndNothingMeansVirtual)
{
    FakeErr = 0;
    FakeFile = "# bench adapter\n\n  tcp:127.0.0.1:4001  \n";
    Link::LinkSetting S = Link::LinkSettingFrom("virtual", "/x", "/home/u", ReadFake);
    EXPECT_TRUE(S.Ok && S.Source == "$VELMOR_LINK" && S.Config.Type == LinkConfig::Kind::Virtual);
    S = Link::LinkSettingFrom("", "relative", "/home/u", ReadFake);
    EXPECT_TRUE(S.Ok && S.Source == "/home/u/.config/velmor/link.conf" && S.Config.Port == 4001) << S.Error;

    FakeFile = "serial:/dev/ttyUSB0\nserial:/dev/ttyUSB1\n";
    S = Link::LinkSettingFrom(nullptr, "/cfg", "/home/u", ReadFake);
    EXPECT_FALSE(S.Ok);
    EXPECT_EQ(S.Error, "Link setting in /cfg/velmor/link.conf: a second setting on line 2; the file holds one");
    FakeFile = "serial:/dev/ttyUSB0?address=999\n";
    S = Link::LinkSettingFrom(nullptr, "/cfg", "/home/u", ReadFake);
    EXPECT_EQ(S.Error, "Link setting in /cfg/velmor/link.conf: address 999 is out of range 1..247 "
                       "(read \"serial:/dev/ttyUSB0?address=999\")");
    S = Link::LinkSettingFrom("tcp:1.2.3.4", "/cfg", "/home/u", ReadFake);
    EXPECT_TRUE(Has(S.Error, "Link setting in $VELMOR_LINK: tcp needs HOST:PORT")) << S.Error;
    FakeErr = EACCES;
    S = Link::LinkSettingFrom(nullptr, "/cfg", "/home/u", ReadFake);
    EXPECT_EQ(S.Error, "Link setting in /cfg/velmor/link.conf: cannot read the file: Permission denied");

    FakeErr = ENOENT;
    S = Link::LinkSettingFrom(nullptr, "/cfg", "/home/u", ReadFake);
    EXPECT_TRUE(S.Ok && S.Source.empty() && S.Config.Type == LinkConfig::Kind::Virtual);
}

} // namespace
