#pragma once

#include <QCheckBox>
#include <QProgressBar>

#include <algorithm>

#include "platform/Guard.h"

// Small helpers the main window's units share for setting controls from the
// program.

// Sets a check box from the program. Its handler runs as for the operator's
// click; an exception from it goes on here.
inline void SetChecked(QCheckBox* Box, bool Checked)
{
    Emitting([&] { Box->setChecked(Checked); });
}

// A progress bar keeps its position inside the range when the range shrinks.
inline void SetProgressMax(QProgressBar* Bar, int Max)
{
    int Old = Bar->value();
    Bar->setMaximum(Max);
    Bar->setValue(std::clamp(Old, Bar->minimum(), Bar->maximum()));
}

inline void SetProgress(QProgressBar* Bar, int Value)
{
    Bar->setValue(std::clamp(Value, Bar->minimum(), Bar->maximum()));
}
