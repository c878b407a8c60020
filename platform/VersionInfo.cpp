#include "platform/VersionInfo.h"

#include <algorithm>
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
// A block's root gives its length in 16 bits: no block is longer.
constexpr std::size_t MaxBlock = 0xFFFF;

std::size_t Align4(std::size_t X) { return (X + 3) & ~static_cast<std::size_t>(3); }

// A little-endian number of Bytes bytes.
uint64_t Get(const uint8_t* P, int Bytes)
{
    uint64_t V = 0;
    for (int I = Bytes - 1; I >= 0; --I)
        V = V << 8 | P[I];
    return V;
}

uint16_t Get16(const uint8_t* P) { return static_cast<uint16_t>(Get(P, 2)); }

void Put16(std::vector<uint8_t>& Out, std::size_t At, uint16_t V)
{
    Out[At] = static_cast<uint8_t>(V);
    Out[At + 1] = static_cast<uint8_t>(V >> 8);
}

void PadTo4(std::vector<uint8_t>& Out)
{
    while (Out.size() % 4)
        Out.push_back(0);
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
        N.ValueBegin = std::min(N.ValueBegin, N.End);
        N.ChildrenBegin = Align4(N.KeyBegin + N.KeyLength + 1);
    }
    return true;
}

bool KeyIs(const uint8_t* Block, const TNodeView& N, const std::string& Key)
{
    return N.KeyLength == Key.size() && std::memcmp(Block + N.KeyBegin, Key.data(), Key.size()) == 0;
}

bool ParseRoot(const uint8_t* Block, std::size_t Size, TNodeView& Root)
{
    return Block && ParseNode(Block, 0, Size, Root) && KeyIs(Block, Root, RootKey);
}

bool FindChild(const uint8_t* Block, const TNodeView& Parent, const std::string& Key, TNodeView& Child)
{
    std::size_t At = Parent.ChildrenBegin;
    while (At < Parent.End && Parent.End - At >= NodeHeader) {
        if (!ParseNode(Block, At, Parent.End, Child))
            return false;
        if (KeyIs(Block, Child, Key))
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
    if (Node.Value.size() > MaxBlock)
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
    if (Out.size() > MaxBlock)
        throw Exception("The version block is too large");
    Put16(Out, 0, static_cast<uint16_t>(Out.size()));
    Put16(Out, 2, static_cast<uint16_t>(Node.Value.size()));
    Put16(Out, 4, Node.Type);
    return Out;
}

std::vector<uint8_t> BuildVersionBlock(const TVersionData& Data)
{
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
        for (uint16_t V : {Language, CodePage}) {
            Translation.Value.push_back(static_cast<uint8_t>(V));
            Translation.Value.push_back(static_cast<uint8_t>(V >> 8));
        }
    TVersionNode Vars{"VarFileInfo", 1, {}, {}};
    Vars.Children.push_back(std::move(Translation));

    TVersionNode Root{RootKey, 0, {}, {}};
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

// ---- ELF ----

namespace {

constexpr std::size_t EhdrSize = 64;
constexpr std::size_t ShdrSize = 64;
constexpr uint32_t ShtNobits = 8;
// Our executables name a few dozen sections in a few hundred bytes; a name
// table beyond this is no table of ours and is not read into memory.
constexpr uint64_t MaxNameTable = 64u << 10;

// The image's own bytes of a section header: none for a section without
// file bytes, or one reaching past the image.
std::optional<TSectionPlace> PlaceOf(const uint8_t* Header, uint64_t ImageSize)
{
    const uint64_t Offset = Get(Header + 24, 8), Size = Get(Header + 32, 8);
    if (Get(Header + 4, 4) == ShtNobits || Offset > ImageSize || Size > ImageSize - Offset)
        return std::nullopt;
    return TSectionPlace{Offset, Size};
}

} // namespace

std::optional<TSectionPlace> FindElfSection(const TReadAt& Read, uint64_t ImageSize, const std::string& Name)
{
    // Magic, 64-bit class, little-endian, version 1.
    static const uint8_t Ident[] = {0x7F, 'E', 'L', 'F', 2, 1, 1};
    uint8_t H[EhdrSize];
    if (!Read(0, H, sizeof H) || std::memcmp(H, Ident, sizeof Ident) != 0)
        return std::nullopt;
    const uint64_t ShOff = Get(H + 0x28, 8);
    const uint64_t ShEntSize = Get(H + 0x3A, 2), ShNum = Get(H + 0x3C, 2), ShStrNdx = Get(H + 0x3E, 2);
    // Extended numbering (a count of 0, an index of 0xFFFF) fails here too.
    if (ShEntSize != ShdrSize || ShStrNdx >= ShNum || ShOff > ImageSize || ShNum > (ImageSize - ShOff) / ShdrSize)
        return std::nullopt;
    std::vector<uint8_t> Table(static_cast<std::size_t>(ShNum * ShdrSize));
    if (!Read(ShOff, Table.data(), Table.size()))
        return std::nullopt;

    const std::optional<TSectionPlace> Names = PlaceOf(&Table[ShStrNdx * ShdrSize], ImageSize);
    if (!Names || Names->Size > MaxNameTable)
        return std::nullopt;
    std::vector<char> NameTable(static_cast<std::size_t>(Names->Size));
    if (!Read(Names->Offset, NameTable.data(), NameTable.size()))
        return std::nullopt;

    for (std::size_t I = 0; I < ShNum; ++I) {
        const uint8_t* Header = &Table[I * ShdrSize];
        const uint64_t At = Get(Header, 4);
        // The name and its terminating zero lie within the table.
        if (At < NameTable.size() && NameTable.size() - At > Name.size() &&
            std::memcmp(&NameTable[At], Name.data(), Name.size()) == 0 && NameTable[At + Name.size()] == 0)
            return PlaceOf(Header, ImageSize);
    }
    return std::nullopt;
}

// ---- The calls ----

namespace {

// The version block of the file at Path, or nothing.
std::vector<uint8_t> ReadBlock(const std::string& Path)
{
    struct TFd {
        int Fd;
        ~TFd()
        {
            if (Fd >= 0)
                close(Fd);
        }
    } File{open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    struct stat St;
    if (File.Fd < 0 || fstat(File.Fd, &St) != 0 || !S_ISREG(St.st_mode))
        return {};
    const TReadAt Read = [Fd = File.Fd](uint64_t Offset, void* Dst, std::size_t Count) {
        auto* P = static_cast<uint8_t*>(Dst);
        while (Count > 0) {
            const ssize_t N = pread(Fd, P, Count, static_cast<off_t>(Offset));
            if (N < 0 && errno == EINTR)
                continue;
            if (N <= 0)
                return false;
            P += N;
            Offset += static_cast<uint64_t>(N);
            Count -= static_cast<std::size_t>(N);
        }
        return true;
    };
    const std::optional<TSectionPlace> Place = FindElfSection(Read, static_cast<uint64_t>(St.st_size), SectionName);
    if (!Place)
        return {};
    // The linker may pad the section; the block is at its start.
    std::vector<uint8_t> Bytes(static_cast<std::size_t>(std::min<uint64_t>(Place->Size, MaxBlock)));
    if (!Read(Place->Offset, Bytes.data(), Bytes.size()))
        return {};
    Bytes.resize(BlockLength(Bytes.data(), Bytes.size()));
    return Bytes;
}

} // namespace

uint32_t GetFileVersionInfoSize(const std::string& Path, uint32_t* Handle)
{
    if (Handle)
        *Handle = 0;
    return static_cast<uint32_t>(ReadBlock(Path).size());
}

bool GetFileVersionInfo(const std::string& Path, uint32_t /*Handle*/, uint32_t Size, void* Data)
{
    if (!Data)
        return false;
    const std::vector<uint8_t> Block = ReadBlock(Path);
    if (Block.empty() || Block.size() > Size)
        return false;
    std::memcpy(Data, Block.data(), Block.size());
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
