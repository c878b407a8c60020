#pragma once

#include <cstdint>
#include <string>

#include "core/DeviceState.h"
#include "core/FieldRanges.h"
#include "core/Text.h"
#include "link/Registers.h"

// The drive parameters of the virtual controller: what VLM_SavePar stores and
// what the controller loads at power-on. The checks give the reason the
// controller refuses a value (the code of the line protocol and the value it
// names, from which the English text is made), or no reason when the value is
// fine.
namespace Sim {

// Bits of the backward, forward and home words of VLM_SetLim.
using Core::InputEnabled, Core::InputNormallyClosed, Core::InputAbruptStop;

using Core::MaxAcceleration, Core::MaxCurrent, Core::MaxSpeed;

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

// Why the controller refuses a request: a reason of the line protocol and the
// value it names. No reason: the request is fine.
struct Refusal {
    Link::Reason Code = Link::Reason::None;
    int32_t Value = 0;

    explicit operator bool() const { return Code != Link::Reason::None; }
    std::string Text() const { return Link::ReasonText(Code, Value); }
};

Refusal CheckStep(int32_t Step);
Refusal CheckDecay(int32_t Decay);
// Which is WorkingCurrent, AccelerationCurrent or HoldingCurrent.
Refusal CheckCurrent(Link::Reason Which, int32_t Current);
Refusal CheckVm(int32_t Speed);
Refusal CheckVw(int32_t Speed);
Refusal CheckAw(int32_t Acceleration);
// Which is BackwardLimitWord, ForwardLimitWord or HomeSensorWord.
Refusal CheckInputWord(Link::Reason Which, int32_t Word);
Refusal CheckCtrl(int32_t Word);
// The first refusal of any of the values, or none.
Refusal Check(const Parameters& P);

// The stored text of the parameters, and back. Parse accepts only a complete
// text with every value valid; otherwise it returns false and leaves Out alone.
std::string FormatParameters(const Parameters& P);
bool ParseParameters(const std::string& Text, Parameters& Out);

// The stored parameters and the control file are read line by line with it.
using Core::Trim;

} // namespace Sim
