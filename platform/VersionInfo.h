#pragma once

// The executable's version block. Linux executables carry no version
// resource, so the build places our own equivalent in the ELF section
// ".velmor_version" of the panel's executable, and this layer reads it back
// with the three calls the About window needs.
//
// The block is a tree of nodes, every number little-endian:
//   uint16 Length       bytes of the node with its children (no trailing padding)
//   uint16 ValueLength  bytes of the value
//   uint16 Type         1 text (the value is a zero-terminated string), 0 binary
//   char   Key[]        zero-terminated
//   padding to a multiple of 4 bytes from the start of the block
//   Value[ValueLength], padding to a multiple of 4
//   children, each starting at a multiple of 4
// The root is keyed "VS_VERSION_INFO" and holds a fixed information record
// (TFixedFileInfo). Its children: "StringFileInfo" with one string table per
// translation, keyed by 8 hexadecimal digits of language and code page
// ("041904E3"), holding text nodes such as "FileVersion"; and "VarFileInfo"
// with "Translation", whose binary value is the table of 16-bit language and
// code-page pairs.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace VersionInfo {

// Name of the ELF section that holds the block.
inline constexpr const char* SectionName = ".velmor_version";

// ---- The block format ----

struct TVersionNode {
    std::string Key;
    uint16_t Type = 1;
    std::vector<uint8_t> Value;
    std::vector<TVersionNode> Children;
};

// The bytes of a node and its children. Throws Exception when a node grows
// beyond 65535 bytes or a key holds a zero byte.
std::vector<uint8_t> SerializeNode(const TVersionNode& Node);

struct TStringTable {
    std::string Name; // 8 hexadecimal digits, as TranslationName gives them
    std::vector<std::pair<std::string, std::string>> Strings;
};

struct TVersionData {
    uint16_t FileVersion[4] = {0, 0, 0, 0};
    uint16_t ProductVersion[4] = {0, 0, 0, 0};
    std::vector<std::pair<uint16_t, uint16_t>> Translations; // language, code page
    std::vector<TStringTable> StringTables;
};

// The fixed information record, the root's value (52 bytes).
struct TFixedFileInfo {
    uint32_t Signature = 0xFEEF04BD;
    uint32_t StrucVersion = 0x00010000;
    uint32_t FileVersionMS = 0, FileVersionLS = 0;
    uint32_t ProductVersionMS = 0, ProductVersionLS = 0;
    uint32_t FileFlagsMask = 0x3F, FileFlags = 0;
    uint32_t FileOS = 0, FileType = 1, FileSubtype = 0;
    uint32_t FileDateMS = 0, FileDateLS = 0;
};
inline constexpr std::size_t FixedFileInfoSize = 52;

std::vector<uint8_t> BuildVersionBlock(const TVersionData& Data);

// Language and code page as 8 upper-case hexadecimal digits: 0x0419, 0x04E3
// give "041904E3".
std::string TranslationName(uint16_t Language, uint16_t CodePage);

// The length of a well-formed block at the start of Data (its root's
// Length), or 0 when Data holds none.
std::size_t BlockLength(const uint8_t* Data, std::size_t Size);

// Looks up a value by sub-block path ("\" the fixed record,
// "\VarFileInfo\Translation", "\StringFileInfo\041904E3\FileVersion"); keys
// match regardless of ASCII letter case. Never reads outside Block[0, Size).
// On success Value points into the block (a text value: a zero-terminated
// string) and Length is the value's length in bytes, for a text value the
// number of characters with the terminating zero.
bool QueryValue(const uint8_t* Block, std::size_t Size, const std::string& SubBlock,
                const void** Value, uint32_t* Length);

// ---- ELF64 files ----

// Random access to the bytes of a file or an image.
class TByteSource {
public:
    virtual ~TByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads Count bytes at Offset; false when they are not all there.
    virtual bool Read(uint64_t Offset, void* Dst, std::size_t Count) const = 0;
};

class TMemorySource : public TByteSource {
public:
    TMemorySource(const uint8_t* Data, std::size_t Size) : FData(Data), FSize(Size) {}
    uint64_t Size() const override { return FSize; }
    bool Read(uint64_t Offset, void* Dst, std::size_t Count) const override;

private:
    const uint8_t* FData;
    std::size_t FSize;
};

struct TSectionPlace {
    uint64_t Offset;
    uint64_t Size;
};

// Finds the first section named Name in an ELF64 image (either byte order).
// Every offset and size is checked against the image; a truncated or
// corrupt image, or a section without file bytes, gives no result.
std::optional<TSectionPlace> FindElfSection(const TByteSource& Source, const std::string& Name);

// The bytes of section Name of the ELF64 file at Path; false when the file
// cannot be read, is no ELF64 file, lacks the section or the section is
// larger than MaxSize.
bool ReadElfSection(const std::string& Path, const std::string& Name, std::vector<uint8_t>& Bytes,
                    std::size_t MaxSize);

// ---- The calls of the version-information service ----

// The size of the version block of the executable at Path, or 0 when it has
// none. Handle, when given, is set to 0 (it has no meaning here).
uint32_t GetFileVersionInfoSize(const std::string& Path, uint32_t* Handle);

// Reads the version block into Data (Size bytes). False when the file has
// no block or the block does not fit into Size bytes.
bool GetFileVersionInfo(const std::string& Path, uint32_t Handle, uint32_t Size, void* Data);

// QueryValue on a block that GetFileVersionInfo has filled (its length is
// taken from the block's root).
bool VerQueryValue(const void* Block, const std::string& SubBlock, const void** Buffer, uint32_t* Length);

} // namespace VersionInfo
