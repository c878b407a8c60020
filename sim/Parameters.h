#pragma once

#include <cstdint>
#include <string>

// The drive parameters of the virtual controller: what VLM_SavePar stores and
// what the controller holds after an open. The checks give the error text of
// a value the controller refuses, or an empty text when the value is fine.
namespace Sim {

// Bits of the backward, forward and home words of VLM_SetLim.
constexpr int32_t InputEnabled = 1;        // the input acts
constexpr int32_t InputNormallyClosed = 2; // wiring only; the logical state is the same
constexpr int32_t InputAbruptStop = 4;     // stop at once instead of on the ramp

constexpr int32_t MaxCurrent = 2000;       // mA
constexpr int32_t MaxSpeed = 30000;        // half-steps per second
constexpr int32_t MaxAcceleration = 40000; // half-steps per second squared

struct Parameters {
    int32_t Step = 1;   // 1 full step, 2 half step
    int32_t Decay = 0;  // 0 slow, 1 fast
    int32_t Iw = 200;   // working current, mA
    int32_t Ia = 300;   // acceleration current, mA
    int32_t Ih = 100;   // holding current, mA (0 = none)
    int32_t Vm = 50;    // start speed
    int32_t Vw = 100;   // working speed
    int32_t Aw = 100;   // acceleration (0: the speed jumps)
    int32_t LimBackward = 0;
    int32_t LimForward = 0;
    int32_t LimHome = 0;
    int32_t Ctrl = 32;  // local control: mode 0, debouncing on

    bool operator==(const Parameters& Other) const;
    bool operator!=(const Parameters& Other) const { return !(*this == Other); }
};

std::string CheckStep(int32_t Step);
std::string CheckDecay(int32_t Decay);
// What is "Working", "Acceleration" or "Holding".
std::string CheckCurrent(const char* What, int32_t Current);
std::string CheckVm(int32_t Speed);
std::string CheckVw(int32_t Speed);
std::string CheckAw(int32_t Acceleration);
// What is "Backward limit", "Forward limit" or "Home sensor".
std::string CheckInputWord(const char* What, int32_t Word);
std::string CheckCtrl(int32_t Word);
// The first complaint about any of the values, or an empty text.
std::string Check(const Parameters& P);

// The stored text of the parameters, and back. Parse accepts only a complete
// text with every value valid; otherwise it returns false and leaves Out alone.
std::string FormatParameters(const Parameters& P);
bool ParseParameters(const std::string& Text, Parameters& Out);

// S without the blanks and control characters at either end (the stored
// parameters and the control file are read line by line with it).
std::string Trim(const std::string& S);

} // namespace Sim
