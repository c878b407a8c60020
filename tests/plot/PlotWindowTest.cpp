// The "График" window on the real main window and the recording double: its
// controls, its exports, its place in the settings file, and that it asks the
// device library nothing.
#include "tests/panel/PanelFixture.h"

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QWheelEvent>

#include "core/SampleCsv.h"
#include "platform/IniFile.h"
#include "settings/PlotSettings.h"
#include "ui/PlotForm.h"
#include "ui/PlotView.h"

namespace {

constexpr int64_t TickUs = 100000;
constexpr int64_t Utc0 = 1796860800LL * 1000000; // 2026-12-10T00:00:00Z

Core::PollSample Reading(int64_t K, int32_t Coord, int32_t Speed, int32_t Limits = 0, int32_t State = 4)
{
    Core::PollSample S;
    S.SteadyUs = 5000000 + K * TickUs;
    S.UtcUs = Utc0 + K * TickUs;
    S.Ok = S.HasMotion = S.HasState = true;
    S.Coordinate = Coord;
    S.Speed = Speed;
    S.Limits = Limits;
    S.StateCode = State;
    return S;
}

std::vector<std::string> FileLines(const QString& Path)
{
    QFile F(Path);
    if (!F.open(QIODevice::ReadOnly))
        return {};
    std::vector<std::string> R;
    for (const QByteArray& L : F.readAll().split('\n'))
        if (!L.isEmpty())
            R.push_back(L.toStdString());
    return R;
}

} // namespace

class PlotWindowTest : public PanelTest {
protected:
    TPlotForm* Plot = nullptr;

    void OpenPlot()
    {
        W->mnPlotClick(nullptr);
        Plot = W->FPlotForm;
        ASSERT_NE(Plot, nullptr);
        ASSERT_TRUE(Plot->isVisible());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Plot));
    }

    // A positioning run: a ramp up, a plateau and a one-tick spike.
    void FeedRun(int Count)
    {
        for (int K = 0; K < Count; ++K)
            Plot->AddSample(Reading(K, K * 50, std::min(K * 100, 3000) + (K == 250 ? 9000 : 0)));
    }

    QString IniPath() const { return Dir.path() + "/velmor.ini"; }
};

TEST_F(PlotWindowTest, OpeningThePlotAddsNoLibraryCall)
{
    // The same ticks on the same readings, with and without the plot: the
    // calls recorded are the same, and opening, closing and opening it again
    // add none.
    const auto Run = [this](bool WithPlot) {
        VD::Reset();
        Create();
        Tick(); // connects
        Strings Before = Log();
        if (WithPlot) {
            W->mnPlot->trigger();
            Settle();
            Plot = W->FPlotForm;
            EXPECT_EQ(Log(), Before);
        }
        for (int Page : {0, 0, 1, 2, 0}) {
            W->SelectPage(Page);
            VD::SetRead("VLM_GetNc", 100 * Page + 7);
            VD::SetRead("VLM_GetVc", -20);
            Tick();
        }
        Before = Log();
        if (WithPlot) {
            Plot->close();
            Settle();
            W->mnPlotClick(nullptr);
            Settle();
            EXPECT_EQ(Log(), Before);
        }
        Tick();
        Tick();
        const Strings Calls = Log();
        W->Timer->stop();
        W.reset();
        return Calls;
    };
    const Strings Without = Run(false);
    const Strings With = Run(true);
    EXPECT_GT(Without.size(), 20u);
    EXPECT_EQ(With, Without);
}

TEST_F(PlotWindowTest, EveryTicksReadingReachesThePlot)
{
    CreateConnected();
    OpenPlot();
    VD::SetRead("VLM_GetNc", -4321);
    VD::SetRead("VLM_GetVc", 250);
    VD::SetRead("VLM_GetLim", 6);
    VD::SetRead("VLM_GetStat", 4);
    Tick();
    W->SelectPage(1); // the state only
    Tick();
    W->SelectPage(0);
    VD::Fail("VLM_GetLim", "Timeout", 1);
    Tick();
    const Plot::THistory& H = Plot->History();
    ASSERT_EQ(H.Size(), 3u);
    EXPECT_TRUE(H.At(0).Ok && H.At(0).HasMotion && H.At(0).HasState);
    EXPECT_EQ(H.At(0).Coordinate, -4321);
    EXPECT_EQ(H.At(0).Speed, 250);
    EXPECT_EQ(H.At(0).Limits, 6);
    EXPECT_EQ(H.At(0).StateCode, 4);
    EXPECT_TRUE(H.At(1).Ok && !H.At(1).HasMotion && H.At(1).HasState);
    EXPECT_FALSE(H.At(2).Ok);
    EXPECT_EQ(H.At(2).Error, "Timeout");
    EXPECT_LE(H.At(0).SteadyUs, H.At(1).SteadyUs);
    EXPECT_LE(H.At(1).SteadyUs, H.At(2).SteadyUs);
    // Closed, it goes on keeping them.
    Plot->close();
    Tick();
    EXPECT_EQ(H.Size(), 4u);
}

TEST_F(PlotWindowTest, OpensOnceFromItsMenuItemAndKeepsItsHistory)
{
    Create();
    W->mnPlot->trigger();
    Plot = W->FPlotForm;
    ASSERT_NE(Plot, nullptr);
    EXPECT_TRUE(Plot->isVisible());
    EXPECT_FALSE(Plot->isModal());
    EXPECT_EQ(Plot->windowTitle(), "График");
    FeedRun(10);
    Plot->close();
    EXPECT_FALSE(Plot->isVisible());
    W->mnPlot->trigger();
    EXPECT_EQ(W->FPlotForm, Plot);
    EXPECT_EQ(Plot->History().Size(), 10u);
    // The main window's poll goes on with the plot open.
    EXPECT_TRUE(W->Timer->interval() == 100);
}

TEST_F(PlotWindowTest, PauseStopsTheViewWhileReadingsGoOn)
{
    Create();
    OpenPlot();
    FeedRun(100);
    TPlotView* V = Plot->View;
    EXPECT_FALSE(V->Paused());
    EXPECT_EQ(V->ViewToUs(), Reading(99, 0, 0).SteadyUs + 1);
    Plot->btPause->click();
    EXPECT_TRUE(V->Paused());
    EXPECT_EQ(Plot->btPause->text(), "Продолжить");
    FeedRun(0);
    for (int K = 100; K < 150; ++K)
        Plot->AddSample(Reading(K, 0, 0));
    EXPECT_EQ(Plot->History().Size(), 150u);
    EXPECT_EQ(V->ViewToUs(), Reading(99, 0, 0).SteadyUs + 1);
    V->repaint();
    EXPECT_TRUE(V->accessibleDescription().startsWith("Пауза")) << V->accessibleDescription().toStdString();
    Plot->btPause->click();
    EXPECT_FALSE(V->Paused());
    EXPECT_EQ(Plot->btPause->text(), "Пауза");
    EXPECT_EQ(V->ViewToUs(), Reading(149, 0, 0).SteadyUs + 1);
    V->repaint();
    EXPECT_TRUE(V->accessibleDescription().startsWith("Обновляется"));
}

TEST_F(PlotWindowTest, WheelZoomsTheTimeAxisWithinBoundsAndDragPans)
{
    Create();
    OpenPlot();
    FeedRun(6000);
    TPlotView* V = Plot->View;
    const int64_t Start = V->SpanUs();
    const QPointF Mid(V->width() / 2.0, V->height() / 3.0);
    const auto Wheel = [&](int Delta) {
        QWheelEvent E(Mid, V->mapToGlobal(Mid), QPoint(), QPoint(0, Delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(V, &E);
    };
    Wheel(120);
    EXPECT_LT(V->SpanUs(), Start);
    for (int I = 0; I < 50; ++I)
        Wheel(120);
    EXPECT_EQ(V->SpanUs(), TPlotView::MinSpanUs);
    for (int I = 0; I < 80; ++I)
        Wheel(-120);
    EXPECT_EQ(V->SpanUs(), Plot::THistory::DefaultSpanUs);
    EXPECT_FALSE(V->Paused()); // zooming alone keeps following

    // A drag to the right shows earlier readings and pauses the view.
    V->SetSpanUs(60 * 1000000LL);
    const int64_t Before = V->ViewToUs();
    QTest::mousePress(V, Qt::LeftButton, Qt::NoModifier, QPoint(400, 100));
    QTest::mouseMove(V, QPoint(500, 100));
    QTest::mouseRelease(V, Qt::LeftButton, Qt::NoModifier, QPoint(500, 100));
    EXPECT_TRUE(V->Paused());
    EXPECT_TRUE(Plot->btPause->isChecked());
    const int Width = TPlotView::PlotArea(V->size()).width();
    EXPECT_NEAR(static_cast<double>(Before - V->ViewToUs()), 100.0 * 60e6 / Width, 60e6 / Width);
    // Paused, the wheel keeps the time under the pointer where it is.
    const QRect Area = TPlotView::PlotArea(V->size());
    const auto TimeAt = [&](double X) {
        return V->ViewFromUs() + (X - Area.left() + 0.5) * static_cast<double>(V->SpanUs()) / Area.width();
    };
    const double Under = TimeAt(Mid.x());
    Wheel(240);
    EXPECT_NEAR(TimeAt(Mid.x()), Under, 2.0 * V->SpanUs() / Area.width());
    // "Вся история" shows all ten minutes.
    Plot->btWhole->click();
    EXPECT_EQ(V->ViewFromUs(), Reading(0, 0, 0).SteadyUs);
}

TEST_F(PlotWindowTest, KeysPanZoomAndFollowAgain)
{
    Create();
    OpenPlot();
    FeedRun(3000);
    TPlotView* V = Plot->View;
    V->SetSpanUs(100 * TickUs);
    const int64_t Newest = V->ViewToUs();
    QTest::keyClick(V, Qt::Key_Left);
    EXPECT_TRUE(V->Paused());
    EXPECT_EQ(V->ViewToUs(), Newest - 10 * TickUs);
    QTest::keyClick(V, Qt::Key_Right);
    QTest::keyClick(V, Qt::Key_Right); // not past the newest reading
    EXPECT_EQ(V->ViewToUs(), Newest);
    QTest::keyClick(V, Qt::Key_Minus);
    EXPECT_EQ(V->SpanUs(), 125 * TickUs);
    QTest::keyClick(V, Qt::Key_Plus);
    EXPECT_EQ(V->SpanUs(), 100 * TickUs);
    for (int I = 0; I < 400; ++I)
        QTest::keyClick(V, Qt::Key_Left); // not before the oldest
    EXPECT_EQ(V->ViewToUs(), Reading(0, 0, 0).SteadyUs + 10 * TickUs);
    QTest::keyClick(V, Qt::Key_End);
    EXPECT_FALSE(V->Paused());
    EXPECT_EQ(Plot->btPause->text(), "Пауза");
}

TEST_F(PlotWindowTest, CursorReadsOutTheReadingUnderThePointer)
{
    Create();
    OpenPlot();
    FeedRun(600); // one minute: the default span
    TPlotView* V = Plot->View;
    V->SetSpanUs(600 * TickUs);
    const QRect Area = TPlotView::PlotArea(V->size());
    // The pixel column of reading 250 (the spike).
    const int64_t T = Reading(250, 0, 0).SteadyUs;
    const int X = Area.left() + static_cast<int>((T - V->ViewFromUs()) * static_cast<double>(Area.width()) / V->SpanUs());
    QTest::mouseMove(V, QPoint(X, 50));
    const QString Text = Plot->lbCursor->text();
    EXPECT_TRUE(Text.contains("Координата: 12500 полушагов")) << Text.toStdString();
    EXPECT_TRUE(Text.contains("Скорость: 12000 полушагов/сек")) << Text.toStdString();
    EXPECT_EQ(V->ReadoutAt(Area.left() - 5), QString());
    // A failed reading reads out as such.
    Core::PollSample Lost;
    Lost.SteadyUs = Reading(600, 0, 0).SteadyUs;
    Lost.UtcUs = Utc0 + 600 * TickUs;
    Lost.Error = "Timeout";
    Plot->AddSample(Lost);
    EXPECT_TRUE(V->ReadoutAt(Area.right()).contains("нет связи: Timeout")) << V->ReadoutAt(Area.right()).toStdString();
}

TEST_F(PlotWindowTest, ClearEmptiesTheHistory)
{
    Create();
    OpenPlot();
    FeedRun(50);
    Plot->btClear->click();
    EXPECT_TRUE(Plot->History().Empty());
    Plot->View->repaint();
    EXPECT_FALSE(Plot->View->Columns().Any);
    FeedRun(3);
    EXPECT_EQ(Plot->History().Size(), 3u);
}

TEST_F(PlotWindowTest, ExportsTheVisibleSpanOrTheWholeHistory)
{
    Create();
    OpenPlot();
    FeedRun(3000); // five minutes
    TPlotView* V = Plot->View;
    V->ShowUntil(Reading(1000, 0, 0).SteadyUs);
    V->SetSpanUs(100 * TickUs);
    QString Error;
    ASSERT_TRUE(Plot->ExportCsv(Dir.path() + "/part.csv", false, Error)) << Error.toStdString();
    const auto Part = FileLines(Dir.path() + "/part.csv");
    ASSERT_EQ(Part.size(), 101u);
    EXPECT_EQ(Part[0], Core::SampleCsvHeader());
    EXPECT_EQ(Part[1], "0.000,2026-12-10T00:01:30.000Z,45000,3000,0,4,Positioning...,");
    EXPECT_EQ(Part[100], "9.900,2026-12-10T00:01:39.900Z,49950,3000,0,4,Positioning...,");

    ASSERT_TRUE(Plot->ExportCsv(Dir.path() + "/all.csv", true, Error));
    EXPECT_EQ(FileLines(Dir.path() + "/all.csv").size(), 3001u);

    ASSERT_TRUE(Plot->ExportPng(Dir.path() + "/plot.png", Error)) << Error.toStdString();
    QImage Image(Dir.path() + "/plot.png");
    EXPECT_EQ(Image.size(), V->size());
    // The coordinate's colour is on the picture.
    bool Blue = false;
    for (int Y = 0; Y < Image.height() && !Blue; ++Y)
        for (int X = 0; X < Image.width() && !Blue; ++X)
            Blue = Image.pixelColor(X, Y) == QColor(20, 60, 170);
    EXPECT_TRUE(Blue);

    // A file that cannot be written: the error says which, and what stood
    // there is untouched.
    EXPECT_FALSE(Plot->ExportCsv(Dir.path() + "/no/such/folder/x.csv", true, Error));
    EXPECT_TRUE(Error.contains("no/such/folder/x.csv")) << Error.toStdString();
}

TEST_F(PlotWindowTest, BandsShowStateAndInputsAndASpikeReachesTheChart)
{
    Create();
    OpenPlot();
    for (int K = 0; K < 600; ++K)
        Plot->AddSample(Reading(K, K, K == 300 ? 29000 : 100, K == 400 ? 2 : 0, K < 500 ? 3 : 2));
    TPlotView* V = Plot->View;
    V->SetSpanUs(600 * TickUs);
    V->repaint();
    const Plot::TDecimation& D = V->Columns();
    EXPECT_EQ(D.SpeedMax, 29000);
    int Forward = 0, Limit = 0;
    for (const Plot::TColumn& C : D.Columns) {
        Forward += (C.Limits & 2) != 0;
        Limit += C.State == 2;
    }
    EXPECT_EQ(Forward, 1);
    EXPECT_GT(Limit, 0);
    EXPECT_TRUE(V->accessibleDescription().contains("скорость от 100 до 29000")) << V->accessibleDescription().toStdString();
}

TEST_F(PlotWindowTest, PlaceIsKeptInTheSettingsFileBesideTheOtherEntries)
{
    {
        QFile F(IniPath());
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        F.write("[General]\r\nVmax=5000\r\n[Mine]\r\nKeep=1\r\n");
    }
    Create();
    OpenPlot();
    Plot->resize(700, 450);
    Plot->move(120, 90);
    const QPoint Pos = Plot->pos();
    Plot->close();

    TIniFile Ini(IniPath().toStdString());
    EXPECT_EQ(Ini.ReadInteger("Plot", "Width", 0), 700);
    EXPECT_EQ(Ini.ReadInteger("Plot", "Height", 0), 450);
    EXPECT_EQ(Ini.ReadInteger("Plot", "Left", -1), Pos.x());
    EXPECT_EQ(Ini.ReadInteger("Plot", "Top", -1), Pos.y());
    EXPECT_EQ(Ini.ReadInteger("Mine", "Keep", 0), 1);
    EXPECT_EQ(Ini.ReadInteger("General", "Vmax", 0), 5000);

    // A new panel opens the plot where it was.
    W->Timer->stop();
    W.reset();
    Create();
    OpenPlot();
    EXPECT_EQ(Plot->size(), QSize(700, 450));
    EXPECT_EQ(Plot->pos(), Pos);
}

TEST_F(PlotWindowTest, WithNoStoredPlaceItOpensOnThePanelsScreen)
{
    Create();
    W->move(300, 100);
    OpenPlot();
    const QRect Room = W->screen()->availableGeometry();
    EXPECT_TRUE(Room.contains(Plot->geometry())) << Plot->geometry().x() << "," << Plot->geometry().y() << " "
                                                 << Plot->width() << "x" << Plot->height();
    // A stored place far off every screen is brought back.
    Plot->close();
    {
        TIniFile Ini(IniPath().toStdString());
        PlotSettings::Write(Ini, {true, 50000, 50000, 640, 400});
        Ini.UpdateFile();
    }
    W->Timer->stop();
    W.reset();
    Create();
    OpenPlot();
    EXPECT_EQ(Plot->size(), QSize(640, 400));
    EXPECT_TRUE(Room.intersects(Plot->geometry()));
}

TEST_F(PlotWindowTest, ThePanelClosingWithThePlotOpenKeepsItsPlace)
{
    Create();
    OpenPlot();
    Plot->resize(640, 400);
    W->close();
    W->Timer->stop();
    W.reset();
    TIniFile Ini(IniPath().toStdString());
    EXPECT_EQ(Ini.ReadInteger("Plot", "Width", 0), 640);
    // The main window's own entries are there too.
    EXPECT_TRUE(Ini.ValueExists("General", "Vmax"));
}

TEST(PlotSettings, ReadsBackWhatItWritesAndRefusesWhatNoWindowCouldBe)
{
    TIniFile Ini("/nonexistent/velmor.ini");
    EXPECT_FALSE(PlotSettings::Read(Ini).Stored);
    PlotSettings::Write(Ini, {true, -30, 40, 800, 600});
    const PlotSettings::TPlacement P = PlotSettings::Read(Ini);
    EXPECT_TRUE(P.Stored);
    EXPECT_EQ(P.Left, -30);
    EXPECT_EQ(P.Top, 40);
    EXPECT_EQ(P.Width, 800);
    EXPECT_EQ(P.Height, 600);
    for (const char* Text : {"[Plot]\r\nLeft=1\r\nTop=2\r\nWidth=100\r\nHeight=600\r\n",
                             "[Plot]\r\nLeft=1\r\nTop=2\r\nWidth=800\r\nHeight=99999\r\n",
                             "[Plot]\r\nLeft=1\r\nTop=2\r\nWidth=800\r\n",
                             "[Plot]\r\nLeft=x\r\nTop=2\r\nWidth=800\r\nHeight=600\r\n",
                             "[Plot]\r\nLeft=999999999\r\nTop=2\r\nWidth=800\r\nHeight=600\r\n"}) {
        Ini.SetText(Text);
        EXPECT_FALSE(PlotSettings::Read(Ini).Stored) << Text;
    }
}
