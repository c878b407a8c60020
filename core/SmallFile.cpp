#include "core/SmallFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Core {

namespace {

bool WriteAll(int Fd, const std::string& Text)
{
    size_t Done = 0;
    while (Done < Text.size()) {
        const ssize_t N = ::write(Fd, Text.data() + Done, Text.size() - Done);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return false;
        Done += static_cast<size_t>(N);
    }
    return true;
}

// What failed with errno Err; the temporary file goes.
Status Failed(const std::string& What, const std::string& Temp, int Err)
{
    ::unlink(Temp.c_str());
    return Status::Fail(What + ": " + std::strerror(Err), Err);
}

} // namespace

std::string FolderOf(const std::string& Path)
{
    const size_t Slash = Path.rfind('/');
    if (Slash == std::string::npos)
        return {};
    return Slash == 0 ? std::string("/") : Path.substr(0, Slash);
}

Status MakeFolders(const std::string& Folder)
{
    if (Folder.empty())
        return {};
    struct stat St;
    if (::stat(Folder.c_str(), &St) == 0)
        return S_ISDIR(St.st_mode) ? Status() : Status::Fail(Folder + " is not a folder", ENOTDIR);
    if (Status Parent = MakeFolders(FolderOf(Folder)); !Parent)
        return Parent;
    if (::mkdir(Folder.c_str(), 0700) != 0 && errno != EEXIST) {
        const int Err = errno;
        return Status::Fail("Cannot create the folder " + Folder + ": " + std::strerror(Err), Err);
    }
    return {};
}

Status ReplaceFile(const std::string& Path, const std::string& Text)
{
    const std::string Temp = Path + ".new-" + std::to_string(::getpid());
    const int Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (Fd < 0) {
        const int Err = errno;
        return Status::Fail("cannot write " + Temp + ": " + std::strerror(Err), Err);
    }
    const bool Written = WriteAll(Fd, Text) && ::fsync(Fd) == 0;
    int Err = errno;
    const bool Closed = ::close(Fd) == 0;
    if (Written && !Closed)
        Err = errno;
    if (!Written || !Closed)
        return Failed("cannot write " + Temp, Temp, Err);
    if (::rename(Temp.c_str(), Path.c_str()) != 0) {
        Err = errno;
        return Failed("cannot replace " + Path, Temp, Err);
    }
    return {};
}

} // namespace Core
