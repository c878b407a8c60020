// Finding a named section in ELF64 images and files, and the three calls of
// the version-information service on files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include <unistd.h>

#include "platform/VersionInfo.h"
#include "tests/platform/ElfImage.h"

using namespace VersionInfo;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const std::string& S) { return std::vector<uint8_t>(S.begin(), S.end()); }

ElfImage::TImage Sample(bool Little = true)
{
    return ElfImage::Build({{".text", Bytes("code")},
                            {".velmor_version", Bytes("first")},
                            {".velmor", Bytes("prefix")},
                            {".velmor_version", Bytes("second")}},
                           Little);
}

std::optional<TSectionPlace> Find(const std::vector<uint8_t>& B, const std::string& Name)
{
    // A copy of exactly the image's size, so a read beyond it is caught by
    // the sanitizers.
    std::unique_ptr<uint8_t[]> Copy(new uint8_t[B.size() ? B.size() : 1]);
    if (!B.empty())
        std::memcpy(Copy.get(), B.data(), B.size());
    return FindElfSection(TMemorySource(Copy.get(), B.size()), Name);
}

TEST(ElfReader, FindsTheFirstSectionOfTheExactNameInEitherByteOrder)
{
    for (bool Little : {true, false}) {
        ElfImage::TImage Img = Sample(Little);
        auto P = Find(Img.Bytes, ".velmor_version");
        ASSERT_TRUE(P) << Little;
        EXPECT_EQ(P->Offset, Img.Offsets[1]);
        EXPECT_EQ(P->Size, 5u);
        P = Find(Img.Bytes, ".velmor");
        ASSERT_TRUE(P);
        EXPECT_EQ(P->Offset, Img.Offsets[2]);
        EXPECT_FALSE(Find(Img.Bytes, ".velmor_versio"));
        EXPECT_FALSE(Find(Img.Bytes, ".data"));
    }
}

TEST(ElfReader, ExtendedSectionNumbering)
{
    ElfImage::TImage Img = Sample();
    auto& B = Img.Bytes;
    const uint64_t Count = 6;
    ElfImage::Put(B, ElfImage::ShNumField, 0, 2);
    ElfImage::Put(B, ElfImage::ShStrNdxField, 0xFFFF, 2);
    ElfImage::Put(B, Img.Header(0) + ElfImage::ShSize, Count, 8);
    ElfImage::Put(B, Img.Header(0) + ElfImage::ShLink, Count - 1, 4);
    auto P = Find(B, ".velmor_version");
    ASSERT_TRUE(P);
    EXPECT_EQ(P->Offset, Img.Offsets[1]);
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
        {"byte order", Fixed(5), 3, 1},
        {"version", Fixed(6), 0, 1},
        {"no section table", Fixed(ElfImage::ShOffField), 0, 8},
        {"table beyond the file", Fixed(ElfImage::ShOffField), 1u << 30, 8},
        {"table offset near the top", Fixed(ElfImage::ShOffField), 0xFFFFFFFFFFFFFFF0u, 8},
        {"short entries", Fixed(ElfImage::ShEntSizeField), 32, 2},
        {"more entries than fit", Fixed(ElfImage::ShNumField), 200, 2},
        {"name table index out of range", Fixed(ElfImage::ShStrNdxField), 6, 2},
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
        char Template[] = "/tmp/velmor-elf-XXXXXX";
        ASSERT_NE(mkdtemp(Template), nullptr);
        Dir = Template;
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

    // The test program itself is an ELF64 file without the section, though
    // its other sections are found.
    std::string Self = fs::read_symlink("/proc/self/exe").string();
    std::vector<uint8_t> Found;
    EXPECT_TRUE(ReadElfSection(Self, ".text", Found, 1u << 30));
    EXPECT_FALSE(Found.empty());

    uint8_t Buffer[256];
    for (const std::string& Path : {Garbage, Text, Empty, Self, Dir, Dir + "/missing"}) {
        uint32_t Handle = 5;
        EXPECT_EQ(GetFileVersionInfoSize(Path, &Handle), 0u) << Path;
        EXPECT_FALSE(GetFileVersionInfo(Path, 0, sizeof Buffer, Buffer)) << Path;
    }
    EXPECT_FALSE(ReadElfSection(Self, SectionName, Found, 1u << 20));
}

TEST_F(VersionFiles, OversizedSectionIsNotRead)
{
    std::string Path = Dir + "/big";
    ASSERT_TRUE(ElfImage::WriteFile(Path, ElfImage::Build({{".big", std::vector<uint8_t>(4096, 1)}}).Bytes));
    std::vector<uint8_t> B;
    EXPECT_FALSE(ReadElfSection(Path, ".big", B, 4095));
    EXPECT_TRUE(ReadElfSection(Path, ".big", B, 4096));
    EXPECT_EQ(B.size(), 4096u);
}

} // namespace
