#include "plot/Decimate.h"

#include <algorithm>

namespace Plot {

void Decimate(const THistory& H, int64_t FromUs, int64_t ToUs, int Width, TDecimation& Out, int64_t JoinUs)
{
    std::vector<bool>& Read = Out.Read;
    Width = std::max(Width, 1);
    if (ToUs <= FromUs)
        ToUs = FromUs + 1;
    Out.FromUs = FromUs;
    Out.ToUs = ToUs;
    Out.Columns.assign(static_cast<std::size_t>(Width), TColumn{});
    Out.Any = false;
    Out.Visited = 0;

    const std::size_t Size = H.Size();
    std::size_t I = H.LowerBound(FromUs);
    // The curve may come in from the left edge: the reading before the view
    // tells whether the first column continues a line.
    bool Continuing = false;
    int64_t LastMotionUs = 0;
    // The bands carry the last reading across columns without any, so the
    // reading before the view may reach into it.
    TColumn Before;
    bool BeforeInReach = false;
    if (I > 0) {
        const Core::PollSample& P = H.At(I - 1);
        Continuing = P.Ok && P.HasMotion;
        LastMotionUs = P.SteadyUs;
        BeforeInReach = FromUs - P.SteadyUs <= JoinUs;
        Before.EndsFailed = !P.Ok;
        Before.State = P.Ok && P.HasState ? P.StateCode : -1;
        Before.HasMotion = P.Ok && P.HasMotion;
        Before.Limits = P.Limits;
    }
    Read.assign(static_cast<std::size_t>(Width), false);
    const __int128 Span = static_cast<__int128>(ToUs) - FromUs;
    for (; I < Size; ++I) {
        const Core::PollSample& S = H.At(I);
        if (S.SteadyUs >= ToUs)
            break;
        ++Out.Visited;
        // Integer arithmetic: a reading on a column's edge lands in that
        // column, not in the one before by a rounding.
        const int X = static_cast<int>((static_cast<__int128>(S.SteadyUs) - FromUs) * Width / Span);
        TColumn& C = Out.Columns[static_cast<std::size_t>(X)];
        Read[static_cast<std::size_t>(X)] = true;
        C.EndsFailed = !S.Ok;
        if (!S.Ok) {
            C.Failed = true;
            Continuing = false;
            continue;
        }
        if (S.HasState)
            C.State = S.StateCode;
        if (!S.HasMotion) {
            Continuing = false;
            continue;
        }
        const bool Joins = Continuing && S.SteadyUs - LastMotionUs <= JoinUs;
        if (!C.HasMotion) {
            C.HasMotion = true;
            C.JoinsPrevious = Joins;
            C.CoordMin = C.CoordMax = C.CoordFirst = S.Coordinate;
            C.SpeedMin = C.SpeedMax = C.SpeedFirst = S.Speed;
        }
        // A break inside a column needs nothing more: the column's stroke
        // from least to greatest spans both parts.
        C.CoordMin = std::min(C.CoordMin, S.Coordinate);
        C.CoordMax = std::max(C.CoordMax, S.Coordinate);
        C.SpeedMin = std::min(C.SpeedMin, S.Speed);
        C.SpeedMax = std::max(C.SpeedMax, S.Speed);
        C.CoordLast = S.Coordinate;
        C.SpeedLast = S.Speed;
        C.Limits |= S.Limits;
        Continuing = true;
        LastMotionUs = S.SteadyUs;
        if (!Out.Any) {
            Out.Any = true;
            Out.CoordMin = Out.CoordMax = S.Coordinate;
            Out.SpeedMin = Out.SpeedMax = S.Speed;
        } else {
            Out.CoordMin = std::min(Out.CoordMin, S.Coordinate);
            Out.CoordMax = std::max(Out.CoordMax, S.Coordinate);
            Out.SpeedMin = std::min(Out.SpeedMin, S.Speed);
            Out.SpeedMax = std::max(Out.SpeedMax, S.Speed);
        }
    }

    // The bands: a column's own readings, else the last before it in reach.
    const int64_t Reach = std::max<int64_t>(
        1, static_cast<int64_t>(static_cast<__int128>(JoinUs) * Width / Span));
    const TColumn* Source = BeforeInReach ? &Before : nullptr;
    int64_t SourceX = -1;
    for (int X = 0; X < Width; ++X) {
        TColumn& C = Out.Columns[static_cast<std::size_t>(X)];
        if (Read[static_cast<std::size_t>(X)]) {
            Source = &C;
            SourceX = X;
        } else if (X - SourceX > Reach) {
            Source = nullptr;
        }
        if (!Source)
            continue;
        C.BandFailed = Source == &C ? C.Failed : Source->EndsFailed;
        if (!Source->EndsFailed || Source == &C) {
            C.BandState = Source->State;
            C.BandLimits = Source->HasMotion ? Source->Limits : -1;
        }
    }
}

} // namespace Plot
