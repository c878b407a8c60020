#include "settings/PlotSettings.h"

#include "platform/IniFile.h"

namespace PlotSettings {

TPlacement Read(const TIniFile& Ini)
{
    TPlacement P;
    const char* Keys[] = {"Left", "Top", "Width", "Height"};
    int32_t* Values[] = {&P.Left, &P.Top, &P.Width, &P.Height};
    for (int I = 0; I < 4; ++I)
        if (!TIniFile::ParseInteger(Ini.ReadString(Section, Keys[I], ""), *Values[I]))
            return TPlacement{};
    // A position far outside any screen is brought back by the window; a
    // size is only taken when a window could have it.
    if (P.Width < MinWidth || P.Height < MinHeight || P.Width > MaxSide || P.Height > MaxSide ||
        P.Left < -MaxSide * 4 || P.Left > MaxSide * 4 || P.Top < -MaxSide * 4 || P.Top > MaxSide * 4)
        return TPlacement{};
    P.Stored = true;
    return P;
}

void Write(TIniFile& Ini, const TPlacement& P)
{
    Ini.WriteInteger(Section, "Left", P.Left);
    Ini.WriteInteger(Section, "Top", P.Top);
    Ini.WriteInteger(Section, "Width", P.Width);
    Ini.WriteInteger(Section, "Height", P.Height);
}

} // namespace PlotSettings
