#pragma once

#include <string>

#include "core/Result.h"

namespace Core {

// The folder Path is in: "/" for a file at the root, empty for a bare name.
std::string FolderOf(const std::string& Path);

// Makes Folder and its missing parents (0700, as for per-user files). Fails
// when one of them is a file ("F is not a folder") or cannot be made
// ("Cannot create the folder F: ...").
Status MakeFolders(const std::string& Folder);

// Puts Text in the file Path whole or not at all: written to a temporary file
// beside it (mode 0600, never through a symbolic link), synced, then renamed
// over Path. On failure nothing is left behind; the Status names the file
// that failed ("cannot write PATH.new-PID: ...", "cannot replace PATH: ...")
// and its code is the errno value.
Status ReplaceFile(const std::string& Path, const std::string& Text);

} // namespace Core
