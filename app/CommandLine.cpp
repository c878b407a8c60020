#include "app/CommandLine.h"

#include <cerrno>
#include <cstring>

#ifndef VELMOR_VERSION
#error "VELMOR_VERSION must be defined by the build"
#endif

namespace {

const char* const HelpText = R"(Usage: velmor [--help | --version]

The operator's control panel for one Velmor stepper-motor controller on an
RS-485 link. It takes no other options and ignores any other argument.

Options:
  --help      this text, then exit
  --version   the program's version, then exit

The device library beside the panel reaches the controller on the link set by
$VELMOR_LINK, else by the one line of $XDG_CONFIG_HOME/velmor/link.conf
(~/.config/velmor/link.conf), which the menu "Порт" -> "Настройка линии…"
writes, for example:
  serial:/dev/ttyUSB0?baud=115200&address=1
  tcp:192.168.1.20:4001?address=1
  virtual
With no link set, the panel runs on the built-in virtual controller.

The panel's settings: ~/.config/velmor/velmor.ini when installed, velmor.ini
beside the program when run from its build folder.

See velmor(1), velmorctl(1), velmor-sim(1) and /usr/share/doc/velmor/README.md.
)";

} // namespace

const char* ProgramVersion()
{
    return VELMOR_VERSION;
}

TCommandLineAction ParseCommandLine(int Argc, const char* const* Argv)
{
    for (int I = 1; I < Argc && Argv[I]; ++I) {
        if (std::strcmp(Argv[I], "--help") == 0)
            return TCommandLineAction::Help;
        if (std::strcmp(Argv[I], "--version") == 0)
            return TCommandLineAction::Version;
    }
    return TCommandLineAction::Start;
}

int AnswerCommandLine(TCommandLineAction Action, std::FILE* Out, std::FILE* Err)
{
    errno = 0;
    bool Written = true;
    if (Action == TCommandLineAction::Help)
        Written = std::fputs(HelpText, Out) >= 0;
    else if (Action == TCommandLineAction::Version)
        Written = std::fprintf(Out, "velmor %s\n", ProgramVersion()) >= 0;
    // A full disk or a closed pipe shows only when the buffer goes out.
    Written = std::fflush(Out) == 0 && Written && !std::ferror(Out);
    if (Written)
        return 0;
    const int Error = errno;
    std::fprintf(Err, "velmor: cannot write to standard output: %s\n",
                 Error ? std::strerror(Error) : "write error");
    return 1;
}

int HandleCommandLine(int Argc, char** Argv)
{
    const TCommandLineAction Action = ParseCommandLine(Argc, Argv);
    if (Action == TCommandLineAction::Start)
        return -1;
    return AnswerCommandLine(Action, stdout, stderr);
}
