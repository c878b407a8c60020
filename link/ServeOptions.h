#pragma once

#include <string>
#include <vector>

#include "core/Result.h"
#include "link/SerialFraming.h"

// The command line of the programs that serve a line (velmor-sim,
// velmor-gateway): options as "--name value" or "--name=value", and the
// line options both take.
namespace Link {

struct ServeOption {
    std::string Name;  // "--baud"
    std::string Value; // empty for a flag
};

// The options of Argv in order. Flags take no value; every other known name
// takes one. Help is set (and the rest not looked at) by --help or -h.
Core::Result<std::vector<ServeOption>> ReadServeOptions(int Argc, char** Argv,
                                                        const std::vector<std::string>& WithValue,
                                                        const std::vector<std::string>& Flags, bool& Help);

// A decimal number of at most 9 digits within Low..High.
bool ParseBounded(const std::string& Text, long Low, long High, long& Out);

// The serial line as both programs take it.
struct LineOptions {
    int Baud = 0; // each program has its own default
    Parity Framing = Parity::Even;
    int StopBits = 0; // 0: not given, the default for the parity
    std::string TracePath;
};

// Takes --baud, --parity, --stopbits or --trace into Line: whether Option
// was one of them, or what is wrong with its value.
Core::Result<bool> TakeLineOption(const ServeOption& Option, LineOptions& Line);

} // namespace Link
