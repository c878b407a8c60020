#include "platform/IniFile.h"

#include <cstring>

#include "core/Text.h"

// File rules of the settings file.
//
// Reading: the text is split into lines at CR and at LF. Every line is
// trimmed of leading and trailing blanks and control characters (bytes up
// to 0x20, and 0x7F); empty lines and lines beginning with ";" are skipped.
// A line that begins with "[" and ends with "]" opens a section named by the
// trimmed text between the brackets; "[]" opens a section with an empty name
// (it survives a save like any other), while a "[" line without a closing
// "]" is an ordinary line of the current section. Lines before the first
// section are ignored. A line containing "=" is split at its first "=", key
// and value are trimmed and held as "key=value"; a line without "=" is held
// unchanged and matches no key.
//
// Lookup: in the first section of the name, the first line whose key
// matches. Section and key names match regardless of ASCII letter case, so a
// hand-edited "[general]" or "left=" still counts; the program itself always
// uses the exact names.
//
// Integers: signed decimal (an optional "+" or "-", then digits), or, for a
// text of three or more characters beginning with "0x" or "0X", hexadecimal
// digits. A hexadecimal value is taken as a 32-bit pattern: 0x80000000 to
// 0xFFFFFFFF read as the negative numbers with those bits (0xFFFFFFFF is -1),
// while anything needing more than 32 bits gives the default, as does a
// decimal number outside -2147483648..2147483647 or any other character.
// Booleans read as integers, any nonzero value is true.
//
// Writing: a value for an existing key replaces that line in place (written
// with the program's spelling of the key); a new key is appended to the end
// of its section, a new section after the last one. The file is written
// whole: each section's "[name]" line, its lines in order, then one empty
// line, every line ending in CR LF. Comments and lines before the first
// section are not kept, so a save drops them.

namespace {

bool IsTrimmed(unsigned char C) { return C <= 0x20 || C == 0x7F; }

// The settings file's blanks: the space, the control characters and DEL.
std::string Trim(const std::string& S, std::size_t Begin, std::size_t End)
{
    return Core::Trim(S.substr(Begin, End - Begin), Core::Blanks::ControlsAndDelete);
}

char Lower(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; }

bool SameName(const char* A, std::size_t ALength, const std::string& B)
{
    if (ALength != B.size())
        return false;
    for (std::size_t I = 0; I < ALength; ++I)
        if (Lower(A[I]) != Lower(B[I]))
            return false;
    return true;
}

// A name the file can hold so that it reads back as the same name.
void CheckName(const std::string& Name, bool IsKey)
{
    bool Bad = Name != Trim(Name, 0, Name.size()) || Name.find_first_of("\r\n") != std::string::npos;
    if (IsKey)
        Bad = Bad || Name.find('=') != std::string::npos || (!Name.empty() && Name[0] == ';');
    if (Bad)
        throw Exception(std::string(IsKey ? "Invalid key name \"" : "Invalid section name \"") + Name +
                        "\" for the settings file");
}

} // namespace

void TIniFile::SetText(const std::string& Text)
{
    FText.clear();
    bool InSection = false;
    std::size_t Pos = 0;
    while (Pos < Text.size()) {
        std::size_t End = Pos;
        while (End < Text.size() && Text[End] != '\r' && Text[End] != '\n')
            ++End;
        std::size_t Begin = Pos;
        Pos = End + 1;
        while (Begin < End && IsTrimmed(static_cast<unsigned char>(Text[Begin])))
            ++Begin;
        while (End > Begin && IsTrimmed(static_cast<unsigned char>(Text[End - 1])))
            --End;

        if (Begin == End || Text[Begin] == ';')
            continue;
        if (End - Begin >= 2 && Text[Begin] == '[' && Text[End - 1] == ']') {
            if (InSection)
                FText += "\r\n";
            FText += '[';
            FText += Trim(Text, Begin + 1, End - 1);
            FText += "]\r\n";
            InSection = true;
            continue;
        }
        if (!InSection)
            continue;
        const void* Found = std::memchr(Text.data() + Begin, '=', End - Begin);
        if (!Found) {
            FText.append(Text, Begin, End - Begin);
        } else {
            // Key and value trimmed around the first "=".
            const std::size_t Eq = static_cast<const char*>(Found) - Text.data();
            std::size_t KeyEnd = Eq, ValueBegin = Eq + 1;
            while (KeyEnd > Begin && IsTrimmed(static_cast<unsigned char>(Text[KeyEnd - 1])))
                --KeyEnd;
            while (ValueBegin < End && IsTrimmed(static_cast<unsigned char>(Text[ValueBegin])))
                ++ValueBegin;
            FText.append(Text, Begin, KeyEnd - Begin);
            FText += '=';
            FText.append(Text, ValueBegin, End - ValueBegin);
        }
        FText += "\r\n";
    }
    if (InSection)
        FText += "\r\n";
}

// The memory copy is the file's text as a save writes it: each section a
// "[name]" line, its lines, then an empty line, all ending in CR LF. Lines
// are never empty otherwise, so the text describes itself and holds a file of
// any size in about its own size.

bool TIniFile::FindSection(const std::string& Name, TSpan& Body) const
{
    const char* const Data = FText.data();
    const std::size_t Size = FText.size();
    std::size_t Pos = 0;
    while (Pos < Size) {
        // The "[name]" line, then lines up to the first empty one.
        const std::size_t HeaderEnd = static_cast<const char*>(std::memchr(Data + Pos, '\n', Size - Pos)) - Data - 1;
        const std::size_t Last =
            static_cast<const char*>(memmem(Data + HeaderEnd, Size - HeaderEnd, "\r\n\r\n", 4)) - Data;
        if (SameName(Data + Pos + 1, HeaderEnd - Pos - 2, Name)) {
            Body = TSpan{HeaderEnd + 2, Last == HeaderEnd ? HeaderEnd + 2 : Last + 2};
            return true;
        }
        Pos = Last + 4;
    }
    return false;
}

bool TIniFile::FindLine(const std::string& Section, const std::string& Key, TSpan& Line, std::size_t& Eq,
                        TSpan* SectionBody) const
{
    TSpan Body;
    if (!FindSection(Section, Body))
        return false;
    if (SectionBody)
        *SectionBody = Body;
    const char* const Data = FText.data();
    for (std::size_t Pos = Body.Begin; Pos < Body.End;) {
        // Every line ends in CR LF, and LF appears nowhere else.
        const std::size_t End = static_cast<const char*>(std::memchr(Data + Pos, '\n', Body.End - Pos)) - Data - 1;
        const void* E = std::memchr(Data + Pos, '=', End - Pos);
        if (E && SameName(Data + Pos, static_cast<const char*>(E) - (Data + Pos), Key)) {
            Line = TSpan{Pos, End};
            Eq = static_cast<const char*>(E) - Data;
            return true;
        }
        Pos = End + 2;
    }
    return false;
}

bool TIniFile::ValueExists(const std::string& Section, const std::string& Key) const
{
    TSpan Line;
    std::size_t Eq;
    return FindLine(Section, Key, Line, Eq, nullptr);
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Key,
                                 const std::string& Default) const
{
    TSpan Line;
    std::size_t Eq;
    return FindLine(Section, Key, Line, Eq, nullptr) ? FText.substr(Eq + 1, Line.End - Eq - 1) : Default;
}

std::string TIniFile::Text() const { return FText; }

bool TIniFile::ParseInteger(const std::string& Text, int32_t& Value)
{
    if (Text.size() >= 3 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
        uint64_t V = 0;
        for (std::size_t I = 2; I < Text.size(); ++I) {
            char C = Text[I];
            unsigned D;
            if (C >= '0' && C <= '9')
                D = static_cast<unsigned>(C - '0');
            else if (C >= 'a' && C <= 'f')
                D = static_cast<unsigned>(C - 'a' + 10);
            else if (C >= 'A' && C <= 'F')
                D = static_cast<unsigned>(C - 'A' + 10);
            else
                return false;
            V = V * 16 + D;
            if (V > 0xFFFFFFFFu)
                return false;
        }
        Value = static_cast<int32_t>(static_cast<uint32_t>(V));
        return true;
    }

    std::size_t I = 0;
    bool Negative = false;
    if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) {
        Negative = Text[I] == '-';
        ++I;
    }
    if (I == Text.size())
        return false;
    const uint64_t Limit = Negative ? 2147483648u : 2147483647u;
    uint64_t V = 0;
    for (; I < Text.size(); ++I) {
        char C = Text[I];
        if (C < '0' || C > '9')
            return false;
        V = V * 10 + static_cast<unsigned>(C - '0');
        if (V > Limit)
            return false;
    }
    Value = Negative ? static_cast<int32_t>(-static_cast<int64_t>(V)) : static_cast<int32_t>(V);
    return true;
}

int32_t TIniFile::ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) const
{
    TSpan Line;
    std::size_t Eq;
    int32_t Value;
    if (FindLine(Section, Key, Line, Eq, nullptr) && ParseInteger(FText.substr(Eq + 1, Line.End - Eq - 1), Value))
        return Value;
    return Default;
}

bool TIniFile::ReadBool(const std::string& Section, const std::string& Key, bool Default) const
{
    return ReadInteger(Section, Key, Default ? 1 : 0) != 0;
}

void TIniFile::WriteValue(const std::string& Section, const std::string& Key, const std::string& Value)
{
    CheckName(Section, false);
    CheckName(Key, true);
    const std::string Line = Key + "=" + Value;
    TSpan Found, Body;
    std::size_t Eq;
    if (FindLine(Section, Key, Found, Eq, &Body))
        FText.replace(Found.Begin, Found.End - Found.Begin, Line);
    else if (FindSection(Section, Body))
        FText.insert(Body.End, Line + "\r\n");
    else
        FText += "[" + Section + "]\r\n" + Line + "\r\n\r\n";
}

void TIniFile::WriteInteger(const std::string& Section, const std::string& Key, int32_t Value)
{
    WriteValue(Section, Key, std::to_string(Value));
}

void TIniFile::WriteBool(const std::string& Section, const std::string& Key, bool Value)
{
    WriteValue(Section, Key, Value ? "1" : "0");
}

std::string ChangeFileExt(const std::string& Path, const std::string& Ext)
{
    auto Slash = Path.find_last_of('/');
    auto Dot = Path.find_last_of('.');
    if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash))
        return Path + Ext;
    return Path.substr(0, Dot) + Ext;
}
