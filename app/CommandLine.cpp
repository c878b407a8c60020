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
writes. The line is one of
  virtual                      the built-in virtual controller (no link set)
  serial:PATH?OPTIONS          a serial port (a USB RS-485 adapter)
  tcp:HOST:PORT?OPTIONS        RTU frames over TCP (ser2net, a converter)
  modbus-tcp:HOST:PORT?OPTIONS a Modbus TCP gateway: velmor-gateway, which
                               shares one line among several programs, or a
                               plant's Ethernet-to-RS-485 gateway
OPTIONS, joined by '&', each may be left out:
  baud=N        the line's speed (default 115200; behind tcp: and modbus-tcp:
                the gateway's line, default 9600)
  address=N     the controller's address 1..247 (default 1); unit=N is the
                same on modbus-tcp:
  timeout=MS    the deadline of one request, 1..10000 (default: from the speed)
  parity=none|even|odd, stopbits=1|2
                serial: only; default 8E1 (parity=none alone is 8N2, an 8N1
                controller needs parity=none&stopbits=1)
  watchdog=MS   write the controller's communication watchdog at each open:
                a motion is ramped down once no request came for MS ms (0 off)
  trace=FILE    append every frame on the line to FILE
For example:
  serial:/dev/ttyUSB0?baud=115200&address=1
  serial:/dev/ttyUSB0?baud=9600&parity=none&stopbits=1
  tcp:192.168.1.20:4001?address=1&baud=9600
  modbus-tcp:127.0.0.1:5020?unit=1&baud=115200
  virtual
Examples (a line with '&' is quoted in a shell):
  VELMOR_LINK='serial:/dev/ttyUSB0?baud=9600&address=3' velmor
  VELMOR_LINK='modbus-tcp:127.0.0.1:5020?unit=1&baud=115200' velmor

The panel's settings: ~/.config/velmor/velmor.ini when installed, velmor.ini
beside the program when run from its build folder.

See velmor(1), velmorctl(1), velmor-sim(1), velmor-gateway(1) and
/usr/share/doc/velmor/README.md.
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
