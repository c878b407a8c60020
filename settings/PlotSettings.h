#pragma once

#include <cstdint>

class TIniFile;

// The plot window's place in the panel's settings file: its own section,
// which a panel without the plot leaves as it finds it.
//
//   [Plot]
//   Left=...   Top=...   Width=...   Height=...
namespace PlotSettings {

constexpr const char* Section = "Plot";

// Sizes outside these bounds are not taken from the file.
constexpr int32_t MinWidth = 320, MinHeight = 240, MaxSide = 16384;

struct TPlacement {
    // False when the file holds no usable placement (missing or damaged
    // entries): the window then takes its designed size beside the panel.
    bool Stored = false;
    int32_t Left = 0, Top = 0, Width = 0, Height = 0;
};

TPlacement Read(const TIniFile& Ini);
// Writes the four entries (Stored is not looked at).
void Write(TIniFile& Ini, const TPlacement& P);

} // namespace PlotSettings
