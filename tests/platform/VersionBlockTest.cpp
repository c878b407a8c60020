// The version block format on its own bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/Exception.h"
#include "platform/VersionInfo.h"

using namespace VersionInfo;

namespace {

TVersionData TwoTranslations()
{
    TVersionData D;
    D.Translations = {{0x0419, 0x04E3}, {0x0409, 0x04B0}};
    D.StringTables = {{"041904E3", {{"ProductName", "Velmor"}, {"FileVersion", "1.2.3.4"}}},
                      {"040904B0", {{"FileVersion", "9.9"}, {"Comments", ""}}}};
    return D;
}

std::string Text(const std::vector<uint8_t>& Block, const std::string& Path)
{
    const void* P = nullptr;
    uint32_t Length = 0;
    if (!QueryValue(Block.data(), Block.size(), Path, &P, &Length))
        return "(none)";
    return std::string(static_cast<const char*>(P));
}

TEST(VersionBlock, QueriesTranslationsAndStrings)
{
    std::vector<uint8_t> Block = BuildVersionBlock(TwoTranslations());
    EXPECT_EQ(Block.size() % 4, 0u);
    EXPECT_EQ(BlockLength(Block.data(), Block.size()), Block.size());

    const void* P = nullptr;
    uint32_t Length = 0;
    ASSERT_TRUE(QueryValue(Block.data(), Block.size(), "\\VarFileInfo\\Translation", &P, &Length));
    ASSERT_EQ(Length, 8u);
    const uint8_t Expected[] = {0x19, 0x04, 0xE3, 0x04, 0x09, 0x04, 0xB0, 0x04};
    EXPECT_EQ(std::memcmp(P, Expected, 8), 0);

    ASSERT_TRUE(QueryValue(Block.data(), Block.size(), "\\StringFileInfo\\041904E3\\FileVersion", &P, &Length));
    EXPECT_STREQ(static_cast<const char*>(P), "1.2.3.4");
    EXPECT_EQ(Length, 8u); // with the terminating zero

    EXPECT_EQ(Text(Block, "\\StringFileInfo\\040904B0\\FileVersion"), "9.9");
    EXPECT_EQ(Text(Block, "\\StringFileInfo\\040904b0\\FileVersion"), "(none)"); // keys match exactly
    EXPECT_EQ(Text(Block, "StringFileInfo\\041904E3\\ProductName"), "Velmor");
    EXPECT_EQ(Text(Block, "\\StringFileInfo\\040904B0\\Comments"), "");
    EXPECT_EQ(Text(Block, "\\StringFileInfo\\040904B0\\ProductName"), "(none)");
    EXPECT_EQ(Text(Block, "\\StringFileInfo\\041904E4\\FileVersion"), "(none)");
    EXPECT_EQ(Text(Block, "\\StringFileInfo\\041904E3\\FileVersion\\More"), "(none)");
}

TEST(VersionBlock, TranslationNameIsEightUpperCaseDigits)
{
    EXPECT_EQ(TranslationName(0x0419, 0x04E3), "041904E3");
    EXPECT_EQ(TranslationName(0x0009, 0x00AB), "000900AB");
    EXPECT_EQ(TranslationName(0xFFFF, 0x0000), "FFFF0000");
}

TEST(VersionBlock, OtherRootOrTrailingBytes)
{
    std::vector<uint8_t> Block = BuildVersionBlock(TwoTranslations());
    std::vector<uint8_t> Padded = Block;
    Padded.resize(Block.size() + 7, 0xEE);
    EXPECT_EQ(BlockLength(Padded.data(), Padded.size()), Block.size());

    std::vector<uint8_t> Other = SerializeNode(TVersionNode{"SOMETHING_ELSE", 0, {1, 2, 3, 4}, {}});
    EXPECT_EQ(BlockLength(Other.data(), Other.size()), 0u);
    const void* P;
    uint32_t Length;
    EXPECT_FALSE(QueryValue(Other.data(), Other.size(), "\\", &P, &Length));
    EXPECT_EQ(BlockLength(nullptr, 0), 0u);
}

TEST(VersionBlock, TextWithoutItsZeroIsNotReturned)
{
    TVersionNode Root{"VS_VERSION_INFO", 0, {}, {}};
    Root.Children.push_back(TVersionNode{"Broken", 1, {'1', '.', '0'}, {}});
    Root.Children.push_back(TVersionNode{"Bytes", 0, {'1', '.', '0'}, {}});
    std::vector<uint8_t> Block = SerializeNode(Root);
    const void* P;
    uint32_t Length;
    EXPECT_FALSE(QueryValue(Block.data(), Block.size(), "\\Broken", &P, &Length));
    ASSERT_TRUE(QueryValue(Block.data(), Block.size(), "\\Bytes", &P, &Length));
    EXPECT_EQ(Length, 3u);
}

TEST(VersionBlock, ChildClaimingMoreThanItsParentIsNotFollowed)
{
    TVersionNode Root{"VS_VERSION_INFO", 0, {}, {}};
    Root.Children.push_back(TVersionNode{"A", 1, {}, {TVersionNode{"B", 1, {'x', 0}, {}}}});
    std::vector<uint8_t> Block = SerializeNode(Root);
    ASSERT_EQ(Text(Block, "\\A\\B"), "x");
    // A's header starts right after the root's key "VS_VERSION_INFO" (at 24).
    ASSERT_EQ(Block[24 + 6], 'A');
    Block[24] = static_cast<uint8_t>(Block[24] + 4); // A's length now runs past the root
    EXPECT_EQ(Text(Block, "\\A\\B"), "(none)");
}

TEST(VersionBlock, SerializeRejectsWhatCannotBeHeld)
{
    EXPECT_THROW(SerializeNode(TVersionNode{std::string("a\0b", 3), 1, {}, {}}), Exception);
    TVersionNode Big{"VS_VERSION_INFO", 0, std::vector<uint8_t>(0xFFF0, 1), {}};
    EXPECT_THROW(SerializeNode(Big), Exception);
}

// Every prefix of a block, in a buffer of exactly that size, is no block.
TEST(VersionBlock, TruncatedBlocksAreRejected)
{
    std::vector<uint8_t> Block = BuildVersionBlock(TwoTranslations());
    for (std::size_t N = 0; N < Block.size(); ++N) {
        std::unique_ptr<uint8_t[]> Copy(new uint8_t[N ? N : 1]);
        std::memcpy(Copy.get(), Block.data(), N);
        const void* P;
        uint32_t Length;
        EXPECT_EQ(BlockLength(Copy.get(), N), 0u) << N;
        EXPECT_FALSE(QueryValue(Copy.get(), N, "\\StringFileInfo\\041904E3\\FileVersion", &P, &Length)) << N;
    }
}

// Any single corrupted byte: no read outside the block, and whatever a query
// returns lies inside it (a text ends in its zero).
TEST(VersionBlock, CorruptBytesStayWithinTheBlock)
{
    const std::vector<uint8_t> Block = BuildVersionBlock(TwoTranslations());
    const char* Paths[] = {"\\VarFileInfo\\Translation", "\\StringFileInfo\\041904E3\\FileVersion",
                           "\\StringFileInfo\\040904B0\\Comments"};
    for (std::size_t At = 0; At < Block.size(); ++At) {
        for (uint8_t V : {uint8_t{0}, uint8_t{0xFF}, static_cast<uint8_t>(Block[At] + 1),
                          static_cast<uint8_t>(Block[At] - 1)}) {
            std::unique_ptr<uint8_t[]> Copy(new uint8_t[Block.size()]);
            std::memcpy(Copy.get(), Block.data(), Block.size());
            Copy[At] = V;
            for (const char* Path : Paths) {
                const void* P = nullptr;
                uint32_t Length = 0;
                if (!QueryValue(Copy.get(), Block.size(), Path, &P, &Length))
                    continue;
                if (Length == 0)
                    continue;
                const uint8_t* Begin = Copy.get();
                const uint8_t* Value = static_cast<const uint8_t*>(P);
                ASSERT_GE(Value, Begin);
                ASSERT_LE(Value + Length, Begin + Block.size()) << At << " " << Path;
            }
        }
    }
}

} // namespace
