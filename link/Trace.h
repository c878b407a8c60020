#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/Result.h"

// A frame trace: every frame sent and received on a line, appended to a file
// as one line each, for a field engineer to see what the line did:
//
//   12345678901 tx 01 04 00 00 00 09 30 0C
//   12345681544 rx 01 04 12 00 04 ... 5C C2
//   12345681560 -- answer
//
// The first field is the monotonic clock in microseconds, the second the
// direction (tx sent, rx received) or "--" for a verdict: answer, exception
// N, timeout, bad CRC, truncated, skipped N bytes, retry, and so on. Lines are
// written whole with one write() each to a file opened for appending, so
// several writers (a client and velmor-sim) may share one file.
namespace Link {

class Trace {
public:
    Trace() = default;
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // Opens (creates) Path for appending.
    Core::Status Open(const std::string& Path);
    bool IsOpen() const { return FFd >= 0; }

    void Sent(const uint8_t* Data, size_t Size) { Frame("tx", Data, Size); }
    void Received(const uint8_t* Data, size_t Size) { Frame("rx", Data, Size); }
    void Verdict(const std::string& Text);
    // A frame line with another direction label (for a program with more
    // than one side, such as a gateway).
    void Frame(const char* Direction, const uint8_t* Data, size_t Size);

private:
    void Line(const std::string& Text);
    int FFd = -1;
};

} // namespace Link
