#include "plot/History.h"

#include <algorithm>

namespace Plot {

THistory::THistory(std::size_t Capacity, int64_t SpanUs) : FRing(std::max<std::size_t>(Capacity, 1)), FSpanUs(SpanUs)
{
}

bool THistory::Add(const Core::PollSample& S)
{
    if (FCount > 0 && S.SteadyUs < Newest().SteadyUs) {
        ++FRefused;
        return false;
    }
    const std::size_t N = FRing.size();
    if (FCount == N) {
        FFirst = (FFirst + 1) % N;
        --FCount;
    }
    Core::PollSample& Slot = FRing[(FFirst + FCount) % N];
    // The slot's string keeps its buffer: assigning into it reuses it, and a
    // reading without an error leaves an empty string behind.
    Slot.SteadyUs = S.SteadyUs;
    Slot.UtcUs = S.UtcUs;
    Slot.Ok = S.Ok;
    Slot.HasMotion = S.HasMotion;
    Slot.HasState = S.HasState;
    Slot.Coordinate = S.Coordinate;
    Slot.Speed = S.Speed;
    Slot.Limits = S.Limits;
    Slot.StateCode = S.StateCode;
    if (S.Ok)
        Slot.Error.clear();
    else
        Slot.Error.assign(S.Error, 0, std::min(S.Error.size(), MaxErrorLength));
    ++FCount;
    // What has fallen out of the span goes.
    const int64_t Limit = S.SteadyUs - FSpanUs;
    while (FCount > 1 && At(0).SteadyUs < Limit) {
        FFirst = (FFirst + 1) % N;
        --FCount;
    }
    return true;
}

void THistory::Clear()
{
    FFirst = 0;
    FCount = 0;
}

std::size_t THistory::LowerBound(int64_t SteadyUs) const
{
    std::size_t Lo = 0, Hi = FCount;
    while (Lo < Hi) {
        const std::size_t Mid = Lo + (Hi - Lo) / 2;
        if (At(Mid).SteadyUs < SteadyUs)
            Lo = Mid + 1;
        else
            Hi = Mid;
    }
    return Lo;
}

std::size_t THistory::MemoryBytes() const
{
    std::size_t Bytes = sizeof(*this) + FRing.capacity() * sizeof(Core::PollSample);
    for (const Core::PollSample& S : FRing)
        if (S.Error.capacity() > 15) // beyond the string's own small buffer
            Bytes += S.Error.capacity() + 1;
    return Bytes;
}

} // namespace Plot
