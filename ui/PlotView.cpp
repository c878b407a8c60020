#include "ui/PlotView.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/DeviceState.h"
#include "platform/Guard.h"

namespace {

constexpr int LeftMargin = 78, RightMargin = 12, TopMargin = 6, BottomMargin = 20;
constexpr int BandHeight = 11, BandGap = 3, BandRows = 4;
constexpr int ChartGap = 10;

const QColor CoordColor(20, 60, 170);
const QColor SpeedColor(200, 90, 0);
const QColor GridColor(225, 225, 225);
const QColor FailedColor(255, 215, 215);

// The band colour of a state code.
QColor StateColor(int32_t State)
{
    switch (State) {
    case Core::StateStopped: return QColor(190, 190, 190);
    case Core::StateDone: return QColor(90, 180, 90);
    case Core::StateLimit: return QColor(220, 50, 50);
    case Core::StateRotating: return QColor(70, 130, 220);
    case Core::StatePositioning: return QColor(60, 190, 200);
    case Core::StateEncoderPositioning: return QColor(40, 150, 140);
    case Core::StateHoming: return QColor(160, 90, 200);
    default: return QColor(120, 120, 120);
    }
}

// The state's name on its band (the status bar's texts, shortened).
QString StateName(int32_t State)
{
    switch (State) {
    case Core::StateStopped: return QStringLiteral("Stopped");
    case Core::StateDone: return QStringLiteral("Done");
    case Core::StateLimit: return QStringLiteral("Limit");
    case Core::StateRotating: return QStringLiteral("Rotating");
    case Core::StatePositioning: return QStringLiteral("Positioning");
    case Core::StateEncoderPositioning: return QStringLiteral("Encoder positioning");
    case Core::StateHoming: return QStringLiteral("Homing");
    default: return QStringLiteral("State %1").arg(State);
    }
}

// A step of 1, 2 or 5 times a power of ten giving about Count divisions.
double NiceStep(double Range, int Count)
{
    if (!(Range > 0))
        return 1;
    const double Raw = Range / Count;
    const double Mag = std::pow(10.0, std::floor(std::log10(Raw)));
    const double Norm = Raw / Mag;
    return (Norm < 1.5 ? 1 : Norm < 3 ? 2 : Norm < 7 ? 5 : 10) * Mag;
}

// A value axis: [Lo, Hi] mapped onto the rectangle's height.
struct TAxis {
    double Lo = -1, Hi = 1;
    QRect Box;
    double Y(double V) const { return Box.bottom() + 0.5 - (V - Lo) / (Hi - Lo) * (Box.height() - 1); }
};

TAxis ScaledAxis(QRect Box, double Lo, double Hi, bool WithZero)
{
    if (WithZero) {
        Lo = std::min(Lo, 0.0);
        Hi = std::max(Hi, 0.0);
    }
    if (Hi - Lo < 1) {
        Lo -= 1;
        Hi += 1;
    }
    const double Pad = (Hi - Lo) * 0.06;
    TAxis A;
    A.Lo = Lo - Pad;
    A.Hi = Hi + Pad;
    A.Box = Box;
    return A;
}

void DrawValueAxis(QPainter& P, const TAxis& A, const QString& Title, const QColor& Color)
{
    P.setPen(QColor(150, 150, 150));
    P.setBrush(Qt::NoBrush);
    P.drawRect(A.Box.adjusted(0, 0, -1, -1));
    const int Count = std::max(2, A.Box.height() / 40);
    const double Step = NiceStep(A.Hi - A.Lo, Count);
    const QFontMetrics M = P.fontMetrics();
    for (double V = std::ceil(A.Lo / Step) * Step; V <= A.Hi; V += Step) {
        const int Y = static_cast<int>(A.Y(V));
        P.setPen(std::abs(V) < Step / 2 ? QColor(170, 170, 170) : GridColor);
        P.drawLine(A.Box.left() + 1, Y, A.Box.right() - 1, Y);
        const QString Label = QString::number(std::abs(V) < Step / 2 ? 0.0 : V, 'g', 10);
        P.setPen(Qt::black);
        P.drawText(QRect(0, Y - M.height() / 2, A.Box.left() - 4, M.height()), Qt::AlignRight | Qt::AlignVCenter,
                   Label);
    }
    P.setPen(Color);
    P.drawText(A.Box.adjusted(6, 2, -6, -2), Qt::AlignLeft | Qt::AlignTop, Title);
}

// A step of the time grid: a round number of seconds or of tenths, giving
// about Count divisions.
int64_t TimeStep(int64_t SpanUs, int Count)
{
    static const int64_t Steps[] = {100000, 200000, 500000, 1000000, 2000000, 5000000, 10000000, 15000000,
                                    30000000, 60000000, 120000000, 300000000, 600000000};
    const int64_t Raw = SpanUs / std::max(1, Count);
    for (int64_t S : Steps)
        if (S >= Raw)
            return S;
    return Steps[sizeof Steps / sizeof *Steps - 1];
}

QString LocalTime(int64_t UtcUs, bool Millis)
{
    return QDateTime::fromMSecsSinceEpoch(UtcUs / 1000)
        .toString(Millis ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss"));
}

} // namespace

TPlotView::TPlotView(const Plot::THistory& History, QWidget* Parent) : QWidget(Parent), FHistory(History)
{
    setMouseTracking(true);
    setMinimumSize(300, 220);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("График координаты и скорости"));
    setCursor(Qt::CrossCursor);
}

int64_t TPlotView::ViewToUs() const
{
    if (FPaused)
        return FPausedToUs;
    return FHistory.Empty() ? 0 : FHistory.Newest().SteadyUs + 1;
}

void TPlotView::SetSpanUs(int64_t SpanUs)
{
    FSpanUs = std::clamp(SpanUs, MinSpanUs, std::max(MinSpanUs, FHistory.SpanUs()));
    update();
}

void TPlotView::SetPaused(bool Paused)
{
    if (Paused == FPaused)
        return;
    if (Paused)
        FPausedToUs = ViewToUs();
    FPaused = Paused;
    UpdateAccessibleText();
    update();
    emit PausedChanged(Paused);
}

void TPlotView::ShowUntil(int64_t ToUs)
{
    SetPaused(true);
    FPausedToUs = ToUs;
    update();
}

void TPlotView::HistoryChanged(bool Cleared)
{
    if (!FPaused || Cleared)
        update();
}

QRect TPlotView::PlotArea(QSize Size)
{
    return QRect(LeftMargin, TopMargin, std::max(1, Size.width() - LeftMargin - RightMargin),
                 std::max(1, Size.height() - TopMargin - BottomMargin));
}

int64_t TPlotView::TimeAt(int X, QRect Area) const
{
    const int64_t From = ViewFromUs();
    return From + static_cast<int64_t>((X - Area.left() + 0.5) * static_cast<double>(FSpanUs) / Area.width());
}

void TPlotView::Render(QPainter& P, QSize Size)
{
    P.fillRect(QRect(QPoint(0, 0), Size), Qt::white);
    const QRect Area = PlotArea(Size);
    const int64_t From = ViewFromUs(), To = ViewToUs();
    Plot::Decimate(FHistory, From, To, Area.width(), FColumns);

    // Charts above the bands: the coordinate a little taller than the speed.
    const int BandsHeight = BandRows * (BandHeight + BandGap);
    const int ChartsHeight = std::max(40, Area.height() - BandsHeight - ChartGap);
    const int CoordHeight = ChartsHeight * 55 / 100;
    const QRect CoordBox(Area.left(), Area.top(), Area.width(), CoordHeight);
    const QRect SpeedBox(Area.left(), CoordBox.bottom() + 1 + ChartGap, Area.width(),
                         ChartsHeight - CoordHeight - ChartGap);
    const int BandsTop = SpeedBox.bottom() + 1 + BandGap * 2;
    const Plot::TDecimation& D = FColumns;
    const TAxis CoordAxis = ScaledAxis(CoordBox, D.Any ? D.CoordMin : 0, D.Any ? D.CoordMax : 0, false);
    const TAxis SpeedAxis = ScaledAxis(SpeedBox, D.Any ? D.SpeedMin : 0, D.Any ? D.SpeedMax : 0, true);

    QFont Small = font();
    Small.setPointSizeF(std::max(6.0, Small.pointSizeF() * 0.85));
    P.setFont(Small);

    // Where readings failed: a pale red stripe through charts and bands.
    const int Columns = static_cast<int>(D.Columns.size());
    for (int X = 0; X < Columns;) {
        if (!D.Columns[X].BandFailed) {
            ++X;
            continue;
        }
        int End = X;
        while (End < Columns && D.Columns[End].BandFailed)
            ++End;
        P.fillRect(QRect(Area.left() + X, Area.top(), End - X, BandsTop + BandsHeight - Area.top()), FailedColor);
        X = End;
    }

    // The time grid, with wall-clock labels (none before the first reading:
    // the steady clock alone tells no time of day).
    const int64_t Offset = FHistory.Empty() ? 0 : FHistory.Newest().UtcUs - FHistory.Newest().SteadyUs;
    if (!FHistory.Empty()) {
        const int64_t Step = TimeStep(To - From, std::max(2, Area.width() / 110));
        const bool Millis = Step < 1000000;
        const QFontMetrics M = P.fontMetrics();
        // Grid lines on round wall-clock times.
        int64_t T = ((From + Offset) / Step + 1) * Step - Offset;
        for (; T < To; T += Step) {
            const int X = Area.left() + static_cast<int>((T - From) * static_cast<double>(Area.width()) / (To - From));
            P.setPen(GridColor);
            P.drawLine(X, CoordBox.top(), X, CoordBox.bottom());
            P.drawLine(X, SpeedBox.top(), X, SpeedBox.bottom());
            P.setPen(Qt::black);
            const QString Label = LocalTime(T + Offset, Millis);
            const int W = M.horizontalAdvance(Label);
            P.drawText(QRect(X - W / 2, Size.height() - BottomMargin + 2, W + 2, BottomMargin - 2),
                       Qt::AlignHCenter | Qt::AlignTop, Label);
        }
    }

    DrawValueAxis(P, CoordAxis, QStringLiteral("Координата, полушагов"), CoordColor);
    DrawValueAxis(P, SpeedAxis, QStringLiteral("Скорость, полушагов/сек"), SpeedColor);

    // The curves: per column a stroke from least to greatest, and a line from
    // the previous column's last reading to this one's first where the curve
    // goes on. All strokes of a curve in one call.
    std::vector<QLineF> CoordLines, SpeedLines;
    CoordLines.reserve(D.Columns.size() * 2);
    SpeedLines.reserve(D.Columns.size() * 2);
    int Prev = -1;
    for (int X = 0; X < Columns; ++X) {
        const Plot::TColumn& C = D.Columns[X];
        if (!C.HasMotion)
            continue;
        const double Px = Area.left() + X + 0.5;
        if (C.JoinsPrevious && Prev >= 0) {
            const Plot::TColumn& B = D.Columns[Prev];
            const double Bx = Area.left() + Prev + 0.5;
            CoordLines.emplace_back(Bx, CoordAxis.Y(B.CoordLast), Px, CoordAxis.Y(C.CoordFirst));
            SpeedLines.emplace_back(Bx, SpeedAxis.Y(B.SpeedLast), Px, SpeedAxis.Y(C.SpeedFirst));
        }
        CoordLines.emplace_back(Px, CoordAxis.Y(C.CoordMin), Px, CoordAxis.Y(C.CoordMax));
        SpeedLines.emplace_back(Px, SpeedAxis.Y(C.SpeedMin), Px, SpeedAxis.Y(C.SpeedMax));
        Prev = X;
    }
    P.setClipRect(CoordBox.adjusted(1, 1, -1, -1));
    P.setPen(QPen(CoordColor, 1));
    P.drawLines(CoordLines.data(), static_cast<int>(CoordLines.size()));
    P.setClipRect(SpeedBox.adjusted(1, 1, -1, -1));
    P.setPen(QPen(SpeedColor, 1));
    P.drawLines(SpeedLines.data(), static_cast<int>(SpeedLines.size()));
    P.setClipping(false);

    // The bands: the state, then the backward limit, the forward limit and
    // the home sensor where active.
    const QString BandNames[BandRows] = {QStringLiteral("Состояние"), QStringLiteral("Задний"),
                                         QStringLiteral("Передний"), QStringLiteral("База")};
    const QColor InputColors[3] = {QColor(220, 50, 50), QColor(220, 50, 50), QColor(40, 160, 60)};
    for (int Row = 0; Row < BandRows; ++Row) {
        const int Y = BandsTop + Row * (BandHeight + BandGap);
        P.setPen(Qt::black);
        P.drawText(QRect(0, Y - 2, LeftMargin - 4, BandHeight + 4), Qt::AlignRight | Qt::AlignVCenter,
                   BandNames[Row]);
        P.fillRect(QRect(Area.left(), Y, Area.width(), BandHeight), QColor(245, 245, 245));
        for (int X = 0; X < Columns;) {
            const Plot::TColumn& C = D.Columns[X];
            const auto Active = [Row](const Plot::TColumn& Col) {
                return Row == 0 ? Col.BandState >= 0 : Col.BandLimits >= 0 && (Col.BandLimits & (1 << (Row - 1))) != 0;
            };
            const bool On = Active(C);
            const QColor Color = Row == 0 ? StateColor(C.BandState) : InputColors[Row - 1];
            int End = X + 1;
            // A run of columns of the same colour in one rectangle.
            while (End < Columns) {
                const Plot::TColumn& N = D.Columns[End];
                if (Active(N) != On || (Row == 0 && On && N.BandState != C.BandState))
                    break;
                ++End;
            }
            if (On) {
                const QRect Run(Area.left() + X, Y, End - X, BandHeight);
                P.fillRect(Run, Color);
                // The state's name where its run is wide enough for it.
                if (Row == 0) {
                    const QString Name = StateName(C.BandState);
                    if (P.fontMetrics().horizontalAdvance(Name) + 8 < Run.width()) {
                        P.setPen(Qt::black);
                        P.drawText(Run.adjusted(0, -2, 0, 2), Qt::AlignCenter, Name);
                    }
                }
            }
            X = End;
        }
    }

    if (!D.Any) {
        P.setPen(QColor(120, 120, 120));
        P.drawText(CoordBox, Qt::AlignCenter,
                   FHistory.Empty() ? QStringLiteral("Нет показаний: они приходят с опросом на странице «Управление»")
                                    : QStringLiteral("Нет показаний координаты и скорости на этом участке"));
    }
    if (FPaused) {
        P.setPen(QColor(160, 0, 0));
        P.drawText(CoordBox.adjusted(6, 2, -6, -2), Qt::AlignRight | Qt::AlignTop, QStringLiteral("ПАУЗА"));
    }
    if (FCursorX >= Area.left() && FCursorX <= Area.right()) {
        P.setPen(QPen(QColor(80, 80, 80), 1, Qt::DashLine));
        P.drawLine(FCursorX, Area.top(), FCursorX, BandsTop + BandsHeight);
    }
}

QString TPlotView::ReadoutAt(int X) const
{
    const QRect Area = PlotArea(size());
    if (X < Area.left() || X > Area.right() || FHistory.Empty())
        return QString();
    const int64_t T = TimeAt(X, Area);
    // The reading nearest the pointer, within a column's time or a poll's.
    const int64_t Reach = std::max<int64_t>(FSpanUs / Area.width(), 150000);
    const std::size_t I = FHistory.LowerBound(T);
    const Core::PollSample* Best = nullptr;
    int64_t BestDist = Reach + 1;
    for (std::size_t J : {I, I - 1}) {
        if (J >= FHistory.Size())
            continue;
        const Core::PollSample& S = FHistory.At(J);
        const int64_t Dist = std::llabs(S.SteadyUs - T);
        if (Dist < BestDist) {
            BestDist = Dist;
            Best = &S;
        }
    }
    if (!Best)
        return QString();
    const QString Time = LocalTime(Best->UtcUs, true);
    if (!Best->Ok)
        return QStringLiteral("%1   нет связи: %2").arg(Time, QString::fromStdString(Best->Error));
    if (!Best->HasMotion)
        return QStringLiteral("%1   координата и скорость не читались").arg(Time);
    return QStringLiteral("%1   Координата: %2 полушагов   Скорость: %3 полушагов/сек")
        .arg(Time)
        .arg(Best->Coordinate)
        .arg(Best->Speed);
}

void TPlotView::SetCursorX(int X)
{
    FCursorX = X;
    const QString Text = ReadoutAt(X);
    if (Text != FReadout) {
        FReadout = Text;
        emit ReadoutChanged(FReadout);
    }
    update();
}

void TPlotView::UpdateAccessibleText()
{
    const Plot::TDecimation& D = FColumns;
    QString Text = FPaused ? QStringLiteral("Пауза") : QStringLiteral("Обновляется");
    Text += QStringLiteral("; видно %1 с").arg(static_cast<double>(FSpanUs) / 1e6, 0, 'f', 1);
    if (D.Any)
        Text += QStringLiteral("; координата от %1 до %2 полушагов; скорость от %3 до %4 полушагов/сек")
                    .arg(D.CoordMin)
                    .arg(D.CoordMax)
                    .arg(D.SpeedMin)
                    .arg(D.SpeedMax);
    else
        Text += QStringLiteral("; нет показаний");
    if (!FReadout.isEmpty())
        Text += QStringLiteral("; курсор: ") + FReadout;
    if (Text != accessibleDescription())
        setAccessibleDescription(Text);
}

void TPlotView::paintEvent(QPaintEvent*)
{
    Guarded([&] {
        QPainter P(this);
        Render(P, size());
        // What is under a resting pointer changes as the view follows.
        if (FCursorX >= 0) {
            const QString Text = ReadoutAt(FCursorX);
            if (Text != FReadout) {
                FReadout = Text;
                emit ReadoutChanged(FReadout);
            }
        }
        UpdateAccessibleText();
    });
}

void TPlotView::wheelEvent(QWheelEvent* Event)
{
    Guarded([&] {
        const int Steps = Event->angleDelta().y() / 120;
        if (Steps == 0)
            return;
        const int64_t Old = FSpanUs;
        const int64_t New = std::clamp(static_cast<int64_t>(static_cast<double>(Old) * std::pow(0.8, Steps)),
                                       MinSpanUs, std::max(MinSpanUs, FHistory.SpanUs()));
        if (FPaused) {
            // The time under the pointer stays under it.
            const QRect Area = PlotArea(size());
            const int64_t T = TimeAt(static_cast<int>(Event->position().x()), Area);
            FPausedToUs = T + static_cast<int64_t>(static_cast<double>(FPausedToUs - T) * New / Old);
        }
        FSpanUs = New;
        SetCursorX(FCursorX);
        Event->accept();
    });
}

void TPlotView::mousePressEvent(QMouseEvent* Event)
{
    Guarded([&] {
        if (Event->button() != Qt::LeftButton)
            return;
        FDragging = true;
        FDragX = static_cast<int>(Event->position().x());
        FDragToUs = ViewToUs();
    });
}

void TPlotView::mouseMoveEvent(QMouseEvent* Event)
{
    Guarded([&] {
        const int X = static_cast<int>(Event->position().x());
        if (FDragging && X != FDragX) {
            // Dragging stops the view where it is and moves it with the hand.
            if (!FPaused)
                SetPaused(true);
            const QRect Area = PlotArea(size());
            PanTo(FDragToUs - static_cast<int64_t>((X - FDragX) * static_cast<double>(FSpanUs) / Area.width()));
        }
        SetCursorX(X);
    });
}

void TPlotView::PanTo(int64_t To)
{
    SetPaused(true);
    if (!FHistory.Empty()) {
        const int64_t Newest = FHistory.Newest().SteadyUs + 1;
        const int64_t Oldest = FHistory.Oldest().SteadyUs + FSpanUs / 10;
        To = std::clamp(To, std::min(Oldest, Newest), Newest);
    }
    FPausedToUs = To;
    update();
}

void TPlotView::keyPressEvent(QKeyEvent* Event)
{
    Guarded([&] {
        switch (Event->key()) {
        case Qt::Key_Left: PanTo(ViewToUs() - FSpanUs / 10); break;
        case Qt::Key_Right: PanTo(ViewToUs() + FSpanUs / 10); break;
        case Qt::Key_Plus:
        case Qt::Key_Equal: SetSpanUs(FSpanUs * 4 / 5); break;
        case Qt::Key_Minus: SetSpanUs(FSpanUs * 5 / 4); break;
        case Qt::Key_End: SetPaused(false); break;
        default: QWidget::keyPressEvent(Event); return;
        }
        Event->accept();
    });
}

void TPlotView::mouseReleaseEvent(QMouseEvent* Event)
{
    Guarded([&] {
        if (Event->button() == Qt::LeftButton)
            FDragging = false;
    });
}

void TPlotView::leaveEvent(QEvent*)
{
    Guarded([&] {
        FDragging = false;
        SetCursorX(-1);
    });
}
