#pragma once

#include <QString>

#include <vector>

// Helpers shared by the widget tests.
namespace TestSupport {

struct ShownBox {
    QString Text;
    QString Caption;
    int Flags;
    QString Detail = QString(); // the detailed text, if the box has one
};

// Every message box is recorded here instead of being shown.
void RecordMessageBoxes();
std::vector<ShownBox>& Boxes();

} // namespace TestSupport
