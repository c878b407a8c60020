// Finding a named section in ELF images, and the three calls of the
// version-information service on files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/VersionInfo.h"
#include "tests/platform/ElfImage.h"
#include "tests/support/TempFolder.h"

using namespace VersionInfo;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const std::string& S) { return std::vector<uint8_t>(S.begin(), S.end()); }

ElfImage::TImage Sample()
{
    return ElfImage::Build({{".text", Bytes("code")},
                            {".velmor_version", Bytes("first")},
                            {".velmor", Bytes("prefix")},
                            {".velmor_version", Bytes("second")}});
}

std::optional<TSectionPlace> Find(const std::vector<uint8_t>& B, const std::string& Name)
{
    // A copy of exactly the image's size, so a read beyond it is caught by
    // the sanitizers.
    const std::size_t Size = B.size();
    std::unique_ptr<uint8_t[]> Copy(new uint8_t[Size ? Size : 1]);
    if (Size)
        std::memcpy(Copy.get(), B.data(), Size);
    const uint8_t* Image = Copy.get();
    return FindElfSection(
        [Image, Size](uint64_t Offset, void* Dst, std::size_t Count) {
            if (Offset > Size || Count > Size - Offset)
                return false;
            if (Count)
                std::memcpy(Dst, Image + Offset, Count);
            return true;
        },
        Size, Name);
}

TEST(ElfReader, FindsTheFirstSectionOfTheExactName)
{
    ElfImage::TImage Img = Sample();
    auto P = Find(Img.Bytes, ".velmor_version");
    ASSERT_TRUE(P);
    EXPECT_EQ(P->Offset, Img.Offsets[1]);
    EXPECT_EQ(P->Size, 5u);
    P = Find(Img.Bytes, ".velmor");
    ASSERT_TRUE(P);
    EXPECT_EQ(P->Offset, Img.Offsets[2]);
    EXPECT_FALSE(Find(Img.Bytes, ".velmor_versio"));
    EXPECT_FALSE(Find(Img.Bytes, ".data"));
}

TEST(ElfReader, TruncatedImagesGiveNothing)
{
    ElfImage::TImage Img = Sample();
    for (std::size_t N = 0; N < Img.Bytes.size(); ++N) {
        std::vector<uint8_t> Part(Img.Bytes.begin(), Img.Bytes.begin() + static_cast<std::ptrdiff_t>(N));
        EXPECT_FALSE(Find(Part, ".velmor_version")) << N;
    }
}

TEST(ElfReader, CorruptHeadersGiveNothing)
{
    const ElfImage::TImage Img = Sample();
    struct Patch {
        const char* What;
        std::function<std::size_t(const ElfImage::TImage&)> At;
        uint64_t Value;
        int Bytes;
    };
    auto Fixed = [](std::size_t At) { return [At](const ElfImage::TImage&) { return At; }; };
    auto Section = [](std::size_t Index, std::size_t Field) {
        return [Index, Field](const ElfImage::TImage& I) { return I.Header(Index) + Field; };
    };
    const Patch Patches[] = {
        {"magic", Fixed(1), 'X', 1},
        {"32-bit class", Fixed(4), 1, 1},
        {"big-endian", Fixed(5), 2, 1},
        {"version", Fixed(6), 0, 1},
        {"no section table", Fixed(ElfImage::ShOffField), 0, 8},
        {"table beyond the file", Fixed(ElfImage::ShOffField), 1u << 30, 8},
        {"table offset near the top", Fixed(ElfImage::ShOffField), 0xFFFFFFFFFFFFFFF0u, 8},
        {"short entries", Fixed(ElfImage::ShEntSizeField), 32, 2},
        {"long entries", Fixed(ElfImage::ShEntSizeField), 128, 2},
        {"more entries than fit", Fixed(ElfImage::ShNumField), 200, 2},
        {"extended count", Fixed(ElfImage::ShNumField), 0, 2},
        {"name table index out of range", Fixed(ElfImage::ShStrNdxField), 6, 2},
        {"extended name table index", Fixed(ElfImage::ShStrNdxField), 0xFFFF, 2},
        {"name table beyond the file", Section(5, ElfImage::ShOffset), 1u << 30, 8},
        {"name table size overflows", Section(5, ElfImage::ShSize), 0xFFFFFFFFFFFFFFFFu, 8},
        {"name table without bytes", Section(5, ElfImage::ShType), 8, 4},
        {"name offset beyond the name table", Section(2, ElfImage::ShName), 1000, 4},
        {"section beyond the file", Section(2, ElfImage::ShOffset), 1u << 30, 8},
        {"section size overflows", Section(2, ElfImage::ShSize), 0xFFFFFFFFFFFFFFFFu, 8},
        {"section without bytes", Section(2, ElfImage::ShType), 8, 4},
    };
    for (const Patch& P : Patches) {
        ElfImage::TImage Bad = Img;
        ElfImage::Put(Bad.Bytes, P.At(Bad), P.Value, P.Bytes);
        auto Found = Find(Bad.Bytes, ".velmor_version");
        // A skipped name lets the later section of the same name be found.
        if (std::string(P.What) == "name offset beyond the name table") {
            ASSERT_TRUE(Found);
            EXPECT_EQ(Found->Offset, Img.Offsets[3]);
        } else {
            EXPECT_FALSE(Found) << P.What;
        }
    }
}

TEST(ElfReader, UnterminatedNameAtTheEndOfTheNameTable)
{
    ElfImage::TImage Img = ElfImage::Build({{".velmor_version", Bytes("x")}});
    // Cut the name table just before the zero of ".shstrtab", its last name,
    // and point the section at that unterminated tail.
    const std::size_t NameTable = Img.Header(2);
    uint64_t Size = 0;
    for (int I = 7; I >= 0; --I)
        Size = Size << 8 | Img.Bytes[NameTable + ElfImage::ShSize + static_cast<std::size_t>(I)];
    ElfImage::Put(Img.Bytes, NameTable + ElfImage::ShSize, Size - 1, 8);
    ElfImage::Put(Img.Bytes, Img.Header(1) + ElfImage::ShName, Size - 3, 4);
    EXPECT_FALSE(Find(Img.Bytes, "ab"));
    EXPECT_FALSE(Find(Img.Bytes, ".velmor_version"));
}

// A name table far larger than ours is not read, though it holds the name.
TEST(ElfReader, OversizedNameTableIsNotRead)
{
    std::vector<uint8_t> Names(70000, 0);
    const std::string Name = ".velmor_version";
    std::copy(Name.begin(), Name.end(), Names.begin() + 1);
    ElfImage::TImage Img = ElfImage::Build({{".names", Names}});
    ElfImage::Put(Img.Bytes, Img.Header(1) + ElfImage::ShName, 1, 4);
    ElfImage::Put(Img.Bytes, ElfImage::ShStrNdxField, 1, 2);
    EXPECT_FALSE(Find(Img.Bytes, Name));
    // The same table cut to a size of ours is read.
    ElfImage::Put(Img.Bytes, Img.Header(1) + ElfImage::ShSize, 1000, 8);
    EXPECT_TRUE(Find(Img.Bytes, Name));
}

// Random corruption of the whole image: never a read outside it, and a
// found section always lies inside it.
TEST(ElfReader, RandomCorruptionStaysInBounds)
{
    const ElfImage::TImage Img = Sample();
    uint64_t Seed = 0x9E3779B97F4A7C15u;
    auto Next = [&] {
        Seed ^= Seed << 13;
        Seed ^= Seed >> 7;
        Seed ^= Seed << 17;
        return Seed;
    };
    for (int Round = 0; Round < 3000; ++Round) {
        std::vector<uint8_t> B = Img.Bytes;
        int Changes = 1 + static_cast<int>(Next() % 4);
        for (int C = 0; C < Changes; ++C)
            B[Next() % B.size()] = static_cast<uint8_t>(Next());
        if (Next() % 4 == 0)
            B.resize(Next() % B.size());
        auto P = Find(B, ".velmor_version");
        if (P) {
            ASSERT_LE(P->Offset + P->Size, B.size());
        }
    }
}

class VersionFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestSupport::MakeTempFolder("velmor-elf", Dir);
    }
    void TearDown() override { fs::remove_all(Dir); }
    std::string Dir;
};

TEST_F(VersionFiles, ReadsTheBlockOfAFile)
{
    TVersionData D;
    D.Translations = {{0x0419, 0x04E3}};
    D.StringTables = {{"041904E3", {{"FileVersion", "2019.1.0.0"}}}};
    std::vector<uint8_t> Block = BuildVersionBlock(D);
    std::vector<uint8_t> Section = Block;
    Section.resize(Block.size() + 12, 0); // the linker may pad a section
    std::string Path = Dir + "/program";
    ASSERT_TRUE(ElfImage::WriteFile(Path, ElfImage::Build({{".text", Bytes("code")}, {SectionName, Section}}).Bytes));

    uint32_t Handle = 77;
    uint32_t Size = GetFileVersionInfoSize(Path, &Handle);
    EXPECT_EQ(Handle, 0u);
    ASSERT_EQ(Size, Block.size());

    std::vector<uint8_t> Small(Size - 1);
    EXPECT_FALSE(GetFileVersionInfo(Path, Handle, Size - 1, Small.data()));

    std::vector<uint8_t> Buffer(Size);
    ASSERT_TRUE(GetFileVersionInfo(Path, Handle, Size, Buffer.data()));
    EXPECT_EQ(Buffer, Block);
    const void* P;
    uint32_t Length;
    ASSERT_TRUE(VerQueryValue(Buffer.data(), "\\StringFileInfo\\041904E3\\FileVersion", &P, &Length));
    EXPECT_STREQ(static_cast<const char*>(P), "2019.1.0.0");
}

TEST_F(VersionFiles, FilesWithoutABlock)
{
    std::string Garbage = Dir + "/garbage";
    ASSERT_TRUE(ElfImage::WriteFile(Garbage, ElfImage::Build({{SectionName, Bytes("not a version block")}}).Bytes));
    std::string Text = Dir + "/text";
    ASSERT_TRUE(ElfImage::WriteFile(Text, Bytes("#!/bin/sh\necho hello\n")));
    std::string Empty = Dir + "/empty";
    ASSERT_TRUE(ElfImage::WriteFile(Empty, {}));
    // A program with a block, cut before its section table.
    TVersionData D;
    D.Translations = {{0x0419, 0x04E3}};
    D.StringTables = {{"041904E3", {{"FileVersion", "1.0"}}}};
    std::vector<uint8_t> Cut = ElfImage::Build({{SectionName, BuildVersionBlock(D)}}).Bytes;
    Cut.resize(Cut.size() - 64);
    std::string Truncated = Dir + "/truncated";
    ASSERT_TRUE(ElfImage::WriteFile(Truncated, Cut));
    std::string Fifo = Dir + "/fifo";
    ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
    // The test program itself: an ELF file of ours without the section.
    std::string Self = fs::read_symlink("/proc/self/exe").string();

    uint8_t Buffer[256];
    for (const std::string& Path : {Garbage, Text, Empty, Truncated, Fifo, Self, Dir, Dir + "/missing"}) {
        uint32_t Handle = 5;
        EXPECT_EQ(GetFileVersionInfoSize(Path, &Handle), 0u) << Path;
        EXPECT_FALSE(GetFileVersionInfo(Path, 0, sizeof Buffer, Buffer)) << Path;
    }
}

} // namespace
