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
// Faults of the line, played by velmor-sim (linesim/) on its answers; the
// in-process controller ignores them:
//
//   line no-answer                       every request is carried out but not
//                                        answered
//   line late 200                        every answer comes 200 ms late
//   line bad-crc                         every answer has a wrong CRC
//   line truncate                        every answer loses its last 3 bytes
//   line hangup 500                      the next request is lost and the port
//                                        goes away (pseudo-terminal and its
//                                        symlink removed, TCP client and
//                                        listener closed); back after 500 ms.
//                                        Once, until the file changes
//   line-once bad-crc                    (any of them) the next answer only
//
// The first line rule not used up applies.
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

std::string Lower(std::string S)
{
    for (char& C : S)
        if (C >= 'A' && C <= 'Z')
            C = static_cast<char>(C - 'A' + 'a');
    return S;
}

// The first word of S, and S after it (trimmed).
std::string Word(const std::string& S, std::string& Rest)
{
    size_t E = 0;
    while (E < S.size() && static_cast<unsigned char>(S[E]) > ' ')
        ++E;
    Rest = Trim(S.substr(E));
    return S.substr(0, E);
}

} // namespace

bool ParseLineFault(const std::string& Text, LineRule& Out)
{
    std::string S = Lower(Trim(Text));
    const size_t Eq = S.find('=');
    if (Eq != std::string::npos)
        S[Eq] = ' ';
    std::string Rest;
    const std::string Kind = Word(S, Rest);
    LineRule Rule;
    bool NeedsMs = false;
    if (Kind == "no-answer")
        Rule.Kind = LineFaultKind::NoAnswer;
    else if (Kind == "bad-crc")
        Rule.Kind = LineFaultKind::BadCrc;
    else if (Kind == "truncate")
        Rule.Kind = LineFaultKind::Truncate;
    else if (Kind == "late")
        Rule.Kind = LineFaultKind::Late, NeedsMs = true;
    else if (Kind == "hangup")
        Rule.Kind = LineFaultKind::Hangup, NeedsMs = true;
    else
        return false;
    if (!NeedsMs) {
        if (!Rest.empty())
            return false;
    } else {
        if (Rest.empty() || Rest.size() > 6)
            return false;
        int32_t Ms = 0;
        for (char C : Rest) {
            if (C < '0' || C > '9')
                return false;
            Ms = Ms * 10 + (C - '0');
        }
        if (Ms > 600000)
            return false;
        Rule.Ms = Ms;
    }
    Out = Rule;
    return true;
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
        std::string Verb = Lower(Word(Line, Rest));
        if (Verb == "line" || Verb == "line-once") {
            LineRule Rule;
            if (ParseLineFault(Rest, Rule)) {
                Rule.Once = Verb == "line-once" || Rule.Kind == LineFaultKind::Hangup;
                State.Line.push_back(Rule);
            }
            continue;
        }
        if (Verb != "fail" && Verb != "fail-once")
            continue;
        std::string Message;
        std::string Name = Word(Rest, Message);
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
        return;
    }
    std::string Text(static_cast<size_t>(MaxControlText), '\0');
    In.read(&Text[0], MaxControlText);
    Text.resize(static_cast<size_t>(In.gcount()));
    FState = ParseControl(Text);
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

const LineRule* ControlFile::LineFault()
{
    for (LineRule& Rule : FState.Line) {
        if (Rule.Used)
            continue;
        if (Rule.Once)
            Rule.Used = true;
        return &Rule;
    }
    return nullptr;
}

} // namespace Sim
