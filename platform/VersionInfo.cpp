#include "platform/VersionInfo.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Exception.h"

namespace VersionInfo {

namespace {

constexpr char RootKey[] = "VS_VERSION_INFO";
constexpr std::size_t NodeHeader = 6;
constexpr std::size_t MaxBlockSection = 1u << 20;

std::size_t Align4(std::size_t X) { return (X + 3) & ~static_cast<std::size_t>(3); }

uint16_t Get16(const uint8_t* P) { return static_cast<uint16_t>(P[0] | (P[1] << 8)); }

void Put16(std::vector<uint8_t>& Out, std::size_t At, uint16_t V)
{
    Out[At] = static_cast<uint8_t>(V);
    Out[At + 1] = static_cast<uint8_t>(V >> 8);
}

void Append32(std::vector<uint8_t>& Out, uint32_t V)
{
    for (int I = 0; I < 4; ++I)
        Out.push_back(static_cast<uint8_t>(V >> (8 * I)));
}

void PadTo4(std::vector<uint8_t>& Out)
{
    while (Out.size() % 4)
        Out.push_back(0);
}

char Lower(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; }

bool SameKey(const uint8_t* Key, std::size_t Length, const std::string& Name)
{
    if (Length != Name.size())
        return false;
    for (std::size_t I = 0; I < Length; ++I)
        if (Lower(static_cast<char>(Key[I])) != Lower(Name[I]))
            return false;
    return true;
}

// One node of a block, every part checked to lie within [Offset, Limit).
struct TNodeView {
    std::size_t End;
    std::size_t KeyBegin, KeyLength;
    std::size_t ValueBegin, ValueLength;
    std::size_t ChildrenBegin;
    uint16_t Type;
};

bool ParseNode(const uint8_t* Block, std::size_t Offset, std::size_t Limit, TNodeView& N)
{
    if (Offset > Limit || Limit - Offset < NodeHeader)
        return false;
    std::size_t Length = Get16(Block + Offset);
    if (Length < NodeHeader || Length > Limit - Offset)
        return false;
    N.End = Offset + Length;
    N.ValueLength = Get16(Block + Offset + 2);
    N.Type = Get16(Block + Offset + 4);
    N.KeyBegin = Offset + NodeHeader;
    const void* Zero = std::memchr(Block + N.KeyBegin, 0, N.End - N.KeyBegin);
    if (!Zero)
        return false;
    N.KeyLength = static_cast<std::size_t>(static_cast<const uint8_t*>(Zero) - (Block + N.KeyBegin));
    N.ValueBegin = Align4(N.KeyBegin + N.KeyLength + 1);
    if (N.ValueLength > 0) {
        if (N.ValueBegin > N.End || N.ValueLength > N.End - N.ValueBegin)
            return false;
        N.ChildrenBegin = Align4(N.ValueBegin + N.ValueLength);
    } else {
        N.ValueBegin = N.ValueBegin > N.End ? N.End : N.ValueBegin;
        N.ChildrenBegin = Align4(N.KeyBegin + N.KeyLength + 1);
    }
    return true;
}

bool ParseRoot(const uint8_t* Block, std::size_t Size, TNodeView& Root)
{
    return Block && ParseNode(Block, 0, Size, Root) &&
           SameKey(Block + Root.KeyBegin, Root.KeyLength, RootKey);
}

bool FindChild(const uint8_t* Block, const TNodeView& Parent, const std::string& Key, TNodeView& Child)
{
    std::size_t At = Parent.ChildrenBegin;
    while (At < Parent.End && Parent.End - At >= NodeHeader) {
        if (!ParseNode(Block, At, Parent.End, Child))
            return false;
        if (SameKey(Block + Child.KeyBegin, Child.KeyLength, Key))
            return true;
        At = Align4(Child.End);
    }
    return false;
}

} // namespace

std::vector<uint8_t> SerializeNode(const TVersionNode& Node)
{
    if (Node.Key.find('\0') != std::string::npos)
        throw Exception("A version block key holds a zero byte");
    if (Node.Value.size() > 0xFFFF)
        throw Exception("The version block is too large");
    // Appended byte by byte: g++ 12 warns falsely about vector::insert here.
    std::vector<uint8_t> Out(NodeHeader, 0);
    Out.reserve(NodeHeader + Node.Key.size() + 4 + Node.Value.size());
    for (char C : Node.Key)
        Out.push_back(static_cast<uint8_t>(C));
    Out.push_back(0);
    PadTo4(Out);
    for (uint8_t B : Node.Value)
        Out.push_back(B);
    for (const TVersionNode& Child : Node.Children) {
        PadTo4(Out);
        for (uint8_t B : SerializeNode(Child))
            Out.push_back(B);
    }
    if (Out.size() > 0xFFFF)
        throw Exception("The version block is too large");
    Put16(Out, 0, static_cast<uint16_t>(Out.size()));
    Put16(Out, 2, static_cast<uint16_t>(Node.Value.size()));
    Put16(Out, 4, Node.Type);
    return Out;
}

std::vector<uint8_t> BuildVersionBlock(const TVersionData& Data)
{
    TFixedFileInfo Fixed;
    Fixed.FileVersionMS = (uint32_t{Data.FileVersion[0]} << 16) | Data.FileVersion[1];
    Fixed.FileVersionLS = (uint32_t{Data.FileVersion[2]} << 16) | Data.FileVersion[3];
    Fixed.ProductVersionMS = (uint32_t{Data.ProductVersion[0]} << 16) | Data.ProductVersion[1];
    Fixed.ProductVersionLS = (uint32_t{Data.ProductVersion[2]} << 16) | Data.ProductVersion[3];

    TVersionNode Root{RootKey, 0, {}, {}};
    for (uint32_t V : {Fixed.Signature, Fixed.StrucVersion, Fixed.FileVersionMS, Fixed.FileVersionLS,
                       Fixed.ProductVersionMS, Fixed.ProductVersionLS, Fixed.FileFlagsMask, Fixed.FileFlags,
                       Fixed.FileOS, Fixed.FileType, Fixed.FileSubtype, Fixed.FileDateMS, Fixed.FileDateLS})
        Append32(Root.Value, V);

    TVersionNode Strings{"StringFileInfo", 1, {}, {}};
    for (const TStringTable& Table : Data.StringTables) {
        TVersionNode T{Table.Name, 1, {}, {}};
        for (const auto& [Key, Text] : Table.Strings) {
            TVersionNode S{Key, 1, std::vector<uint8_t>(Text.begin(), Text.end()), {}};
            S.Value.push_back(0);
            T.Children.push_back(std::move(S));
        }
        Strings.Children.push_back(std::move(T));
    }

    TVersionNode Translation{"Translation", 0, {}, {}};
    for (const auto& [Language, CodePage] : Data.Translations)
        Append32(Translation.Value, (uint32_t{CodePage} << 16) | Language);
    TVersionNode Vars{"VarFileInfo", 1, {}, {}};
    Vars.Children.push_back(std::move(Translation));

    Root.Children.push_back(std::move(Strings));
    Root.Children.push_back(std::move(Vars));
    return SerializeNode(Root);
}

std::string TranslationName(uint16_t Language, uint16_t CodePage)
{
    static const char Digits[] = "0123456789ABCDEF";
    uint32_t V = (uint32_t{Language} << 16) | CodePage;
    std::string Out(8, '0');
    for (int I = 7; I >= 0; --I, V >>= 4)
        Out[static_cast<std::size_t>(I)] = Digits[V & 0xF];
    return Out;
}

std::size_t BlockLength(const uint8_t* Data, std::size_t Size)
{
    TNodeView Root;
    return ParseRoot(Data, Size, Root) ? Root.End : 0;
}

bool QueryValue(const uint8_t* Block, std::size_t Size, const std::string& SubBlock,
                const void** Value, uint32_t* Length)
{
    TNodeView Node;
    if (!Value || !Length || !ParseRoot(Block, Size, Node))
        return false;
    std::size_t At = 0;
    while (At < SubBlock.size()) {
        std::size_t Next = SubBlock.find('\\', At);
        if (Next == std::string::npos)
            Next = SubBlock.size();
        if (Next > At) {
            TNodeView Child;
            if (!FindChild(Block, Node, SubBlock.substr(At, Next - At), Child))
                return false;
            Node = Child;
        }
        At = Next + 1;
    }
    if (Node.Type == 1) {
        static const char Empty[] = "";
        if (Node.ValueLength == 0) {
            *Value = Empty;
            *Length = 0;
            return true;
        }
        if (Block[Node.ValueBegin + Node.ValueLength - 1] != 0)
            return false; // a text must end in its zero
    }
    *Value = Block + Node.ValueBegin;
    *Length = static_cast<uint32_t>(Node.ValueLength);
    return true;
}

// ---- ELF64 ----

bool TMemorySource::Read(uint64_t Offset, void* Dst, std::size_t Count) const
{
    if (Offset > FSize || Count > FSize - Offset)
        return false;
    if (Count)
        std::memcpy(Dst, FData + Offset, Count);
    return true;
}

namespace {

constexpr std::size_t EhdrSize = 64;
constexpr std::size_t ShdrSize = 64;
constexpr uint32_t ShtNobits = 8;
constexpr uint16_t ShnXindex = 0xFFFF;
constexpr uint64_t MaxSections = 1u << 20;
constexpr uint64_t MaxNameTable = 16u << 20;

struct TEndian {
    bool Little;
    uint64_t Get(const uint8_t* P, int Bytes) const
    {
        uint64_t V = 0;
        for (int I = 0; I < Bytes; ++I)
            V |= uint64_t{P[Little ? I : Bytes - 1 - I]} << (8 * I);
        return V;
    }
};

struct TShdr {
    uint32_t Name, Type, Link;
    uint64_t Offset, Size;
};

class TFileSource : public TByteSource {
public:
    explicit TFileSource(const std::string& Path)
    {
        FFd = open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        struct stat St;
        if (FFd >= 0 && fstat(FFd, &St) == 0 && S_ISREG(St.st_mode) && St.st_size >= 0)
            FSize = static_cast<uint64_t>(St.st_size);
        else
            FSize = 0;
    }
    ~TFileSource() override
    {
        if (FFd >= 0)
            close(FFd);
    }
    TFileSource(const TFileSource&) = delete;
    TFileSource& operator=(const TFileSource&) = delete;

    bool Valid() const { return FFd >= 0 && FSize > 0; }
    uint64_t Size() const override { return FSize; }
    bool Read(uint64_t Offset, void* Dst, std::size_t Count) const override
    {
        if (Offset > FSize || Count > FSize - Offset)
            return false;
        auto* P = static_cast<uint8_t*>(Dst);
        while (Count > 0) {
            ssize_t N = pread(FFd, P, Count, static_cast<off_t>(Offset));
            if (N < 0 && errno == EINTR)
                continue;
            if (N <= 0)
                return false;
            P += N;
            Offset += static_cast<uint64_t>(N);
            Count -= static_cast<std::size_t>(N);
        }
        return true;
    }

private:
    int FFd = -1;
    uint64_t FSize = 0;
};

} // namespace

std::optional<TSectionPlace> FindElfSection(const TByteSource& Source, const std::string& Name)
{
    const uint64_t FileSize = Source.Size();
    uint8_t H[EhdrSize];
    if (!Source.Read(0, H, sizeof H))
        return std::nullopt;
    if (H[0] != 0x7F || H[1] != 'E' || H[2] != 'L' || H[3] != 'F' || H[4] != 2 /* 64-bit */ ||
        (H[5] != 1 && H[5] != 2) || H[6] != 1)
        return std::nullopt;
    const TEndian E{H[5] == 1};

    const uint64_t ShOff = E.Get(H + 0x28, 8);
    const uint64_t ShEntSize = E.Get(H + 0x3A, 2);
    uint64_t ShNum = E.Get(H + 0x3C, 2);
    uint64_t ShStrNdx = E.Get(H + 0x3E, 2);
    if (ShOff == 0 || ShEntSize < ShdrSize || ShOff >= FileSize)
        return std::nullopt;
    // Room for the table: its count is bounded by what the file can hold.
    const uint64_t Fit = (FileSize - ShOff) / ShEntSize;

    auto ReadShdr = [&](uint64_t Index, TShdr& S) {
        if (Index >= Fit)
            return false;
        uint8_t B[ShdrSize];
        if (!Source.Read(ShOff + Index * ShEntSize, B, sizeof B))
            return false;
        S.Name = static_cast<uint32_t>(E.Get(B, 4));
        S.Type = static_cast<uint32_t>(E.Get(B + 4, 4));
        S.Offset = E.Get(B + 24, 8);
        S.Size = E.Get(B + 32, 8);
        S.Link = static_cast<uint32_t>(E.Get(B + 40, 4));
        return true;
    };

    // Extended numbering: the real count and name-table index live in
    // section 0.
    if (ShNum == 0 || ShStrNdx == ShnXindex) {
        TShdr First;
        if (!ReadShdr(0, First))
            return std::nullopt;
        if (ShNum == 0)
            ShNum = First.Size;
        if (ShStrNdx == ShnXindex)
            ShStrNdx = First.Link;
    }
    if (ShNum == 0 || ShNum > Fit || ShNum > MaxSections || ShStrNdx >= ShNum)
        return std::nullopt;

    TShdr StrTab;
    if (!ReadShdr(ShStrNdx, StrTab) || StrTab.Type == ShtNobits || StrTab.Size == 0 ||
        StrTab.Size > MaxNameTable || StrTab.Offset > FileSize || StrTab.Size > FileSize - StrTab.Offset)
        return std::nullopt;
    std::vector<uint8_t> Names(static_cast<std::size_t>(StrTab.Size));
    if (!Source.Read(StrTab.Offset, Names.data(), Names.size()))
        return std::nullopt;

    for (uint64_t I = 0; I < ShNum; ++I) {
        TShdr S;
        if (!ReadShdr(I, S))
            return std::nullopt;
        if (S.Name >= Names.size())
            continue;
        const uint8_t* N = Names.data() + S.Name;
        const std::size_t Left = Names.size() - S.Name;
        const void* Zero = std::memchr(N, 0, Left);
        if (!Zero)
            continue;
        const std::size_t Length = static_cast<std::size_t>(static_cast<const uint8_t*>(Zero) - N);
        if (Length != Name.size() || std::memcmp(N, Name.data(), Length) != 0)
            continue;
        if (S.Type == ShtNobits || S.Offset > FileSize || S.Size > FileSize - S.Offset)
            return std::nullopt;
        return TSectionPlace{S.Offset, S.Size};
    }
    return std::nullopt;
}

bool ReadElfSection(const std::string& Path, const std::string& Name, std::vector<uint8_t>& Bytes,
                    std::size_t MaxSize)
{
    Bytes.clear();
    TFileSource File(Path);
    if (!File.Valid())
        return false;
    std::optional<TSectionPlace> Place = FindElfSection(File, Name);
    if (!Place || Place->Size > MaxSize)
        return false;
    Bytes.resize(static_cast<std::size_t>(Place->Size));
    if (!File.Read(Place->Offset, Bytes.data(), Bytes.size())) {
        Bytes.clear();
        return false;
    }
    return true;
}

// ---- The calls ----

uint32_t GetFileVersionInfoSize(const std::string& Path, uint32_t* Handle)
{
    if (Handle)
        *Handle = 0;
    std::vector<uint8_t> Bytes;
    if (!ReadElfSection(Path, SectionName, Bytes, MaxBlockSection))
        return 0;
    return static_cast<uint32_t>(BlockLength(Bytes.data(), Bytes.size()));
}

bool GetFileVersionInfo(const std::string& Path, uint32_t /*Handle*/, uint32_t Size, void* Data)
{
    if (!Data)
        return false;
    std::vector<uint8_t> Bytes;
    if (!ReadElfSection(Path, SectionName, Bytes, MaxBlockSection))
        return false;
    std::size_t Length = BlockLength(Bytes.data(), Bytes.size());
    if (Length == 0 || Length > Size)
        return false;
    std::memcpy(Data, Bytes.data(), Length);
    return true;
}

bool VerQueryValue(const void* Block, const std::string& SubBlock, const void** Buffer, uint32_t* Length)
{
    if (!Block)
        return false;
    const auto* B = static_cast<const uint8_t*>(Block);
    return QueryValue(B, Get16(B), SubBlock, Buffer, Length);
}

} // namespace VersionInfo
