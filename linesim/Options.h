#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/Result.h"
#include "linesim/Line.h"
#include "linesim/LineFaults.h"

// velmor-sim's command line.
namespace LineSim {

extern const char* const Usage;

struct Options {
    bool Help = false; // --help: nothing else was looked at
    Place Where;
    uint8_t Address = 1;                 // the first of Addresses
    std::vector<uint8_t> Addresses = {1}; // each a controller of its own
    bool HaveFault = false;
    Fault CommandLineFault;
    bool Every = false;
    bool StateSet = false, ControlSet = false;
    std::string State, Control;
};

// The options of Argv, or what is wrong with them.
Core::Result<Options> ParseOptions(int Argc, char** Argv);

} // namespace LineSim
