#pragma once

#include <QString>

#include <cstddef>

#include <vector>

#include "application/Application.h"

// Helpers shared by the widget tests.
namespace TestSupport {

struct ShownBox {
    QString Text;
    QString Caption;
    int Flags;
    QString Detail = QString(); // the detailed text, if the box has one
    // The source of a detail read on demand (empty for none), and how many
    // texts it has delivered so far.
    Application::DetailSource Details = nullptr;
    int Delivered = 0;
};

// Every message box is recorded here instead of being shown.
void RecordMessageBoxes();
std::vector<ShownBox>& Boxes();

// The operator presses "Show Details..." on the recorded box at Index: its
// detail source is asked, and the text it delivers (now or later, on the
// GUI thread) becomes the box's Detail. False for a box without a source.
bool PressDetails(std::size_t Index);

} // namespace TestSupport
