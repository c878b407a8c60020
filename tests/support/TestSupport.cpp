#include "tests/support/TestSupport.h"

#include "application/Application.h"

namespace TestSupport {

std::vector<ShownBox>& Boxes()
{
    static std::vector<ShownBox> B;
    return B;
}

namespace {
// The detailed text of the box about to be recorded.
QString& NextDetail()
{
    static QString D;
    return D;
}
} // namespace

void RecordMessageBoxes()
{
    Application::SetMessageBoxDetailHook([](const QString& Detail) { NextDetail() = Detail; });
    Application::SetMessageBoxHook([](const QString& Text, const QString& Caption, int Flags) {
        Boxes().push_back(ShownBox{Text, Caption, Flags, NextDetail()});
        NextDetail().clear();
        return static_cast<int>(Application::IDOK);
    });
}

} // namespace TestSupport
