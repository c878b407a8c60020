#include "sim/Storage.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace Sim {

namespace {

const char* const StateName = "virtual-controller.ini";
const char* const ControlName = "virtual-controller.control";
// A stored parameter file is a few hundred bytes.
constexpr std::streamsize MaxStateText = 16 * 1024;

bool Given(const char* S) { return S && *S; }

std::string Folder(const std::string& Path)
{
    size_t Slash = Path.rfind('/');
    if (Slash == std::string::npos)
        return {};
    return Slash == 0 ? std::string("/") : Path.substr(0, Slash);
}

// Creates Path and its parents (0700, as for per-user state).
Core::Status MakeFolders(const std::string& Path)
{
    if (Path.empty())
        return {};
    struct stat St;
    if (::stat(Path.c_str(), &St) == 0)
        return S_ISDIR(St.st_mode) ? Core::Status() : Core::Status::Fail(Path + " is not a folder");
    if (Core::Status Parent = MakeFolders(Folder(Path)); !Parent)
        return Parent;
    if (::mkdir(Path.c_str(), 0700) != 0 && errno != EEXIST)
        return Core::Status::Fail("Cannot create the folder " + Path + ": " + std::strerror(errno));
    return {};
}

bool WriteAll(int Fd, const std::string& Text)
{
    size_t Done = 0;
    while (Done < Text.size()) {
        ssize_t N = ::write(Fd, Text.data() + Done, Text.size() - Done);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            return false;
        Done += static_cast<size_t>(N);
    }
    return true;
}

} // namespace

std::string StatePathFrom(const char* Override, const char* XdgStateHome, const char* Home)
{
    if (Given(Override))
        return Override;
    if (Given(XdgStateHome) && XdgStateHome[0] == '/')
        return std::string(XdgStateHome) + "/velmor/" + StateName;
    if (Given(Home))
        return std::string(Home) + "/.local/state/velmor/" + StateName;
    return {};
}

std::string ControlPathFrom(const char* Override, const std::string& StatePath)
{
    if (Given(Override))
        return Override;
    if (StatePath.empty())
        return {};
    std::string Dir = Folder(StatePath);
    if (Dir.empty())
        return ControlName;
    return Dir == "/" ? std::string("/") + ControlName : Dir + "/" + ControlName;
}

std::string DefaultStatePath()
{
    const char* Home = std::getenv("HOME");
    if (!Given(Home)) {
        if (const passwd* Pw = ::getpwuid(::getuid()))
            Home = Pw->pw_dir;
    }
    return StatePathFrom(std::getenv("VELMOR_SIM_STATE"), std::getenv("XDG_STATE_HOME"), Home);
}

std::string DefaultControlPath(const std::string& StatePath)
{
    return ControlPathFrom(std::getenv("VELMOR_SIM_CONTROL"), StatePath);
}

bool LoadParameters(const std::string& Path, Parameters& Out)
{
    if (Path.empty())
        return false;
    std::ifstream In(Path, std::ios::binary);
    if (!In)
        return false;
    std::string Text(static_cast<size_t>(MaxStateText) + 1, '\0');
    In.read(&Text[0], MaxStateText + 1);
    if (In.bad() || In.gcount() > MaxStateText)
        return false;
    Text.resize(static_cast<size_t>(In.gcount()));
    return ParseParameters(Text, Out);
}

Core::Status SaveParameters(const std::string& Path, const Parameters& P)
{
    if (Path.empty())
        return Core::Status::Fail("Cannot store the parameters: no home folder to keep them in");
    if (Core::Status Made = MakeFolders(Folder(Path)); !Made)
        return Core::Status::Fail("Cannot store the parameters: " + Made.Text());
    const std::string Temp = Path + ".tmp" + std::to_string(static_cast<long>(::getpid()));
    int Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (Fd < 0)
        return Core::Status::Fail("Cannot store the parameters in " + Path + ": " + std::strerror(errno));
    bool Ok = WriteAll(Fd, FormatParameters(P)) && ::fsync(Fd) == 0;
    int Saved = errno;
    if (::close(Fd) != 0 && Ok) {
        Ok = false;
        Saved = errno;
    }
    if (Ok && ::rename(Temp.c_str(), Path.c_str()) != 0) {
        Ok = false;
        Saved = errno;
    }
    if (Ok)
        return {};
    ::unlink(Temp.c_str());
    return Core::Status::Fail("Cannot store the parameters in " + Path + ": " + std::strerror(Saved));
}

} // namespace Sim
