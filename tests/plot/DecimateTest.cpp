// The reduction to pixel columns: least and greatest per column, spikes,
// gaps, and work bounded by what is in view.
#include <gtest/gtest.h>

#include "plot/Decimate.h"

using Plot::Decimate;
using Plot::TDecimation;
using Plot::THistory;

namespace {

constexpr int64_t Tick = 100000; // 100 ms

Core::PollSample Motion(int64_t Us, int32_t Coord, int32_t Speed, int32_t Limits = 0, int32_t State = 3)
{
    Core::PollSample S;
    S.SteadyUs = Us;
    S.Ok = S.HasMotion = S.HasState = true;
    S.Coordinate = Coord;
    S.Speed = Speed;
    S.Limits = Limits;
    S.StateCode = State;
    return S;
}

Core::PollSample StateOnly(int64_t Us, int32_t State)
{
    Core::PollSample S;
    S.SteadyUs = Us;
    S.Ok = S.HasState = true;
    S.StateCode = State;
    return S;
}

Core::PollSample Failed(int64_t Us)
{
    Core::PollSample S;
    S.SteadyUs = Us;
    S.Error = "Timeout";
    return S;
}

} // namespace

TEST(Decimate, KeepsLeastAndGreatestOfEachColumn)
{
    THistory H;
    // 10 readings per column: a sawtooth within each.
    for (int I = 0; I < 40; ++I)
        H.Add(Motion(I * Tick, (I % 10) * 7 - 20, 1000 - I * 3));
    TDecimation D;
    Decimate(H, 0, 40 * Tick, 4, D);
    ASSERT_EQ(D.Columns.size(), 4u);
    for (int C = 0; C < 4; ++C) {
        SCOPED_TRACE(C);
        const Plot::TColumn& Col = D.Columns[C];
        EXPECT_TRUE(Col.HasMotion);
        EXPECT_EQ(Col.CoordMin, -20);
        EXPECT_EQ(Col.CoordMax, 43);
        EXPECT_EQ(Col.CoordFirst, -20);
        EXPECT_EQ(Col.CoordLast, 43);
        EXPECT_EQ(Col.SpeedMax, 1000 - C * 30);
        EXPECT_EQ(Col.SpeedMin, 1000 - C * 30 - 27);
        EXPECT_EQ(Col.JoinsPrevious, C > 0);
    }
    EXPECT_TRUE(D.Any);
    EXPECT_EQ(D.CoordMin, -20);
    EXPECT_EQ(D.CoordMax, 43);
    EXPECT_EQ(D.SpeedMin, 1000 - 39 * 3);
    EXPECT_EQ(D.SpeedMax, 1000);
    EXPECT_EQ(D.Visited, 40u);
}

TEST(Decimate, AOneTickSpikeSurvivesAnyZoom)
{
    THistory H;
    for (int I = 0; I < 6000; ++I)
        H.Add(Motion(I * Tick, 100, I == 3217 ? 29000 : 500, I == 4000 ? 2 : 0));
    for (int Width : {1, 7, 300, 1280, 6000, 9000}) {
        SCOPED_TRACE(Width);
        TDecimation D;
        Decimate(H, 0, 6000 * Tick, Width, D);
        int SpikeColumns = 0, LimitColumns = 0;
        for (const Plot::TColumn& C : D.Columns) {
            SpikeColumns += C.SpeedMax == 29000;
            LimitColumns += (C.Limits & 2) != 0;
        }
        EXPECT_EQ(SpikeColumns, 1);
        EXPECT_EQ(LimitColumns, 1);
        EXPECT_EQ(D.SpeedMax, 29000);
    }
}

TEST(Decimate, GapsBreakTheCurve)
{
    THistory H;
    H.Add(Motion(0 * Tick, 1, 1));
    H.Add(Motion(1 * Tick, 2, 1));
    H.Add(Failed(2 * Tick));
    H.Add(Motion(3 * Tick, 3, 1));
    H.Add(StateOnly(4 * Tick, 4)); // another page shown: no motion read
    H.Add(Motion(5 * Tick, 5, 1));
    H.Add(Motion(6 * Tick, 6, 1));
    H.Add(Motion(60 * Tick, 7, 1)); // the poll stood still for 5.4 s
    TDecimation D;
    Decimate(H, 0, 61 * Tick, 61, D);
    const auto& C = D.Columns;
    EXPECT_TRUE(C[1].JoinsPrevious);
    EXPECT_TRUE(C[2].Failed);
    EXPECT_FALSE(C[2].HasMotion);
    EXPECT_FALSE(C[3].JoinsPrevious);
    EXPECT_FALSE(C[4].HasMotion);
    EXPECT_EQ(C[4].State, 4);
    EXPECT_FALSE(C[5].JoinsPrevious);
    EXPECT_TRUE(C[6].JoinsPrevious);
    EXPECT_FALSE(C[60].JoinsPrevious);
    EXPECT_FALSE(C[30].HasMotion);
    EXPECT_EQ(C[30].State, -1);
}

TEST(Decimate, ACurveComingInFromTheLeftEdgeJoins)
{
    THistory H;
    for (int I = 0; I < 20; ++I)
        H.Add(Motion(I * Tick, I, 0));
    TDecimation D;
    Decimate(H, 10 * Tick, 20 * Tick, 10, D);
    EXPECT_TRUE(D.Columns[0].JoinsPrevious);
    EXPECT_EQ(D.Columns[0].CoordFirst, 10);
    H.Add(Failed(20 * Tick));
    H.Add(Motion(21 * Tick, 21, 0));
    Decimate(H, 21 * Tick, 22 * Tick, 10, D);
    EXPECT_FALSE(D.Columns[0].JoinsPrevious);
}

TEST(Decimate, LooksOnlyAtTheReadingsInView)
{
    THistory H;
    for (int I = 0; I < 6000; ++I)
        H.Add(Motion(I * Tick, I, I));
    TDecimation D;
    Decimate(H, 5000 * Tick, 5100 * Tick, 1280, D);
    EXPECT_EQ(D.Visited, 100u);
    EXPECT_EQ(D.CoordMin, 5000);
    EXPECT_EQ(D.CoordMax, 5099);
    // Nothing in view.
    Decimate(H, 7000 * Tick, 8000 * Tick, 100, D);
    EXPECT_EQ(D.Visited, 0u);
    EXPECT_FALSE(D.Any);
}

TEST(Decimate, ColumnsSplitTheTimeEvenlyAndTheRightEdgeIsOpen)
{
    THistory H;
    H.Add(Motion(0, 1, 0));
    H.Add(Motion(999, 2, 0));
    H.Add(Motion(1000, 3, 0));
    H.Add(Motion(3999, 4, 0));
    H.Add(Motion(4000, 5, 0)); // at ToUs: out of view
    TDecimation D;
    Decimate(H, 0, 4000, 4, D);
    EXPECT_EQ(D.Columns[0].CoordMin, 1);
    EXPECT_EQ(D.Columns[0].CoordMax, 2);
    EXPECT_EQ(D.Columns[1].CoordMax, 3);
    EXPECT_FALSE(D.Columns[2].HasMotion);
    EXPECT_EQ(D.Columns[3].CoordMax, 4);
    EXPECT_EQ(D.Visited, 4u);
}

TEST(Decimate, StateIsTheLastReadAndInputsAreAnyActive)
{
    THistory H;
    H.Add(Motion(0, 0, 0, 1, 3));
    H.Add(Motion(10, 0, 0, 4, 2));
    H.Add(Motion(20, 0, 0, 0, 0));
    TDecimation D;
    Decimate(H, 0, 100, 1, D);
    EXPECT_EQ(D.Columns[0].Limits, 5);
    EXPECT_EQ(D.Columns[0].State, 0);
}

TEST(Decimate, DegenerateViewsAreSafe)
{
    THistory H;
    H.Add(Motion(0, 1, 1));
    TDecimation D;
    Decimate(H, 0, 0, 0, D); // no width, no time
    ASSERT_EQ(D.Columns.size(), 1u);
    EXPECT_TRUE(D.Columns[0].HasMotion);
    THistory Empty;
    Decimate(Empty, 0, 100, 50, D);
    EXPECT_EQ(D.Columns.size(), 50u);
    EXPECT_FALSE(D.Any);
}

TEST(Decimate, BandsCarryTheLastReadingAcrossEmptyColumnsWithinReach)
{
    // Two seconds on 100 columns: a 100 ms reading lands in every fifth
    // column. With a join limit of 300 ms a reading reaches 15 columns on.
    THistory H;
    for (int I = 0; I < 10; ++I)
        H.Add(Motion(I * Tick, 0, 0, 2, 3)); // columns 0..45
    for (int I = 10; I < 13; ++I)
        H.Add(Motion(I * Tick, 0, 0, 0, 2)); // columns 50..60
    H.Add(StateOnly(13 * Tick, 0));          // column 65
    H.Add(Failed(14 * Tick));                // column 70, then nothing
    TDecimation D;
    Decimate(H, 0, 20 * Tick, 100, D, 3 * Tick);
    for (int X = 0; X < 100; ++X) {
        SCOPED_TRACE(X);
        const Plot::TColumn& C = D.Columns[X];
        EXPECT_EQ(C.BandState, X < 50 ? 3 : X < 65 ? 2 : X < 70 ? 0 : -1);
        EXPECT_EQ(C.BandLimits, X < 50 ? 2 : X < 65 ? 0 : -1);
        EXPECT_EQ(C.BandFailed, X >= 70 && X <= 85);
    }
    // The reading before the view reaches into it.
    Decimate(H, 2 * Tick + 1, 22 * Tick + 1, 100, D, 3 * Tick);
    EXPECT_EQ(D.Columns[0].BandState, 3);
    EXPECT_EQ(D.Columns[0].BandLimits, 2);
}
