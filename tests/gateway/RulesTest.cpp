// The gateway's rules without a line: which requests may go on the line and
// how long their answers can be, which frames answer them, the peers --allow
// lets in, the command line's defaults and refusals, the status as JSON.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>
#include <vector>

#include "gateway/Mqtt.h"
#include "gateway/Options.h"
#include "gateway/Pdu.h"
#include "link/Mbap.h"
#include "link/RtuFrame.h"
#include "link/ServeSocket.h"

namespace {

using namespace VelmorGateway;
using Bytes = std::vector<uint8_t>;

RequestCheck Check(const Bytes& Pdu) { return CheckRequest(Pdu.data(), Pdu.size()); }

TEST(GatewayRequests, TheStandardsLimitsAreKeptBeforeTheLine)
{
    // Reads: 1..125 registers, 1..2000 bits; the answer's size follows.
    EXPECT_EQ(Check({0x04, 0, 0, 0, 9}).Exception, 0);
    EXPECT_EQ(Check({0x04, 0, 0, 0, 9}).AnswerMax, 5u + 18u);
    EXPECT_EQ(Check({0x03, 0, 0, 0, 125}).AnswerMax, 255u);
    EXPECT_EQ(Check({0x03, 0, 0, 0, 126}).Exception, IllegalDataValue);
    EXPECT_EQ(Check({0x04, 0, 0, 0xFF, 0xFF}).Exception, IllegalDataValue); // the 65535-register read
    EXPECT_EQ(Check({0x04, 0, 0, 0, 0}).Exception, IllegalDataValue);
    EXPECT_EQ(Check({0x01, 0, 0, 0x07, 0xD0}).AnswerMax, 5u + 250u);
    EXPECT_EQ(Check({0x02, 0, 0, 0x07, 0xD1}).Exception, IllegalDataValue);
    // Cut short or too long for its function.
    EXPECT_EQ(Check({0x04, 0, 0}).Exception, IllegalDataValue);
    EXPECT_EQ(Check({0x04, 0, 0, 0, 9, 0}).Exception, IllegalDataValue);
    EXPECT_EQ(Check({0x06, 0, 0x10, 0}).Exception, IllegalDataValue);
    // Writes: 1..123 registers with a byte count that agrees with the data.
    Bytes Write = {0x10, 0, 0x20, 0, 2, 4, 0, 1, 0, 2};
    EXPECT_EQ(Check(Write).Exception, 0);
    EXPECT_TRUE(Check(Write).Writes);
    EXPECT_EQ(Check(Write).AnswerMax, 8u);
    Write[5] = 3;
    EXPECT_EQ(Check(Write).Exception, IllegalDataValue);
    Bytes Long = {0x10, 0, 0, 0, 124, 248};
    Long.resize(6 + 248);
    EXPECT_EQ(Check(Long).Exception, IllegalDataValue);
    EXPECT_EQ(Check({0x05, 0, 1, 0xFF, 0x00}).Exception, 0);
    EXPECT_EQ(Check({0x05, 0, 1, 0x12, 0x34}).Exception, IllegalDataValue);
    EXPECT_EQ(Check({0x0F, 0, 0, 0, 9, 2, 0xFF, 0x01}).Exception, 0);
    EXPECT_EQ(Check({0x0F, 0, 0, 0, 9, 1, 0xFF}).Exception, IllegalDataValue);
    EXPECT_EQ(Check({0x17, 0, 0, 0, 2, 0, 0x10, 0, 1, 2, 0, 7}).AnswerMax, 9u);
    // No function 0, no exception form as a request.
    EXPECT_EQ(Check({0x00, 0, 0}).Exception, IllegalFunction);
    EXPECT_EQ(Check({0x84, 0, 0, 0, 1}).Exception, IllegalFunction);
    // A function without a rule goes on, bounded by a whole frame, as a write.
    EXPECT_EQ(Check({0x11}).Exception, 0);
    EXPECT_EQ(Check({0x11}).AnswerMax, MaxRtuFrame);
    EXPECT_TRUE(Check({0x11}).Writes);
    // Only input-register reads are cached; reads never count as writes.
    EXPECT_TRUE(Check({0x04, 0, 0, 0, 9}).Cacheable);
    EXPECT_FALSE(Check({0x03, 0, 0, 0, 9}).Cacheable);
    EXPECT_FALSE(Check({0x03, 0, 0, 0, 9}).Writes);
    EXPECT_FALSE(Check({0x06, 0, 0, 0, 9}).Cacheable);
}

Bytes Rtu(Bytes Body)
{
    const uint16_t Crc = Link::Crc16(Body.data(), Body.size());
    Body.push_back(uint8_t(Crc & 0xFF));
    Body.push_back(uint8_t(Crc >> 8));
    return Body;
}

bool Fits(uint8_t Unit, const Bytes& Pdu, const Bytes& Answer)
{
    return AnswerFits(Unit, Pdu.data(), Pdu.size(), Answer.data(), Answer.size());
}

TEST(GatewayAnswers, OnlyTheAnswerToTheRequestOnTheLineIsTaken)
{
    const Bytes Status = {0x04, 0, 0, 0, 9}, Ident = {0x04, 0x01, 0x00, 0, 32};
    Bytes Nine = {1, 0x04, 18};
    Nine.resize(3 + 18);
    Bytes ThirtyTwo = {1, 0x04, 64};
    ThirtyTwo.resize(3 + 64);
    EXPECT_TRUE(Fits(1, Status, Rtu(Nine)));
    EXPECT_TRUE(Fits(1, Ident, Rtu(ThirtyTwo)));
    // The status block is no answer to the identification, nor the reverse.
    EXPECT_FALSE(Fits(1, Ident, Rtu(Nine)));
    EXPECT_FALSE(Fits(1, Status, Rtu(ThirtyTwo)));
    // Another slave's or another function's answer is not it either.
    Bytes Other = Nine;
    Other[0] = 2;
    EXPECT_FALSE(Fits(1, Status, Rtu(Other)));
    Other = Nine;
    Other[1] = 0x03;
    EXPECT_FALSE(Fits(1, Status, Rtu(Other)));
    // The exception form of the function is an answer.
    EXPECT_TRUE(Fits(1, Status, Rtu({1, 0x84, 0x02})));
    EXPECT_FALSE(Fits(1, Status, Rtu({1, 0x83, 0x02})));
    // A write's answer echoes its address and value or quantity.
    const Bytes Single = {0x06, 0x00, 0x20, 0x01, 0x2C};
    EXPECT_TRUE(Fits(1, Single, Rtu({1, 0x06, 0x00, 0x20, 0x01, 0x2C})));
    EXPECT_FALSE(Fits(1, Single, Rtu({1, 0x06, 0x00, 0x21, 0x01, 0x2C})));
    const Bytes Multiple = {0x10, 0x00, 0x20, 0x00, 0x02, 0x04, 0, 1, 0, 2};
    EXPECT_TRUE(Fits(1, Multiple, Rtu({1, 0x10, 0x00, 0x20, 0x00, 0x02})));
    EXPECT_FALSE(Fits(1, Multiple, Rtu({1, 0x10, 0x00, 0x20, 0x00, 0x03})));
}

TEST(GatewayAnswers, NoneLongerThanAWholeFrameAndNoneToARefusedRequest)
{
    // A function without a rule is answered by any frame up to a whole one,
    // never by more: such a frame could not go back to the client as MBAP.
    Bytes Long = {1, 0x11};
    Long.resize(MaxRtuFrame - 2, 0x55);
    EXPECT_TRUE(Fits(1, {0x11}, Rtu(Long)));
    EXPECT_FALSE(Link::RtuToMbap(0, Rtu(Long).data(), MaxRtuFrame).empty());
    Long.push_back(0x55);
    EXPECT_FALSE(Fits(1, {0x11}, Rtu(Long)));
    Long.resize(400, 0x55);
    EXPECT_FALSE(Fits(1, {0x11}, Rtu(Long)));
    // A refused request never goes on the line: nothing answers it, in its
    // function or its exception form (function 0 was matched by 0x80 before).
    EXPECT_FALSE(Fits(0, {0x00}, Rtu({0, 0x00, 0, 0})));
    EXPECT_FALSE(Fits(1, {0x00}, Rtu({1, 0x80, 0x01})));
    EXPECT_FALSE(Fits(1, {0x03, 0, 0, 0, 126}, Rtu({1, 0x83, 0x02})));
    EXPECT_FALSE(Fits(1, {0x03, 0, 0}, Rtu({1, 0x03, 0, 0})));
    EXPECT_FALSE(Fits(1, {}, Rtu({1, 0x03, 0, 0})));
}

TEST(GatewayAnswers, TheirSizeIsToldFromTheirFirstBytes)
{
    const Bytes Read = {1, 0x04, 18};
    EXPECT_EQ(AnswerSize(0x04, Read.data(), 1), 0u);
    EXPECT_EQ(AnswerSize(0x04, Read.data(), 2), 0u);
    EXPECT_EQ(AnswerSize(0x04, Read.data(), 3), 23u);
    const Bytes Exception = {1, 0x84};
    EXPECT_EQ(AnswerSize(0x04, Exception.data(), 2), 5u);
    EXPECT_EQ(AnswerSize(0x10, Exception.data(), 1), 0u);
    const Bytes Mask = {1, 0x16};
    EXPECT_EQ(AnswerSize(0x16, Mask.data(), 2), 10u);
    EXPECT_EQ(AnswerSize(0x11, Mask.data(), 2), SIZE_MAX);
}

bool Allows(const std::string& Range, const std::string& Peer)
{
    const Core::Result<AllowRange> R = ParseAllow(Range);
    EXPECT_TRUE(R) << Range;
    uint8_t A[16] = {};
    const bool V6 = Peer.find(':') != std::string::npos;
    EXPECT_EQ(::inet_pton(V6 ? AF_INET6 : AF_INET, Peer.c_str(), A), 1) << Peer;
    return R && InRange(*R, A, V6);
}

TEST(GatewayAllow, RangesTakeTheirPeersAndNoOthers)
{
    EXPECT_TRUE(Allows("192.168.10.0/24", "192.168.10.77"));
    EXPECT_FALSE(Allows("192.168.10.0/24", "192.168.11.77"));
    EXPECT_TRUE(Allows("10.0.0.0/9", "10.127.1.1"));
    EXPECT_FALSE(Allows("10.0.0.0/9", "10.128.1.1"));
    EXPECT_TRUE(Allows("127.0.0.2", "127.0.0.2"));
    EXPECT_FALSE(Allows("127.0.0.2", "127.0.0.1"));
    EXPECT_TRUE(Allows("0.0.0.0/0", "8.8.8.8"));
    // A dual-stack listener sees IPv4 peers as mapped IPv6 addresses.
    EXPECT_TRUE(Allows("192.168.10.0/24", "::ffff:192.168.10.5"));
    EXPECT_FALSE(Allows("192.168.10.0/24", "::ffff:192.168.12.5"));
    EXPECT_TRUE(Allows("fd00::/8", "fd12::1"));
    EXPECT_FALSE(Allows("fd00::/8", "fe80::1"));
    EXPECT_FALSE(Allows("fd00::/8", "10.0.0.1"));
    for (const char* Bad : {"", "example.org", "10.0.0.0/33", "10.0.0.0/", "::1/129", "10.0.0.0/-1", "1.2.3/8"})
        EXPECT_FALSE(ParseAllow(Bad)) << Bad;
}

Core::Result<Options> Parse(std::vector<std::string> Args)
{
    Args.insert(Args.begin(), "velmor-gateway");
    std::vector<char*> Argv;
    for (std::string& A : Args)
        Argv.push_back(&A[0]);
    return ParseOptions(static_cast<int>(Argv.size()), Argv.data());
}

TEST(GatewayCommandLine, SafeByDefaultAndEveryLimitBounded)
{
    const Core::Result<Options> O = Parse({"--port", "/dev/serial/by-id/usb-FTDI_X-if00"});
    ASSERT_TRUE(O) << O.Error();
    EXPECT_EQ(O->Host, "127.0.0.1");
    EXPECT_EQ(O->ListenPort, 5020);
    EXPECT_FALSE(O->ReadOnly);
    EXPECT_FALSE(O->AllowBroadcast);
    EXPECT_TRUE(O->Allowed.empty());
    EXPECT_EQ(O->MaxClients, 64);
    EXPECT_EQ(O->CacheMs, 100);
    EXPECT_EQ(O->LineName, "usb-FTDI_X-if00");
    EXPECT_TRUE(O->MqttHost.empty());

    const Core::Result<Options> Full =
        Parse({"--port", "/dev/ttyUSB0", "--listen", "[::1]:1502", "--read-only", "--allow", "10.0.0.0/8", "--allow",
               "fd00::/8", "--allow-broadcast", "--max-clients", "200", "--max-pending", "8", "--queue-timeout", "250",
               "--idle-timeout", "0", "--cache", "0", "--mqtt", "broker.local:1884", "--poll", "1,2,247",
               "--poll-interval", "500", "--line-name", "hall-3"});
    ASSERT_TRUE(Full) << Full.Error();
    EXPECT_EQ(Full->Host, "::1");
    EXPECT_EQ(Full->ListenPort, 1502);
    EXPECT_TRUE(Full->ReadOnly);
    EXPECT_TRUE(Full->AllowBroadcast);
    EXPECT_EQ(Full->Allowed.size(), 2u);
    EXPECT_EQ(Full->MaxClients, 200);
    EXPECT_EQ(Full->MaxPending, 8);
    EXPECT_EQ(Full->QueueMs, 250);
    EXPECT_EQ(Full->IdleSeconds, 0);
    EXPECT_EQ(Full->CacheMs, 0);
    EXPECT_EQ(Full->MqttHost, "broker.local");
    EXPECT_EQ(Full->MqttPort, 1884);
    EXPECT_EQ(Full->PollUnits, (std::vector<uint8_t>{1, 2, 247}));
    EXPECT_EQ(Full->PollMs, 500);
    EXPECT_EQ(Full->LineName, "hall-3");
    EXPECT_EQ(Parse({"--port", "p", "--mqtt", "127.0.0.1"})->MqttPort, 1883);

    for (const std::vector<std::string>& Bad : std::vector<std::vector<std::string>>{
             {"--listen", "127.0.0.1:5020"},
             {"--port", "p", "--max-clients", "0"},
             {"--port", "p", "--max-clients", "5000"},
             {"--port", "p", "--max-pending", "65"},
             {"--port", "p", "--queue-timeout", "5"},
             {"--port", "p", "--cache", "-1"},
             {"--port", "p", "--allow", "somewhere"},
             {"--port", "p", "--poll", "1"},
             {"--port", "p", "--mqtt", "h", "--poll", "0"},
             {"--port", "p", "--mqtt", "h", "--poll", "1,,2"},
             {"--port", "p", "--mqtt", "h:0"},
             {"--port", "p", "--line-name", "a/b"},
             {"--port", "p", "--read-only=yes"},
         }) {
        const Core::Result<Options> R = Parse(Bad);
        EXPECT_FALSE(R) << Bad.back();
    }
}

TEST(GatewayCommandLine, OnlyLoopbackIsQuiet)
{
    for (const char* Quiet : {"127.0.0.1", "127.1.2.3", "::1", "::ffff:127.0.0.1"}) {
        EXPECT_TRUE(Link::IsLoopbackHost(Quiet)) << Quiet;
        EXPECT_EQ(Link::ExposedWarning(Quiet, 5020), "") << Quiet;
    }
    for (const char* Wide : {"0.0.0.0", "::", "192.168.1.10", "::ffff:10.0.0.1", "fe80::1"}) {
        EXPECT_FALSE(Link::IsLoopbackHost(Wide)) << Wide;
        const std::string W = Link::ExposedWarning(Wide, 5020);
        EXPECT_NE(W.find("no authentication"), std::string::npos) << W;
        EXPECT_NE(W.find(std::string(Wide) + ":5020"), std::string::npos) << W;
    }
}

TEST(GatewayMqtt, TheStatusBlockAsVelmorctlPrintsIt)
{
    // State 4, coordinate -2 (0xFFFFFFFE), home 5000, speed 300, forward
    // limit and home active, 24.1 V.
    const std::vector<uint16_t> Words = {4, 0xFFFF, 0xFFFE, 0, 5000, 0, 300, 6, 241};
    EXPECT_EQ(StatusJson(Words),
              "{\"state\":\"Positioning...\",\"state_code\":4,\"coordinate\":-2,\"speed\":300,\"limit_word\":6,"
              "\"limits\":{\"backward\":false,\"forward\":true,\"home\":true},\"home_coordinate\":5000,"
              "\"supply_volts\":24.1}");
    EXPECT_EQ(StatusJson({1, 2, 3}), "");
}

} // namespace
