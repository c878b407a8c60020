#pragma once

#include <array>
#include <cstdint>

#include "core/FieldRanges.h"

class TIniFile;

// The twenty entries of the panel's settings file, described once: the panel
// loads and saves its window through this table, and a program without a
// window reads and writes the same file by the same rules.
namespace PanelSettings {

// In table order, which is the order the panel loads them into its controls
// and the order a fresh file is written in.
enum Entry : int {
    Left, Top, Microstep, Decay, Iw, Ia, Ih, Hold, Nr, Relative, Vmax, Vm, Vw, Aw,
    AdcShow, LimR, LimL, LimHome, HomeDir, ControlMode, EntryCount
};

enum class EntryType { Integer, Boolean };

struct EntryInfo {
    const char* Section;
    const char* Key;
    EntryType Type;
    // Left and Top have none of their own: the window's designed position
    // stands in for a missing one, so they read 0 here.
    int32_t Default;
};

const EntryInfo& Info(Entry E);

// One value per entry; a Boolean entry holds 0 or 1.
using Values = std::array<int32_t, EntryCount>;

// The values of a first run.
Values Defaults();

// Every entry read by the file's rules; a missing or unreadable value takes
// its default from Defaults.
Values Read(const TIniFile& Ini, const Values& Defaults);

// Every entry written, in table order.
void Write(TIniFile& Ini, const Values& V);

// The range of the panel's numeric field for a numeric entry (Iw, Ia, Ih, Nr,
// Vmax, Vm, Vw, Aw). The working speed's field is further bounded by Vmax.
using FieldRange = Core::FieldRange;
FieldRange RangeOf(Entry E);

// What the panel sends when its link comes up, in this order, after loading V
// into its controls (numbers clamped to their fields' ranges and truncated
// toward zero, a list index outside its items taken as no selection, the
// holding current 0 unless Hold): SetMode(Step, Decay), SetIh, SetIa, SetIw,
// SetVm, SetVw, SetAw, SetLim(LimBackward, LimForward, LimHome), SetCtrl(Control).
struct DeviceParameters {
    int32_t Step, Decay, Ih, Ia, Iw, Vm, Vw, Aw, LimBackward, LimForward, LimHome, Control;
};
DeviceParameters ConnectionParameters(const Values& V);

} // namespace PanelSettings
