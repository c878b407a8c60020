#pragma once

#include <QWidget>

#include <cstdint>

#include "plot/Decimate.h"
#include "plot/History.h"

class QPainter;

// The plot itself, drawn by us from the history's pixel columns: the
// coordinate above, the present speed below, sharing one time axis, and under
// them bands for the controller's state and its three inputs. The mouse wheel
// zooms the time axis, a drag pans it, the pointer reads out the reading under
// it. The value axes follow what is in view.
//
// The view either follows the newest reading or stands still (paused): new
// readings go on into the history meanwhile. A drag pauses it; resuming
// follows the newest reading again.
class TPlotView : public QWidget {
    Q_OBJECT

public:
    explicit TPlotView(const Plot::THistory& History, QWidget* Parent = nullptr);

    // The visible time on the steady clock, [From, To).
    int64_t ViewFromUs() const { return ViewToUs() - FSpanUs; }
    int64_t ViewToUs() const;
    int64_t SpanUs() const { return FSpanUs; }
    // The visible span, kept between bounds: a second up to the history's span.
    void SetSpanUs(int64_t SpanUs);
    static constexpr int64_t MinSpanUs = 1000000;
    static constexpr int64_t DefaultSpanUs = 60 * 1000000LL;

    bool Paused() const { return FPaused; }
    void SetPaused(bool Paused);
    // Paused with the view's right edge at ToUs.
    void ShowUntil(int64_t ToUs);

    // Called by the owner after each new reading and after a clear: repaints
    // unless paused (a clear always repaints).
    void HistoryChanged(bool Cleared = false);

    // The readout at a point of the plot area, as the cursor shows it; empty
    // outside the plot or where there is no reading.
    QString ReadoutAt(int X) const;
    QString Readout() const { return FReadout; }

    // Draws the whole plot at Size (the widget's paint, a PNG, a benchmark).
    void Render(QPainter& P, QSize Size);
    // The columns of the last drawing.
    const Plot::TDecimation& Columns() const { return FColumns; }
    // The plot area within a drawing of Size: the value charts and the bands
    // share its horizontal extent.
    static QRect PlotArea(QSize Size);

signals:
    void PausedChanged(bool Paused);
    void ReadoutChanged(const QString& Text);

protected:
    void paintEvent(QPaintEvent* Event) override;
    void wheelEvent(QWheelEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void leaveEvent(QEvent* Event) override;
    // The keyboard's way: Left and Right move the view by a tenth (and pause
    // it), + and - zoom, End follows the newest reading again.
    void keyPressEvent(QKeyEvent* Event) override;

private:
    int64_t TimeAt(int X, QRect Area) const;
    // Paused with the right edge at ToUs, kept where there are readings.
    void PanTo(int64_t ToUs);
    void SetCursorX(int X);
    void UpdateAccessibleText();

    const Plot::THistory& FHistory;
    Plot::TDecimation FColumns;
    int64_t FSpanUs = DefaultSpanUs;
    bool FPaused = false;
    int64_t FPausedToUs = 0;
    // A drag under way: where it started and the view's right edge then.
    bool FDragging = false;
    int FDragX = 0;
    int64_t FDragToUs = 0;
    int FCursorX = -1;
    QString FReadout;
};
