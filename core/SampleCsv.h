#pragma once

#include <cstdint>
#include <string>

#include "core/PollSample.h"

// The status log's CSV form, one row per reading: the file velmorctl watch
// writes and the plot window exports, so that one script reads both.
//
//   time_s,time_utc,coordinate,speed,limits,state_code,state,error
//
// time_s: seconds since the log's start, three decimals; time_utc: the
// reading's wall-clock time, ISO 8601 with milliseconds and "Z"; coordinate
// in half-steps, speed in half-steps per second, limits the input word (bit 0
// backward, 1 forward, 2 home), the state's code and text; error: the failed
// read's text ("the read failed" when it had none), else empty. A value the
// reading did not take is left empty.
namespace Core {

// The header line, without its line break.
const char* SampleCsvHeader();

// A field as written: quoted when it holds a comma, a quote or a line break,
// a quote doubled, a line break turned into a space.
std::string CsvField(const std::string& Text);

// 2026-12-10T09:30:01.250Z for microseconds since 1970 (milliseconds
// truncated).
std::string UtcText(int64_t UtcUs);

// The text of a state code, as the device command layer gives it.
using StateTextFn = const char* (*)(int32_t Code);

// One row, without its line break; time_s counts from OriginSteadyUs.
std::string SampleCsvRow(const PollSample& S, int64_t OriginSteadyUs, StateTextFn StateText);

} // namespace Core
