#pragma once

#include <cstdint>

// The controller's words as the device library reads and writes them: the
// state code of VLM_GetStat, the input bits of VLM_GetLim and the bits of the
// limit-switch and home-sensor words of VLM_SetLim.
namespace Core {

// State codes of VLM_GetStat.
enum StateCode : int32_t {
    StateStopped = 0,
    StateDone = 1,
    StateLimit = 2,
    StateRotating = 3,
    StatePositioning = 4,
    StateEncoderPositioning = 5,
    StateHoming = 6,
};

// The English text of a state code, as the panel's status bar, velmorctl and
// the gateway's published status give it.
inline const char* StateText(int32_t Code)
{
    switch (Code) {
    case StateStopped: return "Stopped";
    case StateDone: return "Operation done";
    case StateLimit: return "Limit reached";
    case StateRotating: return "Rotating...";
    case StatePositioning: return "Positioning...";
    case StateEncoderPositioning: return "Encoder positioning...";
    case StateHoming: return "Searching home...";
    default: return "Unknown state";
    }
}

// Stopped, done or at a limit: the states a motion ends in.
inline bool StateEnded(int32_t State) { return State >= StateStopped && State <= StateLimit; }

// Bits of the word of VLM_GetLim: which inputs are active now.
constexpr int32_t ActiveBackward = 1;
constexpr int32_t ActiveForward = 2;
constexpr int32_t ActiveHome = 4;

// Bits of the backward, forward and home words of VLM_SetLim.
constexpr int32_t InputEnabled = 1;        // the input acts
constexpr int32_t InputNormallyClosed = 2; // wiring only; the logical state is the same
constexpr int32_t InputAbruptStop = 4;     // stop at once instead of on the ramp
constexpr int32_t InputWordBits = InputEnabled | InputNormallyClosed | InputAbruptStop;

// The local-control word of VLM_SetCtrl: the mode in the low four bits, and
// two flags.
constexpr int32_t ControlModeMask = 0x0F;
constexpr int32_t ControlMaxMode = 7;
constexpr int32_t ControlActiveHigh = 0x10; // inputs active high
constexpr int32_t ControlDebounce = 0x20;
constexpr int32_t ControlWordBits = ControlModeMask | ControlActiveHigh | ControlDebounce;

} // namespace Core
