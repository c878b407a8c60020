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

Application::DetailSource& NextDetails()
{
    static Application::DetailSource D;
    return D;
}
} // namespace

void RecordMessageBoxes()
{
    Application::SetMessageBoxDetailHook([](const QString& Detail) { NextDetail() = Detail; });
    Application::SetMessageBoxDetailSourceHook(
        [](const Application::DetailSource& Details) { NextDetails() = Details; });
    Application::SetMessageBoxHook([](const QString& Text, const QString& Caption, int Flags) {
        Boxes().push_back(ShownBox{Text, Caption, Flags, NextDetail(), NextDetails()});
        NextDetail().clear();
        NextDetails() = nullptr;
        return static_cast<int>(Application::IDOK);
    });
}

bool PressDetails(std::size_t Index)
{
    if (Index >= Boxes().size() || !Boxes()[Index].Details)
        return false;
    const Application::DetailSource Details = Boxes()[Index].Details;
    Details([Index](const QString& Text) {
        if (Index < Boxes().size()) {
            Boxes()[Index].Detail = Text;
            ++Boxes()[Index].Delivered;
        }
    });
    return true;
}

} // namespace TestSupport
