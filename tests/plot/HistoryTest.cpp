// The history ring: capacity, wrap, span, gaps and time order.
#include <gtest/gtest.h>

#include "plot/History.h"

using Plot::THistory;

namespace {

Core::PollSample Motion(int64_t Us, int32_t Coord, int32_t Speed = 0)
{
    Core::PollSample S;
    S.SteadyUs = Us;
    S.UtcUs = 1796860800LL * 1000000 + Us;
    S.Ok = S.HasMotion = S.HasState = true;
    S.Coordinate = Coord;
    S.Speed = Speed;
    S.StateCode = 3;
    return S;
}

Core::PollSample Failed(int64_t Us, const std::string& Error)
{
    Core::PollSample S;
    S.SteadyUs = Us;
    S.Error = Error;
    return S;
}

} // namespace

TEST(History, KeepsTheNewestReadingsOldestFirstWhenItWraps)
{
    THistory H(5, 3600 * 1000000LL);
    for (int I = 0; I < 13; ++I)
        ASSERT_TRUE(H.Add(Motion(I * 100000, I)));
    ASSERT_EQ(H.Size(), 5u);
    EXPECT_EQ(H.Capacity(), 5u);
    for (std::size_t I = 0; I < H.Size(); ++I)
        EXPECT_EQ(H.At(I).Coordinate, static_cast<int32_t>(8 + I));
    EXPECT_EQ(H.Oldest().SteadyUs, 800000);
    EXPECT_EQ(H.Newest().SteadyUs, 1200000);
}

TEST(History, DropsWhatFallsOutOfTheSpan)
{
    THistory H(100, 1000000); // one second
    for (int I = 0; I <= 20; ++I)
        H.Add(Motion(I * 100000, I));
    // 2.0 s is the newest: 1.0 s and after stay.
    EXPECT_EQ(H.Size(), 11u);
    EXPECT_EQ(H.Oldest().SteadyUs, 1000000);
    // A long pause leaves only the new reading.
    H.Add(Motion(60 * 1000000, 99));
    EXPECT_EQ(H.Size(), 1u);
    EXPECT_EQ(H.Newest().Coordinate, 99);
}

TEST(History, MemoryDoesNotGrowOverALongRun)
{
    THistory H;
    // A day's run at 10 readings a second, with the link down now and then.
    for (int64_t I = 0; I < 864000; ++I)
        H.Add(I % 1000 < 30 ? Failed(I * 100000, std::string(500, 'x')) : Motion(I * 100000, int32_t(I)));
    const std::size_t Bytes = H.MemoryBytes();
    EXPECT_EQ(H.Size(), 6001u); // ten minutes at 100 ms, both ends included
    EXPECT_LE(Bytes, H.Capacity() * (sizeof(Core::PollSample) + THistory::MaxErrorLength + 1) + sizeof(H));
    for (int64_t I = 864000; I < 900000; ++I)
        H.Add(I % 1000 < 30 ? Failed(I * 100000, std::string(500, 'x')) : Motion(I * 100000, int32_t(I)));
    EXPECT_LE(H.MemoryBytes(), Bytes);
}

TEST(History, KeepsGapsWithTheirTextCut)
{
    THistory H(10, 3600 * 1000000LL);
    H.Add(Motion(0, 1));
    H.Add(Failed(100000, "Timeout"));
    H.Add(Failed(200000, std::string(1000, 'e')));
    H.Add(Motion(300000, 4));
    ASSERT_EQ(H.Size(), 4u);
    EXPECT_FALSE(H.At(1).Ok);
    EXPECT_EQ(H.At(1).Error, "Timeout");
    EXPECT_EQ(H.At(2).Error.size(), THistory::MaxErrorLength);
    EXPECT_TRUE(H.At(3).Ok);
    EXPECT_TRUE(H.At(3).Error.empty());
}

TEST(History, ReusedSlotsForgetTheirEarlierError)
{
    THistory H(2, 3600 * 1000000LL);
    H.Add(Failed(0, "Timeout"));
    H.Add(Failed(1, "CRC"));
    H.Add(Motion(2, 7)); // takes the slot of "Timeout"
    H.Add(Failed(3, ""));
    EXPECT_TRUE(H.At(0).Error.empty());
    EXPECT_FALSE(H.At(1).Ok);
    EXPECT_TRUE(H.At(1).Error.empty());
}

TEST(History, RefusesAReadingOlderThanTheNewestAndKeepsTimeOrder)
{
    THistory H(10, 3600 * 1000000LL);
    H.Add(Motion(500, 1));
    EXPECT_FALSE(H.Add(Motion(400, 2)));
    EXPECT_TRUE(H.Add(Motion(500, 3))); // the same time is not out of order
    EXPECT_EQ(H.Size(), 2u);
    EXPECT_EQ(H.Refused(), 1u);
    EXPECT_EQ(H.Newest().Coordinate, 3);
}

TEST(History, FindsTheFirstReadingAtOrAfterATimeAcrossTheWrap)
{
    THistory H(8, 3600 * 1000000LL);
    for (int I = 0; I < 11; ++I) // wraps: 3..10 kept
        H.Add(Motion(I * 10, I));
    EXPECT_EQ(H.LowerBound(0), 0u);
    EXPECT_EQ(H.LowerBound(30), 0u);
    EXPECT_EQ(H.LowerBound(31), 1u);
    EXPECT_EQ(H.LowerBound(70), 4u);
    EXPECT_EQ(H.LowerBound(100), 7u);
    EXPECT_EQ(H.LowerBound(101), 8u);
}

TEST(History, ClearEmptiesAndStartsAgain)
{
    THistory H(4, 3600 * 1000000LL);
    for (int I = 0; I < 6; ++I)
        H.Add(Motion(I * 10, I));
    H.Clear();
    EXPECT_TRUE(H.Empty());
    EXPECT_EQ(H.LowerBound(0), 0u);
    // After a clear an earlier time is accepted again: nothing is newer.
    EXPECT_TRUE(H.Add(Motion(5, 42)));
    EXPECT_EQ(H.Size(), 1u);
    EXPECT_EQ(H.Oldest().Coordinate, 42);
}
