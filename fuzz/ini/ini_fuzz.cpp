// Fuzz target of the settings file rules. For arbitrary text:
// - parsing never crashes;
// - every ReadInteger gives either the key's value, checked against an
//   independent reading of the value text, or the default;
// - ReadBool agrees with ReadInteger;
// - the written text reads back as the same values and writes itself again
//   unchanged;
// - a written integer reads back, and leaves every other key as it was.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "core/Text.h"
#include "platform/Exception.h"
#include "platform/IniFile.h"

namespace {

void Check(bool Ok, const char* What)
{
    if (!Ok) {
        std::fprintf(stderr, "check failed: %s\n", What);
        std::abort();
    }
}

std::string Trim(const std::string& S) { return Core::Trim(S, Core::Blanks::ControlsAndDelete); }

// The integer rule, written a second way.
bool Reference(const std::string& T, int32_t& V)
{
    if (T.size() >= 3 && T[0] == '0' && (T[1] == 'x' || T[1] == 'X')) {
        std::string Digits = T.substr(2);
        if (Digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return false;
        std::size_t First = Digits.find_first_not_of('0');
        if (First != std::string::npos && Digits.size() - First > 8)
            return false;
        V = static_cast<int32_t>(static_cast<uint32_t>(std::strtoull(Digits.c_str(), nullptr, 16)));
        return true;
    }
    std::string Digits = T;
    bool Negative = false;
    if (!Digits.empty() && (Digits[0] == '+' || Digits[0] == '-')) {
        Negative = Digits[0] == '-';
        Digits.erase(0, 1);
    }
    if (Digits.empty() || Digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    std::size_t First = Digits.find_first_not_of('0');
    if (First != std::string::npos && Digits.size() - First > 10)
        return false;
    long long X = std::strtoll(Digits.c_str(), nullptr, 10);
    if (Negative)
        X = -X;
    if (X < INT32_MIN || X > INT32_MAX)
        return false;
    V = static_cast<int32_t>(X);
    return true;
}

using TNames = std::vector<std::pair<std::string, std::string>>;

// Section and key names to ask for: those the text seems to hold, with
// variations of letter case, and the program's own.
TNames NamesOf(const std::string& Text)
{
    TNames Names = {{"General", "Left"}, {"I", "Iw"}, {"Limits", "HomeDir"}, {"Control", "Mode"}};
    std::string Section;
    std::size_t Pos = 0;
    while (Pos < Text.size() && Names.size() < 24) {
        std::size_t End = Text.find_first_of("\r\n", Pos);
        if (End == std::string::npos)
            End = Text.size();
        std::string Line = Trim(Text.substr(Pos, End - Pos));
        Pos = End + 1;
        if (Line.size() >= 2 && Line.front() == '[' && Line.back() == ']') {
            Section = Trim(Line.substr(1, Line.size() - 2));
        } else if (std::size_t Eq = Line.find('='); Eq != std::string::npos) {
            std::string Key = Trim(Line.substr(0, Eq));
            Names.push_back({Section, Key});
            std::string Upper = Key;
            for (char& C : Upper)
                if (C >= 'a' && C <= 'z')
                    C = static_cast<char>(C - 'a' + 'A');
            Names.push_back({Section, Upper});
        }
    }
    return Names;
}

bool SameName(const std::string& A, const std::string& B)
{
    if (A.size() != B.size())
        return false;
    for (std::size_t I = 0; I < A.size(); ++I) {
        char X = A[I], Y = B[I];
        if (X >= 'A' && X <= 'Z')
            X = static_cast<char>(X - 'A' + 'a');
        if (Y >= 'A' && Y <= 'Z')
            Y = static_cast<char>(Y - 'A' + 'a');
        if (X != Y)
            return false;
    }
    return true;
}

constexpr int32_t D1 = 0x13579BDF;
constexpr int32_t D2 = -0x2468ACE0;

void CheckReads(const TIniFile& Ini, const TNames& Names)
{
    for (const auto& [S, K] : Names) {
        const int32_t R1 = Ini.ReadInteger(S, K, D1);
        const int32_t R2 = Ini.ReadInteger(S, K, D2);
        int32_t Expected = 0;
        if (Ini.ValueExists(S, K) && Reference(Ini.ReadString(S, K, ""), Expected)) {
            Check(R1 == Expected && R2 == Expected, "ReadInteger gives the value");
        } else {
            Check(R1 == D1 && R2 == D2, "ReadInteger gives the default");
        }
        Check(Ini.ReadBool(S, K, false) == (Ini.ReadInteger(S, K, 0) != 0), "ReadBool, default false");
        Check(Ini.ReadBool(S, K, true) == (Ini.ReadInteger(S, K, 1) != 0), "ReadBool, default true");
    }
}

void CheckSameValues(const TIniFile& A, const TIniFile& B, const TNames& Names)
{
    for (const auto& [S, K] : Names) {
        Check(A.ValueExists(S, K) == B.ValueExists(S, K), "same keys after writing");
        Check(A.ReadString(S, K, "\x01") == B.ReadString(S, K, "\x01"), "same texts after writing");
        Check(A.ReadInteger(S, K, D1) == B.ReadInteger(S, K, D1), "same integers after writing");
    }
}

void CheckText(const std::string& T)
{
    for (std::size_t I = 0; I < T.size(); ++I) {
        if (T[I] == '\r')
            Check(I + 1 < T.size() && T[I + 1] == '\n', "CR is followed by LF");
        if (T[I] == '\n')
            Check(I > 0 && T[I - 1] == '\r', "LF follows CR");
    }
    Check(T.empty() || (T.size() >= 4 && T.compare(T.size() - 4, 4, "\r\n\r\n") == 0),
          "the file ends with a section's empty line");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size)
{
    const std::string Text(reinterpret_cast<const char*>(Data), Size);
    TIniFile Ini("/nonexistent-folder-of-the-fuzzer/velmor.ini");
    Ini.SetText(Text);
    const TNames Names = NamesOf(Text);
    CheckReads(Ini, Names);

    const std::string Written = Ini.Text();
    CheckText(Written);
    TIniFile Again("/nonexistent-folder-of-the-fuzzer/velmor.ini");
    Again.SetText(Written);
    CheckSameValues(Ini, Again, Names);
    Check(Again.Text() == Written, "the written text writes itself again");

    // Write each name once, with a value drawn from the input.
    uint32_t Hash = 2166136261u;
    for (uint8_t B : Text)
        Hash = (Hash ^ B) * 16777619u;
    for (std::size_t I = 0; I < Names.size() && I < 8; ++I) {
        const auto& [S, K] = Names[I];
        const int32_t Value = static_cast<int32_t>(Hash * (2 * I + 1));
        TIniFile Before = Again;
        try {
            Again.WriteInteger(S, K, Value);
        } catch (const Exception&) {
            Check(Again.Text() == Before.Text(), "a refused name changes nothing");
            continue;
        }
        Check(Again.ReadInteger(S, K, D1) == Value, "a written integer reads back");
        for (const auto& [S2, K2] : Names) {
            if (SameName(S, S2) && SameName(K, K2))
                continue;
            Check(Again.ReadString(S2, K2, "\x01") == Before.ReadString(S2, K2, "\x01"),
                  "writing one key leaves the others");
        }
    }
    const std::string Final = Again.Text();
    CheckText(Final);
    TIniFile Reread("/nonexistent-folder-of-the-fuzzer/velmor.ini");
    Reread.SetText(Final);
    CheckSameValues(Again, Reread, Names);
    return 0;
}
