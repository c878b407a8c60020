#pragma once

#include <chrono>
#include <cstdint>

// The one monotonic clock of the programs below the panel: deadlines, poll
// periods and the model's time all read it, never the wall clock.
namespace Core {

// Nanoseconds on the monotonic clock since an unspecified start.
inline int64_t SteadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The same clock in microseconds.
inline int64_t SteadyNowUs() { return SteadyNow() / 1000; }

} // namespace Core
