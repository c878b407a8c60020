#pragma once

#include <string>

namespace Core {

// What Trim takes off: the space and the control characters below it, or
// those and DEL as well (the settings file's rule).
enum class Blanks { Controls, ControlsAndDelete };

// S without its leading and trailing blanks.
std::string Trim(const std::string& S, Blanks Which = Blanks::Controls);

// Text as a plain decimal number of one to nine digits: no sign, no blank,
// nothing else. False (Out untouched) for anything else.
bool ParseDecimal(const std::string& Text, long& Out);

} // namespace Core
