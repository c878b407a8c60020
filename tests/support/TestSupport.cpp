#include "tests/support/TestSupport.h"

#include "application/Application.h"

namespace TestSupport {

std::vector<ShownBox>& Boxes()
{
    static std::vector<ShownBox> B;
    return B;
}

void RecordMessageBoxes()
{
    Application::SetMessageBoxHook([](const QString& Text, const QString& Caption, int Flags) {
        Boxes().push_back(ShownBox{Text, Caption, Flags});
        return static_cast<int>(Application::IDOK);
    });
}

} // namespace TestSupport
