#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Controller.h"

// The faults of a line that velmor-sim plays on its answers: from --fault on
// its command line and from the control file's line words:
//
//   line no-answer       every request is carried out but not answered
//   line late 200        every answer comes 200 ms late
//   line bad-crc         every answer has a wrong CRC
//   line truncate        every answer loses its last 3 bytes
//   line hangup 500      the next request is lost and the port goes away
//                        (pseudo-terminal and its symlink removed, TCP client
//                        and listener closed); back after 500 ms. Once, until
//                        the file changes
//   line-once bad-crc    (any of them) the next answer only
//
// The first line rule not used up applies. The model itself ignores these.
namespace LineSim {

enum class FaultKind {
    NoAnswer, // the request is carried out, its answer lost
    Late,     // the answer comes Ms milliseconds late
    BadCrc,   // the answer's CRC is wrong
    Truncate, // the answer loses its last three bytes
    Hangup,   // the request is lost and the port goes away; back after Ms
};

struct Fault {
    FaultKind Kind = FaultKind::NoAnswer;
    int32_t Ms = 0;
    bool Once = false;
    bool Used = false;
};

// "no-answer", "late 200" (or "late=200"), "bad-crc", "truncate",
// "hangup 500" (or "hangup=500"); milliseconds 0..600000. False for anything
// else.
bool ParseFault(const std::string& Text, Fault& Out);

// The line rules among the control file's other lines; malformed ones are
// left out.
std::vector<Fault> LineRules(const std::vector<Sim::ControlWords>& Lines);

// Which fault the next answer gets: the control file's first rule not used
// up, else the command line's (once, or on every answer with Every).
class FaultPlay {
public:
    FaultPlay(const Fault* CommandLine, bool Every) : FCommandLine(CommandLine), FEvery(Every) {}

    // Looks at the control file (through the controller's link check) and
    // uses up what it returns. Null: the answer goes as it is.
    const Fault* Next(Sim::VirtualController& Device);

private:
    const Fault* FCommandLine;
    bool FEvery;
    bool FCommandLineUsed = false;
    uint64_t FGeneration = UINT64_MAX; // of the control file FRules were read from
    std::vector<Fault> FRules;
};

} // namespace LineSim
