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

// The first word of S (up to a blank or control character); Rest gets S
// after it, trimmed.
std::string FirstWord(const std::string& S, std::string& Rest);
// S with A..Z in lower case.
std::string Lower(std::string S);

// A line of the control file the model does not act on, split at its first
// word (in lower case): velmor-sim reads its line faults from these.
struct ControlWords {
    std::string Verb;
    std::string Rest;
};

struct ControlState {
    bool LinkDown = false;
    std::vector<FailRule> Rules;
    std::vector<ControlWords> Other;
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
    // The lines not acted on here, and a count that changes whenever the
    // file is read again (or found gone): what a reader of those lines has
    // used up arms again when it changes.
    const std::vector<ControlWords>& Other() const { return FState.Other; }
    uint64_t Generation() const { return FGeneration; }

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
    uint64_t FGeneration = 0;
};

} // namespace Sim
