// velmorctl: the command line, the help texts, the device session and the
// commands that only read or store.
#include "velmorctl/Ctl.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <ctime>
#include <ostream>

#include <climits>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include "device/Commands.h"
#include "device/DeviceText.h"
#include "device/velmor.h"
#include "link/LinkConfig.h"
#include "velmorctl/Internal.h"

#ifndef VELMORCTL_VERSION
#define VELMORCTL_VERSION "unknown"
#endif

namespace VelmorCtl {

namespace {

volatile std::sig_atomic_t SignalNumber = 0;

extern "C" void OnStopSignal(int N)
{
    // The second request ends the program at once; the kernel releases the
    // port with the process.
    if (SignalNumber != 0)
        _exit(ExitSignal + N);
    SignalNumber = N;
}

struct CommandInfo {
    const char* Name;
    const char* Usage;   // after "velmorctl "
    const char* Summary; // one line in the command list
    const char* Help;
    int (*Fn)(const std::vector<std::string>&, Context&);
};

const char* const WaitHelp =
    "  --wait         return once the motor is at rest: the controller reports\n"
    "                 no motion (state 0, 1 or 2) and speed 0 in two reads one\n"
    "                 poll (100 ms) apart. Prints the state, the coordinate where\n"
    "                 the motor came to rest and, for goto and zero, the target\n"
    "                 and whether it was reached\n"
    "  --timeout S    with --wait: after S seconds stop the motor (VLM_StartD(0)),\n"
    "                 wait until it is at rest and exit 5\n"
    "  --json         with --wait: the end as one JSON object (state, state_code,\n"
    "                 coordinate, target, on_target, elapsed_s, reason)\n"
    "A signal (Ctrl-C, SIGTERM, SIGHUP) during --wait sends the stop\n"
    "(VLM_StartD(0)), waits until the motor is at rest, prints the final state and\n"
    "exits 128 + the signal's number; a second signal ends the program at once.\n";

const CommandInfo Commands[] = {
    {"info", "info",
     "the device text",
     "Prints the device text (VLM_GetInfo) of the open link.\n"
     "\nExample:\n  velmorctl info\n",
     Detail::Info},
    {"status", "status [--json]",
     "state, coordinate, speed, limit inputs, home coordinate, supply",
     "Prints the controller's state text and code, coordinate, speed, limit\n"
     "inputs (backward, forward, home), home coordinate and supply voltage, one\n"
     "\"key: value\" line each, or one JSON object with --json.\n"
     "\nExamples:\n  velmorctl status\n  velmorctl status --json\n",
     Detail::Status},
    {"watch", "watch [--interval MS] [--count N] [--csv FILE|-]",
     "a line per sample, as the panel's first page polls",
     "Polls like the panel's first page: coordinate, limit word, speed, state.\n"
     "Prints a row per sample: seconds since the start, the time (UTC),\n"
     "coordinate, speed, limit word, state. Samples stay on their interval even\n"
     "when a read is slow. A sample that could not be read is still a row, with\n"
     "empty values and the failure's text in the error column; later samples\n"
     "close and reopen the device until it answers again (nothing is sent to\n"
     "it). A signal (Ctrl-C, SIGTERM, SIGHUP) sends the stop (VLM_StartD(0)),\n"
     "waits until the motor is at rest, prints its state and the summary line\n"
     "and exits 128 + the signal's number. The watch ends at once, with exit 7,\n"
     "when its output cannot be written (a closed pipe, a full disk).\n"
     "  --interval MS  milliseconds between samples (default 100)\n"
     "  --count N      stop after N rows, failed ones included (default: until a\n"
     "                 signal)\n"
     "  --csv FILE     also write the samples as CSV to FILE; with \"-\" the CSV\n"
     "                 goes to standard output and the log to standard error\n"
     "CSV columns: time_s,time_utc,coordinate,speed,limits,state_code,state,error\n"
     "Exit code: 0 when every sample was read, 6 when one or more could not be.\n"
     "\nExamples:\n  velmorctl watch\n  velmorctl watch --interval 50 --count 200 --csv run.csv\n",
     Detail::Watch},
    {"run", "run forward|backward [--wait [--timeout S] [--json]]",
     "continuous rotation",
     "Continuous rotation: VLM_StartD(1) forward, VLM_StartD(-1) backward.\n"
     "With --wait it returns when something stops the motor: a limit switch\n"
     "(exit 4), a stop from elsewhere, --timeout or a signal.\n"
     "\nExample:\n  velmorctl run forward --wait --timeout 10\n",
     Detail::Run},
    {"stop", "stop [--wait [--timeout S] [--json]]",
     "ramp down and stop, as the panel's stop button (VLM_StartD(0))",
     "Stops the motor on its deceleration ramp, as the panel's stop button does:\n"
     "VLM_StartD(0).\n"
     "\nExample:\n  velmorctl stop --wait\n",
     Detail::Stop},
    {"halt", "halt [--wait [--timeout S] [--json]]",
     "stop at once, without a ramp (VLM_Stop)",
     "Stops the motor at once, without a deceleration ramp: VLM_Stop.\n"
     "\nExample:\n  velmorctl halt --wait\n",
     Detail::Halt},
    {"goto", "goto N [--wait [--timeout S] [--json]]",
     "move to the coordinate N (half-steps)",
     "Moves to the coordinate N in half-steps: VLM_StartN(N). With --wait, a\n"
     "motion that comes to rest elsewhere than N exits 2 (4 on a limit switch).\n"
     "\nExamples:\n  velmorctl goto 12000 --wait --timeout 60\n  velmorctl goto -500 --wait --json\n",
     Detail::Goto},
    {"move-by", "move-by N [--wait [--timeout S] [--json]]",
     "move by N half-steps",
     "Moves by N half-steps from the current coordinate: VLM_StartdN(N). A\n"
     "negative N is a number, not an option.\n"
     "\nExample:\n  velmorctl move-by -500 --wait\n",
     Detail::MoveBy},
    {"zero", "zero [--wait [--timeout S] [--json]]",
     "move to the coordinate 0",
     "Moves to the coordinate 0: VLM_StartN(0).\n"
     "\nExample:\n  velmorctl zero --wait --timeout 60\n",
     Detail::Zero},
    {"reset-coordinate", "reset-coordinate [--wait [--timeout S] [--json]]",
     "make the current coordinate 0",
     "Sets the current coordinate to 0: VLM_SetNc(0). The motor is not moved;\n"
     "to number a moving axis, stop it first (stop --wait).\n"
     "\nExample:\n  velmorctl stop --wait && velmorctl reset-coordinate\n",
     Detail::ResetCoordinate},
    {"home", "home forward|backward [--wait [--timeout S] [--json]]",
     "search for the home sensor",
     "Searches for the home sensor: VLM_Home(1) forward, VLM_Home(-1) backward.\n"
     "With --wait, a run that ends in \"Operation done\" also prints the home\n"
     "coordinate (VLM_GetNb); one that comes to rest otherwise exits 2 (4 on a\n"
     "limit switch).\n"
     "\nExample:\n  velmorctl home forward --wait --timeout 120\n",
     Detail::Home},
    {"wait", "wait [--target N] [--timeout S] [--json]",
     "wait until the motor is at rest, sending no motion",
     "Waits until the motor is at rest, as --wait does, without sending a\n"
     "motion: for a motion started by another command or the panel. With\n"
     "--target N, exits 0 only when the motor came to rest on N (2 elsewhere,\n"
     "4 on a limit switch). --timeout and signals stop the motor as with --wait.\n"
     "\nExamples:\n  velmorctl goto 9000 && velmorctl wait --target 9000 --timeout 60\n"
     "  velmorctl wait --json\n",
     Detail::Wait},
    {"set", "set KEY=VALUE...",
     "send drive parameters",
     "Sends drive parameters. Every value is checked first; when one is wrong\n"
     "nothing is sent. The calls go in the order the panel uses after a\n"
     "connection, whatever the order of the keys.\n"
     "  step=full|half decay=slow|fast  given together: VLM_SetMode(1|2, 0|1)\n"
     "  iw=MA ia=MA ih=MA    working, acceleration, holding current (ih=0: none)\n"
     "  vm=V vw=V            start and working speed, half-steps per second\n"
     "  aw=A                 acceleration, half-steps per second squared\n"
     "  limits=B,F,H         backward, forward and home sensor words, each 0..7:\n"
     "                       1 enabled, 2 normally closed, 4 stop without ramp\n"
     "  control=WORD         local control: mode 0..7, +16 inputs active high,\n"
     "                       +32 debouncing (0x.. accepted)\n"
     "Numbers are whole numbers within the ranges of the panel's fields.\n"
     "\nExamples:\n  velmorctl set iw=800 ia=1000 ih=0\n"
     "  velmorctl set step=half decay=fast vm=100 vw=2000 aw=4000\n"
     "  velmorctl set limits=3,3,1 control=0x21\n",
     Detail::Set},
    {"apply-settings", "apply-settings [--strict] [FILE]",
     "send the parameters of a panel settings file",
     "Sends every parameter of a panel settings file exactly as the panel does\n"
     "when its link comes up: VLM_SetMode, VLM_SetIh, VLM_SetIa, VLM_SetIw,\n"
     "VLM_SetVm, VLM_SetVw, VLM_SetAw, VLM_SetLim, VLM_SetCtrl, with the\n"
     "panel's defaults for missing keys, its field ranges and truncation, and\n"
     "a holding current of 0 unless \"Hold\" is set. FILE defaults to the\n"
     "panel's own settings file: velmor.ini beside velmorctl in a build folder,\n"
     "~/.config/velmor/velmor.ini ($XDG_CONFIG_HOME) when installed. The first\n"
     "line printed names the file.\n"
     "A file that holds none of the panel's keys in its sections is refused\n"
     "(exit 1, nothing sent). A key whose value is not a whole number is named\n"
     "on standard error with the default the panel uses instead.\n"
     "  --strict       refuse such a file instead (exit 1, nothing sent)\n"
     "\nExamples:\n  velmorctl apply-settings\n  velmorctl apply-settings --strict bench-3.ini\n",
     Detail::ApplySettings},
    {"store", "store",
     "store the parameters in the controller's EEPROM",
     "Stores the controller's parameters in its EEPROM: VLM_SavePar.\n"
     "\nExample:\n  velmorctl store\n",
     Detail::Store},
    {"ports", "ports",
     "the serial ports a link could use",
     "Lists the serial ports a link could use (/dev/serial/by-id/*) with the\n"
     "device each one points at. Opens nothing. The stable name goes into the\n"
     "link: --link serial:/dev/serial/by-id/NAME.\n"
     "\nExamples:\n  velmorctl ports\n"
     "  velmorctl --link serial:/dev/serial/by-id/usb-FTDI_RS485-if00-port0 info\n",
     Detail::Ports},
};

const CommandInfo* FindCommand(const std::string& Name)
{
    for (const CommandInfo& C : Commands)
        if (Name == C.Name)
            return &C;
    return nullptr;
}

bool IsMotion(const CommandInfo& C) { return std::string(C.Usage).find("--wait") != std::string::npos; }

const char* const ExitCodesHelp =
    "Exit codes:\n"
    "  0      done\n"
    "  1      bad usage (the usage is printed), a malformed link setting (the text\n"
    "         names where it was read: --link, $VELMOR_LINK or link.conf), a\n"
    "         settings file refused by apply-settings\n"
    "  2      the controller refused a value or command (its text on standard\n"
    "         error), or a motion came to rest short of its target\n"
    "  3      no connection: the device did not open (absent, busy, not\n"
    "         permitted, silent; the library's text on standard error)\n"
    "  4      a limit switch stopped the motion\n"
    "  5      --timeout passed: the motor was stopped and is at rest\n"
    "  6      the link was lost during the command: the motor may still be\n"
    "         moving; for watch, one or more samples could not be read\n"
    "  7      standard output or the CSV file could not be written (a motion\n"
    "         started with --wait is at rest or stopped first)\n"
    "  128+N  signal N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP) ended the command;\n"
    "         in a wait or a watch, after the stop was sent and the motor came to\n"
    "         rest\n";

void PrintUsage(std::ostream& Out)
{
    Out << "Usage: velmorctl [--link SPEC] [--lock-wait S] COMMAND [ARGUMENTS]\n"
           "       velmorctl COMMAND --help\n"
           "       velmorctl --version\n"
           "\n"
           "The Velmor controller from scripts and terminals, through the panel's device\n"
           "library (libvelmor.so beside this program). Each command opens the device,\n"
           "does its work and closes it.\n"
           "\n"
           "Commands:\n";
    for (const CommandInfo& C : Commands) {
        const std::string Usage = C.Usage;
        Out << "  " << Usage.substr(0, Usage.find(" [--wait")) << "\n      " << C.Summary << '\n';
    }
    Out << "The motion commands, run to home, also take --wait [--timeout S] [--json].\n"
           "\n"
           "Examples:\n"
           "  velmorctl status --json\n"
           "  velmorctl goto 12000 --wait --timeout 60\n"
           "  velmorctl move-by -500 --wait --json\n"
           "  velmorctl watch --interval 50 --count 400 --csv run.csv\n"
           "  velmorctl set vw=2000 aw=4000\n"
           "  velmorctl --lock-wait 5 status\n"
           "  velmorctl --link serial:/dev/serial/by-id/usb-FTDI_RS485-if00-port0 apply-settings\n";
    Out << "\n"
           "Options:\n"
           "  --link SPEC    the link for this run (sets VELMOR_LINK); without it\n"
           "                 $VELMOR_LINK, else ~/.config/velmor/link.conf, else the\n"
           "                 virtual controller. SPEC: virtual,\n"
           "                 serial:PATH[?baud=N&address=N&timeout=MS] (see ports),\n"
           "                 tcp:HOST:PORT[?...] with a numeric HOST. Checked before\n"
           "                 the device is opened\n"
           "  --lock-wait S  when the port is busy (the library's text says \"busy\":\n"
           "                 another program holds it), try the open again every\n"
           "                 100 ms for up to S seconds; an absent or forbidden port\n"
           "                 fails at once\n"
           "  --version      the program's version, and the device text (VLM_GetInfo)\n"
           "                 when a controller answers\n"
           "  --help         this text; COMMAND --help describes one command\n"
           "\n"
        << ExitCodesHelp;
}

void PrintCommandHelp(std::ostream& Out, const CommandInfo& C)
{
    Out << "Usage: velmorctl [--link SPEC] [--lock-wait S] " << C.Usage << "\n\n" << C.Help;
    if (IsMotion(C))
        Out << "\nOptions:\n" << WaitHelp;
    Out << "\n" << ExitCodesHelp;
}

int UsageFailure(Context& Ctx, const CommandInfo* C, const std::string& Text)
{
    Ctx.Err << "velmorctl: " << Text << '\n';
    if (C)
        Ctx.Err << "Usage: velmorctl [--link SPEC] [--lock-wait S] " << C->Usage << "\n"
                << "Try 'velmorctl " << C->Name << " --help'.\n";
    else
        PrintUsage(Ctx.Err);
    return ExitUsage;
}

std::string ErrnoText(int Errno) { return Errno ? std::strerror(Errno) : "write error"; }

// The program's version, and the device's text when one answers.
int Version(Context& Ctx)
{
    Ctx.Out << "velmorctl " << VELMORCTL_VERSION << '\n';
    if (VLM_OpenDevice()) {
        char* Text = nullptr;
        if (VLM_GetInfo(&Text))
            Ctx.Out << "device: " << DeviceTextToUtf8(Text) << '\n';
        else
            Ctx.Err << "velmorctl: the device did not give its text: " << Detail::LastErrorText() << '\n';
        VLM_CloseDevice();
    } else {
        Ctx.Err << "velmorctl: no device text: " << Detail::LastErrorText() << '\n';
    }
    return ExitOk;
}

} // namespace

void InstallSignalHandlers()
{
    struct sigaction Action {};
    Action.sa_handler = OnStopSignal;
    sigemptyset(&Action.sa_mask);
    sigaddset(&Action.sa_mask, SIGINT);
    sigaddset(&Action.sa_mask, SIGTERM);
    sigaddset(&Action.sa_mask, SIGHUP);
    // SA_RESTART: a write to a full pipe or terminal goes on after the
    // signal instead of failing and losing its line. The sleeps (ppoll) are
    // never restarted: a signal ends them at once all the same.
    Action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &Action, nullptr);
    sigaction(SIGTERM, &Action, nullptr);
    sigaction(SIGHUP, &Action, nullptr);
    struct sigaction Ignore {};
    Ignore.sa_handler = SIG_IGN;
    sigemptyset(&Ignore.sa_mask);
    sigaction(SIGPIPE, &Ignore, nullptr);
}

int SignalReceived() { return SignalNumber; }

bool FdStreamBuf::Drain()
{
    const char* P = pbase();
    while (P < pptr()) {
        const ssize_t N = ::write(FFd, P, static_cast<size_t>(pptr() - P));
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0) {
            FError = N < 0 ? errno : EIO;
            setp(FBuf, FBuf + sizeof FBuf);
            return false;
        }
        P += N;
    }
    setp(FBuf, FBuf + sizeof FBuf);
    return true;
}

FdStreamBuf::int_type FdStreamBuf::overflow(int_type C)
{
    if (FError || !Drain())
        return traits_type::eof();
    if (!traits_type::eq_int_type(C, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(C);
        pbump(1);
    }
    return traits_type::not_eof(C);
}

int FdStreamBuf::sync()
{
    if (FError)
        return -1;
    return Drain() ? 0 : -1;
}

Context SystemContext(std::ostream& Out, std::ostream& Err)
{
    Context Ctx{Out, Err, {}, {}, {}, {}};
    Ctx.Now = [] {
        timespec T{};
        clock_gettime(CLOCK_MONOTONIC, &T);
        return static_cast<int64_t>(T.tv_sec) * Detail::Second + T.tv_nsec;
    };
    Ctx.SleepUntil = [Now = Ctx.Now](int64_t Deadline) {
        // The stop signals are held while the flag is looked at and let in
        // only within the wait itself, so one that comes just before the
        // sleep ends it at once instead of being slept through. A signal ends
        // the sleep early (EINTR); the caller looks at the flag.
        sigset_t Held, Before;
        sigemptyset(&Held);
        sigaddset(&Held, SIGINT);
        sigaddset(&Held, SIGTERM);
        sigaddset(&Held, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &Held, &Before);
        const int64_t Left = Deadline - Now();
        // The first sleep after a signal returns at once so that the loop
        // looks at it; the sleeps after that (the loop waiting for the motor
        // to come to rest after its stop) sleep their time.
        static bool SignalSeen = false;
        const bool Wake = SignalNumber != 0 && !SignalSeen;
        if (SignalNumber != 0)
            SignalSeen = true;
        if (!Wake && Left > 0) {
            timespec T{};
            T.tv_sec = static_cast<time_t>(Left / Detail::Second);
            T.tv_nsec = static_cast<long>(Left % Detail::Second);
            ppoll(nullptr, 0, &T, &Before);
        }
        pthread_sigmask(SIG_SETMASK, &Before, nullptr);
    };
    Ctx.Signal = SignalReceived;
    char Buf[PATH_MAX];
    ssize_t N = readlink("/proc/self/exe", Buf, sizeof Buf - 1);
    if (N > 0)
        Ctx.ExePath.assign(Buf, static_cast<size_t>(N));
    return Ctx;
}

int Run(const std::vector<std::string>& Args, Context& Ctx)
{
    // --link and --lock-wait may stand before or after the command name.
    std::vector<std::string> Rest;
    std::string Link, LockWait;
    bool HaveLink = false, HaveLockWait = false;
    bool Help = false, ShowVersion = false;
    bool Ended = false;
    for (size_t I = 0; I < Args.size(); ++I) {
        const std::string& A = Args[I];
        const bool IsLink = A == "--link" || A.rfind("--link=", 0) == 0;
        const bool IsLockWait = A == "--lock-wait" || A.rfind("--lock-wait=", 0) == 0;
        if (!Ended && (IsLink || IsLockWait)) {
            const std::string Name = IsLink ? "--link" : "--lock-wait";
            bool& Have = IsLink ? HaveLink : HaveLockWait;
            std::string& Value = IsLink ? Link : LockWait;
            if (Have)
                return UsageFailure(Ctx, nullptr, Name + " given twice");
            if (A == Name) {
                if (I + 1 == Args.size())
                    return UsageFailure(Ctx, nullptr, Name + (IsLink ? " needs a SPEC" : " needs a value"));
                Value = Args[++I];
            } else {
                Value = A.substr(Name.size() + 1);
            }
            if (IsLink && Value.empty())
                return UsageFailure(Ctx, nullptr, "--link needs a SPEC");
            Have = true;
            continue;
        }
        if (!Ended && (A == "--help" || A == "-h")) {
            Help = true;
            continue;
        }
        if (!Ended && A == "--version") {
            ShowVersion = true;
            continue;
        }
        if (A == "--")
            Ended = true;
        Rest.push_back(A);
    }

    const CommandInfo* C = nullptr;
    if (Rest.empty() || Rest[0] == "help") {
        if (Rest.size() > 1) {
            if (const CommandInfo* H = FindCommand(Rest[1])) {
                PrintCommandHelp(Ctx.Out, *H);
                return ExitOk;
            }
            return UsageFailure(Ctx, nullptr, "unknown command '" + Rest[1] + "'");
        }
        if (Help || !Rest.empty()) {
            PrintUsage(Ctx.Out);
            return ExitOk;
        }
        if (!ShowVersion)
            return UsageFailure(Ctx, nullptr, "no command given");
    } else {
        C = FindCommand(Rest[0]);
        if (!C)
            return UsageFailure(Ctx, nullptr, "unknown command '" + Rest[0] + "'");
        if (Help) {
            PrintCommandHelp(Ctx.Out, *C);
            return ExitOk;
        }
        if (ShowVersion)
            return UsageFailure(Ctx, C, "--version stands alone");
    }

    try {
        Ctx.LockWait = HaveLockWait ? Detail::ParseSeconds("--lock-wait", LockWait) : 0;
    } catch (const Detail::UsageError& E) {
        return UsageFailure(Ctx, C, E.Text);
    }

    // The link setting is checked before anything is opened, and a
    // malformed one is a usage error naming where it was read. The library
    // reads the setting itself at its first open.
    if (HaveLink) {
        Link::LinkConfig Config;
        std::string What;
        if (!Link::ParseLinkLine(Link, Config, What))
            return UsageFailure(Ctx, C, "--link: " + What + " (read \"" + Link::Printable(Link) + "\")");
        setenv("VELMOR_LINK", Link.c_str(), 1);
    } else if (!C || std::string(C->Name) != "ports") {
        const Link::LinkSetting S = Link::ReadLinkSetting();
        if (!S.Ok && !C) {
            // --version still gives the program's version.
            Ctx.Out << "velmorctl " << VELMORCTL_VERSION << '\n';
            Ctx.Err << "velmorctl: no device text: " << S.Error << '\n';
            return ExitOk;
        }
        if (!S.Ok)
            return UsageFailure(Ctx, C, S.Error);
    }

    int Code = ExitOk;
    try {
        Code = C ? C->Fn(std::vector<std::string>(Rest.begin() + 1, Rest.end()), Ctx) : Version(Ctx);
        Detail::CheckOutput(Ctx);
    } catch (const Detail::UsageError& E) {
        return UsageFailure(Ctx, C, E.Text);
    } catch (const Detail::OpenFailed& E) {
        Ctx.Err << "velmorctl: the device did not open" << (E.Text.empty() ? "" : ": ") << E.Text << '\n';
        return ExitOpenFailed;
    } catch (const Detail::OutputFailed& E) {
        Ctx.Err << "velmorctl: cannot write " << E.Where << ": " << ErrnoText(E.Errno) << '\n';
        return Code == ExitOk ? ExitOutput : Code;
    } catch (const EHardwareException& E) {
        Ctx.Err << "velmorctl: " << (E.Message().empty() ? "the device refused the command" : E.Message())
                << '\n';
        Code = ExitRefused;
    } catch (const std::exception& E) {
        Ctx.Err << "velmorctl: " << E.what() << '\n';
        Code = ExitRefused;
    }
    // A stop signal during a command that does not wait: the command's
    // work is done (or failed); the exit code says the signal came.
    if (Code == ExitOk && Ctx.Signal && Ctx.Signal() != 0)
        Code = ExitSignal + Ctx.Signal();
    return Code;
}

namespace Detail {

ParsedArgs ParseArgs(const std::vector<std::string>& Args, const std::vector<OptionSpec>& Specs)
{
    ParsedArgs P;
    bool Ended = false;
    for (size_t I = 0; I < Args.size(); ++I) {
        const std::string& A = Args[I];
        const bool Number = A.size() > 1 && A[0] == '-' && A[1] >= '0' && A[1] <= '9';
        if (Ended || A.size() < 2 || A[0] != '-' || Number) {
            P.Positional.push_back(A);
            continue;
        }
        if (A == "--") {
            Ended = true;
            continue;
        }
        const size_t Eq = A.find('=');
        const std::string Name = A.substr(0, Eq);
        const OptionSpec* Spec = nullptr;
        for (const OptionSpec& S : Specs)
            if (Name == S.Name)
                Spec = &S;
        if (!Spec)
            throw UsageError{"unknown option '" + Name + "'"};
        if (P.Has(Spec->Name))
            throw UsageError{Name + " given twice"};
        std::string Value;
        if (Spec->TakesValue) {
            if (Eq != std::string::npos)
                Value = A.substr(Eq + 1);
            else if (I + 1 < Args.size())
                Value = Args[++I];
            else
                throw UsageError{Name + " needs a value"};
        } else if (Eq != std::string::npos) {
            throw UsageError{Name + " takes no value"};
        }
        P.Options[Spec->Name] = Value;
    }
    return P;
}

void ExpectPositionals(const ParsedArgs& P, size_t Min, size_t Max)
{
    if (P.Positional.size() > Max)
        throw UsageError{"unexpected argument '" + P.Positional[Max] + "'"};
    if (P.Positional.size() < Min)
        throw UsageError{"missing argument"};
}

bool ParseWhole(const std::string& Text, int32_t& Value)
{
    size_t I = 0;
    bool Negative = false;
    if (I < Text.size() && (Text[I] == '+' || Text[I] == '-'))
        Negative = Text[I++] == '-';
    if (I == Text.size() || Text.size() - I > 12)
        return false;
    int64_t V = 0;
    for (; I < Text.size(); ++I) {
        if (Text[I] < '0' || Text[I] > '9')
            return false;
        V = V * 10 + (Text[I] - '0');
    }
    if (Negative)
        V = -V;
    if (V < INT32_MIN || V > INT32_MAX)
        return false;
    Value = static_cast<int32_t>(V);
    return true;
}

bool ParseWord(const std::string& Text, int32_t& Value)
{
    if (Text.size() >= 3 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
        int64_t V = 0;
        for (size_t I = 2; I < Text.size(); ++I) {
            const char C = Text[I];
            int D;
            if (C >= '0' && C <= '9')
                D = C - '0';
            else if (C >= 'a' && C <= 'f')
                D = C - 'a' + 10;
            else if (C >= 'A' && C <= 'F')
                D = C - 'A' + 10;
            else
                return false;
            V = V * 16 + D;
            if (V > INT32_MAX)
                return false;
        }
        Value = static_cast<int32_t>(V);
        return true;
    }
    return ParseWhole(Text, Value);
}

int64_t ParsePositive(const std::string& Option, const std::string& Text, int64_t Max)
{
    int32_t V = 0;
    if (!ParseWhole(Text, V) || V < 1 || V > Max)
        throw UsageError{Option + " must be a whole number from 1 to " + std::to_string(Max) + ", not '" +
                         Text + "'"};
    return V;
}

int64_t ParseSeconds(const std::string& Option, const std::string& Text)
{
    // Seconds with up to three decimals, more than 0 and at most a week.
    size_t I = 0;
    int64_t Whole = 0, Milli = 0;
    int Digits = 0, Decimals = 0;
    for (; I < Text.size() && Text[I] >= '0' && Text[I] <= '9' && Digits < 7; ++I, ++Digits)
        Whole = Whole * 10 + (Text[I] - '0');
    if (I < Text.size() && Text[I] == '.') {
        for (++I; I < Text.size() && Text[I] >= '0' && Text[I] <= '9' && Decimals < 3; ++I, ++Decimals)
            Milli = Milli * 10 + (Text[I] - '0');
        for (int K = Decimals; K < 3; ++K)
            Milli *= 10;
    }
    const int64_t Ms = Whole * 1000 + Milli;
    if (I != Text.size() || Digits + Decimals == 0 || Ms <= 0 || Ms > 7 * 24 * 3600 * 1000LL)
        throw UsageError{Option + " must be a number of seconds above 0 (up to three decimals), not '" + Text +
                         "'"};
    return Ms * Millisecond;
}

std::string LastErrorText()
{
    char* Text = nullptr;
    VLM_GetLastError(&Text);
    return DeviceTextToUtf8(Text);
}

Session::Session(Context& Ctx)
{
    const int64_t Start = Ctx.Now();
    for (;;) {
        if (VLM_OpenDevice())
            return;
        std::string Text = LastErrorText();
        // Busy is the library's word for a port another program holds;
        // an absent or forbidden port, or a silent controller, is not
        // waited for.
        if (Ctx.LockWait <= 0 || Text.find("busy") == std::string::npos || Ctx.Signal())
            throw OpenFailed{Text};
        const int64_t Now = Ctx.Now();
        if (Now - Start >= Ctx.LockWait)
            throw OpenFailed{Text + " (still busy after --lock-wait " +
                             std::to_string(Ctx.LockWait / Millisecond) + " ms)"};
        const int64_t Next = std::min(Now + 100 * Millisecond, Start + Ctx.LockWait);
        while (!Ctx.Signal() && Ctx.Now() < Next)
            Ctx.SleepUntil(Next);
    }
}

void CheckOutput(Context& Ctx)
{
    Ctx.Out.flush();
    if (!Ctx.Out)
        throw OutputFailed{"standard output", Ctx.OutErrno ? Ctx.OutErrno() : 0};
}

int64_t WallNow(const Context& Ctx)
{
    if (Ctx.WallNow)
        return Ctx.WallNow();
    timespec T{};
    clock_gettime(CLOCK_REALTIME, &T);
    return static_cast<int64_t>(T.tv_sec) * Second + T.tv_nsec;
}

std::string UtcTime(int64_t Ns)
{
    const time_t Secs = static_cast<time_t>(Ns / Second);
    const int Ms = static_cast<int>((Ns % Second) / Millisecond);
    tm Utc{};
    gmtime_r(&Secs, &Utc);
    char Buf[96];
    std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", Utc.tm_year + 1900, Utc.tm_mon + 1,
                  Utc.tm_mday, Utc.tm_hour, Utc.tm_min, Utc.tm_sec, Ms);
    return Buf;
}

Session::~Session() { VLM_CloseDevice(); }

std::string SignalName(int N)
{
    switch (N) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "signal " + std::to_string(N);
    }
}

std::string JsonString(const std::string& Text)
{
    std::string R = "\"";
    for (unsigned char C : Text) {
        if (C == '"' || C == '\\') {
            R += '\\';
            R += static_cast<char>(C);
        } else if (C < 0x20 || C == 0x7F) {
            char Buf[8];
            std::snprintf(Buf, sizeof Buf, "\\u%04x", C);
            R += Buf;
        } else {
            R += static_cast<char>(C);
        }
    }
    return R + "\"";
}

void Line(std::ostream& Out, const char* Format, ...)
{
    char Buf[512];
    va_list A;
    va_start(A, Format);
    int N = std::vsnprintf(Buf, sizeof Buf, Format, A);
    va_end(A);
    if (N < 0)
        return;
    if (static_cast<size_t>(N) < sizeof Buf) {
        Out << Buf << '\n';
        return;
    }
    std::string Big(static_cast<size_t>(N) + 1, '\0');
    va_start(A, Format);
    std::vsnprintf(&Big[0], Big.size(), Format, A);
    va_end(A);
    Big.resize(static_cast<size_t>(N));
    Out << Big << '\n';
}

} // namespace Detail
} // namespace VelmorCtl
