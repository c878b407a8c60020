#include "ui/DeviceLibrary.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "device/LibraryMark.h"
#include "device/velmor.h"
#include "platform/VersionInfo.h"

namespace DeviceLibrary {

std::string LoadedFile()
{
    Dl_info Info;
    std::memset(&Info, 0, sizeof Info);
    if (::dladdr(reinterpret_cast<void*>(&VLM_OpenDevice), &Info) == 0 || !Info.dli_fname || !*Info.dli_fname)
        return {};
    return Info.dli_fname;
}

bool CarriesLinkMark(const std::string& Path)
{
    const int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0)
        return false;
    struct stat St;
    bool Marked = false;
    if (::fstat(Fd, &St) == 0 && S_ISREG(St.st_mode)) {
        auto Read = [Fd](uint64_t Offset, void* Dst, std::size_t Count) {
            return ::pread(Fd, Dst, Count, static_cast<off_t>(Offset)) == static_cast<ssize_t>(Count);
        };
        const auto Place =
            VersionInfo::FindElfSection(Read, static_cast<uint64_t>(St.st_size), LibraryMark::SectionName);
        // The note: name size, descriptor size, type, the name padded to 4,
        // the format version.
        constexpr std::size_t NameSize = sizeof LibraryMark::NoteName;
        constexpr std::size_t NameRoom = (NameSize + 3) / 4 * 4;
        unsigned char Note[12 + NameRoom + 4];
        if (Place && Place->Size >= sizeof Note && Read(Place->Offset, Note, sizeof Note)) {
            uint32_t Head[3];
            std::memcpy(Head, Note, sizeof Head);
            Marked = Head[0] == NameSize && Head[1] == 4 && Head[2] == LibraryMark::NoteType &&
                     std::memcmp(Note + 12, LibraryMark::NoteName, NameSize) == 0;
        }
    }
    ::close(Fd);
    return Marked;
}

bool IsOurs()
{
    static const bool Ours = CarriesLinkMark(LoadedFile());
    return Ours;
}

} // namespace DeviceLibrary
