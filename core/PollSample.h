#pragma once

#include <cstdint>
#include <string>

// One reading of the controller's status as a poll took it: what the panel's
// tick read and what velmorctl watch logs. Times are those at which the answer
// arrived, not at which it was asked for.
namespace Core {

struct PollSample {
    int64_t SteadyUs = 0; // the monotonic clock (Core::SteadyNowUs)
    int64_t UtcUs = 0;    // the wall clock, microseconds since 1970 (UTC)
    bool Ok = false;      // false: the reading failed (a gap); Error says why
    // Which readings the poll took (a poll of another page reads the state
    // only); each value is meaningful only when its flag is set.
    bool HasMotion = false; // Coordinate, Speed and Limits
    bool HasState = false;  // StateCode
    int32_t Coordinate = 0; // half-steps
    int32_t Speed = 0;      // half-steps per second, signed
    int32_t Limits = 0;     // bit 0 backward, bit 1 forward, bit 2 home (core/DeviceState.h)
    int32_t StateCode = 0;  // 0..6 (core/DeviceState.h)
    std::string Error;      // the library's text when !Ok
};

} // namespace Core
