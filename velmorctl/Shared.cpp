// What velmorctl's commands share: their option parser, numbers as typed,
// the device session, the output checks and the texts of times, signals and
// JSON.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <climits>
#include <csignal>
#include <functional>
#include <ostream>

#include "device/DeviceText.h"
#include "device/velmor.h"
#include "core/SampleCsv.h"
#include "velmorctl/Internal.h"

namespace VelmorCtl {
namespace Detail {

ParsedArgs ParseArgs(const std::vector<std::string>& Args, const std::vector<OptionSpec>& Specs)
{
    ParsedArgs P;
    bool Ended = false;
    for (size_t I = 0; I < Args.size(); ++I) {
        const std::string& A = Args[I];
        const bool Number = A.size() > 1 && A[0] == '-' && A[1] >= '0' && A[1] <= '9';
        if (Ended || A.size() < 2 || A[0] != '-' || Number) {
            P.Positional.push_back(A);
            continue;
        }
        if (A == "--") {
            Ended = true;
            continue;
        }
        const size_t Eq = A.find('=');
        const std::string Name = A.substr(0, Eq);
        const OptionSpec* Spec = nullptr;
        for (const OptionSpec& S : Specs)
            if (Name == S.Name)
                Spec = &S;
        if (!Spec)
            throw UsageError{"unknown option '" + Name + "'"};
        if (P.Has(Spec->Name))
            throw UsageError{Name + " given twice"};
        std::string Value;
        if (Spec->TakesValue) {
            if (Eq != std::string::npos)
                Value = A.substr(Eq + 1);
            else if (I + 1 < Args.size())
                Value = Args[++I];
            else
                throw UsageError{Name + " needs a value"};
        } else if (Eq != std::string::npos) {
            throw UsageError{Name + " takes no value"};
        }
        P.Options[Spec->Name] = Value;
    }
    return P;
}

void ExpectPositionals(const ParsedArgs& P, size_t Min, size_t Max)
{
    if (P.Positional.size() > Max)
        throw UsageError{"unexpected argument '" + P.Positional[Max] + "'"};
    if (P.Positional.size() < Min)
        throw UsageError{"missing argument"};
}

bool ParseWhole(const std::string& Text, int32_t& Value)
{
    size_t I = 0;
    bool Negative = false;
    if (I < Text.size() && (Text[I] == '+' || Text[I] == '-'))
        Negative = Text[I++] == '-';
    if (I == Text.size() || Text.size() - I > 12)
        return false;
    int64_t V = 0;
    for (; I < Text.size(); ++I) {
        if (Text[I] < '0' || Text[I] > '9')
            return false;
        V = V * 10 + (Text[I] - '0');
    }
    if (Negative)
        V = -V;
    if (V < INT32_MIN || V > INT32_MAX)
        return false;
    Value = static_cast<int32_t>(V);
    return true;
}

bool ParseWord(const std::string& Text, int32_t& Value)
{
    if (Text.size() >= 3 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
        int64_t V = 0;
        for (size_t I = 2; I < Text.size(); ++I) {
            const char C = Text[I];
            int D;
            if (C >= '0' && C <= '9')
                D = C - '0';
            else if (C >= 'a' && C <= 'f')
                D = C - 'a' + 10;
            else if (C >= 'A' && C <= 'F')
                D = C - 'A' + 10;
            else
                return false;
            V = V * 16 + D;
            if (V > INT32_MAX)
                return false;
        }
        Value = static_cast<int32_t>(V);
        return true;
    }
    return ParseWhole(Text, Value);
}

int64_t ParsePositive(const std::string& Option, const std::string& Text, int64_t Max)
{
    int32_t V = 0;
    if (!ParseWhole(Text, V) || V < 1 || V > Max)
        throw UsageError{Option + " must be a whole number from 1 to " + std::to_string(Max) + ", not '" +
                         Text + "'"};
    return V;
}

int64_t ParseSeconds(const std::string& Option, const std::string& Text)
{
    // Seconds with up to three decimals, more than 0 and at most a week.
    size_t I = 0;
    int64_t Whole = 0, Milli = 0;
    int Digits = 0, Decimals = 0;
    for (; I < Text.size() && Text[I] >= '0' && Text[I] <= '9' && Digits < 7; ++I, ++Digits)
        Whole = Whole * 10 + (Text[I] - '0');
    if (I < Text.size() && Text[I] == '.') {
        for (++I; I < Text.size() && Text[I] >= '0' && Text[I] <= '9' && Decimals < 3; ++I, ++Decimals)
            Milli = Milli * 10 + (Text[I] - '0');
        for (int K = Decimals; K < 3; ++K)
            Milli *= 10;
    }
    const int64_t Ms = Whole * 1000 + Milli;
    if (I != Text.size() || Digits + Decimals == 0 || Ms <= 0 || Ms > 7 * 24 * 3600 * 1000LL)
        throw UsageError{Option + " must be a number of seconds above 0 (up to three decimals), not '" + Text +
                         "'"};
    return Ms * Millisecond;
}

std::string LastErrorText()
{
    char* Text = nullptr;
    VLM_GetLastError(&Text);
    return DeviceTextToUtf8(Text);
}

Session::Session(Context& Ctx)
{
    OpenWithLockWait(Ctx, [] { return VLM_OpenDevice() != 0; }, [] { return LastErrorText(); });
}

void OpenWithLockWait(Context& Ctx, const std::function<bool()>& Open, const std::function<std::string()>& Error)
{
    const int64_t Start = Ctx.Now();
    for (;;) {
        if (Open())
            return;
        std::string Text = Error();
        // Busy is the library's word for a port another program holds;
        // an absent or forbidden port, or a silent controller, is not
        // waited for.
        if (Ctx.LockWait <= 0 || Text.find("busy") == std::string::npos || Ctx.Signal())
            throw OpenFailed{Text};
        const int64_t Now = Ctx.Now();
        if (Now - Start >= Ctx.LockWait)
            throw OpenFailed{Text + " (still busy after --lock-wait " +
                             std::to_string(Ctx.LockWait / Millisecond) + " ms)"};
        const int64_t Next = std::min(Now + 100 * Millisecond, Start + Ctx.LockWait);
        while (!Ctx.Signal() && Ctx.Now() < Next)
            Ctx.SleepUntil(Next);
    }
}

void CheckOutput(Context& Ctx)
{
    Ctx.Out.flush();
    if (!Ctx.Out)
        throw OutputFailed{"standard output", Ctx.OutErrno ? Ctx.OutErrno() : 0};
}

int64_t WallNow(const Context& Ctx)
{
    if (Ctx.WallNow)
        return Ctx.WallNow();
    timespec T{};
    clock_gettime(CLOCK_REALTIME, &T);
    return static_cast<int64_t>(T.tv_sec) * Second + T.tv_nsec;
}

std::string UtcTime(int64_t Ns) { return Core::UtcText(Ns / 1000); }

Session::~Session() { VLM_CloseDevice(); }

std::string SignalName(int N)
{
    switch (N) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "signal " + std::to_string(N);
    }
}

std::string JsonString(const std::string& Text)
{
    std::string R = "\"";
    for (unsigned char C : Text) {
        if (C == '"' || C == '\\') {
            R += '\\';
            R += static_cast<char>(C);
        } else if (C < 0x20 || C == 0x7F) {
            char Buf[8];
            std::snprintf(Buf, sizeof Buf, "\\u%04x", C);
            R += Buf;
        } else {
            R += static_cast<char>(C);
        }
    }
    return R + "\"";
}

void Line(std::ostream& Out, const char* Format, ...)
{
    char* Text = nullptr;
    va_list A;
    va_start(A, Format);
    const int N = vasprintf(&Text, Format, A);
    va_end(A);
    if (N < 0)
        return;
    Out << Text << '\n';
    std::free(Text);
}

} // namespace Detail
} // namespace VelmorCtl
