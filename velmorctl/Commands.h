#pragma once

// velmorctl's commands in one table: each one's name, texts, whether it moves
// the motor, and its handler; the help is made from the table. Not for use
// outside velmorctl/.

#include <iosfwd>
#include <string>
#include <vector>

#include "core/Result.h"
#include "velmorctl/Internal.h"

namespace VelmorCtl {
namespace Detail {

struct CommandInfo {
    const char* Name;
    const char* Usage;   // after "velmorctl ", without the motion options
    const char* Summary; // one line in the command list
    const char* Help;
    // It moves the motor: it takes --wait [--timeout S] [--json], and its
    // help describes them.
    bool Motion;
    int (*Fn)(const std::vector<std::string>&, Context&);
};

// The command of that name, or null.
const CommandInfo* FindCommand(const std::string& Name);

// The program's options the command takes, as its usage line shows them.
std::string OwnOptions(const CommandInfo& C);

// The command's usage after "velmorctl ", the motion options included.
std::string UsageLine(const CommandInfo& C);

// velmorctl --help, and velmorctl COMMAND --help.
void PrintUsage(std::ostream& Out);
void PrintCommandHelp(std::ostream& Out, const CommandInfo& C);

// A command line with the program's own options taken out: they may stand
// before or after the command name, up to "--".
struct CommandLine {
    std::vector<std::string> Rest; // the command (or "help") and its arguments
    std::string Link, LockWait;    // the values of --link and --lock-wait
    std::string Address, Watchdog; // the values of --address and --watchdog
    bool HaveLink = false, HaveLockWait = false, HaveAddress = false, HaveWatchdog = false;
    bool Help = false, ShowVersion = false;
};

// The link line with option Key set to Value: an option of that name (and,
// for address, its other name unit) taken out of the line's options, then
// the new one added at their end. The line is not checked here.
std::string WithLinkOption(const std::string& Line, const std::string& Key, const std::string& Value);

// Fails with what is wrong: an option given twice or without its value.
Core::Result<CommandLine> ParseCommandLine(const std::vector<std::string>& Args);

} // namespace Detail
} // namespace VelmorCtl
