// velmor-gateway with tools we did not write: mbpoll through it (Modbus TCP),
// mosquitto_sub reading the status it publishes to a mosquitto broker the
// test starts on loopback, and its --help examples as a shell reads them.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>

#include "tests/gateway/GatewayHarness.h"

namespace {

using namespace GatewayTest;
using LinkTest::Has;
using LinkTest::RunTool;

// A loopback port nobody listens on at the moment.
std::string FreePort()
{
    const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &A.sin_addr);
    socklen_t Len = sizeof A;
    ::bind(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A);
    ::getsockname(Fd, reinterpret_cast<sockaddr*>(&A), &Len);
    ::close(Fd);
    return std::to_string(ntohs(A.sin_port));
}

// A mosquitto broker on 127.0.0.1, its own for the test, ended with it.
struct Broker {
    std::string Folder = LinkTest::MakeTempFolder();
    std::string Port = FreePort();
    LinkTest::ChildProcess Process;
    bool Start()
    {
        const std::string Conf = Folder + "/mosquitto.conf";
        std::ofstream(Conf) << "listener " << Port << " 127.0.0.1\nallow_anonymous true\npersistence false\n";
        if (!Process.Start("/usr/sbin/mosquitto", {"-c", Conf}))
            return false;
        return LinkTest::WaitUntil([&] { return Client().Connect(Port); }, 5000);
    }
    // The first message on Topic within Seconds, as mosquitto_sub prints it.
    std::string First(const std::string& Topic, int Seconds = 5)
    {
        int Status = 0;
        return RunTool({"/usr/bin/mosquitto_sub", "-h", "127.0.0.1", "-p", Port, "-t", Topic, "-C", "1", "-W",
                        std::to_string(Seconds)},
                       Status, (Seconds + 2) * 1000);
    }
};

TEST(GatewayTools, MosquittoSubReadsTheStatusAndTheGatewaysState)
{
    Broker B;
    ASSERT_TRUE(B.Start());
    Line L;
    ASSERT_TRUE(L.Start({"--mqtt", "127.0.0.1:" + B.Port, "--poll", "1,9", "--poll-interval", "200", "--line-name",
                         "hall-3", "--cache", "1000"}));
    const std::string Status = B.First("velmor/hall-3/1/status");
    EXPECT_TRUE(Has(Status, "{\"state\":\"Stopped\",\"state_code\":0,\"coordinate\":0,\"speed\":0,\"limit_word\":0,"
                            "\"limits\":{\"backward\":false,\"forward\":false,\"home\":false},"
                            "\"home_coordinate\":0,\"supply_volts\":2"))
        << Status;
    // Retained: a subscriber that comes later still gets the states.
    EXPECT_EQ(B.First("velmor/hall-3/availability"), "online\n");
    EXPECT_EQ(B.First("velmor/hall-3/1/availability"), "online\n");
    EXPECT_EQ(B.First("velmor/hall-3/9/availability"), "offline\n") << "nobody answers at unit 9";
    // The status comes from the line at the poll period: a few polls in a second.
    EXPECT_GE(L.LineRequests(), 2);
    // A client's read of the same block within the cache's age comes from
    // that poll; its next read goes to the line.
    Client C;
    ASSERT_TRUE(C.Connect(L.Port));
    std::string Before = L.Trace();
    EXPECT_EQ(Function(C.Ask(ReadInputs(1, 1, 0, 9))), 0x04);
    std::string After = L.Trace();
    EXPECT_EQ(Count(After, "cache-tx"), Count(Before, "cache-tx") + 1) << After.substr(Before.size());
    EXPECT_EQ(Function(C.Ask(ReadInputs(2, 1, 0, 9))), 0x04);
    Before = After;
    After = L.Trace();
    EXPECT_EQ(Count(After, "cache-tx"), Count(Before, "cache-tx")) << After.substr(Before.size());
    EXPECT_EQ(Count(After, "line-tx 01 04"), Count(Before, "line-tx 01 04") + 1) << After.substr(Before.size());
    // Nothing is taken from MQTT: the gateway subscribes to nothing.
    int Ok = 0;
    RunTool({"/usr/bin/mosquitto_pub", "-h", "127.0.0.1", "-p", B.Port, "-t", "velmor/hall-3/1/command", "-m", "run"},
            Ok);
    // Ended by SIGTERM: the state says offline.
    ::kill(L.Gateway.Pid(), SIGTERM);
    EXPECT_TRUE(LinkTest::WaitUntil([&] { return !L.Gateway.Running(); }, 5000));
    EXPECT_EQ(B.First("velmor/hall-3/availability"), "offline\n");
}

TEST(GatewayTools, ABrokerThatComesLaterIsFound)
{
    Broker B;
    Line L;
    ASSERT_TRUE(
        L.Start({"--mqtt", "127.0.0.1:" + B.Port, "--poll", "1", "--poll-interval", "100", "--line-name", "x"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(B.Start());
    EXPECT_TRUE(Has(B.First("velmor/x/1/status", 8), "\"state_code\":0")) << "no status after the broker came";
}

TEST(GatewayTools, MbpollReadsThroughAndIsRefusedWritesWhenReadOnly)
{
    Line L;
    ASSERT_TRUE(L.Start({"--read-only"}));
    int Status = 0;
    std::string Out = RunTool({"/usr/bin/mbpoll", "-m", "tcp", "-p", L.Port, "-a", "1", "-t", "3", "-0", "-r", "0",
                               "-c", "9", "-1", "127.0.0.1"},
                              Status);
    EXPECT_EQ(Status, 0) << Out;
    EXPECT_TRUE(Has(Out, "[8]: \t24") || Has(Out, "[8]: \t23")) << "the supply, tenths of a volt\n" << Out;
    Out = RunTool({"/usr/bin/mbpoll", "-m", "tcp", "-p", L.Port, "-a", "1", "-t", "4", "-0", "-r", "32", "-1",
                   "127.0.0.1", "0"},
                  Status);
    EXPECT_NE(Status, 0) << Out;
    EXPECT_TRUE(Has(Out, "Illegal function")) << Out;
}

TEST(GatewayTools, ServersListenOnLoopbackUnlessToldAndWarnBeyondIt)
{
    // velmor-sim given only a port listens on loopback.
    LinkTest::ChildProcess Sim;
    const std::string Folder = LinkTest::MakeTempFolder();
    ASSERT_TRUE(Sim.Start(LinkTest::SimExe(), {"--modbus-tcp", "0"},
                          {"VELMOR_SIM_STATE=" + Folder + "/state.ini", "VELMOR_SIM_CONTROL=" + Folder + "/control"}));
    std::string Where;
    ASSERT_TRUE(Sim.ReadLine(Where, 5000));
    EXPECT_EQ(Where.compare(0, 10, "127.0.0.1:"), 0) << Where;
    Sim.Stop();
    // An address beyond loopback is warned about before anything listens
    // (192.0.2.1, a documentation address this machine does not have, so
    // nothing is exposed: the listen then fails).
    int Status = 0;
    std::string Out = RunTool({LinkTest::SimExe(), "--modbus-tcp", "192.0.2.1:0", "--state", Folder + "/state.ini",
                               "--control", Folder + "/control"},
                              Status);
    EXPECT_TRUE(Has(Out, "velmor-sim: warning: listening on 192.0.2.1:0 for other machines. Modbus has no "
                         "authentication"))
        << Out;
    EXPECT_EQ(Status, 1) << Out;
    LinkTest::LineSim Line;
    ASSERT_TRUE(Line.Start());
    Out = RunTool({VELMOR_GATEWAY_EXE, "--port", Line.Link, "--listen", "192.0.2.1:5020"}, Status);
    EXPECT_TRUE(Has(Out, "velmor-gateway: warning: listening on 192.0.2.1:5020 for other machines. Modbus TCP has "
                         "no authentication"))
        << Out;
    EXPECT_EQ(Status, 1) << Out;
    // On loopback: not a word before it serves.
    GatewayTest::Line Quiet;
    ASSERT_TRUE(Quiet.Start({}));
    EXPECT_EQ(Quiet.Early, "");
}

// Whether a shell reads Line as one command whose words need no further
// look: every character a shell treats specially (&, ;, |, <, >, (, ), $,
// `, a glob character, a # starting a word) is inside quotes.
std::string Unquoted(const std::string& Line)
{
    char Quote = 0;
    bool WordStart = true;
    for (char C : Line) {
        if (Quote) {
            if (C == Quote)
                Quote = 0;
            WordStart = false;
            continue;
        }
        if (C == '\'' || C == '"') {
            Quote = C;
        } else if (std::string("&;|<>()$`*?[").find(C) != std::string::npos || (C == '#' && WordStart)) {
            return std::string(1, C);
        }
        WordStart = C == ' ';
    }
    return Quote ? "an open quote" : "";
}

TEST(GatewayTools, TheHelpsExamplesReadAsWritten)
{
    int Status = 0;
    const std::string Help = RunTool({VELMOR_GATEWAY_EXE, "--help"}, Status);
    ASSERT_EQ(Status, 0);
    const size_t From = Help.find("\nExamples:\n");
    ASSERT_NE(From, std::string::npos) << Help;
    std::istringstream In(Help.substr(From + 11));
    std::string Line;
    int Examples = 0;
    while (std::getline(In, Line) && Line.compare(0, 2, "  ") == 0) {
        ++Examples;
        const std::string Example = Line.substr(2);
        EXPECT_EQ(Unquoted(Example), "") << Example;
        // bash parses it without running it.
        const std::string Out = RunTool({"/bin/bash", "-n", "-c", Example}, Status);
        EXPECT_EQ(Status, 0) << Example << "\n" << Out;
        // Each example names only loopback.
        EXPECT_FALSE(Has(Example, "0.0.0.0")) << Example;
    }
    EXPECT_GE(Examples, 4);
    // The checker finds what the shell would cut.
    EXPECT_EQ(Unquoted("VELMOR_LINK=modbus-tcp:127.0.0.1:5020?unit=1&baud=115200 velmor"), "?");
    EXPECT_EQ(Unquoted("mosquitto_sub -t velmor/#"), "");
    EXPECT_EQ(Unquoted("mosquitto_sub -t #"), "#");
    EXPECT_EQ(Unquoted("x 'a&b"), "an open quote");
}

} // namespace
