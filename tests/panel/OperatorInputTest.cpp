// The real window under the operator's wheel, clicks and keys: nothing
// reaches the controller that the operator did not ask for.
#include "tests/panel/PanelFixture.h"

#include <QMessageBox>
#include <QTabBar>
#include <QWheelEvent>

#include <algorithm>

namespace {

class OperatorInputTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        CreateConnected();
        W->show();
        QApplication::setActiveWindow(W.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(W.get()));
    }

    // One notch of the wheel over Target, as the window system delivers it.
    static void Wheel(QWidget* Target, int Notches = -1)
    {
        const QPointF At = QRectF(Target->rect()).center();
        QWheelEvent E(At, Target->mapToGlobal(At), QPoint(), QPoint(0, 120 * Notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(Target, &E);
    }

    // The calls that send something to the controller (the poll's reads left out).
    Strings Sends()
    {
        Strings All = Log(), Out;
        std::copy_if(All.begin(), All.end(), std::back_inserter(Out),
                     [](const std::string& C) { return C.rfind("VLM_Get", 0) != 0; });
        return Out;
    }

    void ClickTab(int Index)
    {
        QTabBar* Tabs = W->PageControl->tabBar();
        QTest::mouseClick(Tabs, Qt::LeftButton, Qt::NoModifier, Tabs->tabRect(Index).center());
    }
};

TEST_F(OperatorInputTest, WheelMovesNothingTheOperatorDidNotPick)
{
    const int Speed = W->sbVw->value();
    W->feCw->setFocus();
    ClearCalls();
    for (QWidget* Target : std::initializer_list<QWidget*>{W->sbVw, W->cbSM, W->cbFM, W->feCa, W->feVw,
                                                          W->PageControl->tabBar()}) {
        Wheel(Target);
        Wheel(Target, 1);
    }
    EXPECT_EQ(Sends(), Strings{});
    EXPECT_EQ(W->sbVw->value(), Speed);
    EXPECT_EQ(W->cbSM->currentIndex(), 0);
    EXPECT_EQ(W->PageControl->currentIndex(), 0);
    EXPECT_TRUE(W->feCw->hasFocus()) << "the wheel takes the focus from no field";

    // A list that has the focus takes the wheel, as the operator's pick.
    W->cbSM->setFocus();
    ClearCalls();
    Wheel(W->cbSM);
    EXPECT_EQ(W->cbSM->currentIndex(), 1);
    EXPECT_EQ(Sends(), (Strings{"VLM_SetMode(2,0)"}));
}

TEST_F(OperatorInputTest, PageChangeLeavesTheFocusOnTheTabs)
{
    W->feCw->setFocus();
    ClearCalls();
    ClickTab(1);
    EXPECT_EQ(W->PageControl->currentIndex(), 1);
    EXPECT_EQ(QApplication::focusWidget(), W->PageControl->tabBar());
    EXPECT_EQ(Sends(), (Strings{"VLM_SetIw(200)"})) << "the field that had the focus commits once";

    // Clicks elsewhere send nothing more, back on page 1 either.
    ClearCalls();
    QTest::mouseClick(W->feAdc, Qt::LeftButton);
    ClickTab(0);
    QTest::mouseClick(W->btStop, Qt::LeftButton);
    EXPECT_EQ(Sends(), (Strings{"VLM_StartD(0)"}));

    // The keyboard's page switching does the same.
    W->feCa->setFocus();
    ClearCalls();
    QTest::keyClick(W->feCa, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(W->PageControl->currentIndex(), 1);
    EXPECT_EQ(QApplication::focusWidget(), W->PageControl->tabBar());
    QTest::keyClick(W->PageControl->tabBar(), Qt::Key_Right);
    EXPECT_EQ(W->PageControl->currentIndex(), 2);
    EXPECT_EQ(QApplication::focusWidget(), W->PageControl->tabBar());
    EXPECT_EQ(Sends(), (Strings{"VLM_SetIa(300)"}));
}

} // namespace

namespace {

// Closes the real message box the panel shows next, as the operator's Enter
// does, and notes which box it was.
void CloseNextBox(QString* Text)
{
    QTimer::singleShot(0, [Text] {
        QWidget* Box = QApplication::activeModalWidget();
        if (!Box) {
            CloseNextBox(Text);
            return;
        }
        if (auto* M = qobject_cast<QMessageBox*>(Box))
            *Text = M->text();
        QTest::keyClick(Box, Qt::Key_Return);
    });
}

// Closes the real message box the panel shows next with a click on its OK
// button (the box comes once the device thread has answered).
void ClickOkOnNextBox()
{
    QTimer::singleShot(0, [] {
        auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!Box) {
            ClickOkOnNextBox();
            return;
        }
        QTest::mouseClick(Box->button(QMessageBox::Ok), Qt::LeftButton);
    });
}

} // namespace

TEST_F(OperatorInputTest, LeavingAFieldAfterItsErrorBoxSendsAgain)
{
    Application::SetMessageBoxHook({}); // the real box
    W->feCw->setFocus();
    ClearCalls();
    VD::Fail("VLM_SetIw", "Bus busy");
    QString Shown;
    CloseNextBox(&Shown);
    Type(W->feCw, "250");
    Settle();
    EXPECT_EQ(Shown, "Bus busy.");
    // The window system gives the window back its activation.
    QApplication::setActiveWindow(W.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(W.get()));
    EXPECT_EQ(QApplication::focusWidget(), W->feCw) << "the focus is back in the field";

    QTest::mouseClick(W->feCa, Qt::LeftButton);
    EXPECT_EQ(Sends(), (Strings{"VLM_SetIw(250)", "VLM_SetIw(250)"}));

    // The same when the box is closed by a click and the field left by Tab.
    W->feCw->setFocus();
    ClearCalls();
    VD::Fail("VLM_SetIw", "Bus busy");
    ClickOkOnNextBox();
    Type(W->feCw, "260");
    Settle();
    QApplication::setActiveWindow(W.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(W.get()));
    ASSERT_EQ(QApplication::focusWidget(), W->feCw);
    QTest::keyClick(W->feCw, Qt::Key_Tab);
    EXPECT_EQ(Sends(), (Strings{"VLM_SetIw(260)", "VLM_SetIw(260)"}));
}

TEST_F(OperatorInputTest, SpeedFieldMovedByTheBarShowsNoTextCursor)
{
    // What the field looks like unfocused, showing a given value.
    W->feCa->setFocus();
    W->feVw->SetValue(300);
    const QImage Still = W->feVw->grab().toImage();
    W->feVw->SetValue(100);

    // The operator leaves the speed field for the bar and moves it.
    W->feVw->setFocus();
    QTest::mouseClick(W->sbVw, Qt::LeftButton, Qt::NoModifier, QPoint(W->sbVw->width() - 30, 5));
    ASSERT_FALSE(W->feVw->hasFocus());
    W->sbVw->setValue(300);
    ASSERT_EQ(W->feVw->Value(), 300);
    for (int I = 0; I < 2; ++I) {
        QTest::qWait(550); // across the cursor's blink
        EXPECT_EQ(W->feVw->grab().toImage(), Still) << I;
    }
}
