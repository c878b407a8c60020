// The link to the controller: connecting, disconnecting, and the status poll
// that finds out when it is lost.
#include "ui/Vlm_main.h"

#include <QTimer>

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "application/Application.h"
#include "core/DeviceState.h"
#include "core/ParameterWords.h"
#include "device/Commands.h"
#include "device/DeviceText.h"
#include "device/velmor.h"
#include "platform/Guard.h"
#include "ui/MainFormControls.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long the window waits for an open that sleeps in the kernel (a read on
// the line) before it lets the open go on alone. Time the open spends on a
// processor or waiting for one is not counted: on a busy machine a library
// that answers at once still answers within the wait.
constexpr std::chrono::nanoseconds SleepBudget = std::chrono::milliseconds(5);
// The longest wait in any case (a library that computes for long, or a
// machine so busy that the probe thread gets no processor).
constexpr std::chrono::nanoseconds WaitCap = std::chrono::milliseconds(500);

// Whether a thread of this process is asleep (not running, not waiting for
// a processor), from its state in /proc; where that cannot be read, it is
// taken as asleep, so the wait is by the clock alone.
bool Asleep(long Tid)
{
    char Path[64];
    std::snprintf(Path, sizeof Path, "/proc/self/task/%ld/stat", Tid);
    FILE* F = std::fopen(Path, "re");
    if (!F)
        return true;
    char Line[512];
    const bool Read = std::fgets(Line, sizeof Line, F) != nullptr;
    std::fclose(F);
    // "TID (NAME) STATE ...": the name may hold blanks and parentheses.
    const char* Close = Read ? std::strrchr(Line, ')') : nullptr;
    if (!Close || Close[1] != ' ')
        return true;
    return Close[2] != 'R';
}

} // namespace

// One thread that makes the connection attempts' VLM_OpenDevice, one at a
// time, and nothing else. Plain C++: the window decides what the result means.
class TMainForm::TProbe {
public:
    // Late runs on the probe thread when an open returns after the window
    // stopped waiting for it.
    explicit TProbe(std::function<void()> Late) : FLate(std::move(Late)) {}

    ~TProbe()
    {
        {
            std::lock_guard<std::mutex> Lock(FMutex);
            FQuit = true;
        }
        FChanged.notify_all();
        if (FThread.joinable())
            FThread.join();
    }

    TProbe(const TProbe&) = delete;
    TProbe& operator=(const TProbe&) = delete;

    // Hands one open to the probe thread.
    void Start()
    {
        std::lock_guard<std::mutex> Lock(FMutex);
        FState = State::Queued;
        FWaitedOut = false;
        if (!FThread.joinable())
            FThread = std::thread([this] { Run(); });
        FChanged.notify_all();
    }

    // Waits for the open a short while (see SleepBudget); true when it has
    // returned. Otherwise the open goes on and Late follows its return.
    bool WaitBriefly()
    {
        std::unique_lock<std::mutex> Lock(FMutex);
        const Clock::time_point Entered = Clock::now();
        Clock::time_point Looked = Entered;
        Clock::duration Slept{0};
        while (FState != State::Done) {
            const Clock::time_point Now = Clock::now();
            if (Now - Entered >= WaitCap)
                break;
            // The state seen now stands for the millisecond since the last look.
            if (FState == State::Running && Asleep(FTid))
                Slept += Now - Looked;
            Looked = Now;
            if (Slept >= SleepBudget)
                break;
            FChanged.wait_for(Lock, std::chrono::milliseconds(1));
        }
        if (FState == State::Done)
            return true;
        FWaitedOut = true;
        return false;
    }

    // Waits until the open has returned, however long it takes.
    void WaitDone()
    {
        std::unique_lock<std::mutex> Lock(FMutex);
        FChanged.wait(Lock, [&] { return FState == State::Done || FState == State::Idle; });
    }

    bool Pending() const
    {
        std::lock_guard<std::mutex> Lock(FMutex);
        return FState == State::Queued || FState == State::Running;
    }

    bool Done() const
    {
        std::lock_guard<std::mutex> Lock(FMutex);
        return FState == State::Done;
    }

    // The result of a returned open; the probe is idle again.
    bool Take()
    {
        std::lock_guard<std::mutex> Lock(FMutex);
        FState = State::Idle;
        return FOpened;
    }

private:
    enum class State { Idle, Queued, Running, Done };

    void Run()
    {
        // Signals are the main thread's business (its handlers only write
        // to a pipe): no read of the line is cut short by one here.
        sigset_t All;
        sigfillset(&All);
        pthread_sigmask(SIG_BLOCK, &All, nullptr);
        const long Tid = static_cast<long>(::syscall(SYS_gettid));
        std::unique_lock<std::mutex> Lock(FMutex);
        for (;;) {
            FChanged.wait(Lock, [&] { return FQuit || FState == State::Queued; });
            if (FState != State::Queued)
                return;
            FState = State::Running;
            FTid = Tid;
            Lock.unlock();
            const bool Opened = VLM_OpenDevice() != 0;
            Lock.lock();
            FOpened = Opened;
            FState = State::Done;
            FChanged.notify_all();
            if (FWaitedOut)
                FLate();
        }
    }

    std::function<void()> FLate;
    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    std::thread FThread;
    State FState = State::Idle;
    bool FQuit = false;
    bool FWaitedOut = false;
    bool FOpened = false;
    long FTid = 0;
};

void TMainForm::Connect()
{
    if (FConnected) {
        ConnectOpened(true);
        return;
    }
    if (!FProbe) {
        // The open's return, when the window has stopped waiting for it,
        // comes back to this thread as a queued call.
        FProbe = std::make_shared<TProbe>([this] {
            QMetaObject::invokeMethod(this, [this] { Guarded([&] { FinishProbeIfDone(); }); },
                                      Qt::QueuedConnection);
        });
    }
    FProbe->Start();
    if (FProbe->WaitBriefly())
        ConnectOpened(FProbe->Take());
}

bool TMainForm::ProbePending() const { return FProbe && FProbe->Pending(); }

void TMainForm::SettleProbe()
{
    if (!ProbePending())
        return;
    FProbe->WaitDone();
    EndProbe();
}

void TMainForm::FinishProbeIfDone()
{
    if (FProbe && FProbe->Done())
        EndProbe();
}

void TMainForm::EndProbe()
{
    const bool Rearm = FRearmAfterProbe;
    const bool Warn = FWarnAfterProbe;
    FRearmAfterProbe = false;
    FWarnAfterProbe = false;
    ConnectOpened(FProbe->Take());
    if (Rearm && !FClosed)
        Timer->start();
    // Not while the window closes: the closing waits for nobody.
    if (Warn && !FConnected && !FClosed)
        WarnNotFound();
}

void TMainForm::WarnNotFound()
{
    Application::MessageBox(QStringLiteral("Устройство не найдено."), QStringLiteral("Warning"),
                            Application::MB_ICONWARNING | Application::MB_OK);
}

void TMainForm::ConnectOpened(bool Opened)
{
    FConnected = Opened;
    if (FConnected) {
        char* Text = nullptr;
        VLM_GetInfo(&Text);
        SetStatusText(0, QStringLiteral(" ON LINE: ") + QString::fromStdString(DeviceTextToUtf8(Text)));
        mnConnect->setEnabled(false);
        mnDisconnect->setEnabled(true);
        SendAllParameters();
    } else {
        Disconnect();
    }
}

void TMainForm::Disconnect()
{
    SettleProbe();
    if (FConnected)
        VLM_Stop();
    VLM_CloseDevice();
    FConnected = false;
    SetStatusText(0, QStringLiteral(" OFF LINE "));
    mnConnect->setEnabled(true);
    mnDisconnect->setEnabled(false);
}

void TMainForm::mnConnectClick(QObject*)
{
    Disconnect();
    Connect();
    FKeepConnected = true;
    if (ProbePending())
        FWarnAfterProbe = true; // the warning waits for the open
    else if (!FConnected)
        WarnNotFound();
}

void TMainForm::mnDisconnectClick(QObject*)
{
    FKeepConnected = false;
    Disconnect();
}

void TMainForm::TimerTimer(QObject*)
{
    Timer->stop();
    // An attempt under way: the link is left alone, and its end re-arms the
    // timer.
    if (ProbePending()) {
        FRearmAfterProbe = true;
        return;
    }
    if (FConnected) {
        try {
            const int Page = PageControl->currentIndex();
            if (Page == 0) {
                feNc->SetValue(Commands::GetNc());
                const int32_t Lim = Commands::GetLim();
                SetChecked(cbLimL, (Lim & Core::ActiveBackward) != 0);
                SetChecked(cbLimR, (Lim & Core::ActiveForward) != 0);
                SetChecked(cbHome, (Lim & Core::ActiveHome) != 0);
                const int32_t Vc = Commands::GetVc();
                feVc->SetValue(Vc);
                SetProgress(pbVc, ParameterWords::Magnitude(Vc));
            }
            if (Page == 1 && cbAdc->isChecked())
                feAdc->SetValue(Commands::GetAdc());
            if (Page == 2 && FHoming) {
                if (Commands::GetStat() == Core::StateDone) {
                    feHome->SetValue(Commands::GetNb());
                    feHome->SetValueVisible(true);
                    FHoming = false;
                }
            }
            SetStatusText(1, QString::fromStdString(Commands::GetStateText()));
        } catch (const EHardwareException&) {
            FConnected = false;
        }
    }
    if (!FConnected) {
        Disconnect();
        if (FKeepConnected) {
            Connect();
            if (ProbePending()) {
                FRearmAfterProbe = true;
                return;
            }
        }
    }
    if (!FClosed)
        Timer->start();
}

void TMainForm::PageControlChange(QObject*) { TimerTimer(nullptr); }
