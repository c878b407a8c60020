// The settings file on disk: read whole into the memory copy, and saved
// whole by a rename (the file rules are in IniFile.cpp).
#include "platform/IniFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

// A settings file holds a few hundred bytes, but a larger one is read like
// any other as long as it fits in memory comfortably: the memory copy takes
// about the file's size, twice that while it is read.
constexpr std::size_t MaxFileSize = 64u * 1024u * 1024u;

std::string FullPath(const std::string& Name)
{
    if (!Name.empty() && Name[0] == '/')
        return Name;
    std::string Cwd;
    if (char* Dir = getcwd(nullptr, 0)) {
        Cwd = Dir;
        std::free(Dir);
    }
    if (Cwd.empty())
        return Name;
    return Cwd == "/" ? "/" + Name : Cwd + "/" + Name;
}

std::string ErrorText(int Error) { return std::strerror(Error); }

// Closes a file descriptor at the end of its scope.
struct TCloser {
    int Fd;
    ~TCloser() { close(Fd); }
};

// Closes and removes a temporary file unless released.
struct TTempFile {
    std::string Path;
    int Fd = -1;
    ~TTempFile()
    {
        if (Fd >= 0)
            close(Fd);
        if (!Path.empty())
            unlink(Path.c_str());
    }
};

void WriteAll(int Fd, const std::string& Content, const std::string& Path)
{
    std::size_t Done = 0;
    while (Done < Content.size()) {
        ssize_t N = write(Fd, Content.data() + Done, Content.size() - Done);
        if (N < 0) {
            if (errno == EINTR)
                continue;
            throw Exception("Cannot write file " + Path + ": " + ErrorText(errno));
        }
        Done += static_cast<std::size_t>(N);
    }
}

// Whether Name is a temporary file of a save of Base: ".<Base>.<pid>-<n>-<n>.tmp".
// Sets Pid from its name.
bool IsTemporaryName(const std::string& Name, const std::string& Base, long& Pid)
{
    const std::string Head = "." + Base + ".";
    const std::string Tail = ".tmp";
    if (Name.size() <= Head.size() + Tail.size() || Name.compare(0, Head.size(), Head) != 0 ||
        Name.compare(Name.size() - Tail.size(), Tail.size(), Tail) != 0)
        return false;
    const std::string Middle = Name.substr(Head.size(), Name.size() - Head.size() - Tail.size());
    int Dashes = 0;
    bool Digit = false;
    for (char C : Middle) {
        if (C == '-') {
            if (!Digit)
                return false;
            ++Dashes;
            Digit = false;
        } else if (C >= '0' && C <= '9') {
            Digit = true;
        } else {
            return false;
        }
    }
    if (Dashes != 2 || !Digit || Middle.find('-') > 9)
        return false;
    Pid = std::strtol(Middle.c_str(), nullptr, 10);
    return true;
}

// Removes what saves killed before their rename left in Folder: only files of
// our own temporary-name pattern, and none of a process still running but
// this one, which may be saving right now.
void RemoveLeftovers(const std::string& Folder, const std::string& Base)
{
    DIR* D = opendir(Folder.c_str());
    if (!D)
        return;
    while (const dirent* E = readdir(D)) {
        long Pid = 0;
        if (!IsTemporaryName(E->d_name, Base, Pid))
            continue;
        if (Pid != getpid() && Pid > 0 && (kill(static_cast<pid_t>(Pid), 0) == 0 || errno == EPERM))
            continue;
        struct stat St;
        const std::string Name = Folder + E->d_name;
        if (lstat(Name.c_str(), &St) == 0 && S_ISREG(St.st_mode))
            (void)unlink(Name.c_str());
    }
    closedir(D);
}

} // namespace

TIniFile::TIniFile(std::string FileName) : FFileName(std::move(FileName))
{
    const std::string Path = FullPath(FFileName);
    int Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (Fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return; // no file: empty
        throw Exception("Cannot open file " + Path + ": " + ErrorText(errno));
    }
    TCloser CloseFd{Fd};

    struct stat St;
    if (fstat(Fd, &St) != 0)
        throw Exception("Cannot read file " + Path + ": " + ErrorText(errno));
    if (S_ISDIR(St.st_mode))
        throw Exception("Cannot read file " + Path + ": it is a folder");
    if (!S_ISREG(St.st_mode))
        throw Exception("Cannot read file " + Path + ": it is not a regular file");

    const auto TooLarge = [&] { return EFileTooLarge("Cannot read file " + Path + ": the file is too large"); };
    if (static_cast<uint64_t>(St.st_size) > MaxFileSize)
        throw TooLarge();
    // Read to the end, which may lie beyond the size seen a moment ago.
    std::string Text(static_cast<std::size_t>(St.st_size) + 1, '\0');
    std::size_t Done = 0;
    for (;;) {
        if (Done == Text.size()) {
            if (Text.size() > MaxFileSize)
                throw TooLarge();
            Text.resize(std::min(Text.size() * 2, MaxFileSize + 1));
        }
        ssize_t N = read(Fd, &Text[Done], Text.size() - Done);
        if (N < 0) {
            if (errno == EINTR)
                continue;
            throw Exception("Cannot read file " + Path + ": " + ErrorText(errno));
        }
        if (N == 0)
            break;
        Done += static_cast<std::size_t>(N);
    }
    if (Done > MaxFileSize)
        throw TooLarge();
    Text.resize(Done);
    SetText(Text);
}

// The new content goes to a temporary file in the same folder, which then
// replaces the old file in one rename(): a failure at any point leaves the
// stored settings as they were. The old file's permission bits (and, where
// allowed, its owner) carry over; a new file gets the usual 0666 less umask.
// A symbolic link to the settings file stays a link: its target is replaced.
void TIniFile::UpdateFile()
{
    const std::string Path = FullPath(FFileName);
    std::string Target = Path;
    struct stat St;
    if (lstat(Path.c_str(), &St) == 0 && S_ISLNK(St.st_mode)) {
        if (char* Real = realpath(Path.c_str(), nullptr)) {
            Target = Real;
            std::free(Real);
        }
    }
    bool Exists = stat(Target.c_str(), &St) == 0 && S_ISREG(St.st_mode);
    // A file the user may not write stays as it is, although its folder
    // would let a rename replace it.
    if (Exists && access(Target.c_str(), W_OK) != 0)
        throw Exception("Cannot create file " + Path);

    std::size_t Slash = Target.find_last_of('/');
    std::string Folder = Slash == std::string::npos ? std::string("./") : Target.substr(0, Slash + 1);
    std::string Base = Slash == std::string::npos ? Target : Target.substr(Slash + 1);
    if (Base.size() > 64)
        Base.resize(64); // keeps the temporary name within the name length limit

    RemoveLeftovers(Folder, Base);

    TTempFile Temp;
    static unsigned Counter = 0;
    for (int Attempt = 0; Attempt < 100 && Temp.Fd < 0; ++Attempt) {
        struct timespec Now;
        clock_gettime(CLOCK_REALTIME, &Now);
        std::string Name = Folder + "." + Base + "." + std::to_string(getpid()) + "-" +
                           std::to_string(++Counter) + "-" + std::to_string(Now.tv_nsec % 1000000) + ".tmp";
        int Fd = open(Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (Fd >= 0) {
            Temp.Fd = Fd;
            Temp.Path = Name;
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (Temp.Fd < 0) {
        // A file the user may write in a folder the user may not: written in
        // place, as a plain write would.
        if (Exists) {
            WriteInPlace(Target, Path);
            return;
        }
        throw Exception("Cannot create file " + Path);
    }

    if (Exists) {
        (void)fchmod(Temp.Fd, St.st_mode & 07777);
        if (St.st_uid != geteuid() || St.st_gid != getegid()) {
            if (fchown(Temp.Fd, St.st_uid, St.st_gid) == 0)
                (void)fchmod(Temp.Fd, St.st_mode & 07777); // chown may clear set-id bits
        }
    }

    WriteAll(Temp.Fd, FText, Path);
    if (fsync(Temp.Fd) != 0)
        throw Exception("Cannot write file " + Path + ": " + ErrorText(errno));
    int Fd = Temp.Fd;
    Temp.Fd = -1;
    if (close(Fd) != 0)
        throw Exception("Cannot write file " + Path + ": " + ErrorText(errno));

    if (rename(Temp.Path.c_str(), Target.c_str()) != 0)
        throw Exception("Cannot replace file " + Path + ": " + ErrorText(errno));
    Temp.Path.clear();

    // Make the rename itself durable; a failure here changes nothing.
    int Dir = open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Dir >= 0) {
        (void)fsync(Dir);
        close(Dir);
    }
}

void TIniFile::WriteInPlace(const std::string& Target, const std::string& Path) const
{
    int Fd = open(Target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (Fd < 0)
        throw Exception("Cannot create file " + Path);
    TCloser CloseFd{Fd};
    WriteAll(Fd, FText, Path);
    if (ftruncate(Fd, static_cast<off_t>(FText.size())) != 0 || fsync(Fd) != 0)
        throw Exception("Cannot write file " + Path + ": " + ErrorText(errno));
}
