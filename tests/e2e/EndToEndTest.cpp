// The real panel on the virtual controller, offscreen, polled by its own
// timer in real time.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "application/Application.h"
#include "tests/support/TestSupport.h"
#include "ui/Vlm_main.h"

namespace {

class EndToEnd : public ::testing::Test {
protected:
    // One virtual controller serves the whole process, as one controller
    // serves a bench: its stored parameters and control file live in one
    // folder for all cases, and each case starts with the link up and no
    // failures played.
    QTemporaryDir Dir;
    std::unique_ptr<TMainForm> W;

    // The library reads these once, at its first call.
    static QString ControllerFolder()
    {
        static QTemporaryDir Folder;
        static const bool Set = [] {
            setenv("VELMOR_SIM_STATE", (Folder.path() + "/state.ini").toLocal8Bit().constData(), 1);
            setenv("VELMOR_SIM_CONTROL", (Folder.path() + "/control").toLocal8Bit().constData(), 1);
            return true;
        }();
        (void)Set;
        return Folder.path();
    }

    void SetUp() override
    {
        Control("");
        Application::SetExeName(Dir.path() + "/velmor");
        TestSupport::Boxes().clear();
        W = std::make_unique<TMainForm>();
        W->show();
        ASSERT_TRUE(WaitOnLine());
    }

    void TearDown() override
    {
        if (W)
            W->close();
        W.reset();
    }

    // Until what the window handed to its device thread has come back.
    bool Settle() { return QTest::qWaitFor([&] { return W->DeviceIdle(); }, 5000); }

    bool WaitOnLine() { return QTest::qWaitFor([&] { return W->StatusText(0).startsWith(" ON LINE: "); }, 3000); }

    static void Control(const char* Text)
    {
        QFile F(ControllerFolder() + "/control");
        ASSERT_TRUE(F.open(QIODevice::WriteOnly | QIODevice::Truncate));
        F.write(Text);
    }

    static void Type(TFloatEdit* Field, const QString& Text)
    {
        Field->selectAll();
        QTest::keyClicks(Field, Text);
        QTest::keyClick(Field, Qt::Key_Return);
    }

    // A brisk motor, so moves take well under a second.
    void Brisk()
    {
        Type(W->feVm, "1000");
        Type(W->feVw, "4000");
        Type(W->feAw, "40000");
    }
};

TEST_F(EndToEnd, GoToCoordinateReachesItsTargetAndReportsDone)
{
    EXPECT_EQ(W->StatusText(0).toStdString().rfind(" ON LINE: ", 0), 0u);
    Brisk();
    Type(W->feNr, "3000");
    W->btStartN->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return W->StatusText(1) == "Operation done"; }, 5000))
        << W->StatusText(1).toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return W->feNc->Value() == 3000; }, 1000));
    EXPECT_EQ(W->feVc->Value(), 0);
    EXPECT_TRUE(TestSupport::Boxes().empty());
}

TEST_F(EndToEnd, HomingShowsTheCoordinateOnTheSensorsPage)
{
    Brisk();
    W->PageControl->setCurrentIndex(2);
    W->cbHomeEn->click();
    ASSERT_TRUE(W->cbHomeDir->isChecked()) << "searches forward by default";
    W->btHome->click();
    EXPECT_EQ(W->feHome->text(), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !W->FHoming; }, 5000));
    EXPECT_FALSE(W->feHome->text().isEmpty());
    // The sensor stands at 5000 and trips within its window.
    EXPECT_LE(std::fabs(W->feHome->Value() - 5000), 50);
    EXPECT_TRUE(TestSupport::Boxes().empty());
}

TEST_F(EndToEnd, CutLinkGoesOffLineAndComesBackByItself)
{
    Control("link=down\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return W->StatusText(0) == " OFF LINE "; }, 3000));
    EXPECT_FALSE(W->FConnected);
    Control("link=up\n");
    EXPECT_TRUE(WaitOnLine());
    // The parameters were sent again: a move runs at the panel's speed.
    Brisk();
    W->btStartR->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return W->feVc->Value() == 4000; }, 3000)) << W->feVc->Value();
    W->btStop->click();
    EXPECT_TRUE(Settle());
    EXPECT_TRUE(TestSupport::Boxes().empty()) << "the poll says nothing to the operator";
}

TEST_F(EndToEnd, FailedCommandShowsTheControllersText)
{
    Control("fail VLM_SetIw Current rejected by drive\n");
    // The controller looks at its control file every 200 ms: the operator
    // sends the value until the controller refuses it.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        Type(W->feCw, "1500");
        Settle();
        return !TestSupport::Boxes().empty();
    }, 3000));
    ASSERT_EQ(TestSupport::Boxes().size(), 1u);
    EXPECT_EQ(TestSupport::Boxes()[0].Text, "Current rejected by drive.");
    EXPECT_EQ(W->feCw->Value(), 1500);

    // The controller takes the value again once the failure is gone, so the
    // next case finds it as any other.
    Control("");
    EXPECT_TRUE(QTest::qWaitFor([&] {
        TestSupport::Boxes().clear();
        Type(W->feCw, "1500");
        Settle();
        return TestSupport::Boxes().empty();
    }, 3000)) << (TestSupport::Boxes().empty() ? std::string() : TestSupport::Boxes()[0].Text.toStdString());
}

} // namespace
