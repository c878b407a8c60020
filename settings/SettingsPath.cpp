#include "settings/SettingsPath.h"

#include "platform/IniFile.h"

std::string SettingsFilePath(const std::string& ExePath) { return ChangeFileExt(ExePath, ".ini"); }
