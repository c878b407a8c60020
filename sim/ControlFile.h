#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The control file of the virtual controller: lets a person or a test script
// cut and restore the virtual link and make chosen calls fail while the panel
// runs. The format is described at the top of ControlFile.cpp.
namespace Sim {

struct FailRule {
    std::string Name; // "VLM_SetVw"
    std::string Text; // the error text the call leaves
    bool Once = false;
    bool Used = false; // a fail-once rule that has fired
};

// A fault of the line itself, played by velmor-sim on the answer to a request
// (the in-process controller has no line and ignores them).
enum class LineFaultKind {
    NoAnswer, // the request is carried out, its answer lost
    Late,     // the answer comes Ms milliseconds late
    BadCrc,   // the answer's CRC is wrong
    Truncate, // the answer loses its last three bytes
    Hangup,   // the request is lost and the port goes away; back after Ms
};

struct LineRule {
    LineFaultKind Kind = LineFaultKind::NoAnswer;
    int32_t Ms = 0;
    bool Once = false;
    bool Used = false;
};

// "no-answer", "late 200" (or "late=200"), "bad-crc", "truncate",
// "hangup 500" (or "hangup=500"); milliseconds 0..600000. False for anything
// else.
bool ParseLineFault(const std::string& Text, LineRule& Out);

struct ControlState {
    bool LinkDown = false;
    std::vector<FailRule> Rules;
    std::vector<LineRule> Line;
};

// Reads control text; lines it does not understand are ignored.
ControlState ParseControl(const std::string& Text);

class ControlFile {
public:
    // How often, at most, the file is looked at (nanoseconds).
    static constexpr int64_t CheckInterval = 200000000;

    // An empty path: no control file, normal operation.
    explicit ControlFile(std::string Path = {}) : FPath(std::move(Path)) {}

    const std::string& Path() const { return FPath; }

    // Looks at the file when CheckInterval has passed since the last look
    // (or at the first call) and re-reads it when it changed.
    void Poll(int64_t NowNs)
    {
        if (FPath.empty() || (FChecked && NowNs - FLastCheck < CheckInterval && NowNs >= FLastCheck))
            return;
        Reload(NowNs);
    }

    bool LinkDown() const { return FState.LinkDown; }
    // The text a call of this name must fail with, or nullptr. A fail-once
    // rule is used up by this; it arms again only when the file changes.
    const std::string* Failure(const char* Name) { return FState.Rules.empty() ? nullptr : Find(Name); }
    // The line fault to play on the next answer, or nullptr. A "line-once"
    // rule and any hang-up are used up by this, until the file changes.
    const LineRule* LineFault();

private:
    void Reload(int64_t NowNs);
    const std::string* Find(const char* Name);

    std::string FPath;
    bool FChecked = false;
    int64_t FLastCheck = 0;
    // What identified the file at the last read: none when it was missing.
    bool FPresent = false;
    uint64_t FDevice = 0, FInode = 0;
    int64_t FSize = 0, FMtimeNs = 0, FCtimeNs = 0;
    ControlState FState;
};

} // namespace Sim
