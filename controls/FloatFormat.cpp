#include "controls/FloatFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <locale.h>

#include "platform/Exception.h"

namespace {

constexpr int KSignificant = 18;

// A finite value as decimal digits: 0.d1d2d3... times 10^(Exponent + 1),
// that is Digits[0] stands at the place 10^Exponent. Count is the number of
// significant digits held, trailing zeros dropped; 0 means the value is zero.
struct TDecimal {
    bool Negative = false;
    int Count = 0;
    int Exponent = 0;
    char Digits[KSignificant + 2] = {};
};

// The value's 18 significant digits, correctly rounded from its exact binary
// value. std::to_chars never looks at the C library's locale.
TDecimal Expand(double Value)
{
    TDecimal D;
    char Buf[48];
    auto R = std::to_chars(Buf, Buf + sizeof Buf, Value, std::chars_format::scientific, KSignificant - 1);
    // Buf holds [-]d.ddddddddddddddddde(+|-)x[x[x]].
    const char* P = Buf;
    const char* End = R.ptr;
    if (P < End && *P == '-') {
        D.Negative = true;
        ++P;
    }
    int N = 0;
    while (P < End && *P != 'e') {
        if (*P >= '0' && *P <= '9' && N < KSignificant)
            D.Digits[N++] = *P;
        ++P;
    }
    int Exp = 0;
    bool ExpNegative = false;
    if (P < End && *P == 'e') {
        ++P;
        if (P < End && (*P == '+' || *P == '-'))
            ExpNegative = *P++ == '-';
        while (P < End && *P >= '0' && *P <= '9')
            Exp = Exp * 10 + (*P++ - '0');
    }
    D.Exponent = ExpNegative ? -Exp : Exp;
    while (N > 0 && D.Digits[N - 1] == '0')
        --N;
    D.Count = N;
    if (N == 0)
        D.Exponent = 0;
    return D;
}

// Rounds half away from zero, on the decimal digits, so that at most Keep
// significant digits remain (Keep may be zero or negative: the value then
// rounds at a place above its first digit).
void RoundTo(TDecimal& D, int Keep)
{
    if (D.Count <= Keep)
        return;
    if (Keep < 0) {
        // The first dropped place lies above the first digit: it holds a 0.
        D.Count = 0;
        D.Exponent = 0;
        return;
    }
    bool Up = D.Digits[Keep] >= '5';
    D.Count = Keep;
    if (Up) {
        int I = Keep - 1;
        while (I >= 0 && D.Digits[I] == '9')
            --I;
        if (I < 0) {
            D.Digits[0] = '1';
            D.Count = 1;
            ++D.Exponent;
        } else {
            ++D.Digits[I];
            D.Count = I + 1;
        }
    }
    while (D.Count > 0 && D.Digits[D.Count - 1] == '0')
        --D.Count;
    if (D.Count == 0)
        D.Exponent = 0;
}

// The digit at the place 10^Place, 0 outside the held digits.
char DigitAt(const TDecimal& D, int Place)
{
    int I = D.Exponent - Place;
    return I >= 0 && I < D.Count ? D.Digits[I] : '0';
}

void AppendExponent(std::string& S, int Exp, bool PlusSign, int MinDigits)
{
    S += 'E';
    if (Exp < 0)
        S += '-';
    else if (PlusSign)
        S += '+';
    char Buf[12];
    auto R = std::to_chars(Buf, Buf + sizeof Buf, Exp < 0 ? -Exp : Exp);
    for (int Len = static_cast<int>(R.ptr - Buf); Len < MinDigits; ++Len)
        S += '0';
    S.append(Buf, R.ptr);
}

// d[sep ddd]E[-]x: the held digits without trailing zeros.
void AppendScientific(std::string& S, const TDecimal& D, const std::string& Sep, bool PlusSign, int MinExpDigits)
{
    S += D.Digits[0];
    if (D.Count > 1) {
        S += Sep;
        S.append(D.Digits + 1, D.Digits + D.Count);
    }
    AppendExponent(S, D.Exponent, PlusSign, MinExpDigits);
}

int Clamp(int V, int Lo, int Hi) { return V < Lo ? Lo : (V > Hi ? Hi : V); }

std::string NonFinite(double Value)
{
    if (std::isnan(Value))
        return "NAN";
    return Value < 0 ? "-INF" : "INF";
}

// ffFixed, ffNumber and ffCurrency: Thousands empty for none.
std::string FormatFixed(double Value, int Precision, int Digits, const std::string& Sep, const std::string& Thousands,
                        bool Parentheses)
{
    TDecimal D = Expand(Value);
    if (D.Count > 0)
        RoundTo(D, std::min(Precision, D.Exponent + Digits + 1));
    std::string S;
    S.reserve(48);
    if (D.Count == 0) {
        S += '0';
        if (Digits > 0) {
            S += Sep;
            S.append(static_cast<size_t>(Digits), '0');
        }
        return S;
    }
    bool Negative = D.Negative;
    if (Negative)
        S += Parentheses ? '(' : '-';
    if (D.Exponent + 1 > Precision) {
        AppendScientific(S, D, Sep, false, 0);
    } else {
        if (D.Exponent < 0) {
            S += '0';
        } else {
            for (int Place = D.Exponent; Place >= 0; --Place) {
                S += DigitAt(D, Place);
                if (!Thousands.empty() && Place > 0 && Place % 3 == 0)
                    S += Thousands;
            }
        }
        if (Digits > 0) {
            S += Sep;
            for (int Place = -1; Place >= -Digits; --Place)
                S += DigitAt(D, Place);
        }
    }
    if (Negative && Parentheses)
        S += ')';
    return S;
}

std::string FormatGeneral(double Value, int Precision, int ExpDigits, const std::string& Sep)
{
    TDecimal D = Expand(Value);
    RoundTo(D, Precision);
    if (D.Count == 0)
        return "0";
    std::string S;
    S.reserve(32);
    if (D.Negative)
        S += '-';
    if (D.Exponent + 1 > Precision || D.Exponent < -5) {
        AppendScientific(S, D, Sep, false, ExpDigits);
    } else if (D.Exponent < 0) {
        S += '0';
        S += Sep;
        S.append(static_cast<size_t>(-D.Exponent - 1), '0');
        S.append(D.Digits, D.Digits + D.Count);
    } else {
        for (int Place = D.Exponent; Place >= 0; --Place)
            S += DigitAt(D, Place);
        if (D.Count > D.Exponent + 1) {
            S += Sep;
            S.append(D.Digits + D.Exponent + 1, D.Digits + D.Count);
        }
    }
    return S;
}

std::string FormatExponent(double Value, int Precision, int ExpDigits, const std::string& Sep)
{
    TDecimal D = Expand(Value);
    RoundTo(D, Precision);
    std::string S;
    S.reserve(32);
    if (D.Negative && D.Count > 0)
        S += '-';
    S += D.Count > 0 ? D.Digits[0] : '0';
    S += Sep;
    for (int I = 1; I < Precision; ++I)
        S += I < D.Count ? D.Digits[I] : '0';
    AppendExponent(S, D.Exponent, true, ExpDigits);
    return S;
}

// The C locale, so that conversion never depends on the process's locale.
locale_t CLocale()
{
    static const locale_t L = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return L;
}

// The smallest magnitude that a double cannot hold: DBL_MAX plus half its
// last place. Rounding to nearest (ties to even) takes it and everything
// above it to infinity.
constexpr long double KDoubleOverflow = 0x1.fffffffffffff8p+1023L;

bool IsDigit(char C) { return C >= '0' && C <= '9'; }

} // namespace

std::string FloatToText(double Value, TFloatFormat Format, int Precision, int Digits, const std::string& DecimalSeparator)
{
    if (!std::isfinite(Value))
        return NonFinite(Value);
    const std::string Point(".");
    const std::string& Sep = DecimalSeparator.empty() ? Point : DecimalSeparator;
    int P = Clamp(Precision, 2, KSignificant);
    switch (Format) {
    case ffGeneral:
        return FormatGeneral(Value, P, Clamp(Digits, 0, 4), Sep);
    case ffExponent:
        return FormatExponent(Value, P, Clamp(Digits, 0, 4), Sep);
    case ffNumber:
    case ffCurrency:
        return FormatFixed(Value, P, Clamp(Digits, 0, KSignificant), Sep, Sep == "," ? "." : ",", Format == ffCurrency);
    case ffFixed:
    default:
        return FormatFixed(Value, P, Clamp(Digits, 0, KSignificant), Sep, std::string(), false);
    }
}

bool TextToFloat(const std::string& Text, const std::string& DecimalSeparator, double& Result)
{
    const std::string Point(".");
    const std::string& Sep = DecimalSeparator.empty() ? Point : DecimalSeparator;
    const size_t N = Text.size();
    size_t I = 0;

    // The number, rewritten in the C library's own syntax.
    std::string Norm;
    Norm.reserve(N + 2);

    while (I < N && Text[I] == ' ')
        ++I;
    if (I < N && (Text[I] == '+' || Text[I] == '-')) {
        if (Text[I] == '-')
            Norm += '-';
        ++I;
    }
    size_t Start = I;
    while (I < N && IsDigit(Text[I]))
        ++I;
    const bool HasInteger = I > Start;
    if (HasInteger)
        Norm.append(Text, Start, I - Start);
    else
        Norm += '0';
    bool HasSeparator = false;
    if (Text.compare(I, Sep.size(), Sep) == 0) {
        HasSeparator = true;
        I += Sep.size();
        Start = I;
        while (I < N && IsDigit(Text[I]))
            ++I;
        if (I > Start) {
            Norm += '.';
            Norm.append(Text, Start, I - Start);
        }
    }
    if (!HasInteger && !HasSeparator)
        return false;
    if (I < N && (Text[I] == 'E' || Text[I] == 'e')) {
        ++I;
        Norm += 'e';
        if (I < N && (Text[I] == '+' || Text[I] == '-'))
            Norm += Text[I++];
        Start = I;
        while (I < N && IsDigit(Text[I]))
            ++I;
        if (I == Start)
            return false;
        Norm.append(Text, Start, I - Start);
    }
    while (I < N && Text[I] == ' ')
        ++I;
    if (I != N)
        return false;

    locale_t C = CLocale();
    if (C == static_cast<locale_t>(nullptr))
        return false;
    char* End = nullptr;
    long double X = strtold_l(Norm.c_str(), &End, C);
    if (End != Norm.c_str() + Norm.size())
        return false;
    // Beyond the extended range: strtold gives an infinity. An underflow
    // (ERANGE with a tiny or zero result) is no error.
    if (std::isinf(X))
        return false;
    if (std::fabs(X) >= KDoubleOverflow)
        throw Exception("Floating point overflow");
    Result = static_cast<double>(X);
    return true;
}
