#pragma once

#include <string>

// Where the panel keeps its settings file.
//
// A panel run from its build folder or from an unpacked copy keeps the file
// beside its executable: the executable's path with the extension ".ini".
// An installed panel lives in a folder the operator may not write, so its
// entry point chooses the user's configuration folder instead, once, before
// the window exists: $XDG_CONFIG_HOME/velmor/velmor.ini, or
// ~/.config/velmor/velmor.ini when that variable is unset, empty or not an
// absolute path. The choice is made by how the program was built and
// installed, never by looking at the folders at run time.
enum class TSettingsLocation { BesideExecutable, UserConfig };

void SetSettingsLocation(TSettingsLocation Location);
TSettingsLocation SettingsLocation();

// The settings file's full path, given the full path of the running
// executable. In the user's configuration folder, the folders on the way are
// created (0700) when missing, so that the save at close can write the file;
// when they cannot be created the path is given all the same: reading it
// finds no file, and the save reports that it cannot create the file. With no
// home folder known at all, the file stays beside the executable.
std::string SettingsFilePath(const std::string& ExePath);

// The settings file of the panel that lies beside the program at ProgramPath
// (a companion program in the panel's folder).
std::string PanelSettingsFileBeside(const std::string& ProgramPath);

// The per-user settings file from the values of XDG_CONFIG_HOME and HOME
// (null or empty for unset); empty when neither gives a folder.
std::string UserSettingsPathFrom(const char* XdgConfigHome, const char* Home);
