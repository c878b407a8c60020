// Fuzz target of the number parser and formatter.
//
// The first input byte picks the decimal separator, the format, Precision
// and Digits; the rest is the text. Properties checked:
//  - TextToFloat never crashes; it either rejects the text, or gives a
//    finite double, or throws Exception("Floating point overflow");
//  - every accepted value formats in every format without crashing, and its
//    ffFixed text reads back (a value rounded up beyond the largest double
//    may overflow then, nothing else may fail);
//  - with at most 15 significant digits, formatting the value read back
//    gives the same ffFixed text again.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "controls/FloatFormat.h"
#include "platform/Exception.h"

namespace {

[[noreturn]] void Fail(const char* What, const std::string& Text)
{
    std::fprintf(stderr, "%s: '%s'\n", What, Text.c_str());
    std::abort();
}

bool Parse(const std::string& Text, const std::string& Sep, double& R, bool& Overflow)
{
    Overflow = false;
    try {
        return TextToFloat(Text, Sep, R);
    } catch (const Exception& E) {
        if (E.Message() != "Floating point overflow")
            Fail("unexpected exception", Text);
        Overflow = true;
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size == 0)
        return 0;
    static const char* const Separators[] = {".", ",", "\xD9\xAB", ""};
    const uint8_t Pick = Data[0];
    const std::string Sep = Separators[Pick & 3];
    const int Precision = (Pick >> 2) & 15 ? ((Pick >> 2) & 15) + 1 : 20;  // 2..16, or 20 (clamped to 18)
    const int Digits = (Pick >> 6) * 6;                                     // 0, 6, 12, 18
    const std::string Text(reinterpret_cast<const char*>(Data + 1), Size - 1);

    double Value = 0;
    bool Overflow = false;
    if (!Parse(Text, Sep, Value, Overflow))
        return 0;
    if (!std::isfinite(Value))
        Fail("accepted a non-finite value", Text);

    for (TFloatFormat F : {ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency}) {
        std::string S = FloatToText(Value, F, Precision, Digits, Sep);
        if (S.empty())
            Fail("empty text", Text);
    }

    const std::string Shown = FloatToText(Value, ffFixed, Precision, Digits, Sep);
    double Back = 0;
    if (!Parse(Shown, Sep, Back, Overflow)) {
        if (Overflow && std::fabs(Value) > 1.7e308)
            return 0;
        Fail("formatted text does not read back", Shown);
    }
    if (!std::isfinite(Back))
        Fail("read back a non-finite value", Shown);
    if (Precision <= 15 && FloatToText(Back, ffFixed, Precision, Digits, Sep) != Shown)
        Fail("formatting is not stable", Shown);
    return 0;
}
