// The control file of the virtual controller.
//
// Where: the path in the environment variable VELMOR_SIM_CONTROL; when that is
// not set, "virtual-controller.control" in the folder of the state file (by
// default ~/.local/state/velmor/, see Storage.h). A missing file means normal
// operation.
//
// When: the library looks at the file at most every 200 ms (one stat of it,
// made from within a library call; there are no threads) and reads it again
// only when it changed (modification time, size or inode), so edits take
// effect within about 200 ms while the panel runs.
//
// Format: plain text, one instruction a line; blanks around words do not
// matter; empty lines and lines starting with "#" or ";" are comments; lines
// not understood are ignored.
//
//   link=down                            the link is cut: every call fails, reads
//                                        too, and an open fails, as with a lost
//                                        controller (VLM_CloseDevice still works);
//                                        the motor goes on doing what it did
//   link=up                              the link works (the default); the last
//                                        link line wins
//   fail VLM_SetVw Speed rejected by drive
//                                        every call of that name fails with the
//                                        rest of the line as its error text,
//                                        until the line is removed
//   fail-once VLM_GetNc Timeout          the next call of that name fails once;
//                                        it arms again when the file changes
//
// Lines of other words are ignored here; velmor-sim (linesim/) reads its
// faults of the line from them ("line no-answer", "line-once bad-crc", ...).
//
// The name may be given with or without its "VLM_" prefix. A missing text
// gives "Simulated failure of VLM_...". A failing call changes nothing, as any
// failed call of the controller. VLM_GetLastError never fails.
#include "sim/ControlFile.h"
#include "sim/Parameters.h"

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace Sim {

namespace {

// A control file is a few lines; anything longer is read only this far.
constexpr std::streamsize MaxControlText = 64 * 1024;

} // namespace

std::string Lower(std::string S)
{
    for (char& C : S)
        if (C >= 'A' && C <= 'Z')
            C = static_cast<char>(C - 'A' + 'a');
    return S;
}

std::string FirstWord(const std::string& S, std::string& Rest)
{
    size_t E = 0;
    while (E < S.size() && static_cast<unsigned char>(S[E]) > ' ')
        ++E;
    Rest = Trim(S.substr(E));
    return S.substr(0, E);
}

ControlState ParseControl(const std::string& Text)
{
    ControlState State;
    std::istringstream In(Text);
    std::string Line;
    while (std::getline(In, Line)) {
        Line = Trim(Line);
        if (Line.empty() || Line[0] == '#' || Line[0] == ';')
            continue;
        size_t Eq = Line.find('=');
        if (Eq != std::string::npos && Lower(Trim(Line.substr(0, Eq))) == "link") {
            std::string Value = Lower(Trim(Line.substr(Eq + 1)));
            if (Value == "down")
                State.LinkDown = true;
            else if (Value == "up")
                State.LinkDown = false;
            continue;
        }
        std::string Rest;
        std::string Verb = Lower(FirstWord(Line, Rest));
        if (Verb != "fail" && Verb != "fail-once") {
            State.Other.push_back({Verb, Rest});
            continue;
        }
        std::string Message;
        std::string Name = FirstWord(Rest, Message);
        if (Name.empty())
            continue;
        if (Name.compare(0, 4, "VLM_") != 0)
            Name = "VLM_" + Name;
        if (Name == "VLM_GetLastError")
            continue;
        FailRule Rule;
        Rule.Name = Name;
        Rule.Text = Message.empty() ? "Simulated failure of " + Name : Message;
        Rule.Once = Verb == "fail-once";
        State.Rules.push_back(std::move(Rule));
    }
    return State;
}

void ControlFile::Reload(int64_t NowNs)
{
    FChecked = true;
    FLastCheck = NowNs;
    struct stat St;
    if (::stat(FPath.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) {
        FPresent = false;
        FState = ControlState();
        ++FGeneration;
        return;
    }
    const int64_t Mtime = static_cast<int64_t>(St.st_mtim.tv_sec) * 1000000000 + St.st_mtim.tv_nsec;
    const int64_t Ctime = static_cast<int64_t>(St.st_ctim.tv_sec) * 1000000000 + St.st_ctim.tv_nsec;
    if (FPresent && FDevice == static_cast<uint64_t>(St.st_dev) && FInode == static_cast<uint64_t>(St.st_ino) &&
        FSize == static_cast<int64_t>(St.st_size) && FMtimeNs == Mtime && FCtimeNs == Ctime)
        return;
    std::ifstream In(FPath, std::ios::binary);
    if (!In) {
        FPresent = false;
        FState = ControlState();
        ++FGeneration;
        return;
    }
    std::string Text(static_cast<size_t>(MaxControlText), '\0');
    In.read(&Text[0], MaxControlText);
    Text.resize(static_cast<size_t>(In.gcount()));
    FState = ParseControl(Text);
    ++FGeneration;
    FPresent = true;
    FDevice = static_cast<uint64_t>(St.st_dev);
    FInode = static_cast<uint64_t>(St.st_ino);
    FSize = static_cast<int64_t>(St.st_size);
    FMtimeNs = Mtime;
    FCtimeNs = Ctime;
}

const std::string* ControlFile::Find(const char* Name)
{
    for (FailRule& Rule : FState.Rules) {
        if (Rule.Used || Rule.Name != Name)
            continue;
        if (Rule.Once)
            Rule.Used = true;
        return &Rule.Text;
    }
    return nullptr;
}

} // namespace Sim
