#pragma once

#include <cstdint>
#include <vector>

#include "plot/History.h"

// The history reduced to the plot's pixel columns. Each column covers an
// equal slice of the visible time and keeps the least and the greatest
// coordinate and speed read in it, so a one-tick spike still reaches its
// peak on the screen however far the view is zoomed out; the work is one
// pass over the readings in view (found by bisection), whatever the
// history's length.
namespace Plot {

struct TColumn {
    // Motion readings in this column (coordinate, speed and inputs valid).
    bool HasMotion = false;
    // The curve continues from the previous column's last motion reading:
    // no failed reading, no reading without motion, and no longer pause than
    // the join limit between them.
    bool JoinsPrevious = false;
    // A failed reading fell in this column.
    bool Failed = false;
    int32_t CoordMin = 0, CoordMax = 0, CoordFirst = 0, CoordLast = 0;
    int32_t SpeedMin = 0, SpeedMax = 0, SpeedFirst = 0, SpeedLast = 0;
    // Inputs active at any reading of the column (bits of the input word).
    int32_t Limits = 0;
    // The last state read in the column, -1 if none.
    int32_t State = -1;
    // The column's last reading failed.
    bool EndsFailed = false;
    // What the bands under the curves show: the column's own readings, or in
    // a column without any (the poll is slower than a pixel) those of the
    // last reading before it, up to the join limit away. BandState -1: no
    // state known; BandLimits -1: no inputs known (not read, or failed).
    int32_t BandState = -1;
    int32_t BandLimits = -1;
    bool BandFailed = false;
};

struct TDecimation {
    int64_t FromUs = 0, ToUs = 0; // the visible time, steady clock
    std::vector<TColumn> Columns;
    // Value ranges over the columns with motion (for the axes' auto-scale).
    bool Any = false;
    int32_t CoordMin = 0, CoordMax = 0, SpeedMin = 0, SpeedMax = 0;
    // Readings looked at.
    std::size_t Visited = 0;
    // Which columns hold a reading (working storage, reused).
    std::vector<bool> Read;
};

// The longest pause between two motion readings still drawn as a line.
constexpr int64_t DefaultJoinUs = 2 * 1000000;

// Columns of [FromUs, ToUs) over Width pixels (Width >= 1, ToUs > FromUs);
// Out's storage is reused between frames.
void Decimate(const THistory& H, int64_t FromUs, int64_t ToUs, int Width, TDecimation& Out,
              int64_t JoinUs = DefaultJoinUs);

} // namespace Plot
