#include "settings/SettingsPath.h"

#include <cstdlib>

#include "core/SmallFile.h"
#include "core/XdgPaths.h"
#include "platform/IniFile.h"

namespace {

TSettingsLocation GLocation = TSettingsLocation::BesideExecutable;

} // namespace

void SetSettingsLocation(TSettingsLocation Location) { GLocation = Location; }

TSettingsLocation SettingsLocation() { return GLocation; }

std::string UserSettingsPathFrom(const char* XdgConfigHome, const char* Home)
{
    return Core::XdgConfigPath(XdgConfigHome, Home, "velmor/velmor.ini");
}

std::string PanelSettingsFileBeside(const std::string& ProgramPath)
{
    const std::string Dir = Core::FolderOf(ProgramPath);
    return SettingsFilePath(Dir.empty() ? std::string("velmor") : Core::JoinPath(Dir, "velmor"));
}

std::string SettingsFilePath(const std::string& ExePath)
{
    if (GLocation == TSettingsLocation::BesideExecutable)
        return ChangeFileExt(ExePath, ".ini");

    std::string Path = UserSettingsPathFrom(std::getenv("XDG_CONFIG_HOME"), Core::UserHome());
    if (Path.empty())
        return ChangeFileExt(ExePath, ".ini");
    Core::MakeFolders(Core::FolderOf(Path)); // a failure is left to the save to report
    return Path;
}
