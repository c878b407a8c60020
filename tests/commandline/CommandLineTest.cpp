#include "app/CommandLine.h"

#include <initializer_list>
#include <vector>

#include <gtest/gtest.h>

namespace {

TCommandLineAction Parse(std::initializer_list<const char*> Args)
{
    std::vector<const char*> Argv(Args);
    Argv.push_back(nullptr);
    return ParseCommandLine(static_cast<int>(Args.size()), Argv.data());
}

} // namespace

// The panel starts whatever else it is given: Qt's own options, look-alikes of
// ours and stray words are not options of the panel.
TEST(CommandLine, AnyOtherArgumentStartsThePanel)
{
    EXPECT_EQ(Parse({"velmor"}), TCommandLineAction::Start);
    EXPECT_EQ(ParseCommandLine(0, nullptr), TCommandLineAction::Start);
    for (const char* Arg : {"-platform", "--helpme", "-help", "--Version", "-v", "-h", "help", "--version=1", ""})
        EXPECT_EQ(Parse({"velmor", Arg}), TCommandLineAction::Start) << Arg;
}

TEST(CommandLine, TheFirstOfHelpAndVersionDecidesWhereverItStands)
{
    EXPECT_EQ(Parse({"velmor", "--help"}), TCommandLineAction::Help);
    EXPECT_EQ(Parse({"velmor", "-style", "fusion", "--version"}), TCommandLineAction::Version);
    EXPECT_EQ(Parse({"velmor", "--version", "--help"}), TCommandLineAction::Version);
    EXPECT_EQ(Parse({"velmor", "x", "--help", "--version"}), TCommandLineAction::Help);
    // Only the program's arguments count, never its own name.
    EXPECT_EQ(Parse({"--help"}), TCommandLineAction::Start);
}
