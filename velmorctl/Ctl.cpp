// velmorctl: the command line, the help texts, the device session and the
// commands that only read or store.
#include "velmorctl/Ctl.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <ostream>

#include <climits>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include "device/Commands.h"
#include "device/DeviceText.h"
#include "device/velmor.h"
#include "velmorctl/Internal.h"

namespace VelmorCtl {

namespace {

volatile std::sig_atomic_t InterruptFlag = 0;

extern "C" void OnInterrupt(int) { InterruptFlag = 1; }

struct CommandInfo {
    const char* Name;
    const char* Usage;   // after "velmorctl "
    const char* Summary; // one line in the command list
    const char* Help;
    int (*Fn)(const std::vector<std::string>&, Context&);
};

const char* const WaitHelp =
    "  --wait         return when the controller is no longer moving (state\n"
    "                 0 \"Stopped\", 1 \"Operation done\" or 2 \"Limit reached\"),\n"
    "                 polling its state every 100 ms; prints the state and the\n"
    "                 final coordinate; \"Limit reached\" fails (exit 2)\n"
    "  --timeout S    with --wait: give up after S seconds, stop the motor\n"
    "                 (VLM_StartD(0)) and fail (exit 2)\n"
    "Ctrl-C during --wait stops the motor (VLM_StartD(0)), says so and exits 130.\n";

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
     "Prints a line per sample: seconds since the start, coordinate, speed,\n"
     "limit word, state. Samples stay on their interval even when a read is\n"
     "slow. A failed read is logged as a lost link; later samples close and\n"
     "reopen the device until it answers again (nothing is sent to it). Ctrl-C\n"
     "ends the watch with the summary line.\n"
     "  --interval MS  milliseconds between samples (default 100)\n"
     "  --count N      stop after N samples (default: until Ctrl-C)\n"
     "  --csv FILE     also write the samples as CSV to FILE; with \"-\" the CSV\n"
     "                 goes to standard output and the log to standard error\n"
     "CSV columns: time_s,coordinate,speed,limits,state_code,state\n"
     "\nExamples:\n  velmorctl watch\n  velmorctl watch --interval 50 --count 200 --csv run.csv\n",
     Detail::Watch},
    {"run", "run forward|backward [--wait [--timeout S]]",
     "continuous rotation",
     "Continuous rotation: VLM_StartD(1) forward, VLM_StartD(-1) backward.\n",
     Detail::Run},
    {"stop", "stop [--wait [--timeout S]]",
     "stop as the panel's stop button does (VLM_StartD(0))",
     "Stops the motor as the panel's stop button does: VLM_StartD(0).\n", Detail::Stop},
    {"halt", "halt [--wait [--timeout S]]",
     "stop with VLM_Stop", "Stops the motor with VLM_Stop.\n", Detail::Halt},
    {"goto", "goto N [--wait [--timeout S]]",
     "move to the coordinate N (half-steps)",
     "Moves to the coordinate N in half-steps: VLM_StartN(N).\n"
     "\nExample:\n  velmorctl goto 12000 --wait --timeout 60\n",
     Detail::Goto},
    {"move-by", "move-by N [--wait [--timeout S]]",
     "move by N half-steps",
     "Moves by N half-steps from the current coordinate: VLM_StartdN(N).\n"
     "\nExample:\n  velmorctl move-by -- -500 --wait\n",
     Detail::MoveBy},
    {"zero", "zero [--wait [--timeout S]]",
     "move to the coordinate 0", "Moves to the coordinate 0: VLM_StartN(0).\n", Detail::Zero},
    {"reset-coordinate", "reset-coordinate [--wait [--timeout S]]",
     "make the current coordinate 0",
     "Sets the current coordinate to 0: VLM_SetNc(0).\n", Detail::ResetCoordinate},
    {"home", "home forward|backward [--wait [--timeout S]]",
     "search for the home sensor",
     "Searches for the home sensor: VLM_Home(1) forward, VLM_Home(-1) backward.\n"
     "With --wait, a run that ends in \"Operation done\" also prints the home\n"
     "coordinate (VLM_GetNb).\n"
     "\nExample:\n  velmorctl home forward --wait --timeout 120\n",
     Detail::Home},
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
    {"apply-settings", "apply-settings [FILE]",
     "send the parameters of a panel settings file",
     "Sends every parameter of a panel settings file exactly as the panel does\n"
     "when its link comes up: VLM_SetMode, VLM_SetIh, VLM_SetIa, VLM_SetIw,\n"
     "VLM_SetVm, VLM_SetVw, VLM_SetAw, VLM_SetLim, VLM_SetCtrl, with the\n"
     "panel's defaults for missing keys, its field ranges and truncation, and\n"
     "a holding current of 0 unless \"Hold\" is set. FILE defaults to the\n"
     "panel's own settings file: velmor.ini beside velmorctl in a build folder,\n"
     "~/.config/velmor/velmor.ini ($XDG_CONFIG_HOME) when installed. The first\n"
     "line printed names the file.\n"
     "\nExamples:\n  velmorctl apply-settings\n  velmorctl apply-settings bench-3.ini\n",
     Detail::ApplySettings},
    {"store", "store",
     "store the parameters in the controller's EEPROM", "Stores the controller's parameters in its EEPROM: VLM_SavePar.\n", Detail::Store},
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

void PrintUsage(std::ostream& Out)
{
    Out << "Usage: velmorctl [--link SPEC] COMMAND [ARGUMENTS]\n"
           "       velmorctl COMMAND --help\n"
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
    Out << "The motion commands, run to home, also take --wait [--timeout S].\n"
           "\n"
           "Examples:\n"
           "  velmorctl status --json\n"
           "  velmorctl goto 12000 --wait --timeout 60\n"
           "  velmorctl watch --interval 50 --count 400 --csv run.csv\n"
           "  velmorctl set vw=2000 aw=4000\n"
           "  velmorctl --link serial:/dev/serial/by-id/usb-FTDI_RS485-if00-port0 apply-settings\n";
    Out << "\n"
           "Options:\n"
           "  --link SPEC  the link for this run (sets VELMOR_LINK); without it the\n"
           "               library's own choice, by default the virtual controller.\n"
           "               SPEC: virtual, serial:PATH[?baud=N&address=N] (see ports),\n"
           "               tcp:HOST:PORT[?...] with a numeric HOST\n"
           "  --help       this text; COMMAND --help describes one command\n"
           "\n"
           "Exit codes:\n"
           "  0    success\n"
           "  1    bad usage (the usage is printed)\n"
           "  2    the command failed: the device refused it (its text on standard\n"
           "       error), or a --wait ended on \"Limit reached\" or on its timeout\n"
           "  3    the device did not open (the library's text on standard error)\n"
           "  130  Ctrl-C ended a --wait, after the stop was sent\n";
}

void PrintCommandHelp(std::ostream& Out, const CommandInfo& C)
{
    Out << "Usage: velmorctl [--link SPEC] " << C.Usage << "\n\n" << C.Help;
    if (IsMotion(C))
        Out << "\nOptions:\n" << WaitHelp;
}

int UsageFailure(Context& Ctx, const CommandInfo* C, const std::string& Text)
{
    Ctx.Err << "velmorctl: " << Text << '\n';
    if (C)
        Ctx.Err << "Usage: velmorctl [--link SPEC] " << C->Usage << "\n"
                << "Try 'velmorctl " << C->Name << " --help'.\n";
    else
        PrintUsage(Ctx.Err);
    return ExitUsage;
}

} // namespace

void InstallInterruptHandlers()
{
    struct sigaction Action {};
    Action.sa_handler = OnInterrupt;
    sigemptyset(&Action.sa_mask);
    // SA_RESTART: a write to a full pipe or terminal goes on after the
    // signal instead of failing and losing its line. The sleeps (ppoll) are
    // never restarted: a signal ends them at once all the same.
    Action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &Action, nullptr);
    sigaction(SIGTERM, &Action, nullptr);
}

bool InterruptRequested() { return InterruptFlag != 0; }

Context SystemContext(std::ostream& Out, std::ostream& Err)
{
    Context Ctx{Out, Err, {}, {}, {}, {}};
    Ctx.Now = [] {
        timespec T{};
        clock_gettime(CLOCK_MONOTONIC, &T);
        return static_cast<int64_t>(T.tv_sec) * Detail::Second + T.tv_nsec;
    };
    Ctx.SleepUntil = [Now = Ctx.Now](int64_t Deadline) {
        // SIGINT and SIGTERM are held while the flag is looked at and let in
        // only within the wait itself, so one that comes just before the
        // sleep ends it at once instead of being slept through. A signal ends
        // the sleep early (EINTR); the caller looks at the flag.
        sigset_t Held, Before;
        sigemptyset(&Held);
        sigaddset(&Held, SIGINT);
        sigaddset(&Held, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &Held, &Before);
        const int64_t Left = Deadline - Now();
        if (!InterruptFlag && Left > 0) {
            timespec T{};
            T.tv_sec = static_cast<time_t>(Left / Detail::Second);
            T.tv_nsec = static_cast<long>(Left % Detail::Second);
            ppoll(nullptr, 0, &T, &Before);
        }
        pthread_sigmask(SIG_SETMASK, &Before, nullptr);
    };
    Ctx.Interrupted = InterruptRequested;
    char Buf[PATH_MAX];
    ssize_t N = readlink("/proc/self/exe", Buf, sizeof Buf - 1);
    if (N > 0)
        Ctx.ExePath.assign(Buf, static_cast<size_t>(N));
    return Ctx;
}

int Run(const std::vector<std::string>& Args, Context& Ctx)
{
    // --link may stand before or after the command name.
    std::vector<std::string> Rest;
    std::string Link;
    bool HaveLink = false;
    bool Help = false;
    bool Ended = false;
    for (size_t I = 0; I < Args.size(); ++I) {
        const std::string& A = Args[I];
        if (!Ended && (A == "--link" || A.rfind("--link=", 0) == 0)) {
            if (HaveLink)
                return UsageFailure(Ctx, nullptr, "--link given twice");
            if (A == "--link") {
                if (I + 1 == Args.size())
                    return UsageFailure(Ctx, nullptr, "--link needs a SPEC");
                Link = Args[++I];
            } else {
                Link = A.substr(7);
            }
            if (Link.empty())
                return UsageFailure(Ctx, nullptr, "--link needs a SPEC");
            HaveLink = true;
            continue;
        }
        if (!Ended && (A == "--help" || A == "-h")) {
            Help = true;
            continue;
        }
        if (A == "--")
            Ended = true;
        Rest.push_back(A);
    }

    if (Rest.empty() || Rest[0] == "help") {
        if (Rest.size() > 1) {
            if (const CommandInfo* C = FindCommand(Rest[1])) {
                PrintCommandHelp(Ctx.Out, *C);
                return ExitOk;
            }
            return UsageFailure(Ctx, nullptr, "unknown command '" + Rest[1] + "'");
        }
        if (Help || !Rest.empty()) {
            PrintUsage(Ctx.Out);
            return ExitOk;
        }
        return UsageFailure(Ctx, nullptr, "no command given");
    }
    const CommandInfo* C = FindCommand(Rest[0]);
    if (!C)
        return UsageFailure(Ctx, nullptr, "unknown command '" + Rest[0] + "'");
    if (Help) {
        PrintCommandHelp(Ctx.Out, *C);
        return ExitOk;
    }

    // The library reads its link configuration at its first open.
    if (HaveLink)
        setenv("VELMOR_LINK", Link.c_str(), 1);

    try {
        return C->Fn(std::vector<std::string>(Rest.begin() + 1, Rest.end()), Ctx);
    } catch (const Detail::UsageError& E) {
        return UsageFailure(Ctx, C, E.Text);
    } catch (const Detail::OpenFailed& E) {
        Ctx.Err << "velmorctl: the device did not open" << (E.Text.empty() ? "" : ": ") << E.Text << '\n';
        return ExitOpenFailed;
    } catch (const EHardwareException& E) {
        Ctx.Err << "velmorctl: " << (E.Message().empty() ? "the device refused the command" : E.Message())
                << '\n';
        return ExitFailed;
    } catch (const std::exception& E) {
        Ctx.Err << "velmorctl: " << E.what() << '\n';
        return ExitFailed;
    }
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

Session::Session()
{
    if (!VLM_OpenDevice())
        throw OpenFailed{LastErrorText()};
}

Session::~Session() { VLM_CloseDevice(); }

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
