#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/ParameterWords.h"

using namespace ParameterWords;

TEST(Trunc, DropsTheFractionTowardZero)
{
    EXPECT_EQ(Trunc(1999.9), 1999);
    EXPECT_EQ(Trunc(-0.5), 0);
    EXPECT_EQ(Trunc(-1.7), -1);
    EXPECT_EQ(Trunc(0.9), 0);
    EXPECT_EQ(Trunc(99.99), 99);
    EXPECT_EQ(Trunc(-0.01), 0);
    EXPECT_EQ(Trunc(-2000000000.0), -2000000000);
}

TEST(Trunc, IsDefinedBeyondThe32BitRange)
{
    const int32_t Max = std::numeric_limits<int32_t>::max();
    const int32_t Min = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(Trunc(2147483647.9), Max);
    EXPECT_EQ(Trunc(2147483648.0), Max);
    EXPECT_EQ(Trunc(1e300), Max);
    EXPECT_EQ(Trunc(INFINITY), Max);
    EXPECT_EQ(Trunc(-2147483648.9), Min);
    EXPECT_EQ(Trunc(-1e300), Min);
    EXPECT_EQ(Trunc(-INFINITY), Min);
    EXPECT_EQ(Trunc(NAN), 0);
    EXPECT_EQ(Trunc(-2147483647.5), -2147483647);
}

TEST(Magnitude, CoversTheWholeRange)
{
    EXPECT_EQ(Magnitude(-150), 150);
    EXPECT_EQ(Magnitude(150), 150);
    EXPECT_EQ(Magnitude(0), 0);
    EXPECT_EQ(Magnitude(std::numeric_limits<int32_t>::min()), std::numeric_limits<int32_t>::max());
}

TEST(StepMode, PowerOfTwoOfTheIndex)
{
    EXPECT_EQ(StepModeValue(0), 1);
    EXPECT_EQ(StepModeValue(1), 2);
    EXPECT_EQ(StepModeValue(-1), 0);
}

TEST(LimitWord, BitsAndTheirBoxesRoundTrip)
{
    EXPECT_EQ(LimitWord(false, true, false), 0);
    EXPECT_EQ(LimitWord(true, true, false), 1);
    EXPECT_EQ(LimitWord(true, false, false), 3);
    EXPECT_EQ(LimitWord(true, true, true), 5);
    EXPECT_EQ(LimitWord(false, false, true), 6);
    for (int32_t W = 0; W < 8; ++W) {
        LimitBoxes B = LimitWordBoxes(W);
        EXPECT_EQ(LimitWord(B.Enabled, B.NormallyOpen, B.AbruptStop), W);
    }
    LimitBoxes Zero = LimitWordBoxes(0);
    EXPECT_FALSE(Zero.Enabled);
    EXPECT_TRUE(Zero.NormallyOpen);
    EXPECT_FALSE(Zero.AbruptStop);
}

TEST(ControlWord, ModeAndFlags)
{
    EXPECT_EQ(ControlWord(3, true, false, 0), 0x13);
    EXPECT_EQ(ControlWord(0, false, true, 0), 32);
    EXPECT_EQ(ControlWord(7, true, true, 0), 0x37);
    ControlBoxes B = ControlWordBoxes(32);
    EXPECT_EQ(B.Index, 0);
    EXPECT_FALSE(B.ActiveHigh);
    EXPECT_TRUE(B.Debounce);
}

TEST(ControlWord, NoSelectionKeepsTheStoredModeBits)
{
    // A stored word with mode 9 leaves the list without a selection; the
    // word composed from it keeps mode 9 and never sets bits 6 and up.
    EXPECT_EQ(ControlWordBoxes(0x29).Index, 9);
    EXPECT_EQ(ControlWord(-1, false, true, 0x29), 0x29);
    EXPECT_EQ(ControlWord(-1, true, false, 0x29), 0x19);
    EXPECT_EQ(ControlWord(-1, false, false, -1) & ~0x3F, 0);
}
