#include "sim/Parameters.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace Sim {

namespace {

std::string Range(const std::string& What, int32_t Value, const char* Unit, int32_t Low, int32_t High)
{
    if (Value >= Low && Value <= High)
        return {};
    std::string Text = What + " " + std::to_string(Value);
    if (*Unit) {
        Text += ' ';
        Text += Unit;
    }
    return Text + " is out of range " + std::to_string(Low) + ".." + std::to_string(High);
}

struct Key {
    const char* Name;
    int32_t Parameters::*Field;
};

const Key Keys[] = {
    {"Step", &Parameters::Step},
    {"Decay", &Parameters::Decay},
    {"Iw", &Parameters::Iw},
    {"Ia", &Parameters::Ia},
    {"Ih", &Parameters::Ih},
    {"Vm", &Parameters::Vm},
    {"Vw", &Parameters::Vw},
    {"Aw", &Parameters::Aw},
    {"LimBackward", &Parameters::LimBackward},
    {"LimForward", &Parameters::LimForward},
    {"LimHome", &Parameters::LimHome},
    {"Ctrl", &Parameters::Ctrl},
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

std::string CheckStep(int32_t Step)
{
    if (Step == 1 || Step == 2)
        return {};
    return "Step mode " + std::to_string(Step) + " is not valid: use 1 (full step) or 2 (half step)";
}

std::string CheckDecay(int32_t Decay)
{
    if (Decay == 0 || Decay == 1)
        return {};
    return "Decay mode " + std::to_string(Decay) + " is not valid: use 0 (slow) or 1 (fast)";
}

std::string CheckCurrent(const char* What, int32_t Current)
{
    return Range(std::string(What) + " current", Current, "mA", 0, MaxCurrent);
}

std::string CheckVm(int32_t Speed) { return Range("Minimum speed", Speed, "half-steps/s", 1, MaxSpeed); }
std::string CheckVw(int32_t Speed) { return Range("Working speed", Speed, "half-steps/s", 0, MaxSpeed); }
std::string CheckAw(int32_t Acceleration) { return Range("Acceleration", Acceleration, "", 0, MaxAcceleration); }

std::string CheckInputWord(const char* What, int32_t Word)
{
    if ((Word & ~7) == 0)
        return {};
    return std::string(What) + " word " + std::to_string(Word) + " is not valid: only bits 0..2 may be set";
}

std::string CheckCtrl(int32_t Word)
{
    if ((Word & ~0x3F) != 0)
        return "Control word " + std::to_string(Word) + " is not valid: only bits 0..5 may be set";
    if ((Word & 0x0F) > 7)
        return "Control word " + std::to_string(Word) + " is not valid: local control mode " +
               std::to_string(Word & 0x0F) + " is out of range 0..7";
    return {};
}

std::string Check(const Parameters& P)
{
    for (const std::string& Text :
         {CheckStep(P.Step), CheckDecay(P.Decay), CheckCurrent("Working", P.Iw),
          CheckCurrent("Acceleration", P.Ia), CheckCurrent("Holding", P.Ih), CheckVm(P.Vm), CheckVw(P.Vw),
          CheckAw(P.Aw), CheckInputWord("Backward limit", P.LimBackward),
          CheckInputWord("Forward limit", P.LimForward), CheckInputWord("Home sensor", P.LimHome),
          CheckCtrl(P.Ctrl)})
        if (!Text.empty())
            return Text;
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
    if (!Check(P).empty())
        return false;
    Out = P;
    return true;
}

std::string Trim(const std::string& S)
{
    size_t B = 0, E = S.size();
    while (B < E && static_cast<unsigned char>(S[B]) <= ' ')
        ++B;
    while (E > B && static_cast<unsigned char>(S[E - 1]) <= ' ')
        --E;
    return S.substr(B, E - B);
}

} // namespace Sim
