#pragma once

#include <QWidget>

#include "core/PollSample.h"
#include "plot/History.h"

class QLabel;
class QPushButton;
class TPlotView;

// The "График" window: the live plot of the coordinate and the speed, fed
// with every reading the panel's poll takes (it asks the controller nothing
// itself), and its controls: pause, the whole history in view, clear, the
// export of the visible span or of the whole history as CSV, and of the plot
// as PNG. Non-modal; its size and position are kept in the settings file.
class TPlotForm : public QWidget {
    Q_OBJECT

public:
    explicit TPlotForm(QWidget* Parent = nullptr);
    ~TPlotForm() override;

    // A reading of the poll, in the order taken.
    void AddSample(const Core::PollSample& S);

    const Plot::THistory& History() const { return FHistory; }

    // The exports, without asking for a file name: false and Error set when
    // the file could not be written (an existing file is then left as it was).
    bool ExportCsv(const QString& Path, bool Whole, QString& Error);
    bool ExportPng(const QString& Path, QString& Error);

    // The window's place to and from the settings file beside the program.
    void LoadPlacement();
    void SavePlacement();

    TPlotView* View = nullptr;
    QPushButton* btPause = nullptr;
    QPushButton* btWhole = nullptr;
    QPushButton* btClear = nullptr;
    QPushButton* btCsvVisible = nullptr;
    QPushButton* btCsvAll = nullptr;
    QPushButton* btPng = nullptr;
    QLabel* lbCursor = nullptr;

    // Handlers.
    void btPauseClick(QObject* Sender);
    void btWholeClick(QObject* Sender);
    void btClearClick(QObject* Sender);
    void btCsvVisibleClick(QObject* Sender);
    void btCsvAllClick(QObject* Sender);
    void btPngClick(QObject* Sender);

protected:
    void closeEvent(QCloseEvent* Event) override;

private:
    void ShowPaused(bool Paused);
    void AskAndExportCsv(bool Whole);
    void ShowError(const QString& Text);

    Plot::THistory FHistory;
    bool FPlaced = false;
};
