#pragma once

#include <string>

#include "core/Result.h"
#include "sim/Parameters.h"

// Where the virtual controller keeps its stored parameters (its "EEPROM") and
// its control file, and how the parameters are read and written.
//
// The state file is, in this order of choice:
//   $VELMOR_SIM_STATE                                  (any path, for tests)
//   $XDG_STATE_HOME/velmor/virtual-controller.ini      (when that is absolute)
//   ~/.local/state/velmor/virtual-controller.ini
// The control file is $VELMOR_SIM_CONTROL, else virtual-controller.control
// beside the state file.
namespace Sim {

// The rule above on given values (null or empty: not set). Home is the
// user's home folder; an empty result means there is no place at all.
std::string StatePathFrom(const char* Override, const char* XdgStateHome, const char* Home);
std::string ControlPathFrom(const char* Override, const std::string& StatePath);

// The same on this process's environment.
std::string DefaultStatePath();
std::string DefaultControlPath(const std::string& StatePath);

// The state file of a second (third...) controller served beside the first
// at Address: "-Address" before the file name's extension
// (virtual-controller.ini: virtual-controller-2.ini), or at its end when it
// has none. Empty stays empty (nothing stored).
std::string StatePathAt(const std::string& StatePath, int Address);

// Reads the stored parameters. A missing, unreadable or damaged file gives
// false and leaves Out alone.
bool LoadParameters(const std::string& Path, Parameters& Out);

// Writes the parameters: folders created as needed, the text written to a
// temporary file beside the target and renamed over it, so a reader sees the
// old or the new file, never half of one. On failure the text says what
// could not be done and where.
Core::Status SaveParameters(const std::string& Path, const Parameters& P);

} // namespace Sim
