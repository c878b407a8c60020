#include "settings/PanelSettings.h"

#include <algorithm>

#include "core/ParameterWords.h"
#include "platform/IniFile.h"

namespace PanelSettings {

namespace {

constexpr EntryType Int = EntryType::Integer;
constexpr EntryType Bool = EntryType::Boolean;

constexpr EntryInfo Table[EntryCount] = {
    {"General", "Left", Int, 0},
    {"General", "Top", Int, 0},
    {"Mode", "Microstep", Int, 0},
    {"Mode", "Decay", Int, 0},
    {"I", "Iw", Int, 200},
    {"I", "Ia", Int, 300},
    {"I", "Ih", Int, 100},
    {"I", "Hold", Bool, 0},
    {"N", "Nr", Int, 0},
    {"N", "Relative", Bool, 0},
    {"General", "Vmax", Int, 4000},
    {"V", "Vm", Int, 50},
    {"V", "Vw", Int, 100},
    {"A", "Aw", Int, 100},
    {"Adc", "Show", Bool, 0},
    {"Limits", "R", Int, 0},
    {"Limits", "L", Int, 0},
    {"Limits", "Home", Int, 0},
    {"Limits", "HomeDir", Bool, 1},
    {"Control", "Mode", Int, 32},
};

// Items of the step-mode and decay lists.
constexpr int ListItems = 2;

// A value put into a numeric field, as the field then holds it for sending.
int32_t FieldValue(int32_t V, FieldRange R)
{
    return ParameterWords::Trunc(std::clamp(static_cast<double>(V), R.Min, R.Max));
}

// A stored list index, as the list then shows it: outside the items, none.
int ListIndex(int32_t V) { return V >= 0 && V < ListItems ? V : -1; }

} // namespace

const EntryInfo& Info(Entry E) { return Table[E]; }

Values Defaults()
{
    Values V{};
    for (int E = 0; E < EntryCount; ++E)
        V[E] = Table[E].Default;
    return V;
}

Values Read(const TIniFile& Ini, const Values& Defaults)
{
    Values V{};
    for (int E = 0; E < EntryCount; ++E) {
        const EntryInfo& I = Table[E];
        V[E] = I.Type == Bool ? Ini.ReadBool(I.Section, I.Key, Defaults[E] != 0)
                              : Ini.ReadInteger(I.Section, I.Key, Defaults[E]);
    }
    return V;
}

void Write(TIniFile& Ini, const Values& V)
{
    for (int E = 0; E < EntryCount; ++E) {
        const EntryInfo& I = Table[E];
        if (I.Type == Bool)
            Ini.WriteBool(I.Section, I.Key, V[E] != 0);
        else
            Ini.WriteInteger(I.Section, I.Key, V[E]);
    }
}

FieldRange RangeOf(Entry E)
{
    switch (E) {
    case Iw:
    case Ia:
    case Ih:
        return Core::Fields::Current;
    case Nr:
        return Core::Fields::Coordinate;
    case Vmax:
    case Vm:
        return Core::Fields::Speed;
    case Vw:
        return Core::Fields::WorkingSpeed;
    case Aw:
        return Core::Fields::Acceleration;
    default:
        return {0, 0};
    }
}

DeviceParameters ConnectionParameters(const Values& V)
{
    const auto Field = [&](Entry E) { return FieldValue(V[E], RangeOf(E)); };
    // The working speed's field is bounded by the maximum speed as loaded.
    const FieldRange VwRange{RangeOf(Vw).Min, static_cast<double>(Field(Vmax))};

    DeviceParameters P{};
    P.Step = ParameterWords::StepModeValue(ListIndex(V[Microstep]));
    P.Decay = ListIndex(V[Decay]);
    P.Ih = V[Hold] ? Field(Ih) : 0;
    P.Ia = Field(Ia);
    P.Iw = Field(Iw);
    P.Vm = Field(Vm);
    P.Vw = FieldValue(V[Vw], VwRange);
    P.Aw = Field(Aw);
    P.LimBackward = V[LimL];
    P.LimForward = V[LimR];
    P.LimHome = V[LimHome];
    P.Control = V[ControlMode];
    return P;
}

} // namespace PanelSettings
