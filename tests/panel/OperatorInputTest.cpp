// The real window under the operator's wheel, clicks and keys: nothing
// reaches the controller that the operator did not ask for.
#include "tests/panel/PanelFixture.h"

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
    static Strings Sends()
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
    VD::ClearCalls();
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
    VD::ClearCalls();
    Wheel(W->cbSM);
    EXPECT_EQ(W->cbSM->currentIndex(), 1);
    EXPECT_EQ(Sends(), (Strings{"VLM_SetMode(2,0)"}));
}

TEST_F(OperatorInputTest, PageChangeLeavesTheFocusOnTheTabs)
{
    W->feCw->setFocus();
    VD::ClearCalls();
    ClickTab(1);
    EXPECT_EQ(W->PageControl->currentIndex(), 1);
    EXPECT_EQ(QApplication::focusWidget(), W->PageControl->tabBar());
    EXPECT_EQ(Sends(), (Strings{"VLM_SetIw(200)"})) << "the field that had the focus commits once";

    // Clicks elsewhere send nothing more, back on page 1 either.
    VD::ClearCalls();
    QTest::mouseClick(W->feAdc, Qt::LeftButton);
    ClickTab(0);
    QTest::mouseClick(W->btStop, Qt::LeftButton);
    EXPECT_EQ(Sends(), (Strings{"VLM_StartD(0)"}));

    // The keyboard's page switching does the same.
    W->feCa->setFocus();
    VD::ClearCalls();
    QTest::keyClick(W->feCa, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(W->PageControl->currentIndex(), 1);
    EXPECT_EQ(QApplication::focusWidget(), W->PageControl->tabBar());
    QTest::keyClick(W->PageControl->tabBar(), Qt::Key_Right);
    EXPECT_EQ(W->PageControl->currentIndex(), 2);
    EXPECT_EQ(QApplication::focusWidget(), W->PageControl->tabBar());
    EXPECT_EQ(Sends(), (Strings{"VLM_SetIa(300)"}));
}

} // namespace
