#pragma once

// The executable's version block. Linux executables carry no version
// resource, so the build places our own equivalent in the ELF section
// ".velmor_version" of the panel's executable (app/VersionBlock.cmake), and
// this layer reads it back with the three calls the About window needs.
//
// The block is a tree of nodes, every number little-endian:
//   uint16 Length       bytes of the node with its children (no trailing padding)
//   uint16 ValueLength  bytes of the value
//   uint16 Type         1 text (the value is a zero-terminated string), 0 binary
//   char   Key[]        zero-terminated
//   padding to a multiple of 4 bytes from the start of the block
//   Value[ValueLength], padding to a multiple of 4
//   children, each starting at a multiple of 4
// The root is keyed "VS_VERSION_INFO". Its children: "StringFileInfo" with
// one string table per translation, keyed by 8 hexadecimal digits of
// language and code page ("041904E3"), holding text nodes such as
// "FileVersion"; and "VarFileInfo" with "Translation", whose binary value is
// the table of 16-bit language and code-page pairs.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace VersionInfo {

// Name of the ELF section that holds the block.
inline constexpr const char* SectionName = ".velmor_version";

// ---- Writing a block (the build tool and the tests) ----

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
    std::vector<std::pair<uint16_t, uint16_t>> Translations; // language, code page
    std::vector<TStringTable> StringTables;
};

std::vector<uint8_t> BuildVersionBlock(const TVersionData& Data);

// Language and code page as 8 upper-case hexadecimal digits: 0x0419, 0x04E3
// give "041904E3".
std::string TranslationName(uint16_t Language, uint16_t CodePage);

// ---- Reading a block ----

// The length of a well-formed block at the start of Data (its root's
// Length), or 0 when Data holds none.
std::size_t BlockLength(const uint8_t* Data, std::size_t Size);

// Looks up a value by sub-block path ("\VarFileInfo\Translation",
// "\StringFileInfo\041904E3\FileVersion"); keys match exactly. Never reads
// outside Block[0, Size). On success Value points into the block (a text
// value: a zero-terminated string) and Length is the value's length in
// bytes, for a text value the number of characters with the terminating
// zero. A text value without its zero is not found.
bool QueryValue(const uint8_t* Block, std::size_t Size, const std::string& SubBlock,
                const void** Value, uint32_t* Length);

// ---- Finding the section ----

// Reads Count bytes at Offset of an image into Dst; false when they are not
// all there.
using TReadAt = std::function<bool(uint64_t Offset, void* Dst, std::size_t Count)>;

struct TSectionPlace {
    uint64_t Offset;
    uint64_t Size;
};

// Finds the first section named Name in an image of ImageSize bytes. Only
// what our builds produce is read: 64-bit little-endian ELF with the plain
// section numbering; anything else, a truncated or corrupt image, or a
// section without file bytes, gives no result.
std::optional<TSectionPlace> FindElfSection(const TReadAt& Read, uint64_t ImageSize, const std::string& Name);

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
