// velmor-sim's command line, its line faults from the control file, and its
// loop served in-process.
#include "tests/sim/SimFixture.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "linesim/LineFaults.h"
#include "linesim/Options.h"
#include "linesim/Serve.h"
#include "link/RtuFrame.h"
#include "link/ServeSocket.h"
#include "sim/ControlFile.h"

namespace {

Core::Result<LineSim::Options> Parse(std::vector<std::string> Args)
{
    Args.insert(Args.begin(), "velmor-sim");
    std::vector<char*> Argv;
    for (std::string& A : Args)
        Argv.push_back(&A[0]);
    return LineSim::ParseOptions(static_cast<int>(Argv.size()), Argv.data());
}

// What the socket says within Ms milliseconds (empty: nothing).
std::string Listen(int Fd, int Ms)
{
    pollfd P{Fd, POLLIN, 0};
    if (poll(&P, 1, Ms) <= 0)
        return {};
    char Buf[300];
    const ssize_t N = recv(Fd, Buf, sizeof Buf, 0);
    return N > 0 ? std::string(Buf, static_cast<size_t>(N)) : std::string();
}

using ServeTest = SimFixture;

} // namespace

TEST(LineFaults, ReadFromTheControlFilesOtherLines)
{
    // The model keeps the line words out of its own rules; malformed ones
    // are left out.
    using K = LineSim::FaultKind;
    const Sim::ControlState S = Sim::ParseControl("line late 200\nline-once BAD-CRC\nline hangup=500\nline late\n"
                                                  "line late 700000\nline truncate 5\nline no-answer\n");
    EXPECT_TRUE(S.Rules.empty());
    const std::vector<LineSim::Fault> Line = LineSim::LineRules(S.Other);
    ASSERT_EQ(Line.size(), 4u);
    EXPECT_EQ(Line[0].Kind, K::Late);
    EXPECT_EQ(Line[0].Ms, 200);
    EXPECT_FALSE(Line[0].Once);
    EXPECT_EQ(Line[1].Kind, K::BadCrc);
    EXPECT_TRUE(Line[1].Once);
    EXPECT_EQ(Line[2].Kind, K::Hangup);
    EXPECT_EQ(Line[2].Ms, 500);
    EXPECT_TRUE(Line[2].Once); // a hang-up is always once
    EXPECT_EQ(Line[3].Kind, K::NoAnswer);
}

TEST(LineSimOptions, FramingDefaultsAndTheFirstWrongOption)
{
    const auto O = Parse({"--port", "/dev/ttyS0", "--parity=none", "--baud", "9600"});
    ASSERT_TRUE(O.Ok()) << O.Error();
    EXPECT_EQ(O->Where.Line.StopBits, 2); // 8N2 unless --stopbits says otherwise
    EXPECT_EQ(O->Where.Line.Baud, 9600);
    EXPECT_EQ(Parse({"--tcp", "[::1]:000080"}).Error(),
              "--tcp [::1]:000080: give HOST:PORT, for example 127.0.0.1:5020");
    EXPECT_EQ(Parse({"--pty", "x", "--fault-every"}).Error(), "--fault-every needs a --fault");
    EXPECT_EQ(Parse({"--bogus", "--help"}).Error(), "unknown option --bogus");
    EXPECT_TRUE(Parse({"--help", "--bogus"})->Help);
    // One address or several on the line.
    EXPECT_EQ(Parse({"--pty", "x", "--address", "7"})->Addresses, (std::vector<uint8_t>{7}));
    const auto Three = Parse({"--pty", "x", "--address", "3,1,247"});
    ASSERT_TRUE(Three) << Three.Error();
    EXPECT_EQ(Three->Addresses, (std::vector<uint8_t>{3, 1, 247}));
    EXPECT_EQ(Three->Address, 3);
    EXPECT_EQ(Parse({"--pty", "x"})->Addresses, (std::vector<uint8_t>{1}));
    EXPECT_EQ(Parse({"--pty", "x", "--address", "1,2,1"}).Error(), "--address 1,2,1: address 1 is given twice");
    for (const char* Bad : {"1,", ",1", "1,,2", "0,1", "1,248", "1;2", ""})
        EXPECT_EQ(Parse({"--pty", "x", "--address", Bad}).Error(),
                  std::string("--address ") + Bad + ": use 1..247, or several joined by commas (1,2,3)");
}

TEST_F(ServeTest, ServedInProcessPlaysTheCommandLineFaultOnceAndStops)
{
    auto O = Parse({"--tcp", "127.0.0.1:0", "--fault", "no-answer", "--state", StatePath(), "--control",
                    ControlPath()});
    ASSERT_TRUE(O.Ok()) << O.Error();
    // The loop ends when the test writes to Stop, also on a failed assertion.
    struct Served {
        int Stop[2] = {-1, -1};
        int Code = -1;
        std::thread Loop;
        ~Served()
        {
            if (Loop.joinable()) {
                (void)!write(Stop[1], "x", 1);
                Loop.join();
            }
            close(Stop[0]);
            close(Stop[1]);
        }
    } S;
    ASSERT_EQ(pipe(S.Stop), 0);
    std::promise<std::string> Bound;
    std::future<std::string> Said = Bound.get_future();
    S.Loop = std::thread(
        [&] { S.Code = LineSim::Serve(*O, S.Stop[0], [&](const std::string& W) { Bound.set_value(W); }); });
    ASSERT_EQ(Said.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const std::string Where = Said.get();
    ASSERT_EQ(Where.rfind("127.0.0.1:", 0), 0u) << Where;
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    A.sin_port = htons(static_cast<uint16_t>(std::stoi(Where.substr(10))));
    const int Fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A), 0);
    const Link::Frame Ask = Link::BuildRequest(Link::ReadRequest(1, Link::ReadInput, 0, 2));
    send(Fd, Ask.data(), Ask.size(), 0);
    EXPECT_EQ(Listen(Fd, 300), ""); // the fault: carried out, not answered
    send(Fd, Ask.data(), Ask.size(), 0);
    EXPECT_EQ(Listen(Fd, 3000).size(), Link::ResponseSize(Link::ReadRequest(1, Link::ReadInput, 0, 2)));
    close(Fd);
    ASSERT_EQ(write(S.Stop[1], "x", 1), 1);
    S.Loop.join();
    EXPECT_EQ(S.Code, 0);
}
