#include "core/ParameterWords.h"

#include "core/DeviceState.h"

#include <cmath>
#include <limits>

namespace ParameterWords {

int32_t Trunc(double Value) noexcept
{
    if (std::isnan(Value))
        return 0;
    if (Value >= 2147483647.0)
        return std::numeric_limits<int32_t>::max();
    if (Value <= -2147483648.0)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(Value); // the conversion truncates toward zero
}

int32_t Magnitude(int32_t Value) noexcept
{
    if (Value == std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::max();
    return Value < 0 ? -Value : Value;
}

int32_t StepModeValue(int Index) noexcept { return Trunc(std::pow(2.0, Index)); }

int32_t LimitWord(bool Enabled, bool NormallyOpen, bool AbruptStop) noexcept
{
    int32_t W = 0;
    if (Enabled)
        W |= Core::InputEnabled;
    if (!NormallyOpen)
        W |= Core::InputNormallyClosed;
    if (AbruptStop)
        W |= Core::InputAbruptStop;
    return W;
}

LimitBoxes LimitWordBoxes(int32_t Word) noexcept
{
    return LimitBoxes{(Word & Core::InputEnabled) != 0, (Word & Core::InputNormallyClosed) == 0,
                      (Word & Core::InputAbruptStop) != 0};
}

int32_t ControlWord(int Index, bool ActiveHigh, bool Debounce, int32_t Current) noexcept
{
    int32_t W = Index >= 0 ? Index : (Current & Core::ControlModeMask);
    if (ActiveHigh)
        W |= Core::ControlActiveHigh;
    if (Debounce)
        W |= Core::ControlDebounce;
    return W;
}

ControlBoxes ControlWordBoxes(int32_t Word) noexcept
{
    return ControlBoxes{Word & Core::ControlModeMask, (Word & Core::ControlActiveHigh) != 0,
                        (Word & Core::ControlDebounce) != 0};
}

} // namespace ParameterWords
