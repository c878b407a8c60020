#include "linesim/LineFaults.h"

#include <algorithm>
#include <iterator>

#include "link/ServeOptions.h"
#include "core/Text.h"

namespace LineSim {

bool ParseFault(const std::string& Text, Fault& Out)
{
    std::string S = Sim::Lower(Core::Trim(Text));
    const size_t Eq = S.find('=');
    if (Eq != std::string::npos)
        S[Eq] = ' ';
    std::string Rest;
    const std::string Kind = Sim::FirstWord(S, Rest);
    // The words, and whether milliseconds follow.
    static const struct {
        const char* Word;
        FaultKind Kind;
        bool NeedsMs;
    } Kinds[] = {{"no-answer", FaultKind::NoAnswer, false}, {"bad-crc", FaultKind::BadCrc, false},
                 {"truncate", FaultKind::Truncate, false},  {"late", FaultKind::Late, true},
                 {"hangup", FaultKind::Hangup, true}};
    const auto* Found =
        std::find_if(std::begin(Kinds), std::end(Kinds), [&Kind](const auto& K) { return Kind == K.Word; });
    long Ms = 0;
    if (Found == std::end(Kinds) ||
        (Found->NeedsMs ? !Link::ParseBounded(Rest, 0, 600000, Ms) || Rest.size() > 6 : !Rest.empty()))
        return false;
    Fault Rule;
    Rule.Kind = Found->Kind;
    Rule.Ms = static_cast<int32_t>(Ms);
    Out = Rule;
    return true;
}

std::vector<Fault> LineRules(const std::vector<Sim::ControlWords>& Lines)
{
    std::vector<Fault> Rules;
    for (const Sim::ControlWords& L : Lines) {
        Fault Rule;
        if ((L.Verb == "line" || L.Verb == "line-once") && ParseFault(L.Rest, Rule)) {
            Rule.Once = L.Verb == "line-once" || Rule.Kind == FaultKind::Hangup;
            Rules.push_back(Rule);
        }
    }
    return Rules;
}

const Fault* FaultPlay::Next(Sim::VirtualController& Device)
{
    Device.LinkUp(); // looks at the control file
    const Sim::ControlFile& Control = Device.Control();
    if (Control.Generation() != FGeneration) {
        FRules = LineRules(Control.Other());
        FGeneration = Control.Generation();
    }
    for (Fault& Rule : FRules) {
        if (Rule.Used)
            continue;
        if (Rule.Once)
            Rule.Used = true;
        return &Rule;
    }
    if (FCommandLine && (FEvery || !FCommandLineUsed)) {
        FCommandLineUsed = true;
        return FCommandLine;
    }
    return nullptr;
}

} // namespace LineSim
