#pragma once

#include <string>

// Which device library the panel runs on, found without calling it (the
// order and arguments of the library's calls are the panel's behaviour, so
// the panel makes none to find out): the file that defines VLM_OpenDevice in
// this process, and whether it carries our library's mark (device/LibraryMark.h).
// Plain C++, no Qt.
namespace DeviceLibrary {

// The file of the loaded library (or of the program, when the library's
// functions are linked into it); empty when unknown.
std::string LoadedFile();

// True when the file at Path carries the mark of our libvelmor.so, the one
// that reads the link setting.
bool CarriesLinkMark(const std::string& Path);

// CarriesLinkMark(LoadedFile()), found once.
bool IsOurs();

} // namespace DeviceLibrary
