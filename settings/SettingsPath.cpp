#include "settings/SettingsPath.h"

#include <cerrno>
#include <cstdlib>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/IniFile.h"

namespace {

TSettingsLocation GLocation = TSettingsLocation::BesideExecutable;

bool Given(const char* S) { return S && *S; }

std::string Join(const std::string& Dir, const char* Name)
{
    return Dir.back() == '/' ? Dir + Name : Dir + "/" + Name;
}

std::string Folder(const std::string& Path)
{
    std::size_t Slash = Path.find_last_of('/');
    if (Slash == std::string::npos)
        return {};
    return Slash == 0 ? std::string("/") : Path.substr(0, Slash);
}

// Creates Path and its missing parents with 0700, as the base directory
// rules ask for per-user folders. Failures are left to the save to report.
void MakeFolders(const std::string& Path)
{
    if (Path.empty() || Path == "/")
        return;
    struct stat St;
    if (::stat(Path.c_str(), &St) == 0)
        return;
    MakeFolders(Folder(Path));
    if (::mkdir(Path.c_str(), 0700) != 0 && errno != EEXIST)
        return;
}

} // namespace

void SetSettingsLocation(TSettingsLocation Location) { GLocation = Location; }

TSettingsLocation SettingsLocation() { return GLocation; }

std::string UserSettingsPathFrom(const char* XdgConfigHome, const char* Home)
{
    if (Given(XdgConfigHome) && XdgConfigHome[0] == '/')
        return Join(XdgConfigHome, "velmor/velmor.ini");
    if (Given(Home))
        return Join(Home, ".config/velmor/velmor.ini");
    return {};
}

std::string PanelSettingsFileBeside(const std::string& ProgramPath)
{
    const std::string Dir = Folder(ProgramPath);
    return SettingsFilePath(Dir.empty() ? std::string("velmor") : Join(Dir, "velmor"));
}

std::string SettingsFilePath(const std::string& ExePath)
{
    if (GLocation == TSettingsLocation::BesideExecutable)
        return ChangeFileExt(ExePath, ".ini");

    const char* Home = std::getenv("HOME");
    if (!Given(Home)) {
        if (const passwd* Pw = ::getpwuid(::getuid()))
            Home = Pw->pw_dir;
    }
    std::string Path = UserSettingsPathFrom(std::getenv("XDG_CONFIG_HOME"), Home);
    if (Path.empty())
        return ChangeFileExt(ExePath, ".ini");
    MakeFolders(Folder(Path));
    return Path;
}
