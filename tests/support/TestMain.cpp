// Shared main of the test programs: an offscreen QApplication, the standard
// exception display installed, and every message box recorded instead of
// shown.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "application/Application.h"
#include "tests/support/TestSupport.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("VELMOR_TEST_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication App(argc, argv);
    Application::Initialize();
    Application::SetTitle(QStringLiteral("Velmor"));
    TestSupport::RecordMessageBoxes();
    return RUN_ALL_TESTS();
}
