#include "link/Registers.h"

#include "core/FieldRanges.h"

namespace Link {

using Core::MaxAcceleration, Core::MaxCurrent, Core::MaxSpeed;

namespace {

std::string Range(const char* What, int32_t Value, const char* Unit, int32_t Low, int32_t High)
{
    std::string Text = std::string(What) + " " + std::to_string(Value);
    if (*Unit) {
        Text += ' ';
        Text += Unit;
    }
    return Text + " is out of range " + std::to_string(Low) + ".." + std::to_string(High);
}

std::string Word(const char* What, int32_t Value)
{
    return std::string(What) + " word " + std::to_string(Value) + " is not valid: only bits 0..2 may be set";
}

// The reasons whose value must lie within a range, with that range.
struct Ranged {
    Reason Code;
    const char* What;
    const char* Unit;
    int32_t Low, High;
};

const Ranged Ranges[] = {
    {Reason::WorkingCurrent, "Working current", "mA", 0, MaxCurrent},
    {Reason::AccelerationCurrent, "Acceleration current", "mA", 0, MaxCurrent},
    {Reason::HoldingCurrent, "Holding current", "mA", 0, MaxCurrent},
    {Reason::MinimumSpeed, "Minimum speed", "half-steps/s", 1, MaxSpeed},
    {Reason::WorkingSpeed, "Working speed", "half-steps/s", 0, MaxSpeed},
    {Reason::Acceleration, "Acceleration", "", 0, MaxAcceleration},
};

// The one table of refusal texts: the controller's English text for each
// reason, with the value the reason names.
struct Entry {
    Reason Code;
    std::string (*Text)(int32_t Value);
};

const Entry Table[] = {
    {Reason::StepMode,
     [](int32_t V) { return "Step mode " + std::to_string(V) + " is not valid: use 1 (full step) or 2 (half step)"; }},
    {Reason::DecayMode,
     [](int32_t V) { return "Decay mode " + std::to_string(V) + " is not valid: use 0 (slow) or 1 (fast)"; }},
    {Reason::WorkingCurrent, [](int32_t V) { return Range("Working current", V, "mA", 0, MaxCurrent); }},
    {Reason::AccelerationCurrent, [](int32_t V) { return Range("Acceleration current", V, "mA", 0, MaxCurrent); }},
    {Reason::HoldingCurrent, [](int32_t V) { return Range("Holding current", V, "mA", 0, MaxCurrent); }},
    {Reason::MinimumSpeed, [](int32_t V) { return Range("Minimum speed", V, "half-steps/s", 1, MaxSpeed); }},
    {Reason::WorkingSpeed, [](int32_t V) { return Range("Working speed", V, "half-steps/s", 0, MaxSpeed); }},
    {Reason::Acceleration, [](int32_t V) { return Range("Acceleration", V, "", 0, MaxAcceleration); }},
    {Reason::BackwardLimitWord, [](int32_t V) { return Word("Backward limit", V); }},
    {Reason::ForwardLimitWord, [](int32_t V) { return Word("Forward limit", V); }},
    {Reason::HomeSensorWord, [](int32_t V) { return Word("Home sensor", V); }},
    {Reason::ControlWordBits,
     [](int32_t V) { return "Control word " + std::to_string(V) + " is not valid: only bits 0..5 may be set"; }},
    {Reason::ControlWordMode,
     [](int32_t V) {
         return "Control word " + std::to_string(V) + " is not valid: local control mode " + std::to_string(V & 0x0F) +
                " is out of range 0..7";
     }},
    {Reason::Direction,
     [](int32_t V) {
         return "Direction " + std::to_string(V) + " is not valid: use 1 (forward), -1 (backward) or 0 (stop)";
     }},
    {Reason::HomingDirection,
     [](int32_t V) {
         return "Homing direction " + std::to_string(V) + " is not valid: use 1 (forward) or -1 (backward)";
     }},
    {Reason::HomingNeedsSensor, [](int32_t) { return std::string("Homing needs the home sensor, which is not enabled"); }},
    {Reason::StoreFailed, [](int32_t) { return std::string("Cannot store the parameters in the controller's EEPROM"); }},
    {Reason::UnknownCommand, [](int32_t V) { return "Command code " + std::to_string(V) + " is not known"; }},
    {Reason::BadCount,
     [](int32_t V) { return "A request of " + std::to_string(V) + " registers is not valid here"; }},
    {Reason::DeviceFailure, [](int32_t) { return std::string("The controller failed to carry out the request"); }},
    {Reason::WatchdogExpired,
     [](int32_t V) {
         return "The communication watchdog ramped the motor down: no request for " + std::to_string(V) + " ms";
     }},
};

} // namespace

void PutInt32(int32_t Value, uint16_t* Out)
{
    const uint32_t U = static_cast<uint32_t>(Value);
    Out[0] = static_cast<uint16_t>(U >> 16);
    Out[1] = static_cast<uint16_t>(U & 0xFFFF);
}

int32_t GetInt32(const uint16_t* Words)
{
    const uint32_t U = (static_cast<uint32_t>(Words[0]) << 16) | Words[1];
    // Two's complement without relying on the conversion of an out-of-range
    // unsigned value.
    return U <= 0x7FFFFFFFu ? static_cast<int32_t>(U) : -static_cast<int32_t>(~U) - 1;
}

void AppendInt32(std::vector<uint16_t>& Out, int32_t Value)
{
    uint16_t W[2];
    PutInt32(Value, W);
    Out.push_back(W[0]);
    Out.push_back(W[1]);
}

bool Status::operator==(const Status& O) const
{
    return State == O.State && Nc == O.Nc && Nb == O.Nb && Vc == O.Vc && Lim == O.Lim && Adc == O.Adc;
}

std::vector<uint16_t> PackStatus(const Status& S)
{
    std::vector<uint16_t> W;
    W.reserve(Input::StatusCount);
    W.push_back(static_cast<uint16_t>(S.State));
    AppendInt32(W, S.Nc);
    AppendInt32(W, S.Nb);
    AppendInt32(W, S.Vc);
    W.push_back(static_cast<uint16_t>(S.Lim));
    W.push_back(static_cast<uint16_t>(S.Adc));
    return W;
}

bool UnpackStatus(const uint16_t* Words, size_t Count, Status& Out)
{
    if (!Words || Count != Input::StatusCount)
        return false;
    Out.State = Words[Input::State];
    Out.Nc = GetInt32(Words + Input::Nc);
    Out.Nb = GetInt32(Words + Input::Nb);
    Out.Vc = GetInt32(Words + Input::Vc);
    Out.Lim = Words[Input::Lim];
    Out.Adc = Words[Input::Adc];
    return true;
}

std::vector<uint16_t> PackIdent(const std::string& Text)
{
    std::vector<uint16_t> W(Input::IdentCount, 0);
    const size_t N = Text.size() < Input::IdentBytes ? Text.size() : Input::IdentBytes;
    for (size_t I = 0; I < N; ++I) {
        const uint16_t Byte = static_cast<unsigned char>(Text[I]);
        W[I / 2] = static_cast<uint16_t>(W[I / 2] | (I % 2 == 0 ? Byte << 8 : Byte));
    }
    return W;
}

std::string UnpackIdent(const uint16_t* Words, size_t Count)
{
    std::string Text;
    if (!Words)
        return Text;
    for (size_t I = 0; I < 2 * Count; ++I) {
        const unsigned char C = static_cast<unsigned char>(I % 2 == 0 ? Words[I / 2] >> 8 : Words[I / 2] & 0xFF);
        if (C == 0)
            break;
        Text += (C < 0x20 || C == 0x7F) ? '?' : static_cast<char>(C);
    }
    return Text;
}

std::vector<uint16_t> CommandBlock(uint16_t Code, int32_t Argument)
{
    std::vector<uint16_t> W{Code};
    AppendInt32(W, Argument);
    return W;
}

std::string ReasonText(Reason Code, int32_t Value)
{
    return ReasonText(static_cast<uint16_t>(Code), Value);
}

bool ReasonRange(Reason Code, int32_t& Low, int32_t& High)
{
    for (const Ranged& R : Ranges)
        if (R.Code == Code) {
            Low = R.Low;
            High = R.High;
            return true;
        }
    return false;
}

std::string ReasonText(uint16_t Code, int32_t Value, int32_t Low, int32_t High)
{
    for (const Ranged& R : Ranges)
        if (static_cast<uint16_t>(R.Code) == Code)
            return Range(R.What, Value, R.Unit, Low, High);
    return ReasonText(Code, Value);
}

std::string ReasonText(uint16_t Code, int32_t Value)
{
    if (Code == 0)
        return {};
    for (const Entry& E : Table)
        if (static_cast<uint16_t>(E.Code) == Code)
            return E.Text(Value);
    return "Refused by the controller (reason " + std::to_string(Code) + ")";
}

bool KnownReason(uint16_t Code)
{
    for (const Entry& E : Table)
        if (static_cast<uint16_t>(E.Code) == Code)
            return true;
    return false;
}

uint8_t ExceptionFor(Reason Code)
{
    return Code == Reason::StoreFailed || Code == Reason::DeviceFailure ? 0x04 : 0x03;
}

} // namespace Link
