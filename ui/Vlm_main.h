#pragma once

#include <QMainWindow>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "application/Application.h"
#include "core/PollSample.h"
#include "ui/PanelLink.h"
#include "ui_Vlm_main.h"

class QCloseEvent;
class QMoveEvent;
class QLabel;
class QTimer;
class TDeviceThread;
class TPlotForm;

// The main window: the whole operator interface of the panel. Its controls
// come from the window description (Vlm_main.ui) and are members under their
// own names (feCw, cbLimEnR, sbVw, mnConnect, ...). One unit per concern:
// Vlm_main.cpp the window, its creation and closing; Vlm_main_window.cpp what
// the description cannot hold; Vlm_main_connection.cpp the link and the status
// poll; Vlm_main_parameters.cpp the parameter controls and their words;
// Vlm_main_motion.cpp the motion commands; Vlm_main_settings.cpp the settings
// file.
//
// The window never calls the device library itself: every call runs on the
// window's device thread (DeviceThread.h), in the order the window asked for
// it, and what comes back is shown here through queued calls.
class TMainForm : public QMainWindow, public Ui::TMainForm {
    Q_OBJECT

signals:
    // Every tick's reading, success or failure, timed at its answer.
    void Sampled(const Core::PollSample& Sample);

public:
    explicit TMainForm(QWidget* Parent = nullptr);
    ~TMainForm() override;

    // State fields, all zero when the window object is created.
    bool FUpdating = false;
    int32_t FLimR = 0;
    int32_t FLimL = 0;
    int32_t FHome = 0;
    int32_t FCntrl = 0;
    bool FHoming = false;
    bool FConnected = false;
    bool FKeepConnected = false;

    // The 100 ms poll timer (disabled until the end of window creation).
    QTimer* Timer = nullptr;

    // The status bar's two text panels: 0 the link, 1 the controller's state.
    QString StatusText(int Panel) const;
    void SetStatusText(int Panel, const QString& Text);

    // Window handlers.
    void FormCreate(QObject* Sender);
    void FormClose(QObject* Sender);
    void mnExitClick(QObject* Sender);
    void mnAboutClick(QObject* Sender);

    // Connection. Each hands its calls to the device thread and returns;
    // the status panel, the menu and FConnected follow when the answer
    // comes (Disconnect's at once: its outcome does not matter).
    void Connect();
    void Disconnect();
    void mnConnectClick(QObject* Sender);
    void mnDisconnectClick(QObject* Sender);

    // A connection attempt is on its way to the device thread or on it.
    bool ConnectPending() const { return FConnectPending > 0; }
    // Nothing handed to the device thread is still waiting for its result.
    bool DeviceIdle() const { return FOutstanding == 0; }
    // The coordinate, the speed, the lamps (motion) and the state are what
    // the controller last said while the link was up; false from the loss
    // of the link until a fresh answer.
    bool MotionCurrent() const { return !FMotionStale; }
    bool StateCurrent() const { return !FStateStale; }
    // The library's text of the last failure seen, as far as the window
    // knows it.
    QString LastFailure() const { return FLastFailure; }

    // The link setting (Vlm_main_link.cpp): the dialog, and the link panel's
    // tooltip naming the link the panel is on or trying.
    void mnLinkSetupClick(QObject* Sender);
    QString LinkTip() const;
    void ShowLinkTip();
    // While off line: asks the library why, and shows the answer in the
    // tooltip (as it is about to show).
    void AskWhyOffLine();

    // The plot window (Vlm_main_plot.cpp): made at its first opening, then
    // kept with its history, fed with every reading of the poll.
    TPlotForm* FPlotForm = nullptr;
    void mnPlotClick(QObject* Sender);

    // Parameter controls.
    void cbModeChange(QObject* Sender);
    void feCwChanged(QObject* Sender);
    void feCaChanged(QObject* Sender);
    void feChChanged(QObject* Sender);
    void feVmChanged(QObject* Sender);
    void feVwChanged(QObject* Sender);
    void sbVwChange(QObject* Sender);
    void feAwChanged(QObject* Sender);
    void feVmaxChanged(QObject* Sender);
    void cbLimEnRClick(QObject* Sender);
    void cbCntrlChange(QObject* Sender);
    void cbAdcClick(QObject* Sender);

    void SendAllParameters();
    void ComposeLimitWords(int32_t& Backward, int32_t& Forward, int32_t& Home);
    void ShowLimitWords(int32_t Backward, int32_t Forward, int32_t Home);
    int32_t ComposeControlWord();
    void ShowControlWord(int32_t Word);

    // Motion commands.
    void btClrNcClick(QObject* Sender);
    void btStartNClick(QObject* Sender);
    void btStart0Click(QObject* Sender);
    void btStartRClick(QObject* Sender);
    void btStartLClick(QObject* Sender);
    void btStopClick(QObject* Sender);
    void btHomeClick(QObject* Sender);
    void btEEPROMClick(QObject* Sender);

    // Status poll.
    void TimerTimer(QObject* Sender);
    void PageControlChange(QObject* Sender);

    // Settings file.
    void LoadSettings();
    void SaveSettings();

    // Selects a page from the program: PageControlChange does not run.
    void SelectPage(int Index);

protected:
    void closeEvent(QCloseEvent* Event) override;
    void moveEvent(QMoveEvent* Event) override;

private:
    // Builds what the window description cannot hold: fixed size, window
    // flags, fonts, the status panels, the timer, icons (Vlm_main_window.cpp).
    void SetupWindow();
    static QFont WindowFont();
    // Enables and binds "Настройка линии…" and sets the link tooltip.
    void SetupLinkMenu();
    // Binds "График".
    void SetupPlotMenu();
    // Binds every handler to its control, behind the guard.
    void BindHandlers();

    // The holding current sent: feCh truncated while cbHold is checked, else 0.
    int32_t HoldingCurrent() const;
    // The maximum speed applied to sbVw, pbVc and feVw.
    void ApplyMaxSpeed();
    // The enabling that follows the three "use" boxes of page 3.
    void ApplyLimitEnabling();
    // The window's position in its normal state, also while minimised.
    QPoint NormalPosition() const;

    // Where each entry of the settings file goes when loaded and comes from
    // when saved (Vlm_main_settings.cpp).
    struct TEntryBinding {
        void (*Load)(TMainForm& Form, int32_t Value);
        int32_t (*Save)(const TMainForm& Form);
    };
    static const TEntryBinding* EntryBindings();

    // Runs a library-calling handler as one group: if a call it asked for
    // fails, the calls it asked for after it are not made, as an exception
    // would have ended the handler. A handler run inside another one (a
    // control changed from a handler) joins the outer group.
    template <void (TMainForm::*Handler)(QObject*)>
    void Grouped(QObject* Sender)
    {
        TGroupScope Scope(*this);
        (this->*Handler)(Sender);
    }
    struct TGroupScope {
        explicit TGroupScope(TMainForm& Form);
        ~TGroupScope();
        TMainForm& FForm;
        uint64_t FOuter;
    };

    // Hands Work to the device thread; Done then runs on this thread, behind
    // the guard, with what Work threw (or nothing). Group: see Grouped; 0
    // for a request that is always made (the link's own).
    void Ask(std::function<void()> Work, std::function<void(std::exception_ptr)> Done, uint64_t Group = 0);
    // A setter or command: its failure shows the standard exception box.
    void Command(std::function<void()> Call);

    // The window's parameters, as a connection sends them.
    PanelLink::TParameters Parameters() const;
    // Shows the outcome of a connection attempt.
    void ConnectOpened(const PanelLink::TOpened& Opened);
    // The link is down: status, menus, readings no longer current.
    void ShowOffLine();
    void TickDone(const PanelLink::TPollResult& R, uint64_t HomingRun, uint64_t Epoch);
    // A connection attempt; Warn: the box if it fails, with the library's
    // reason.
    void StartConnect(bool Warn);
    void MarkReadings(bool MotionStale, bool StateStale);
    void WarnNotFound();
    void AskWhyNotFound(Application::DetailDelivery Deliver);

    std::unique_ptr<TDeviceThread> FDevice;
    // Device-thread side: touched by jobs only.
    PanelLink::TLink FLink;
    uint64_t FFailedGroup = 0;
    // Window side.
    uint64_t FGroup = 0;
    uint64_t FGroupCount = 0;
    int FOutstanding = 0;
    int FConnectPending = 0;
    // Set as the closing begins; the device thread reads it.
    std::atomic<bool> FClosing{false};
    uint64_t FLinkEpoch = 0;
    bool FAskingWhy = false;
    bool FTickPending = false;
    bool FRearm = false;
    uint64_t FHomingRun = 0;
    bool FMotionStale = false;
    bool FStateStale = false;
    bool FReadingsSeen = false;
    QString FLastFailure;

    QLabel* FStatusPanels[2] = {nullptr, nullptr};
    QPoint FNormalPos;
    bool FClosed = false;
};

extern TMainForm* MainForm;
