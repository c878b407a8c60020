#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/PollSample.h"

// The plot's memory: the readings of the last few minutes in one ring of
// fixed capacity, oldest first. It never grows after construction: a day's
// run holds the same memory as a minute's. A failed reading is kept (it is a
// gap in the curves, and its text goes into the export); readings arrive in
// time order and one older than the newest is refused.
namespace Plot {

class THistory {
public:
    // The span kept: ten minutes.
    static constexpr int64_t DefaultSpanUs = 600 * 1000000LL;
    // Room for ten minutes of 100 ms ticks, with a quarter to spare for the
    // extra ticks a page change runs and for a line that answers quickly.
    static constexpr std::size_t DefaultCapacity = 7500;
    // The longest error text kept with a gap (the rest is cut).
    static constexpr std::size_t MaxErrorLength = 200;

    explicit THistory(std::size_t Capacity = DefaultCapacity, int64_t SpanUs = DefaultSpanUs);

    // Adds a reading at the newest end; the oldest goes when the ring is full
    // or has fallen out of the span. False when it was refused for coming
    // before the newest (nothing changes then).
    bool Add(const Core::PollSample& S);
    void Clear();

    std::size_t Size() const { return FCount; }
    std::size_t Capacity() const { return FRing.size(); }
    int64_t SpanUs() const { return FSpanUs; }
    bool Empty() const { return FCount == 0; }
    // The I-th reading kept, 0 the oldest.
    const Core::PollSample& At(std::size_t I) const { return FRing[(FFirst + I) % FRing.size()]; }
    const Core::PollSample& Oldest() const { return At(0); }
    const Core::PollSample& Newest() const { return At(FCount - 1); }
    // The index of the first reading at or after SteadyUs (Size() if none).
    std::size_t LowerBound(int64_t SteadyUs) const;
    // Readings refused for their time since construction.
    std::size_t Refused() const { return FRefused; }
    // Bytes held, the ring and the error texts of its gaps.
    std::size_t MemoryBytes() const;

private:
    std::vector<Core::PollSample> FRing;
    std::size_t FFirst = 0;
    std::size_t FCount = 0;
    int64_t FSpanUs;
    std::size_t FRefused = 0;
};

} // namespace Plot
