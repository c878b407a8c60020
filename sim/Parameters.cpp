#include "sim/Parameters.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace Sim {

namespace {

bool Within(int32_t Value, int32_t Low, int32_t High) { return Value >= Low && Value <= High; }

Refusal Refuse(Link::Reason Code, int32_t Value, bool Fine)
{
    return Fine ? Refusal{} : Refusal{Code, Value};
}

// The parameters in their stored order, each with the check of its value.
struct Key {
    const char* Name;
    int32_t Parameters::*Field;
    Refusal (*Check)(int32_t Value);
};

using R = Link::Reason;
const Key Keys[] = {
    {"Step", &Parameters::Step, CheckStep},
    {"Decay", &Parameters::Decay, CheckDecay},
    {"Iw", &Parameters::Iw, [](int32_t V) { return CheckCurrent(R::WorkingCurrent, V); }},
    {"Ia", &Parameters::Ia, [](int32_t V) { return CheckCurrent(R::AccelerationCurrent, V); }},
    {"Ih", &Parameters::Ih, [](int32_t V) { return CheckCurrent(R::HoldingCurrent, V); }},
    {"Vm", &Parameters::Vm, CheckVm},
    {"Vw", &Parameters::Vw, CheckVw},
    {"Aw", &Parameters::Aw, CheckAw},
    {"LimBackward", &Parameters::LimBackward, [](int32_t V) { return CheckInputWord(R::BackwardLimitWord, V); }},
    {"LimForward", &Parameters::LimForward, [](int32_t V) { return CheckInputWord(R::ForwardLimitWord, V); }},
    {"LimHome", &Parameters::LimHome, [](int32_t V) { return CheckInputWord(R::HomeSensorWord, V); }},
    {"Ctrl", &Parameters::Ctrl, CheckCtrl},
};
constexpr int KeyCount = sizeof(Keys) / sizeof(Keys[0]);

const char* const Section = "[Parameters]";

// A plain signed decimal that fits 32 bits, nothing else.
bool ParseInt(const std::string& S, int32_t& Out)
{
    if (S.empty() || S.size() > 12)
        return false;
    size_t I = S[0] == '-' ? 1 : 0;
    if (I == S.size())
        return false;
    for (size_t J = I; J < S.size(); ++J)
        if (S[J] < '0' || S[J] > '9')
            return false;
    errno = 0;
    char* End = nullptr;
    long long V = std::strtoll(S.c_str(), &End, 10);
    if (errno != 0 || *End != '\0' || V < INT32_MIN || V > INT32_MAX)
        return false;
    Out = static_cast<int32_t>(V);
    return true;
}

} // namespace

bool Parameters::operator==(const Parameters& Other) const
{
    for (const Key& K : Keys)
        if (this->*K.Field != Other.*K.Field)
            return false;
    return true;
}

Refusal CheckStep(int32_t Step) { return Refuse(Link::Reason::StepMode, Step, Step == 1 || Step == 2); }
Refusal CheckDecay(int32_t Decay) { return Refuse(Link::Reason::DecayMode, Decay, Decay == 0 || Decay == 1); }

Refusal CheckCurrent(Link::Reason Which, int32_t Current)
{
    return Refuse(Which, Current, Within(Current, 0, MaxCurrent));
}

Refusal CheckVm(int32_t Speed) { return Refuse(Link::Reason::MinimumSpeed, Speed, Within(Speed, 1, MaxSpeed)); }
Refusal CheckVw(int32_t Speed) { return Refuse(Link::Reason::WorkingSpeed, Speed, Within(Speed, 0, MaxSpeed)); }
Refusal CheckAw(int32_t Acceleration)
{
    return Refuse(Link::Reason::Acceleration, Acceleration, Within(Acceleration, 0, MaxAcceleration));
}

Refusal CheckInputWord(Link::Reason Which, int32_t Word)
{
    return Refuse(Which, Word, (Word & ~Core::InputWordBits) == 0);
}

Refusal CheckCtrl(int32_t Word)
{
    if ((Word & ~Core::ControlWordBits) != 0)
        return {Link::Reason::ControlWordBits, Word};
    return Refuse(Link::Reason::ControlWordMode, Word, (Word & Core::ControlModeMask) <= Core::ControlMaxMode);
}

Refusal Check(const Parameters& P)
{
    for (const Key& K : Keys)
        if (const Refusal No = K.Check(P.*K.Field))
            return No;
    return {};
}

std::string FormatParameters(const Parameters& P)
{
    std::string Text = "# Parameters of the virtual controller VLM-1, stored by VLM_SavePar.\n";
    Text += Section;
    Text += '\n';
    for (const Key& K : Keys) {
        Text += K.Name;
        Text += '=';
        Text += std::to_string(P.*K.Field);
        Text += '\n';
    }
    return Text;
}

bool ParseParameters(const std::string& Text, Parameters& Out)
{
    Parameters P;
    bool Seen[KeyCount] = {};
    bool InSection = false;
    std::istringstream In(Text);
    std::string Line;
    while (std::getline(In, Line)) {
        Line = Trim(Line);
        if (Line.empty() || Line[0] == '#' || Line[0] == ';')
            continue;
        if (Line.front() == '[') {
            InSection = Line == Section;
            continue;
        }
        if (!InSection)
            continue;
        size_t Eq = Line.find('=');
        if (Eq == std::string::npos)
            return false;
        std::string Name = Trim(Line.substr(0, Eq));
        int I = 0;
        while (I < KeyCount && Name != Keys[I].Name)
            ++I;
        if (I == KeyCount)
            continue; // a key of some later version
        if (Seen[I] || !ParseInt(Trim(Line.substr(Eq + 1)), P.*Keys[I].Field))
            return false;
        Seen[I] = true;
    }
    for (bool S : Seen)
        if (!S)
            return false;
    if (Check(P))
        return false;
    Out = P;
    return true;
}

} // namespace Sim
