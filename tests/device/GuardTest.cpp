#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>

#include <stdexcept>

#include "application/Application.h"
#include "application/Bind.h"
#include "device/EHardwareException.h"
#include "platform/Exception.h"
#include "tests/support/TestSupport.h"

TEST(ExceptionDisplayText, AppendsPointOnlyAfterCharactersAboveIt)
{
    EXPECT_EQ(ExceptionDisplayText(""), "");
    EXPECT_EQ(ExceptionDisplayText("Device not found"), "Device not found.");
    EXPECT_EQ(ExceptionDisplayText("Done."), "Done.");
    EXPECT_EQ(ExceptionDisplayText("Stop!"), "Stop!");
    EXPECT_EQ(ExceptionDisplayText("a-"), "a-");   // '-' is below '.'
    EXPECT_EQ(ExceptionDisplayText("x/"), "x/.");  // '/' is above '.'
    EXPECT_EQ(ExceptionDisplayText("code 5"), "code 5.");
    EXPECT_EQ(ExceptionDisplayText("Ошибка"), "Ошибка.");
}

namespace {
struct Window : QObject {
    int After = 0;
    void Throws(QObject*) { throw EHardwareException("Link lost", 0); }
    void ThrowsStd(QObject*) { throw std::runtime_error("bad thing"); }
    void Counts(QObject*) { ++After; }
};
} // namespace

TEST(Guard, ExceptionInBoundHandlerIsShownAndTheLoopGoesOn)
{
    TestSupport::Boxes().clear();
    Window W;
    QPushButton Button;
    Bind(&Button, &QPushButton::clicked, &W, &Window::Throws);
    Bind(&Button, &QPushButton::clicked, &W, &Window::Counts);
    Button.click();
    ASSERT_EQ(TestSupport::Boxes().size(), 1u);
    EXPECT_EQ(TestSupport::Boxes()[0].Text, "Link lost.");
    EXPECT_EQ(TestSupport::Boxes()[0].Caption, "Velmor");
    EXPECT_EQ(TestSupport::Boxes()[0].Flags, Application::MB_ICONERROR | Application::MB_OK);
    EXPECT_EQ(W.After, 1) << "the next handler of the same signal still ran";

    // A timer's handler, run from the event loop, is guarded the same way.
    QTimer T;
    T.setSingleShot(true);
    Bind(&T, &QTimer::timeout, &W, &Window::ThrowsStd);
    T.start(0);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    ASSERT_EQ(TestSupport::Boxes().size(), 2u);
    EXPECT_EQ(TestSupport::Boxes()[1].Text, "bad thing.");
    Button.click();
    EXPECT_EQ(W.After, 2);
    EXPECT_EQ(TestSupport::Boxes().size(), 3u);
}
