#pragma once

#include <cstdint>
#include <string>

#include "core/Result.h"
#include "link/ServeOptions.h"

// velmor-gateway's command line.
namespace VelmorGateway {

extern const char* const Usage;

struct Options {
    bool Help = false; // --help: nothing else was looked at
    std::string Port, Host;
    uint16_t ListenPort = 0;
    Link::LineOptions Line; // the stop bits always set once parsed
    int TimeoutMs = 0;      // 0: the deadline from the line's speed
};

// The options of Argv, or what is wrong with them.
Core::Result<Options> ParseOptions(int Argc, char** Argv);

} // namespace VelmorGateway
