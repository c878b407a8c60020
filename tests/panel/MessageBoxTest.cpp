// The real message box (offscreen) with a detailed text read on demand: the
// source is asked only when the details button is pressed, once, and the
// text it delivers later lands in the box's detail area.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include "application/Application.h"
#include "tests/support/TestSupport.h"

namespace {

QAbstractButton* DetailsButton(QMessageBox* Box)
{
    for (QAbstractButton* B : Box->buttons())
        if (B != Box->button(QMessageBox::Ok) && Box->buttonRole(B) == QMessageBox::ActionRole)
            return B;
    return nullptr;
}

class RealMessageBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application::SetMessageBoxHook(nullptr);
        Application::SetMessageBoxDetailHook(nullptr);
        Application::SetMessageBoxDetailSourceHook(nullptr);
    }
    void TearDown() override { TestSupport::RecordMessageBoxes(); }
};

TEST_F(RealMessageBox, TheDetailIsReadOnlyWhenAskedForOnceAndShownWhenItComes)
{
    int Asked = 0;
    Application::DetailDelivery Pending;
    bool Checked = false;
    QTimer::singleShot(0, [&] {
        auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(Box);
        Checked = true;
        EXPECT_EQ(Box->text(), "Устройство не найдено.");
        EXPECT_EQ(Box->windowTitle(), "Warning");
        EXPECT_EQ(Box->icon(), QMessageBox::Warning);
        EXPECT_TRUE(Box->button(QMessageBox::Ok));
        EXPECT_EQ(Asked, 0) << "nothing is read before the operator asks";
        QAbstractButton* Show = DetailsButton(Box);
        ASSERT_TRUE(Show);
        auto* Area = Box->findChild<QTextEdit*>();
        ASSERT_TRUE(Area);
        Show->click();
        EXPECT_EQ(Asked, 1);
        EXPECT_TRUE(Area->isVisible());
        EXPECT_NE(Area->toPlainText(), "no such port (is the adapter plugged in?)");
        // Hiding and showing again asks nothing more.
        Show->click();
        Show->click();
        EXPECT_EQ(Asked, 1);
        // The text comes later, while the box waits for the operator.
        ASSERT_TRUE(Pending);
        Pending(QStringLiteral("no such port (is the adapter plugged in?)"));
        EXPECT_EQ(Area->toPlainText(), "no such port (is the adapter plugged in?)");
        Box->button(QMessageBox::Ok)->click();
    });
    const int Pressed = Application::MessageBox(
        QStringLiteral("Устройство не найдено."), QStringLiteral("Warning"),
        Application::MB_ICONWARNING | Application::MB_OK, [&](Application::DetailDelivery Deliver) {
            ++Asked;
            Pending = std::move(Deliver);
        });
    EXPECT_TRUE(Checked);
    EXPECT_EQ(Pressed, Application::IDOK);
    // A text that comes after the box has closed goes nowhere, safely.
    ASSERT_TRUE(Pending);
    Pending(QStringLiteral("late"));
}

TEST_F(RealMessageBox, ABoxClosedUnaskedNeverReadsAndAnEmptyTextSaysSo)
{
    int Asked = 0;
    QTimer::singleShot(0, [&] {
        auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(Box);
        Box->button(QMessageBox::Ok)->click();
    });
    Application::MessageBox(QStringLiteral("x"), QStringLiteral("Warning"), Application::MB_ICONWARNING,
                            [&](Application::DetailDelivery) { ++Asked; });
    EXPECT_EQ(Asked, 0);

    QString Shown;
    QTimer::singleShot(0, [&] {
        auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(Box);
        QAbstractButton* Show = DetailsButton(Box);
        ASSERT_TRUE(Show);
        Show->click();
        Shown = Box->detailedText();
        Box->button(QMessageBox::Ok)->click();
    });
    Application::MessageBox(QStringLiteral("x"), QStringLiteral("Warning"), Application::MB_ICONWARNING,
                            [&](Application::DetailDelivery Deliver) {
                                ++Asked;
                                Deliver(QString());
                            });
    EXPECT_EQ(Asked, 1);
    EXPECT_FALSE(Shown.isEmpty()) << "an empty reason still leaves the area saying something";
}

} // namespace
