#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "controls/FloatFormat.h"
#include "platform/Exception.h"

namespace {

std::string Fixed(double V, int Precision, int Digits, const std::string& Sep = ".")
{
    return FloatToText(V, ffFixed, Precision, Digits, Sep);
}

// Parses with '.', returning the value; fails the test on a conversion error.
double Parsed(const std::string& Text, const std::string& Sep = ".")
{
    double R = -12345;
    EXPECT_TRUE(TextToFloat(Text, Sep, R)) << "'" << Text << "'";
    return R;
}

bool Rejected(const std::string& Text, const std::string& Sep = ".")
{
    double R = 42;
    bool Ok = TextToFloat(Text, Sep, R);
    EXPECT_EQ(R, 42) << "the result is written only on success: '" << Text << "'";
    return !Ok;
}

} // namespace

// ---- ffFixed -------------------------------------------------------------

TEST(FixedFormat, RoundsHalfAwayFromZeroOnDecimalDigits)
{
    EXPECT_EQ(Fixed(12.25, 3, 1), "12.3");
    EXPECT_EQ(Fixed(0.5, 5, 0), "1");
    EXPECT_EQ(Fixed(2.5, 5, 0), "3");
    EXPECT_EQ(Fixed(-2.5, 5, 0), "-3");
    EXPECT_EQ(Fixed(1000.7, 5, 0), "1001");
    EXPECT_EQ(Fixed(0.125, 5, 2), "0.13");  // an exact binary half
    EXPECT_EQ(Fixed(0.375, 5, 2), "0.38");
    EXPECT_EQ(Fixed(9.995, 5, 2), "9.99");  // 9.9949999999999992184... below the half
    EXPECT_EQ(Fixed(0.49, 5, 0), "0");
    // The 18-digit expansion 3.15670028380758350 is a half at the 16th digit,
    // though the exact binary value lies just below it.
    EXPECT_EQ(Fixed(3.1567002838075835, 16, 15), "3.156700283807584");
}

TEST(FixedFormat, PadsDecimalsAndCarries)
{
    EXPECT_EQ(Fixed(0, 5, 5), "0.00000");
    EXPECT_EQ(Fixed(1.5, 5, 3), "1.500");
    EXPECT_EQ(Fixed(9.9999, 5, 2), "10.00");
    EXPECT_EQ(Fixed(0.096, 5, 1), "0.1");
    EXPECT_EQ(Fixed(0.001234, 5, 5), "0.00123");
    EXPECT_EQ(Fixed(-0.5, 5, 1), "-0.5");
    EXPECT_EQ(Fixed(2000, 5, 0), "2000");
}

TEST(FixedFormat, ValueRoundingToZeroHasNoSign)
{
    EXPECT_EQ(Fixed(-0.01, 5, 0), "0");
    EXPECT_EQ(Fixed(-0.1, 5, 1), "-0.1");
    EXPECT_EQ(Fixed(-0.04, 5, 1), "0.0");
    EXPECT_EQ(Fixed(-0.0, 5, 2), "0.00");
    EXPECT_EQ(Fixed(1e-300, 5, 5), "0.00000");
    EXPECT_EQ(Fixed(-5e-324, 5, 18), "0.000000000000000000");
    EXPECT_EQ(Fixed(0.05, 5, 0), "0");
}

TEST(FixedFormat, PrecisionLimitsSignificantDigits)
{
    EXPECT_EQ(Fixed(3.14159265, 3, 5), "3.14000");
    EXPECT_EQ(Fixed(123.456, 4, 3), "123.500");
    EXPECT_EQ(Fixed(0.000123456, 2, 8), "0.00012000");
    // Precision counts as at least 2 and at most 18; Digits as at most 18.
    EXPECT_EQ(Fixed(3.14159, 0, 4), "3.1000");
    EXPECT_EQ(Fixed(3.14159, 1, 4), "3.1000");
    EXPECT_EQ(Fixed(0.1, 40, 40), "0.100000000000000006");
    EXPECT_EQ(Fixed(1.5, 5, -3), "2");
    EXPECT_EQ(Fixed(123456789012345678.0, 18, 1), "123456789012345680.0");
}

TEST(FixedFormat, IntegerPartLongerThanPrecisionGoesScientific)
{
    EXPECT_EQ(Fixed(123456, 5, 0), "1.2346E5");
    EXPECT_EQ(Fixed(-123456, 5, 0), "-1.2346E5");
    EXPECT_EQ(Fixed(100000, 5, 2), "1E5");
    EXPECT_EQ(Fixed(120000, 5, 2), "1.2E5");
    EXPECT_EQ(Fixed(99999.7, 5, 0), "1E5");  // rounding adds the sixth digit
    EXPECT_EQ(Fixed(99999.4, 5, 0), "99999");
    EXPECT_EQ(Fixed(1e300, 5, 5), "1E300");
    EXPECT_EQ(Fixed(-DBL_MAX, 5, 0), "-1.7977E308");
    EXPECT_EQ(Fixed(2000, 2, 0), "2E3");
}

TEST(FixedFormat, UsesTheGivenSeparator)
{
    EXPECT_EQ(Fixed(1.5, 5, 2, ","), "1,50");
    EXPECT_EQ(Fixed(123456, 5, 0, ","), "1,2346E5");
    EXPECT_EQ(Fixed(0, 5, 1, "\xD9\xAB"), "0\xD9\xAB" "0");  // a two-byte separator
    EXPECT_EQ(Fixed(1.5, 5, 1, ""), "1.5");
}

TEST(FixedFormat, NonFiniteValuesHaveDefinedTexts)
{
    for (TFloatFormat F : {ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency}) {
        EXPECT_EQ(FloatToText(std::nan(""), F, 5, 5, "."), "NAN");
        EXPECT_EQ(FloatToText(HUGE_VAL, F, 5, 5, "."), "INF");
        EXPECT_EQ(FloatToText(-HUGE_VAL, F, 5, 5, "."), "-INF");
    }
    EXPECT_EQ(FloatToText(1.5, static_cast<TFloatFormat>(77), 5, 2, "."), "1.50") << "unknown formats act as ffFixed";
}

// ---- The other formats -----------------------------------------------------

TEST(OtherFormats, General)
{
    EXPECT_EQ(FloatToText(1234.5, ffGeneral, 15, 0, "."), "1234.5");
    EXPECT_EQ(FloatToText(2.0, ffGeneral, 15, 0, "."), "2");
    EXPECT_EQ(FloatToText(1e20, ffGeneral, 15, 0, "."), "1E20");
    EXPECT_EQ(FloatToText(-1.25e20, ffGeneral, 15, 3, ","), "-1,25E020");
    EXPECT_EQ(FloatToText(0.00001, ffGeneral, 15, 0, "."), "0.00001");
    EXPECT_EQ(FloatToText(0.000001, ffGeneral, 15, 0, "."), "1E-6");
    EXPECT_EQ(FloatToText(0.1, ffGeneral, 18, 0, "."), "0.100000000000000006");
    EXPECT_EQ(FloatToText(2.0 / 3, ffGeneral, 4, 0, "."), "0.6667");
    EXPECT_EQ(FloatToText(-0.0, ffGeneral, 15, 0, "."), "0");
}

TEST(OtherFormats, Exponent)
{
    EXPECT_EQ(FloatToText(1234.5, ffExponent, 5, 2, "."), "1.2345E+03");
    EXPECT_EQ(FloatToText(-0.00012, ffExponent, 3, 0, "."), "-1.20E-4");
    EXPECT_EQ(FloatToText(9.99, ffExponent, 2, 1, "."), "1.0E+1");
    EXPECT_EQ(FloatToText(0, ffExponent, 4, 2, ","), "0,000E+00");
    EXPECT_EQ(FloatToText(1e300, ffExponent, 2, 9, "."), "1.0E+0300") << "exponent digits count at most 4";
}

TEST(OtherFormats, NumberAndCurrencyGroupThousands)
{
    EXPECT_EQ(FloatToText(1234567.891, ffNumber, 18, 2, "."), "1,234,567.89");
    EXPECT_EQ(FloatToText(-1234567.891, ffNumber, 18, 0, ","), "-1.234.568");
    EXPECT_EQ(FloatToText(999.5, ffNumber, 18, 0, "."), "1,000");
    EXPECT_EQ(FloatToText(123, ffNumber, 18, 1, "."), "123.0");
    EXPECT_EQ(FloatToText(-1234.5, ffCurrency, 18, 2, "."), "(1,234.50)");
    EXPECT_EQ(FloatToText(1234.5, ffCurrency, 18, 2, "."), "1,234.50");
    EXPECT_EQ(FloatToText(-0.001, ffCurrency, 18, 2, "."), "0.00");
    EXPECT_EQ(FloatToText(1234567, ffNumber, 5, 0, "."), "1.2346E6");
}

// ---- Parsing -------------------------------------------------------------

TEST(Parse, AcceptsTheGrammar)
{
    EXPECT_EQ(Parsed("5"), 5);
    EXPECT_EQ(Parsed("   -12.5  "), -12.5);
    EXPECT_EQ(Parsed("+.5"), 0.5);
    EXPECT_EQ(Parsed("5."), 5);
    EXPECT_EQ(Parsed("007"), 7);
    EXPECT_EQ(Parsed("1e3"), 1000);
    EXPECT_EQ(Parsed("1E+3"), 1000);
    EXPECT_EQ(Parsed("2.5e-3"), 0.0025);
    EXPECT_EQ(Parsed("1.2346E5"), 123460);
    EXPECT_EQ(Parsed("-7.E2"), -700);
    // Only the integer part and the separator together may not be missing:
    // a bare separator is zero.
    EXPECT_EQ(Parsed("."), 0);
    EXPECT_EQ(Parsed(" .e7 "), 0);
    double NegZero = Parsed("-.");
    EXPECT_EQ(NegZero, 0);
    EXPECT_TRUE(std::signbit(NegZero));
}

TEST(Parse, RejectsEverythingElse)
{
    for (const char* T : {"", "   ", "+", "-", "e5", "+e5", "1e", "1e+", "1 5", "1,5", "- 1", "0x10", "1.5.2", "inf",
                          "nan", "\t1", "1\t", "1\n", "1d", "++1", "1e5.5", "1e 5", "1.5f", "\xEF\xBC\x91" /* fullwidth 1 */})
        EXPECT_TRUE(Rejected(T)) << "'" << T << "'";
    EXPECT_TRUE(Rejected(std::string("1\0", 2)));
}

TEST(Parse, UsesOnlyTheGivenSeparator)
{
    EXPECT_EQ(Parsed("1,5", ","), 1.5);
    EXPECT_EQ(Parsed(",25e1", ","), 2.5);
    EXPECT_TRUE(Rejected("1.5", ","));
    EXPECT_EQ(Parsed("1\xD9\xAB" "5", "\xD9\xAB"), 1.5);
    EXPECT_TRUE(Rejected("1\xD9" "5", "\xD9\xAB")) << "half a separator is not one";
    EXPECT_EQ(Parsed("1.5", ""), 1.5) << "an empty separator stands for '.'";
}

TEST(Parse, ConvertsInExtendedPrecision)
{
    // 1 + 2^-53 + 2^-70: just above the half-way point between 1 and the next
    // double. A direct conversion gives 1 + 2^-52; through the 80-bit format
    // the number first rounds onto the half-way point, which then goes to
    // the even neighbour, 1.
    EXPECT_EQ(Parsed("1.0000000000000001110231494954629083427022351315827108919620513916015625"), 1.0);
    EXPECT_EQ(Parsed("0.1"), 0.1);
    EXPECT_EQ(Parsed("1.7976931348623157e308"), DBL_MAX);
    EXPECT_EQ(Parsed("1.7976931348623158e308"), DBL_MAX) << "rounds down onto the largest double";
}

TEST(Parse, BeyondDoubleRangeIsAnOverflowError)
{
    for (const char* T : {"1e400", "-1e400", "1.797693134862315808e308", "1e4932"}) {
        double R = 42;
        try {
            TextToFloat(T, ".", R);
            ADD_FAILURE() << T << " gave no overflow";
        } catch (const Exception& E) {
            EXPECT_EQ(E.Message(), "Floating point overflow");
        }
        EXPECT_EQ(R, 42);
    }
}

TEST(Parse, BeyondExtendedRangeIsAConversionError)
{
    EXPECT_TRUE(Rejected("1e5000"));
    EXPECT_TRUE(Rejected("-1e5000"));
    EXPECT_TRUE(Rejected("1e99999999999999999999"));
}

TEST(Parse, BelowDoubleRangeRoundsToNearestDouble)
{
    EXPECT_EQ(Parsed("4.9406564584124654e-324"), std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(Parsed("1e-400"), 0);
    EXPECT_EQ(Parsed("1e-5000"), 0);
    EXPECT_TRUE(std::signbit(Parsed("-1e-5000")));
    EXPECT_EQ(Parsed("0e99999999999999999999"), 0);
}

TEST(Parse, LongTextsConvert)
{
    EXPECT_EQ(Parsed("0." + std::string(5000, '0') + "1e5001"), 1);
    EXPECT_EQ(Parsed(std::string(3000, ' ') + std::string(300, '9') + std::string(3000, ' ')), 1e300);
}

TEST(Parse, ReadsBackWhatIsFormatted)
{
    // With up to 15 significant digits, formatting the value read back gives
    // the same text again, in both notations.
    for (double V : {0.0, 1.0, -0.1, 3.14159265358979, 123456.0, -9.87654321e-3, 1e15, 2.5e300, 7e-7, -1.2345e-300})
        for (int P : {2, 5, 9, 15})
            for (int D : {0, 1, 5, 18}) {
                std::string Text = Fixed(V, P, D, ",");
                double Back = 0;
                ASSERT_TRUE(TextToFloat(Text, ",", Back)) << Text;
                EXPECT_EQ(Fixed(Back, P, D, ","), Text) << V << " P" << P << " D" << D;
            }
}
