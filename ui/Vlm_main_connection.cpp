// The link to the controller: connecting, disconnecting, and the status poll
// that finds out when it is lost. The calls themselves run on the device
// thread (PanelLink holds their sequences); here the window asks for them and
// shows what comes back.
#include "ui/Vlm_main.h"

#include <QCursor>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QTimer>
#include <QToolTip>

#include "application/Application.h"
#include "core/DeviceState.h"
#include "core/ParameterWords.h"
#include "platform/Exception.h"
#include "platform/Guard.h"
#include "ui/DeviceThread.h"
#include "ui/MainFormControls.h"

using ParameterWords::Trunc;

namespace {

// How readings no longer current look: faded, unlike both their live and
// their disabled look.
constexpr qreal StaleOpacity = 0.3;

void MarkStale(QWidget* W, bool Stale)
{
    if (!W)
        return;
    if (Stale) {
        if (!qobject_cast<QGraphicsOpacityEffect*>(W->graphicsEffect())) {
            auto* Fade = new QGraphicsOpacityEffect(W);
            Fade->setOpacity(StaleOpacity);
            W->setGraphicsEffect(Fade);
        }
    } else if (W->graphicsEffect()) {
        W->setGraphicsEffect(nullptr);
    }
}

} // namespace

TMainForm::TGroupScope::TGroupScope(TMainForm& Form) : FForm(Form), FOuter(Form.FGroup)
{
    if (GuardDetail::Depth() <= 1 || Form.FGroup == 0)
        Form.FGroup = ++Form.FGroupCount;
}

TMainForm::TGroupScope::~TGroupScope() { FForm.FGroup = FOuter; }

void TMainForm::Ask(std::function<void()> Work, std::function<void(std::exception_ptr)> Done, uint64_t Group)
{
    ++FOutstanding;
    const bool Posted = FDevice->Post([this, Work = std::move(Work), Done = std::move(Done), Group] {
        // On the device thread: FFailedGroup is its own.
        std::exception_ptr Error;
        const bool Skipped = Group != 0 && Group == FFailedGroup;
        if (!Skipped) {
            try {
                Work();
            } catch (...) {
                Error = std::current_exception();
                if (Group != 0)
                    FFailedGroup = Group;
            }
        }
        QMetaObject::invokeMethod(
            this,
            [this, Done, Error, Skipped] {
                --FOutstanding;
                if (!Skipped && Done)
                    Guarded([&] { Done(Error); });
            },
            Qt::QueuedConnection);
    });
    if (!Posted) {
        --FOutstanding;
        // Once the window is closing nothing more is sent, by design.
        if (!FClosed)
            throw Exception("Too many requests are waiting for the controller: this one was not sent");
    }
}

void TMainForm::Command(std::function<void()> Call)
{
    Ask(
        std::move(Call),
        [this](std::exception_ptr E) {
            if (E && !FClosed)
                std::rethrow_exception(E);
        },
        FGroup);
}

PanelLink::TParameters TMainForm::Parameters() const
{
    PanelLink::TParameters P;
    P.Step = ParameterWords::StepModeValue(cbSM->currentIndex());
    P.Decay = cbFM->currentIndex();
    P.Ih = HoldingCurrent();
    P.Ia = Trunc(feCa->Value());
    P.Iw = Trunc(feCw->Value());
    P.Vm = Trunc(feVm->Value());
    P.Vw = Trunc(feVw->Value());
    P.Aw = Trunc(feAw->Value());
    P.LimBackward = FLimL;
    P.LimForward = FLimR;
    P.LimHome = FHome;
    P.Control = FCntrl;
    return P;
}

void TMainForm::Connect() { StartConnect(false); }

void TMainForm::StartConnect(bool Warn)
{
    const PanelLink::TParameters P = Parameters();
    const uint64_t Epoch = FLinkEpoch;
    auto Opened = std::make_shared<PanelLink::TOpened>();
    Ask(
        [this, P, Opened] { *Opened = FLink.Connect(P); },
        [this, Opened, Warn, Epoch](std::exception_ptr) {
            --FConnectPending;
            // A disconnect asked for since then has the last word.
            if (Epoch == FLinkEpoch)
                ConnectOpened(*Opened);
            if (FRearm && !FClosed && !ConnectPending() && !FTickPending) {
                FRearm = false;
                Timer->start();
            }
            // Not while the window closes: the closing waits for nobody.
            if (Warn && !Opened->Ok && !FClosed)
                WarnNotFound();
        });
    ++FConnectPending;
}

void TMainForm::ConnectOpened(const PanelLink::TOpened& Opened)
{
    if (!Opened.Ok) {
        if (!Opened.Reason.empty())
            FLastFailure = QString::fromStdString(Opened.Reason);
        ShowOffLine();
        return;
    }
    FConnected = true;
    SetStatusText(0, QStringLiteral(" ON LINE: ") + QString::fromStdString(Opened.Info));
    mnConnect->setEnabled(false);
    mnDisconnect->setEnabled(true);
}

void TMainForm::WarnNotFound()
{
    // The library's reason is read only if the operator asks to see it: the
    // failed attempt's calls stay close, open, close.
    Application::MessageBox(QStringLiteral("Устройство не найдено."), QStringLiteral("Warning"),
                            Application::MB_ICONWARNING | Application::MB_OK,
                            [this](Application::DetailDelivery Deliver) { AskWhyNotFound(std::move(Deliver)); });
}

void TMainForm::AskWhyNotFound(Application::DetailDelivery Deliver)
{
    auto Text = std::make_shared<std::string>();
    Ask([Text] { *Text = PanelLink::TLink::LastError(); },
        [this, Text, Deliver = std::move(Deliver)](std::exception_ptr) {
            const QString Reason = QString::fromStdString(*Text);
            // It is also why the panel is off line, as far as it knows.
            if (!FConnected && !Reason.isEmpty()) {
                FLastFailure = Reason;
                ShowLinkTip();
            }
            Deliver(Reason);
        });
}

void TMainForm::Disconnect()
{
    ++FLinkEpoch;
    Ask([this] { FLink.Disconnect(); }, nullptr);
    ShowOffLine();
}

void TMainForm::ShowOffLine()
{
    FConnected = false;
    SetStatusText(0, QStringLiteral(" OFF LINE "));
    mnConnect->setEnabled(true);
    mnDisconnect->setEnabled(false);
    // What was read while the link was up is no longer current.
    if (FReadingsSeen)
        MarkReadings(true, true);
}

void TMainForm::MarkReadings(bool MotionStale, bool StateStale)
{
    FMotionStale = MotionStale;
    FStateStale = StateStale;
    for (QWidget* W : std::initializer_list<QWidget*>{feNc, feVc, pbVc, cbLimL, cbLimR, cbHome})
        MarkStale(W, MotionStale);
    MarkStale(FStatusPanels[1], StateStale);
}

void TMainForm::mnConnectClick(QObject*)
{
    Disconnect();
    StartConnect(true);
    FKeepConnected = true;
}

void TMainForm::mnDisconnectClick(QObject*)
{
    FKeepConnected = false;
    Disconnect();
}

void TMainForm::TimerTimer(QObject*)
{
    Timer->stop();
    // One tick on the line at a time, and none while a connection attempt
    // is under way: the end of what is under way re-arms the timer.
    if (FTickPending || ConnectPending()) {
        FRearm = true;
        return;
    }
    if (FClosed)
        return;
    PanelLink::TPollRequest Q;
    Q.Page = PageControl->currentIndex();
    Q.Adc = cbAdc->isChecked();
    Q.Homing = FHoming;
    Q.KeepConnected = FKeepConnected;
    Q.Parameters = Parameters();
    const uint64_t Run = FHomingRun;
    const uint64_t Epoch = FLinkEpoch;
    auto Result = std::make_shared<PanelLink::TPollResult>();
    try {
        Ask(
            [this, Q, Result, Epoch] {
                // The window hears of a lost link at once: the tick's
                // connection attempt may take the line's deadline.
                *Result = FLink.Poll(Q, [this, Epoch](const std::string& Error) {
                    const QString Text = QString::fromStdString(Error);
                    QMetaObject::invokeMethod(
                        this,
                        [this, Epoch, Text] {
                            if (Epoch != FLinkEpoch)
                                return;
                            FLastFailure = Text;
                            Guarded([&] { ShowOffLine(); });
                        },
                        Qt::QueuedConnection);
                });
            },
            [this, Result, Run, Epoch](std::exception_ptr) {
                FTickPending = false;
                FRearm = false;
                if (!FClosed)
                    Timer->start();
                TickDone(*Result, Run, Epoch);
            });
    } catch (...) {
        if (!FClosed)
            Timer->start();
        throw;
    }
    FTickPending = true;
}

void TMainForm::TickDone(const PanelLink::TPollResult& R, uint64_t HomingRun, uint64_t Epoch)
{
    Core::PollSample Sample = R.Sample;
    if (!R.Read && Sample.Error.empty())
        Sample.Error = FLastFailure.toStdString();
    // The window disconnected or connected since the tick asked: what the
    // tick found of the link is out of date.
    if (Epoch != FLinkEpoch) {
        emit Sampled(Sample);
        return;
    }
    if (R.Read) {
        if (Sample.HasMotion) {
            feNc->SetValue(Sample.Coordinate);
            SetChecked(cbLimL, (Sample.Limits & Core::ActiveBackward) != 0);
            SetChecked(cbLimR, (Sample.Limits & Core::ActiveForward) != 0);
            SetChecked(cbHome, (Sample.Limits & Core::ActiveHome) != 0);
            feVc->SetValue(Sample.Speed);
            SetProgress(pbVc, ParameterWords::Magnitude(Sample.Speed));
        }
        if (R.HasAdc && cbAdc->isChecked())
            feAdc->SetValue(R.Adc);
        // Only for the homing run the tick asked about.
        if (R.HomeDone && FHoming && HomingRun == FHomingRun) {
            feHome->SetValue(R.HomeCoordinate);
            feHome->SetValueVisible(true);
            FHoming = false;
        }
        if (Sample.HasState)
            SetStatusText(1, QString::fromStdString(R.StateText));
        if (Sample.HasMotion || Sample.HasState)
            FReadingsSeen = true;
        MarkReadings(FMotionStale && !Sample.HasMotion, FStateStale && !Sample.HasState);
    }
    if (R.Lost)
        FLastFailure = QString::fromStdString(R.Sample.Error);
    if (!R.Read || R.Lost)
        ShowOffLine();
    if (R.Reconnect.Tried)
        ConnectOpened(R.Reconnect);
    emit Sampled(Sample);
}

void TMainForm::AskWhyOffLine()
{
    if (FConnected || FAskingWhy)
        return;
    FAskingWhy = true;
    auto Text = std::make_shared<std::string>();
    Ask([Text] { *Text = PanelLink::TLink::LastError(); },
        [this, Text](std::exception_ptr) {
            FAskingWhy = false;
            if (FConnected)
                return;
            FLastFailure = QString::fromStdString(*Text);
            ShowLinkTip();
            QLabel* Panel = FStatusPanels[0];
            if (Panel && QToolTip::isVisible() && Panel->underMouse())
                QToolTip::showText(QCursor::pos(), Panel->toolTip(), Panel);
        });
}

void TMainForm::PageControlChange(QObject*) { TimerTimer(nullptr); }
