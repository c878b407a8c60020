#pragma once

#include <string>

// The per-user base folders' rule: $XDG_CONFIG_HOME (or $XDG_STATE_HOME) when
// it is an absolute path, else the default under the home folder; a relative
// or empty value is not a folder to use.
namespace Core {

// Name (e.g. "velmor/link.conf") in the folder the rule gives for XdgHome,
// the variable's value, with HomeDefault (".config", ".local/state") under
// Home. Null or empty values are not set; empty when there is no home at all.
std::string XdgPath(const char* XdgHome, const char* Home, const char* HomeDefault, const std::string& Name);

inline std::string XdgConfigPath(const char* XdgConfigHome, const char* Home, const std::string& Name)
{
    return XdgPath(XdgConfigHome, Home, ".config", Name);
}

inline std::string XdgStatePath(const char* XdgStateHome, const char* Home, const std::string& Name)
{
    return XdgPath(XdgStateHome, Home, ".local/state", Name);
}

// $HOME, else the user's home in the password database; null when neither.
const char* UserHome();

} // namespace Core
