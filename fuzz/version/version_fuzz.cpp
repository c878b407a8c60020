// Fuzz target of the version block reader. For arbitrary bytes, taken both
// as an ELF image and as a version block:
// - nothing is read outside the bytes (the sanitizers watch);
// - a section found lies inside the image;
// - a block's length is at most the bytes it was found in, and a value a
//   query returns lies inside the block;
// - a query gives the same answer on the block's own bytes as on the bytes
//   with whatever follows it, and through VerQueryValue, as the About window
//   calls it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/VersionInfo.h"

namespace {

void Check(bool Ok, const char* What)
{
    if (!Ok) {
        std::fprintf(stderr, "check failed: %s\n", What);
        std::abort();
    }
}

struct TAnswer {
    bool Found = false;
    const void* Value = nullptr;
    uint32_t Length = 0;
};

TAnswer Query(const uint8_t* Block, std::size_t Size, const std::string& Path)
{
    TAnswer A;
    A.Found = VersionInfo::QueryValue(Block, Size, Path, &A.Value, &A.Length);
    return A;
}

bool Same(const TAnswer& A, const TAnswer& B)
{
    return A.Found == B.Found && (!A.Found || (A.Value == B.Value && A.Length == B.Length));
}

// The About window's queries on a block in Data[0, Size), and a few more.
void CheckBlock(const uint8_t* Data, std::size_t Size)
{
    const std::size_t Length = VersionInfo::BlockLength(Data, Size);
    Check(Length <= Size, "a block lies within its bytes");
    if (Length == 0)
        return;
    std::string Paths[] = {"\\VarFileInfo\\Translation", "\\StringFileInfo\\041904E3\\FileVersion", "\\",
                           "\\StringFileInfo", ""};
    const TAnswer Translation = Query(Data, Length, Paths[0]);
    if (Translation.Found && Translation.Length >= 4) {
        const auto* E = static_cast<const uint8_t*>(Translation.Value);
        Paths[1] = "\\StringFileInfo\\" +
                   VersionInfo::TranslationName(static_cast<uint16_t>(E[0] | E[1] << 8),
                                                static_cast<uint16_t>(E[2] | E[3] << 8)) +
                   "\\FileVersion";
    }
    for (const std::string& Path : Paths) {
        const TAnswer Own = Query(Data, Length, Path);
        Check(Same(Own, Query(Data, Size, Path)), "bytes after the block change nothing");
        TAnswer Ver;
        Ver.Found = VersionInfo::VerQueryValue(Data, Path, &Ver.Value, &Ver.Length);
        Check(Same(Own, Ver), "VerQueryValue answers as QueryValue");
        if (Own.Found && Own.Length > 0) {
            const auto* V = static_cast<const uint8_t*>(Own.Value);
            Check(V >= Data && V <= Data + Length && Own.Length <= static_cast<std::size_t>(Data + Length - V),
                  "a value lies within its block");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size)
{
    const auto Read = [Data, Size](uint64_t Offset, void* Dst, std::size_t Count) {
        if (Offset > Size || Count > Size - Offset)
            return false;
        if (Count)
            std::memcpy(Dst, Data + Offset, Count);
        return true;
    };
    const auto Place = VersionInfo::FindElfSection(Read, Size, VersionInfo::SectionName);
    if (Place) {
        Check(Place->Offset <= Size && Place->Size <= Size - Place->Offset, "a section lies within its image");
        CheckBlock(Data + Place->Offset, static_cast<std::size_t>(Place->Size));
    }
    CheckBlock(Data, Size);
    return 0;
}
