#pragma once

#include <string>

// Where the panel keeps its settings file, given the full path of the running
// executable: beside the executable, with the extension ".ini".
std::string SettingsFilePath(const std::string& ExePath);
