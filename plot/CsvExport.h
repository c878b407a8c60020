#pragma once

#include <cstdint>
#include <ostream>

#include "core/SampleCsv.h"
#include "plot/History.h"

namespace Plot {

// The readings of [FromUs, ToUs] as the status log's CSV file (header first,
// "\n" after each line), time_s counted from the first reading written.
// Returns the number of rows; the caller checks the stream.
std::size_t WriteCsv(std::ostream& Out, const THistory& H, int64_t FromUs, int64_t ToUs,
                     Core::StateTextFn StateText);

} // namespace Plot
