#include "app/Signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>

#include "platform/Guard.h"

namespace EndOfRun {

namespace {

// The self-pipe: the handler writes the signal's number, the event loop reads it.
int GPipe[2] = {-1, -1};
volatile sig_atomic_t GSignals = 0;

void OnSignal(int Number)
{
    if (GSignals++ > 0) {
        // The closing is already under way (or stuck): end now.
        ::signal(Number, SIG_DFL);
        ::raise(Number);
        return;
    }
    const int Saved = errno;
    const unsigned char Byte = static_cast<unsigned char>(Number);
    ssize_t Ignored = ::write(GPipe[1], &Byte, 1);
    (void)Ignored;
    errno = Saved;
}

} // namespace

void Install(QApplication& App, std::function<void()> Close)
{
    auto Closing = std::make_shared<bool>(false);
    auto CloseOnce = [Close, Closing] {
        if (*Closing)
            return;
        *Closing = true;
        Guarded(Close);
    };

    // The desktop session's end: the session manager asks for the work to
    // be kept, or the application is told to quit while the window is open.
    QObject::connect(&App, &QGuiApplication::commitDataRequest, &App, [CloseOnce](QSessionManager&) { CloseOnce(); });
    QObject::connect(&App, &QCoreApplication::aboutToQuit, &App, CloseOnce);

    if (::pipe2(GPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("velmor: no pipe for the end signals");
        return;
    }
    auto* Notifier = new QSocketNotifier(GPipe[0], QSocketNotifier::Read, &App);
    QObject::connect(Notifier, &QSocketNotifier::activated, &App, [Notifier, CloseOnce] {
        unsigned char Byte;
        while (::read(GPipe[0], &Byte, 1) > 0) {
        }
        Notifier->setEnabled(false);
        CloseOnce();
        // Every event loop ends, a modal one included, and the program with 0.
        QCoreApplication::exit(0);
    });

    struct sigaction Action = {};
    Action.sa_handler = OnSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESTART;
    for (int Number : {SIGTERM, SIGHUP, SIGINT})
        if (::sigaction(Number, &Action, nullptr) != 0)
            std::perror("velmor: cannot catch an end signal");
}

} // namespace EndOfRun
