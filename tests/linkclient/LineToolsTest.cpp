// The line as stock Modbus tools see it: velmor-sim on a serial port (one end
// of a socat pair) answering mbpoll, the framing options as the port shows
// them, the client's silence before each request measured by socat in the
// middle of the line, noise around answers, and the frame trace of a retry.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "linksetting/LinkConfig.h"
#include "link/RtuClient.h"
#include "link/Registers.h"
#include "link/RtuFrame.h"
#include "tests/linkclient/ChildProcess.h"
#include "tests/linkclient/LineTestTools.h"

namespace {

using Link::LinkConfig;
using Link::RtuClient;
using namespace LinkTest; // the child processes and the line test tools

TEST(LineTools, SimOnASerialPortAnswersMbpollRunAfterRun)
{
    SocatPair Pair;
    ASSERT_TRUE(Pair.Start()) << "socat (Debian package socat) did not make its pair";
    ChildProcess Sim;
    ASSERT_TRUE(Sim.Start(LinkTest::SimExe(), {"--port", Pair.A, "--state", Pair.Folder + "/state.ini"}));
    std::string Line;
    ASSERT_TRUE(Sim.ReadLine(Line, 5000));
    EXPECT_EQ(Line, Pair.A);

    // Two runs, each opening and closing the other end: the sim's port sees
    // the line go quiet in between and must go on serving (no end of file).
    for (int Run1 = 0; Run1 < 2; ++Run1) {
        int Status = 0;
        const std::string Out = RunTool({"/usr/bin/mbpoll", "-m", "rtu", "-b", "115200", "-P", "even", "-a", "1", "-t",
                                     "3", "-0", "-r", "0", "-c", "9", "-1", Pair.B},
                                    Status);
        ASSERT_EQ(Status, 0) << Out;
        EXPECT_TRUE(Has(Out, "[0]: \t0")) << "stopped\n" << Out;
        const size_t Supply = Out.find("[8]: \t");
        ASSERT_NE(Supply, std::string::npos) << Out;
        EXPECT_NEAR(std::atoi(Out.c_str() + Supply + 6), 240, 5) << "24 V with its ripple, in tenths\n" << Out;
    }
    // A parameter written as tested in the protocol's page, and read back as
    // a 32-bit value, high word first (-B).
    int Status = 0;
    std::string Out = RunTool({"/usr/bin/mbpoll", "-m", "rtu", "-b", "115200", "-a", "1", "-t", "4", "-0", "-r", "12",
                           Pair.B, "0", "1000"},
                          Status);
    ASSERT_EQ(Status, 0) << Out;
    Out = RunTool({"/usr/bin/mbpoll", "-m", "rtu", "-b", "115200", "-a", "1", "-t", "4:int", "-B", "-0", "-r", "12", "-1",
               Pair.B},
              Status);
    ASSERT_EQ(Status, 0) << Out;
    EXPECT_TRUE(Has(Out, "[12]: \t1000")) << Out;
    // One register alone goes as function 06, which the controller refuses.
    Out = RunTool({"/usr/bin/mbpoll", "-m", "rtu", "-b", "115200", "-a", "1", "-t", "4", "-0", "-r", "12", Pair.B, "7"},
              Status);
    EXPECT_NE(Status, 0) << Out;
    EXPECT_TRUE(Has(Out, "Illegal function")) << Out;
    EXPECT_TRUE(Sim.Running());
}

TEST(LineTools, FramingOptionsReachThePorts)
{
    // Exactly the bits each option asks for.
    struct {
        Link::Parity P;
        int Stop;
        tcflag_t Want;
    } const Cases[] = {
        {Link::Parity::Even, 1, PARENB},
        {Link::Parity::Odd, 1, PARENB | PARODD},
        {Link::Parity::None, 2, CSTOPB},
        {Link::Parity::Even, 2, PARENB | CSTOPB},
    };
    for (const auto& C : Cases) {
        termios T{};
        T.c_cflag = PARENB | PARODD | CSTOPB | CRTSCTS | CS5;
        Link::SetRawFraming(T, C.P, C.Stop);
        EXPECT_EQ(T.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS | CSIZE), C.Want | CS8)
            << Link::FramingName(C.P, C.Stop);
        EXPECT_EQ((T.c_iflag & INPCK) != 0, C.P != Link::Parity::None);
        EXPECT_EQ(T.c_cc[VMIN], 1);
    }

    // A pseudo-terminal keeps the speed and the stop bits but never shows
    // parity: those two are read back with stty.
    SocatPair Pair;
    ASSERT_TRUE(Pair.Start());
    ChildProcess Sim;
    ASSERT_TRUE(Sim.Start(LinkTest::SimExe(), {"--port", Pair.A, "--baud", "9600", "--parity", "none", "--state",
                                               Pair.Folder + "/state.ini"}));
    std::string Line;
    ASSERT_TRUE(Sim.ReadLine(Line, 5000));
    std::string S = Stty(Pair.A);
    EXPECT_TRUE(Has(S, "speed 9600 baud")) << S;
    EXPECT_TRUE(Flag(S, "cstopb")) << "--parity none means 8N2\n" << S;
    EXPECT_TRUE(Flag(S, "-icanon") && Has(S, "min = 1;")) << "raw, a read returns at one byte\n" << S;

    for (const auto& [Options, Stop] : {std::pair<std::string, const char*>{"", "-cstopb"},
                                        {"&parity=none", "cstopb"},
                                        {"&parity=none&stopbits=1", "-cstopb"}}) {
        RtuClient Client(Parse("serial:" + Pair.B + "?baud=9600&timeout=2000" + Options));
        ASSERT_TRUE(Client.OpenDevice()) << Options << ": " << Client.LastError();
        S = Stty(Pair.B);
        EXPECT_TRUE(Flag(S, Stop)) << Options << "\n" << S;
        int32_t State = -1;
        EXPECT_TRUE(Client.GetStat(&State)) << Client.LastError();
    }
}

// socat between the client and velmor-sim, printing each block it passes
// with the time it read it: the gap from the end of an answer to the next
// request is a lower bound of the silence the client left.
TEST(LineTools, ClientLeavesTheSilenceBeforeEveryRequest)
{
    LinkTest::LineSim Sim;
    ASSERT_TRUE(Sim.Start());
    for (int Baud : {115200, 9600}) {
        const std::string Middle = Sim.Folder + "/middle" + std::to_string(Baud),
                          Log = Sim.Folder + "/socat" + std::to_string(Baud) + ".log";
        ChildProcess Socat;
        ASSERT_TRUE(Socat.Start("/bin/sh", {"-c", "exec /usr/bin/socat -v pty,raw,echo=0,link=" + Middle +
                                                      " file:" + Sim.Link + ",raw,echo=0 2>" + Log}));
        ASSERT_TRUE(WaitUntil([&] { return ::access(Middle.c_str(), F_OK) == 0; }, 5000));
        RtuClient Client(Parse("serial:" + Middle + "?baud=" + std::to_string(Baud) + "&timeout=2000"));
        ASSERT_TRUE(Client.OpenDevice()) << Client.LastError();
        int32_t V = 0;
        for (int I = 0; I < 20; ++I) {
            ASSERT_TRUE(Client.SetVw(100 + I)) << Client.LastError();
            ASSERT_TRUE(Client.GetNc(&V)) << Client.LastError();
        }
        Client.CloseDevice();
        // Headers like "> 2026/12/10 00:01:02.123456  length=8 from=0 to=7"
        // before each block ('>' from the client, '<' from the sim), the
        // block's bytes right after them. socat 1.7.4 prints microseconds
        // in nine digits, later versions nanoseconds.
        std::ifstream In(Log);
        const std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
        struct Block {
            char Dir;
            double Seconds, Fraction;
        };
        std::vector<Block> Blocks;
        double Largest = 0;
        for (size_t At = Text.find("  length="); At != std::string::npos; At = Text.find("  length=", At + 1)) {
            // "D YYYY/MM/DD HH:MM:SS.FRACTION" before it: D at 12 before the
            // space that starts the time.
            const size_t Space = Text.rfind(' ', At - 1);
            if (Space == std::string::npos || Space < 12 || (Text[Space - 12] != '<' && Text[Space - 12] != '>'))
                continue;
            int H = 0, M = 0, S = 0;
            char Fraction[16] = {};
            if (std::sscanf(Text.substr(Space + 1, At - Space - 1).c_str(), "%d:%d:%d.%15[0-9]", &H, &M, &S,
                            Fraction) != 4)
                continue;
            Blocks.push_back({Text[Space - 12], (H * 60.0 + M) * 60.0 + S, std::strtod(Fraction, nullptr)});
            Largest = std::max(Largest, Blocks.back().Fraction);
        }
        // Microseconds never reach a million; of eighty nanosecond
        // fractions some do.
        const double Unit = Largest < 1e6 ? 1e-6 : 1e-9;
        double LastAnswer = -1, Shortest = 1e12;
        int Gaps = 0;
        for (const Block& B : Blocks) {
            const double T = B.Seconds + B.Fraction * Unit;
            if (B.Dir == '<') {
                LastAnswer = T;
            } else if (LastAnswer >= 0) {
                Shortest = std::min(Shortest, (T - LastAnswer) * 1e6);
                ++Gaps;
                LastAnswer = -1;
            }
        }
        EXPECT_GE(Gaps, 39) << Baud << "\n" << std::ifstream(Log).rdbuf();
        EXPECT_GE(Shortest, static_cast<double>(Link::FrameGapUs(Baud))) << Baud << " baud";
    }
}

// A controller of our own on a pseudo-terminal: each whole request goes to
// Answer, whose bytes go back as they are.
class ScriptedDevice {
public:
    using Script = std::function<Link::Frame(const Link::Request&)>;
    explicit ScriptedDevice(Script Answer) : FAnswer(std::move(Answer))
    {
        FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0)
            return;
        Slave = ::ptsname(FMaster);
        FThread = std::thread([this] { Serve(); });
    }
    ~ScriptedDevice()
    {
        FDone = true;
        if (FThread.joinable())
            FThread.join();
        if (FMaster >= 0)
            ::close(FMaster);
    }
    std::string Slave;

private:
    void Serve()
    {
        std::vector<uint8_t> In;
        while (!FDone) {
            pollfd P = {FMaster, POLLIN, 0};
            if (::poll(&P, 1, 20) <= 0)
                continue;
            uint8_t B[256];
            const ssize_t N = ::read(FMaster, B, sizeof B);
            if (N <= 0)
                continue;
            In.insert(In.end(), B, B + N);
            const Link::ParsedRequest R = Link::ParseRequest(In.data(), In.size());
            if (R.Status == Link::RequestStatus::Incomplete)
                continue;
            In.clear();
            const Link::Frame Out = FAnswer(R.Req);
            (void)!::write(FMaster, Out.data(), Out.size());
        }
    }
    Script FAnswer;
    int FMaster = -1;
    std::atomic<bool> FDone{false};
    std::thread FThread;
};

std::string ReadAll(const std::string& Path)
{
    std::ifstream In(Path);
    return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
}

// Answers come with bytes around them, as from a transceiver that glitches
// while it switches.
TEST(LineTools, NoiseAroundAnswersIsSkipped)
{
    const std::string TracePath = LinkTest::MakeTempFolder() + "/trace";
    // Each answer: one noise pattern before it, 0x00 0xFF after it.
    const std::vector<std::vector<uint8_t>> Before = {{0x00}, {0xFF, 0x01}, {0x01, 0x04, 0x02}, {0x01}};
    size_t Answered = 0;
    ScriptedDevice Device([&](const Link::Request& R) {
        std::vector<uint16_t> Values(R.Count, 0);
        if (R.Start == 0x0100)
            Values[0] = 0x5600; // "V"
        Link::Frame Answer = Before[Answered++ % Before.size()];
        const Link::Frame Reply = Link::BuildReadResponse(R.Address, R.Function, Values);
        Answer.insert(Answer.end(), Reply.begin(), Reply.end());
        Answer.push_back(0x00);
        Answer.push_back(0xFF);
        return Answer;
    });
    ASSERT_FALSE(Device.Slave.empty());
    // A clock a second later at every look: each read goes to the line.
    RtuClient Client(Parse("serial:" + Device.Slave + "?timeout=1000&trace=" + TracePath), [] {
        static int64_t Now = 0;
        return Now += 1000000;
    });
    ASSERT_TRUE(Client.OpenDevice()) << Client.LastError();
    int32_t V = -1;
    for (int I = 0; I < 6; ++I) {
        ASSERT_TRUE(Client.GetStat(&V)) << I << ": " << Client.LastError();
        EXPECT_EQ(V, 0);
    }
    const std::string Trace = ReadAll(TracePath);
    EXPECT_TRUE(Has(Trace, "-- skipped 1 bytes before the answer")) << Trace;
    EXPECT_TRUE(Has(Trace, "-- skipped 2 bytes before the answer")) << Trace;
    EXPECT_TRUE(Has(Trace, "-- skipped 3 bytes before the answer")) << Trace;
    EXPECT_TRUE(Has(Trace, "-- ignored 2 bytes after the answer") || Has(Trace, "-- dropped 2 late bytes")) << Trace;
}

// A firmware that checks the working current against 0..500 says so in the
// refusal's range registers; one without them is read as before.
TEST(LineTools, RefusalsNameTheFirmwaresOwnRange)
{
    for (const bool Ranges : {true, false}) {
        std::vector<uint16_t> Asked;
        ScriptedDevice Device([&](const Link::Request& R) -> Link::Frame {
            if (R.Function == Link::WriteMultiple)
                return Link::BuildException(R.Address, R.Function, Link::IllegalValue);
            if (R.Start == Link::Input::Reason) {
                Asked.push_back(R.Count);
                if (!Ranges && R.Count > Link::Input::ReasonCount)
                    return Link::BuildException(R.Address, R.Function, Link::IllegalAddress);
                std::vector<uint16_t> Block{static_cast<uint16_t>(Link::Reason::WorkingCurrent)};
                Link::AppendInt32(Block, 800);
                Block.push_back(1);
                Link::AppendInt32(Block, 0);
                Link::AppendInt32(Block, 500);
                Block.resize(R.Count);
                return Link::BuildReadResponse(R.Address, R.Function, Block);
            }
            return Link::BuildReadResponse(R.Address, R.Function, std::vector<uint16_t>(R.Count, 0x4100));
        });
        RtuClient Client(Parse("serial:" + Device.Slave + "?timeout=1000"));
        ASSERT_TRUE(Client.OpenDevice()) << Client.LastError();
        EXPECT_FALSE(Client.SetIw(800));
        EXPECT_EQ(Client.LastError(), Ranges ? "Working current 800 mA is out of range 0..500"
                                             : "Working current 800 mA is out of range 0..2000");
        const std::vector<uint16_t> Want = Ranges ? std::vector<uint16_t>{8} : std::vector<uint16_t>{8, 3};
        EXPECT_EQ(Asked, Want);
        EXPECT_TRUE(Client.IsOpen());
    }
}

TEST(LineTools, TraceShowsARetry)
{
    LinkTest::LineSim Sim;
    Sim.Folder = LinkTest::MakeTempFolder();
    Sim.Link = Sim.Folder + "/line";
    Sim.Control = Sim.Folder + "/control";
    const std::string TracePath = Sim.Folder + "/client.trace", SimTrace = Sim.Folder + "/sim.trace";
    ASSERT_TRUE(Sim.Start({"--trace", SimTrace}));
    RtuClient Client(Parse("serial:" + Sim.Link + "?timeout=300&trace=" + TracePath));
    ASSERT_TRUE(Client.OpenDevice()) << Client.LastError();
    std::ofstream(Sim.Control) << "line-once no-answer\n";
    std::this_thread::sleep_for(std::chrono::milliseconds(250)); // the sim looks at the file every 200 ms
    int32_t State = -1;
    ASSERT_TRUE(Client.GetStat(&State)) << Client.LastError();

    // From the status request on: sent, no answer, the retry sent, answered.
    std::ifstream In(TracePath);
    std::vector<std::string> Lines;
    std::string L;
    while (std::getline(In, L))
        if (!Lines.empty() || Has(L, " tx 01 04 00 00 00 09 30 0C"))
            Lines.push_back(L.substr(L.find(' ') + 1));
    const std::vector<std::string> Want = {
        "tx 01 04 00 00 00 09 30 0C", "-- timeout", "-- retry", "tx 01 04 00 00 00 09 30 0C",
    };
    ASSERT_GE(Lines.size(), Want.size() + 2);
    for (size_t I = 0; I < Want.size(); ++I)
        EXPECT_EQ(Lines[I], Want[I]) << I;
    EXPECT_EQ(Lines[4].substr(0, 12), "rx 01 04 12 ");
    EXPECT_EQ(Lines[Lines.size() - 1], "-- answer");
    // velmor-sim's side: the request heard twice, the first answer lost.
    const std::string Served = ReadAll(SimTrace);
    const size_t First = Served.find("rx 01 04 00 00 00 09 30 0C");
    ASSERT_NE(First, std::string::npos) << Served;
    const size_t Lost = Served.find("-- fault: no answer", First);
    const size_t Second = Served.find("rx 01 04 00 00 00 09 30 0C", First + 1);
    EXPECT_TRUE(Lost != std::string::npos && Second != std::string::npos && Lost < Second) << Served;
    EXPECT_NE(Served.find("tx 01 04 12 ", Second), std::string::npos) << Served;
    // Timestamps in microseconds, rising.
    In.clear();
    In.seekg(0);
    long long Last = 0;
    while (std::getline(In, L)) {
        const long long T = std::stoll(L);
        EXPECT_GE(T, Last) << L;
        Last = T;
    }
}

} // namespace

namespace {

// The default deadline leaves a controller 40 ms to start its answer.
TEST(LineTools, DefaultDeadlineTakesAControllerFortyMillisecondsLate)
{
    LinkTest::LineSim Sim;
    ASSERT_TRUE(Sim.Start({"--fault", "late=40", "--fault-every"}));
    RtuClient Client(Parse("serial:" + Sim.Link));
    ASSERT_TRUE(Client.OpenDevice()) << Client.LastError();
    int32_t State = -1;
    EXPECT_TRUE(Client.GetStat(&State)) << Client.LastError();
    EXPECT_EQ(Client.DeadlineUs(8, 23) / 1000, 58) << "a status read at 115200 8E1";
}

} // namespace
