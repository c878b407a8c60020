#include "platform/IniFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/Exception.h"

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

// A settings file holds a few hundred bytes; a file beyond this is not one,
// and reading it would only cost memory (some 25 bytes for every line).
constexpr std::size_t MaxFileSize = 1024u * 1024u;

bool IsTrimmed(unsigned char C) { return C <= 0x20 || C == 0x7F; }

std::string Trim(const std::string& S, std::size_t Begin, std::size_t End)
{
    while (Begin < End && IsTrimmed(static_cast<unsigned char>(S[Begin])))
        ++Begin;
    while (End > Begin && IsTrimmed(static_cast<unsigned char>(S[End - 1])))
        --End;
    return S.substr(Begin, End - Begin);
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

std::string FullPath(const std::string& Name)
{
    if (!Name.empty() && Name[0] == '/')
        return Name;
    std::string Cwd;
    if (char* Dir = getcwd(nullptr, 0)) {
        Cwd = Dir;
        std::free(Dir);
    }
    if (Cwd.empty())
        return Name;
    return Cwd == "/" ? "/" + Name : Cwd + "/" + Name;
}

std::string ErrorText(int Error) { return std::strerror(Error); }

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

// Closes and removes a temporary file unless released.
struct TTempFile {
    std::string Path;
    int Fd = -1;
    ~TTempFile()
    {
        if (Fd >= 0)
            close(Fd);
        if (!Path.empty())
            unlink(Path.c_str());
    }
};

} // namespace

TIniFile::TIniFile(std::string FileName) : FFileName(std::move(FileName))
{
    const std::string Path = FullPath(FFileName);
    int Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (Fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return; // no file: empty
        throw Exception("Cannot open file " + Path + ": " + ErrorText(errno));
    }
    struct Closer {
        int Fd;
        ~Closer() { close(Fd); }
    } CloseFd{Fd};

    struct stat St;
    if (fstat(Fd, &St) != 0)
        throw Exception("Cannot read file " + Path + ": " + ErrorText(errno));
    if (S_ISDIR(St.st_mode))
        throw Exception("Cannot read file " + Path + ": it is a folder");
    if (!S_ISREG(St.st_mode))
        throw Exception("Cannot read file " + Path + ": it is not a regular file");

    std::string Text;
    char Buffer[65536];
    for (;;) {
        ssize_t N = read(Fd, Buffer, sizeof Buffer);
        if (N < 0) {
            if (errno == EINTR)
                continue;
            throw Exception("Cannot read file " + Path + ": " + ErrorText(errno));
        }
        if (N == 0)
            break;
        if (Text.size() + static_cast<std::size_t>(N) > MaxFileSize)
            throw Exception("Cannot read file " + Path + ": the file is too large");
        Text.append(Buffer, static_cast<std::size_t>(N));
    }
    SetText(Text);
}

void TIniFile::SetText(const std::string& Text)
{
    FSections.clear();
    TSection* Current = nullptr;
    std::size_t Pos = 0;
    while (Pos < Text.size()) {
        std::size_t End = Text.find_first_of("\r\n", Pos);
        if (End == std::string::npos)
            End = Text.size();
        std::string Line = Trim(Text, Pos, End);
        Pos = End + 1;

        if (Line.empty() || Line[0] == ';')
            continue;
        if (Line.size() >= 2 && Line.front() == '[' && Line.back() == ']') {
            FSections.push_back(TSection{Trim(Line, 1, Line.size() - 1), {}});
            Current = &FSections.back();
            continue;
        }
        if (!Current)
            continue;
        std::size_t Eq = Line.find('=');
        if (Eq == std::string::npos) {
            Current->Lines.push_back(TLine{std::move(Line), std::string::npos});
        } else {
            std::string Key = Trim(Line, 0, Eq);
            std::size_t KeyLength = Key.size();
            Current->Lines.push_back(TLine{Key + "=" + Trim(Line, Eq + 1, Line.size()), KeyLength});
        }
    }
}

std::string TIniFile::Text() const
{
    std::string Out;
    for (const TSection& S : FSections) {
        Out += '[';
        Out += S.Name;
        Out += "]\r\n";
        for (const TLine& L : S.Lines) {
            Out += L.Text;
            Out += "\r\n";
        }
        Out += "\r\n";
    }
    return Out;
}

const TIniFile::TSection* TIniFile::FindSection(const std::string& Name) const
{
    for (const TSection& S : FSections)
        if (SameName(S.Name.data(), S.Name.size(), Name))
            return &S;
    return nullptr;
}

TIniFile::TSection* TIniFile::FindSection(const std::string& Name)
{
    return const_cast<TSection*>(static_cast<const TIniFile*>(this)->FindSection(Name));
}

const TIniFile::TLine* TIniFile::FindLine(const std::string& Section, const std::string& Key) const
{
    const TSection* S = FindSection(Section);
    if (!S)
        return nullptr;
    for (const TLine& L : S->Lines)
        if (L.KeyLength != std::string::npos && SameName(L.Text.data(), L.KeyLength, Key))
            return &L;
    return nullptr;
}

bool TIniFile::ValueExists(const std::string& Section, const std::string& Key) const
{
    return FindLine(Section, Key) != nullptr;
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Key,
                                 const std::string& Default) const
{
    const TLine* L = FindLine(Section, Key);
    return L ? L->Text.substr(L->KeyLength + 1) : Default;
}

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
    const TLine* L = FindLine(Section, Key);
    int32_t Value;
    if (L && ParseInteger(L->Text.substr(L->KeyLength + 1), Value))
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
    std::string Line = Key + "=" + Value;
    TSection* S = FindSection(Section);
    if (!S) {
        FSections.push_back(TSection{Section, {}});
        S = &FSections.back();
    }
    for (TLine& L : S->Lines) {
        if (L.KeyLength != std::string::npos && SameName(L.Text.data(), L.KeyLength, Key)) {
            L.Text = std::move(Line);
            L.KeyLength = Key.size();
            return;
        }
    }
    S->Lines.push_back(TLine{std::move(Line), Key.size()});
}

void TIniFile::WriteInteger(const std::string& Section, const std::string& Key, int32_t Value)
{
    WriteValue(Section, Key, std::to_string(Value));
}

void TIniFile::WriteBool(const std::string& Section, const std::string& Key, bool Value)
{
    WriteValue(Section, Key, Value ? "1" : "0");
}

// The new content goes to a temporary file in the same folder, which then
// replaces the old file in one rename(): a failure at any point leaves the
// stored settings as they were. The old file's permission bits (and, where
// allowed, its owner) carry over; a new file gets the usual 0666 less umask.
// A symbolic link to the settings file stays a link: its target is replaced.
void TIniFile::UpdateFile()
{
    const std::string Path = FullPath(FFileName);
    std::string Target = Path;
    struct stat St;
    if (lstat(Path.c_str(), &St) == 0 && S_ISLNK(St.st_mode)) {
        if (char* Real = realpath(Path.c_str(), nullptr)) {
            Target = Real;
            std::free(Real);
        }
    }
    bool Exists = stat(Target.c_str(), &St) == 0 && S_ISREG(St.st_mode);
    // A file the user may not write stays as it is, although its folder
    // would let a rename replace it.
    if (Exists && access(Target.c_str(), W_OK) != 0)
        throw Exception("Cannot create file " + Path);

    std::size_t Slash = Target.find_last_of('/');
    std::string Folder = Slash == std::string::npos ? std::string("./") : Target.substr(0, Slash + 1);
    std::string Base = Slash == std::string::npos ? Target : Target.substr(Slash + 1);
    if (Base.size() > 64)
        Base.resize(64); // keeps the temporary name within the name length limit

    TTempFile Temp;
    static unsigned Counter = 0;
    for (int Attempt = 0; Attempt < 100 && Temp.Fd < 0; ++Attempt) {
        struct timespec Now;
        clock_gettime(CLOCK_REALTIME, &Now);
        std::string Name = Folder + "." + Base + "." + std::to_string(getpid()) + "-" +
                           std::to_string(++Counter) + "-" + std::to_string(Now.tv_nsec % 1000000) + ".tmp";
        int Fd = open(Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (Fd >= 0) {
            Temp.Fd = Fd;
            Temp.Path = Name;
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (Temp.Fd < 0)
        throw Exception("Cannot create file " + Path);

    if (Exists) {
        (void)fchmod(Temp.Fd, St.st_mode & 07777);
        if (St.st_uid != geteuid() || St.st_gid != getegid()) {
            if (fchown(Temp.Fd, St.st_uid, St.st_gid) == 0)
                (void)fchmod(Temp.Fd, St.st_mode & 07777); // chown may clear set-id bits
        }
    }

    const std::string Content = Text();
    std::size_t Done = 0;
    while (Done < Content.size()) {
        ssize_t N = write(Temp.Fd, Content.data() + Done, Content.size() - Done);
        if (N < 0) {
            if (errno == EINTR)
                continue;
            throw Exception("Cannot write file " + Path + ": " + ErrorText(errno));
        }
        Done += static_cast<std::size_t>(N);
    }
    if (fsync(Temp.Fd) != 0)
        throw Exception("Cannot write file " + Path + ": " + ErrorText(errno));
    int Fd = Temp.Fd;
    Temp.Fd = -1;
    if (close(Fd) != 0)
        throw Exception("Cannot write file " + Path + ": " + ErrorText(errno));

    if (rename(Temp.Path.c_str(), Target.c_str()) != 0)
        throw Exception("Cannot replace file " + Path + ": " + ErrorText(errno));
    Temp.Path.clear();

    // Make the rename itself durable; a failure here changes nothing.
    int Dir = open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Dir >= 0) {
        (void)fsync(Dir);
        close(Dir);
    }
}

std::string ChangeFileExt(const std::string& Path, const std::string& Ext)
{
    auto Slash = Path.find_last_of('/');
    auto Dot = Path.find_last_of('.');
    if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash))
        return Path + Ext;
    return Path.substr(0, Dot) + Ext;
}
