#include <gtest/gtest.h>

#include "core/Endpoint.h"
#include "core/SerialSpeeds.h"
#include "core/Text.h"
#include "core/XdgPaths.h"

namespace {

int Fault(const std::string& Text) { return Core::ParseEndpoint(Text).Why().Code(); }
constexpr int Code(Core::EndpointFault F) { return static_cast<int>(F); }

TEST(Endpoint, WrittenEndpointsReadBack)
{
    for (const Core::Endpoint& E : {Core::Endpoint{"127.0.0.1", 5020}, Core::Endpoint{"::1", 0},
                                   Core::Endpoint{"fe80::1%eth0", 65535}}) {
        const std::string Text = Core::FormatEndpoint(E);
        Core::Result<Core::Endpoint> Back = Core::ParseEndpoint(Text);
        ASSERT_TRUE(Back) << Text << ": " << Back.Error();
        EXPECT_EQ(Back->Host, E.Host);
        EXPECT_EQ(Back->Port, E.Port);
    }
    EXPECT_EQ(Core::FormatEndpoint("::1", 4001), "[::1]:4001");
}

TEST(Endpoint, MalformedTextsSayWhatIsWrong)
{
    using F = Core::EndpointFault;
    EXPECT_EQ(Fault("[::1]5020"), Code(F::Brackets));
    EXPECT_EQ(Fault("[::1"), Code(F::Brackets));
    EXPECT_EQ(Fault("[::1]:"), Code(F::BadPort));
    EXPECT_EQ(Fault("localhost"), Code(F::NoPort));
    EXPECT_EQ(Fault("::1:5020"), Code(F::BareIpv6));
    EXPECT_EQ(Fault(":5020"), Code(F::NoHost));
    EXPECT_EQ(Fault("[]:5020"), Code(F::NoHost));
    EXPECT_EQ(Fault("host:65536"), Code(F::BadPort));
    EXPECT_EQ(Fault("host:-1"), Code(F::BadPort));
    EXPECT_EQ(Fault("host:+80"), Code(F::BadPort));
    EXPECT_EQ(Fault("host:080080"), Code(F::BadPort));
    EXPECT_FALSE(Core::ParseEndpoint("host:").Error().empty());
}

TEST(Endpoint, SplitLeavesThePortToTheCaller)
{
    Core::Result<Core::EndpointParts> P = Core::SplitEndpoint("10.0.0.1:http");
    ASSERT_TRUE(P);
    EXPECT_EQ(P->Host, "10.0.0.1");
    EXPECT_EQ(P->Port, "http");
}

TEST(Text, TrimTakesOffControlsAndOnlyByRuleDelete)
{
    EXPECT_EQ(Core::Trim(" \t\r\n a b \x01"), "a b");
    EXPECT_EQ(Core::Trim("\x7f" "a\x7f"), "\x7f" "a\x7f");
    EXPECT_EQ(Core::Trim("\x7f a \x7f", Core::Blanks::ControlsAndDelete), "a");
    EXPECT_EQ(Core::Trim(" \t "), "");
    EXPECT_EQ(Core::Trim("\xc3\xa9"), "\xc3\xa9"); // bytes above 0x7F are text
}

TEST(SerialSpeeds, ListTextJoinsTheLastAsAsked)
{
    EXPECT_EQ(Core::SerialSpeedList(),
              "1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600");
    EXPECT_EQ(Core::SerialSpeedList(" or "),
              "1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800 or 921600");
    EXPECT_TRUE(Core::KnownSpeed(9600));
    EXPECT_FALSE(Core::KnownSpeed(9601));
}

TEST(XdgPaths, AbsoluteVariableElseHomeDefault)
{
    EXPECT_EQ(Core::XdgConfigPath("/x/cfg", "/home/u", "velmor/link.conf"), "/x/cfg/velmor/link.conf");
    EXPECT_EQ(Core::XdgStatePath("relative", "/home/u", "a.ini"), "/home/u/.local/state/a.ini");
    EXPECT_EQ(Core::XdgConfigPath("", "/home/u/", "a.ini"), "/home/u/.config/a.ini");
    EXPECT_EQ(Core::XdgConfigPath(nullptr, nullptr, "a.ini"), "");
    EXPECT_EQ(Core::XdgConfigPath("relative", "", "a.ini"), "");
}

} // namespace
