#include "tests/panel/PanelFixture.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>

#include "platform/IniFile.h"
#include "tests/support/FirstRunFile.h"
#include "settings/PanelSettings.h"
#include "ui/WindowPlacement.h"

class SettingsFileTest : public PanelTest {
protected:
    QString IniPath() const { return Dir.path() + "/velmor.ini"; }

    void WriteIni(const QByteArray& Text)
    {
        QFile F(IniPath());
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        F.write(Text);
    }

    QByteArray ReadIni()
    {
        QFile F(IniPath());
        if (!F.open(QIODevice::ReadOnly))
            return {};
        return F.readAll();
    }

    // Closes the window as its close box does.
    void CloseWindow()
    {
        W->close();
        W->Timer->stop();
        // The closing's stop and disconnect run on the device thread.
        Settle();
    }
};

TEST_F(SettingsFileTest, FirstRunComesUpWithTheDefaultsAndWritesTheSampleFile)
{
    Create();
    EXPECT_EQ(W->x(), 600);
    EXPECT_EQ(W->y(), 260);
    EXPECT_EQ(W->cbSM->currentIndex(), 0);
    EXPECT_EQ(W->cbFM->currentIndex(), 0);
    EXPECT_EQ(W->feCw->Value(), 200);
    EXPECT_EQ(W->feCa->Value(), 300);
    EXPECT_EQ(W->feCh->Value(), 100);
    EXPECT_EQ(W->feVmax->Value(), 4000);
    EXPECT_EQ(W->sbVw->maximum(), 4000);
    EXPECT_EQ(W->pbVc->maximum(), 4000);
    EXPECT_EQ(W->feVw->MaxValue(), 4000);
    EXPECT_EQ(W->feVm->Value(), 50);
    EXPECT_EQ(W->feVw->Value(), 100);
    EXPECT_EQ(W->sbVw->value(), 100);
    EXPECT_EQ(W->feAw->Value(), 100);
    EXPECT_FALSE(W->cbHold->isChecked());
    EXPECT_FALSE(W->cbRelN->isChecked());
    EXPECT_FALSE(W->cbAdc->isChecked());
    EXPECT_TRUE(W->cbHomeDir->isChecked());
    EXPECT_EQ(W->FCntrl, 32);
    EXPECT_TRUE(W->cbDbnc->isChecked());

    CloseWindow();
    EXPECT_EQ(ReadIni(), QByteArray(FirstRunFile));
}

TEST_F(SettingsFileTest, StoredValuesAreBoundedByTheFields)
{
    WriteIni("[General]\r\nVmax=5000\r\n[V]\r\nVw=9000\r\n[I]\r\nIw=-5\r\nIa=0x1F4\r\nIh=abc\r\nHold=2\r\n");
    Create();
    EXPECT_EQ(W->feVw->Value(), 5000);
    EXPECT_EQ(W->sbVw->value(), 5000);
    EXPECT_EQ(W->feCw->Value(), -0.01);
    EXPECT_EQ(W->feCa->Value(), 500);
    EXPECT_EQ(W->feCh->Value(), 100);
    EXPECT_TRUE(W->cbHold->isChecked());
    CloseWindow();
    QByteArray Saved = ReadIni();
    EXPECT_TRUE(Saved.contains("Iw=0\r\n"));
    EXPECT_TRUE(Saved.contains("Hold=1\r\n"));
    EXPECT_TRUE(Saved.contains("Vw=5000\r\n"));
}

TEST_F(SettingsFileTest, MaximumSpeedZeroLoadsAsOne)
{
    WriteIni("[General]\nVmax=0\n");
    Create();
    EXPECT_EQ(W->feVmax->Value(), 1);
    EXPECT_EQ(W->sbVw->maximum(), 1);
    EXPECT_EQ(W->pbVc->maximum(), 1);
    EXPECT_EQ(W->feVw->Value(), 1);
}

TEST_F(SettingsFileTest, CreationSendsNothingToTheDevice)
{
    WriteIni("[Limits]\nR=5\nL=3\nHome=1\n[Control]\nMode=19\n[I]\nHold=1\n");
    Create();
    EXPECT_EQ(Log(), (Strings{"VLM_CloseDevice()"}));
    EXPECT_FALSE(W->FUpdating);
}

TEST_F(SettingsFileTest, LimitRowsComeBackOnTheirOwnRows)
{
    Create();
    W->cbLimEnR->click();       // forward: enabled, normally open → 1
    W->cbLimEnL->click();
    W->cbLimNoL->click();       // backward: enabled, normally closed → 3
    W->cbHomeEn->click();
    W->cbHomeSt->click();       // home: 5
    Pick(W->cbCntrl, 4);
    CloseWindow();
    W.reset();

    Create();
    EXPECT_EQ(W->FLimR, 1);
    EXPECT_EQ(W->FLimL, 3);
    EXPECT_EQ(W->FHome, 5);
    EXPECT_TRUE(W->cbLimEnR->isChecked());
    EXPECT_TRUE(W->cbLimNoR->isChecked());
    EXPECT_TRUE(W->cbLimEnL->isChecked());
    EXPECT_FALSE(W->cbLimNoL->isChecked());
    EXPECT_TRUE(W->cbHomeSt->isChecked());
    EXPECT_EQ(W->cbCntrl->currentIndex(), 4);
    EXPECT_EQ(W->FCntrl, 0x24);
}

TEST_F(SettingsFileTest, RoundTripKeepsHandAddedKeysAndTruncates)
{
    WriteIni("; a comment\n[Extra]\nMine = 7\n[I]\n Iw = 321 \n");
    Create();
    EXPECT_EQ(W->feCw->Value(), 321);
    W->feCw->SetValue(150.9);
    W->feVw->SetValue(150.7);
    CloseWindow();
    QByteArray Saved = ReadIni();
    EXPECT_TRUE(Saved.contains("[Extra]\r\nMine=7\r\n"));
    EXPECT_FALSE(Saved.contains("comment"));
    EXPECT_TRUE(Saved.contains("Iw=150\r\n"));
    EXPECT_TRUE(Saved.contains("Vw=150\r\n"));
}

TEST_F(SettingsFileTest, StartSetsTheSpeedBarFromTheTruncatedSpeed)
{
    WriteIni("[V]\nVw=150\n");
    Create();
    EXPECT_EQ(W->sbVw->value(), 150);
}

TEST_F(SettingsFileTest, ClosingStopsSavesDisconnectsAndNothingFollows)
{
    Create();
    Tick();
    ClearCalls();
    CloseWindow();
    EXPECT_EQ(Log(), (Strings{"VLM_Stop()", "VLM_Stop()", "VLM_CloseDevice()"}));
    EXPECT_FALSE(W->Timer->isActive());
    EXPECT_FALSE(ReadIni().isEmpty());
}

TEST_F(SettingsFileTest, ClosingWithNoLinkDropsTheFailedStopSilently)
{
    Create();
    VD::Fail("VLM_Stop", "Device is not open");
    CloseWindow();
    EXPECT_EQ(Log(), (Strings{"VLM_CloseDevice()", "VLM_Stop()", "VLM_GetLastError()", "VLM_CloseDevice()"}));
    EXPECT_TRUE(TestSupport::Boxes().empty());
    EXPECT_FALSE(ReadIni().isEmpty());
}

TEST_F(SettingsFileTest, UnwritableFolderShowsTheErrorAndClosingGoesOn)
{
    const QString Missing = Dir.path() + "/gone/velmor";
    Application::SetExeName(Missing);
    Create();
    CloseWindow();
    ASSERT_EQ(TestSupport::Boxes().size(), 1u);
    EXPECT_EQ(TestSupport::Boxes()[0].Caption, "Error");
    EXPECT_EQ(TestSupport::Boxes()[0].Text, "Cannot create file " + Dir.path() + "/gone/velmor.ini");
    EXPECT_EQ(TestSupport::Boxes()[0].Flags, 0x10);
    EXPECT_EQ(CallsOf("VLM_CloseDevice").size(), 2u) << "the disconnect still ran";
}

TEST_F(SettingsFileTest, UnreadableFileStartsWithDefaultsAndIsNotOverwritten)
{
    // A folder where the file should be cannot be read as a file.
    ASSERT_TRUE(QDir(Dir.path()).mkdir("velmor.ini"));
    Create();
    ASSERT_EQ(TestSupport::Boxes().size(), 1u);
    // At start, by the standard exception display.
    EXPECT_EQ(TestSupport::Boxes()[0].Caption, "Velmor");
    EXPECT_EQ(TestSupport::Boxes()[0].Text, "Cannot read file " + IniPath() + ": it is a folder.");
    EXPECT_EQ(TestSupport::Boxes()[0].Flags, 0x10);
    EXPECT_FALSE(W->FUpdating);
    EXPECT_EQ(W->feCw->Value(), 200);
    EXPECT_EQ(W->StatusText(0), " OFF LINE ");
    Tick();
    EXPECT_TRUE(W->FConnected) << "start-up finished: the poll runs";

    CloseWindow();
    EXPECT_EQ(TestSupport::Boxes().size(), 2u);
    EXPECT_TRUE(QFileInfo(IniPath()).isDir());
}

TEST_F(SettingsFileTest, PositionSavedWhileMinimisedIsTheNormalOne)
{
    Create();
    W->show();
    W->move(140, 170);
    const QPoint Normal = W->pos();
    W->showMinimized();
    ASSERT_TRUE(W->isMinimized());
    W->move(-32000, -32000); // where some systems park a minimised window
    CloseWindow();
    QByteArray Saved = ReadIni();
    EXPECT_TRUE(Saved.contains("Left=" + QByteArray::number(Normal.x()) + "\r\n")) << Saved.constData();
    EXPECT_TRUE(Saved.contains("Top=" + QByteArray::number(Normal.y()) + "\r\n"));
}

TEST_F(SettingsFileTest, StoredPositionIsSavedWhenTheWindowNeverLeftMinimised)
{
    WriteIni("[General]\nLeft=140\nTop=170\n");
    Create();
    W->showMinimized();
    CloseWindow();
    QByteArray Saved = ReadIni();
    EXPECT_TRUE(Saved.contains("Left=140\r\nTop=170\r\n")) << Saved.constData();
}

TEST_F(SettingsFileTest, NoTickRunsWhileTheClosingShowsItsError)
{
    // The save fails and its message box waits for the operator, with the
    // poll timer running as usual: the link must not come back meanwhile.
    Application::SetExeName(Dir.path() + "/gone/velmor");
    Create();
    W->Timer->start();
    int Boxes = 0;
    Application::SetMessageBoxHook([&](const QString&, const QString&, int) {
        ++Boxes;
        W->close(); // closing again while the first close waits does nothing
        QTest::qWait(350);
        return int(Application::IDOK);
    });
    ClearCalls();
    W->close();
    TestSupport::RecordMessageBoxes();
    EXPECT_EQ(Boxes, 1);
    EXPECT_FALSE(W->Timer->isActive());
    EXPECT_EQ(Log(), (Strings{"VLM_Stop()", "VLM_CloseDevice()"}));
}

TEST_F(SettingsFileTest, ExitMenuRunsTheSameCloseSequence)
{
    Create();
    ClearCalls();
    W->mnExit->trigger();
    W->Timer->stop();
    EXPECT_EQ(Log(), (Strings{"VLM_Stop()", "VLM_CloseDevice()"}));
    EXPECT_EQ(ReadIni(), QByteArray(FirstRunFile));
}

// A program without a window sends what the panel sends for the same file:
// the plain table's reading of odd values matches the window's controls.
TEST_F(SettingsFileTest, PlainTableSendsWhatThePanelSendsOnConnecting)
{
    const char* const Files[] = {
        FirstRunFile,
        "[General]\nVmax=5000\n[V]\nVw=9000\nVm=0\n[I]\nIw=-5\nIa=0x1F4\nIh=2500\nHold=7\n[A]\nAw=99999\n"
        "[Mode]\nMicrostep=2\nDecay=-1\n[Limits]\nR=5\nL=-3\nHome=0x10\n[Control]\nMode=19\n",
        "[General]\nVmax=0\n[V]\nVw=-7\n[Mode]\nMicrostep=1\nDecay=1\n[I]\nHold=1\nIh=abc\n",
    };
    for (const char* Text : Files) {
        WriteIni(Text);
        TIniFile Ini(IniPath().toStdString());
        const PanelSettings::DeviceParameters P =
            PanelSettings::ConnectionParameters(PanelSettings::Read(Ini, PanelSettings::Defaults()));
        const auto S = [](int32_t V) { return std::to_string(V); };
        const Strings Expected{
            "VLM_SetMode(" + S(P.Step) + "," + S(P.Decay) + ")",
            "VLM_SetIh(" + S(P.Ih) + ")", "VLM_SetIa(" + S(P.Ia) + ")", "VLM_SetIw(" + S(P.Iw) + ")",
            "VLM_SetVm(" + S(P.Vm) + ")", "VLM_SetVw(" + S(P.Vw) + ")", "VLM_SetAw(" + S(P.Aw) + ")",
            "VLM_SetLim(" + S(P.LimBackward) + "," + S(P.LimForward) + "," + S(P.LimHome) + ")",
            "VLM_SetCtrl(" + S(P.Control) + ")"};

        Create();
        ClearCalls();
        W->SendAllParameters();
        EXPECT_EQ(Log(), Expected) << Text;
        W->Timer->stop();
        W.reset();
    }
}

TEST_F(SettingsFileTest, PlainTableKnowsTheFieldsRanges)
{
    Create();
    const struct {
        PanelSettings::Entry Entry;
        TFloatEdit* Field;
    } Fields[] = {{PanelSettings::Iw, W->feCw}, {PanelSettings::Ia, W->feCa}, {PanelSettings::Ih, W->feCh},
                  {PanelSettings::Nr, W->feNr}, {PanelSettings::Vmax, W->feVmax}, {PanelSettings::Vm, W->feVm},
                  {PanelSettings::Aw, W->feAw}};
    for (const auto& F : Fields) {
        EXPECT_EQ(PanelSettings::RangeOf(F.Entry).Min, F.Field->MinValue()) << F.Field->objectName().toStdString();
        EXPECT_EQ(PanelSettings::RangeOf(F.Entry).Max, F.Field->MaxValue()) << F.Field->objectName().toStdString();
    }
    // The working speed's field is bounded by the maximum speed on top.
    EXPECT_EQ(PanelSettings::RangeOf(PanelSettings::Vw).Min, W->feVw->MinValue());
}

TEST_F(SettingsFileTest, OversizedFileIsMovedAsideAtCloseAndThisRunsSettingsSaved)
{
    WriteIni("[V]\nVw=123\n");
    ASSERT_TRUE(QFile::resize(IniPath(), 64 * 1024 * 1024 + 1)); // sparse
    Create();
    ASSERT_EQ(TestSupport::Boxes().size(), 1u);
    EXPECT_EQ(TestSupport::Boxes()[0].Caption, "Error");
    EXPECT_EQ(TestSupport::Boxes()[0].Text, "Cannot read file " + IniPath() + ": the file is too large");
    EXPECT_EQ(W->feVw->Value(), 100);

    CloseWindow();
    ASSERT_EQ(TestSupport::Boxes().size(), 2u);
    EXPECT_EQ(TestSupport::Boxes()[1].Caption, "Error");
    EXPECT_TRUE(TestSupport::Boxes()[1].Text.contains("moved to " + IniPath() + ".bak"));
    EXPECT_EQ(ReadIni(), QByteArray(FirstRunFile));
    EXPECT_EQ(QFileInfo(IniPath() + ".bak").size(), 64 * 1024 * 1024 + 1);
}

TEST(WindowPlacement, ATitleBarOnNoScreenComesBackWholeOnTheNearestScreen)
{
    const QVector<QRect> Screens{QRect(0, 0, 1280, 1024), QRect(1280, 0, 1920, 1080)};
    const QSize Frame(505, 500);
    // Any part of the title bar on a screen: as stored.
    EXPECT_EQ(ReachablePosition({-500, 10}, Frame, 20, Screens), QPoint(-500, 10));
    EXPECT_EQ(ReachablePosition({3100, 1070}, Frame, 20, Screens), QPoint(3100, 1070));
    EXPECT_EQ(ReachablePosition({100, -19}, Frame, 20, Screens), QPoint(100, -19));
    // None of it: the nearest position on the nearest screen.
    EXPECT_EQ(ReachablePosition({100, -20}, Frame, 20, Screens), QPoint(100, 0));
    EXPECT_EQ(ReachablePosition({-100000, 300}, Frame, 20, Screens), QPoint(0, 300));
    EXPECT_EQ(ReachablePosition({5000, 300}, Frame, 20, Screens), QPoint(3200 - 505, 300));
    EXPECT_EQ(ReachablePosition({1500, 1100}, Frame, 20, Screens), QPoint(1500, 1080 - 500));
    EXPECT_EQ(ReachablePosition({100, 1100}, Frame, 20, Screens), QPoint(100, 1024 - 500));
    EXPECT_EQ(ReachablePosition({100, 2000000}, Frame, 20, Screens), QPoint(1280, 1080 - 500)) << "the taller screen";
    // A frame larger than the screen: its top left corner on it.
    EXPECT_EQ(ReachablePosition({-9000, -9000}, QSize(2000, 2000), 20, Screens), QPoint(0, 0));
}

TEST_F(SettingsFileTest, StoredPositionOffEveryScreenIsBroughtBackAndSaved)
{
    const QRect Screen = QGuiApplication::primaryScreen()->geometry();
    WriteIni("[General]\nLeft=-100000\nTop=40\n");
    Create();
    EXPECT_EQ(W->pos(), QPoint(Screen.left(), 40));
    CloseWindow();
    EXPECT_TRUE(ReadIni().contains("Left=" + QByteArray::number(Screen.left()) + "\r\nTop=40\r\n"));
    W.reset();

    // Partly visible: as stored.
    WriteIni("[General]\nLeft=-300\nTop=40\n");
    Create();
    EXPECT_EQ(W->pos(), QPoint(-300, 40));
}
