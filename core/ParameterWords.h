#pragma once

#include <cstdint>

// The panel's values as the controller gets them: plain C++, no widgets.
namespace ParameterWords {

// A field's value as a 32-bit integer: truncated toward zero (1999.9 gives
// 1999, -0.5 gives 0, -1.7 gives -1). Defined for every double: values
// beyond the 32-bit range give its nearer end, NaN gives 0.
int32_t Trunc(double Value) noexcept;

// The magnitude of a signed speed; the most negative reading gives the
// largest positive one instead of overflowing.
int32_t Magnitude(int32_t Value) noexcept;

// The step-mode value of VLM_SetMode: 2 raised to the list index, truncated
// (index 0 gives 1, 1 gives 2, no selection (-1) gives 0).
int32_t StepModeValue(int Index) noexcept;

// A limit-switch or home-sensor word from its three boxes: bit 0 enabled,
// bit 1 normally closed (the "normally open" box not checked), bit 2 stop
// without a deceleration ramp.
int32_t LimitWord(bool Enabled, bool NormallyOpen, bool AbruptStop) noexcept;

struct LimitBoxes {
    bool Enabled;
    bool NormallyOpen;
    bool AbruptStop;
};
LimitBoxes LimitWordBoxes(int32_t Word) noexcept;

// The local-control word: the mode from the list index in bits 0-3, bit 4
// inputs active high, bit 5 debouncing. With no item selected (Index < 0)
// the mode bits are kept from the current word.
int32_t ControlWord(int Index, bool ActiveHigh, bool Debounce, int32_t Current) noexcept;

struct ControlBoxes {
    int Index;
    bool ActiveHigh;
    bool Debounce;
};
ControlBoxes ControlWordBoxes(int32_t Word) noexcept;

} // namespace ParameterWords
