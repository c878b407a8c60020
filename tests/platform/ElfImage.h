#pragma once
// Builds small ELF64 little-endian images with chosen sections, as our
// builds produce them, for the tests of the ELF reader and of the About
// window.

#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace ElfImage {

// Field places, for tests that corrupt an image.
inline constexpr std::size_t ShOffField = 0x28, ShEntSizeField = 0x3A, ShNumField = 0x3C,
                             ShStrNdxField = 0x3E;
inline constexpr std::size_t ShName = 0, ShType = 4, ShOffset = 24, ShSize = 32, ShLink = 40;

struct TImage {
    std::vector<uint8_t> Bytes;
    uint64_t ShOff = 0;           // the section header table
    std::vector<uint64_t> Offsets; // file offset of each given section's bytes
    // Offset of section header Index (0 is the null section, the given
    // sections follow from 1, the name table last).
    std::size_t Header(std::size_t Index) const { return static_cast<std::size_t>(ShOff + 64 * Index); }
};

inline void Put(std::vector<uint8_t>& B, std::size_t At, uint64_t V, int Bytes)
{
    for (int I = 0; I < Bytes; ++I)
        B[At + static_cast<std::size_t>(I)] = static_cast<uint8_t>(V >> (8 * I));
}

inline TImage Build(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& Sections)
{
    TImage Img;
    std::vector<uint8_t>& B = Img.Bytes;
    B.assign(64, 0);
    const uint8_t Ident[] = {0x7F, 'E', 'L', 'F', 2, 1, 1};
    for (std::size_t I = 0; I < sizeof Ident; ++I)
        B[I] = Ident[I];
    Put(B, 0x10, 2, 2);  // ET_EXEC
    Put(B, 0x12, 62, 2); // x86-64
    Put(B, 0x14, 1, 4);
    Put(B, 0x34, 64, 2);

    std::vector<uint8_t> Names(1, 0);
    std::vector<uint32_t> NameAt;
    for (const auto& S : Sections) {
        while (B.size() % 8)
            B.push_back(0);
        Img.Offsets.push_back(B.size());
        B.insert(B.end(), S.second.begin(), S.second.end());
        NameAt.push_back(static_cast<uint32_t>(Names.size()));
        Names.insert(Names.end(), S.first.begin(), S.first.end());
        Names.push_back(0);
    }
    const uint32_t StrName = static_cast<uint32_t>(Names.size());
    const std::string Shstrtab = ".shstrtab";
    Names.insert(Names.end(), Shstrtab.begin(), Shstrtab.end());
    Names.push_back(0);
    const uint64_t NamesAt = B.size();
    B.insert(B.end(), Names.begin(), Names.end());
    while (B.size() % 8)
        B.push_back(0);

    const std::size_t Count = Sections.size() + 2;
    Img.ShOff = B.size();
    B.resize(B.size() + 64 * Count, 0);
    for (std::size_t I = 0; I < Sections.size(); ++I) {
        std::size_t H = Img.Header(I + 1);
        Put(B, H + ShName, NameAt[I], 4);
        Put(B, H + ShType, 1, 4); // PROGBITS
        Put(B, H + ShOffset, Img.Offsets[I], 8);
        Put(B, H + ShSize, Sections[I].second.size(), 8);
    }
    std::size_t H = Img.Header(Count - 1);
    Put(B, H + ShName, StrName, 4);
    Put(B, H + ShType, 3, 4); // STRTAB
    Put(B, H + ShOffset, NamesAt, 8);
    Put(B, H + ShSize, Names.size(), 8);

    Put(B, ShOffField, Img.ShOff, 8);
    Put(B, ShEntSizeField, 64, 2);
    Put(B, ShNumField, Count, 2);
    Put(B, ShStrNdxField, Count - 1, 2);
    return Img;
}

inline bool WriteFile(const std::string& Path, const std::vector<uint8_t>& Bytes)
{
    std::ofstream F(Path, std::ios::binary | std::ios::trunc);
    F.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
    return static_cast<bool>(F);
}

} // namespace ElfImage
