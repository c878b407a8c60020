// velmorctl's command table and the help texts made from it.
#include "velmorctl/Commands.h"

#include <ostream>

namespace VelmorCtl {
namespace Detail {

namespace {

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

// The commands in the order the help lists them.
const CommandInfo Commands[] = {
    {"info", "info",
     "the device text",
     "Prints the device text (VLM_GetInfo) of the open link.\n"
     "\nExample:\n  velmorctl info\n",
     false, Detail::Info},
    {"status", "status [--json]",
     "state, coordinate, speed, limit inputs, home coordinate, supply",
     "Prints the controller's state text and code, coordinate, speed, limit\n"
     "inputs (backward, forward, home), home coordinate and supply voltage, one\n"
     "\"key: value\" line each, or one JSON object with --json.\n"
     "\nExamples:\n  velmorctl status\n  velmorctl status --json\n",
     false, Detail::Status},
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
     false, Detail::Watch},
    {"run", "run forward|backward",
     "continuous rotation",
     "Continuous rotation: VLM_StartD(1) forward, VLM_StartD(-1) backward.\n"
     "With --wait it returns when something stops the motor: a limit switch\n"
     "(exit 4), a stop from elsewhere, --timeout or a signal.\n"
     "\nExample:\n  velmorctl run forward --wait --timeout 10\n",
     true, Detail::Run},
    {"stop", "stop",
     "ramp down and stop, as the panel's stop button (VLM_StartD(0))",
     "Stops the motor on its deceleration ramp, as the panel's stop button does:\n"
     "VLM_StartD(0).\n"
     "\nExample:\n  velmorctl stop --wait\n",
     true, Detail::Stop},
    {"halt", "halt",
     "stop at once, without a ramp (VLM_Stop)",
     "Stops the motor at once, without a deceleration ramp: VLM_Stop.\n"
     "\nExample:\n  velmorctl halt --wait\n",
     true, Detail::Halt},
    {"goto", "goto N",
     "move to the coordinate N (half-steps)",
     "Moves to the coordinate N in half-steps: VLM_StartN(N). With --wait, a\n"
     "motion that comes to rest elsewhere than N exits 2 (4 on a limit switch).\n"
     "\nExamples:\n  velmorctl goto 12000 --wait --timeout 60\n  velmorctl goto -500 --wait --json\n",
     true, Detail::Goto},
    {"move-by", "move-by N",
     "move by N half-steps",
     "Moves by N half-steps from the current coordinate: VLM_StartdN(N). A\n"
     "negative N is a number, not an option.\n"
     "\nExample:\n  velmorctl move-by -500 --wait\n",
     true, Detail::MoveBy},
    {"zero", "zero",
     "move to the coordinate 0",
     "Moves to the coordinate 0: VLM_StartN(0).\n"
     "\nExample:\n  velmorctl zero --wait --timeout 60\n",
     true, Detail::Zero},
    {"reset-coordinate", "reset-coordinate",
     "make the current coordinate 0",
     "Sets the current coordinate to 0: VLM_SetNc(0). The motor is not moved;\n"
     "to number a moving axis, stop it first (stop --wait).\n"
     "\nExample:\n  velmorctl stop --wait && velmorctl reset-coordinate\n",
     true, Detail::ResetCoordinate},
    {"home", "home forward|backward",
     "search for the home sensor",
     "Searches for the home sensor: VLM_Home(1) forward, VLM_Home(-1) backward.\n"
     "With --wait, a run that ends in \"Operation done\" also prints the home\n"
     "coordinate (VLM_GetNb); one that comes to rest otherwise exits 2 (4 on a\n"
     "limit switch).\n"
     "\nExample:\n  velmorctl home forward --wait --timeout 120\n",
     true, Detail::Home},
    {"wait", "wait [--target N] [--timeout S] [--json]",
     "wait until the motor is at rest, sending no motion",
     "Waits until the motor is at rest, as --wait does, without sending a\n"
     "motion: for a motion started by another command or the panel. With\n"
     "--target N, exits 0 only when the motor came to rest on N (2 elsewhere,\n"
     "4 on a limit switch). --timeout and signals stop the motor as with --wait.\n"
     "\nExamples:\n  velmorctl goto 9000 && velmorctl wait --target 9000 --timeout 60\n"
     "  velmorctl wait --json\n",
     false, Detail::Wait},
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
     false, Detail::Set},
    {"get-settings", "get-settings [FILE]",
     "write the parameters the controller holds as a panel settings file",
     "Reads the parameters the controller holds (one read of its holding\n"
     "registers 0x0000..0x0017) and writes them in the panel's settings format,\n"
     "so that apply-settings of the file sends them back unchanged: to FILE, or\n"
     "to standard output without one. A FILE that is there keeps its other\n"
     "entries (the window's place, the target field...); its maximum speed is\n"
     "raised to the working speed held when it is below it. A FILE that holds\n"
     "none of the panel's settings is not overwritten (exit 1). A value the\n"
     "file cannot carry back is named on standard error (exit 2, the rest is\n"
     "written).\n"
     "\nExamples:\n  velmorctl get-settings bench-3.ini\n"
     "  velmorctl --address 2 get-settings > axis-y.ini\n",
     false, Detail::GetSettings},
    {"apply-settings", "apply-settings [--strict] [--verify|--diff] [FILE]",
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
     "  --verify       once sent, read the parameters back (as get-settings\n"
     "                 does) and exit 2 when the controller holds any value\n"
     "                 otherwise than sent, each named on standard error\n"
     "  --diff         send nothing: read the parameters the controller holds\n"
     "                 and print each that the file would change, as\n"
     "                 \"NAME: HELD -> FILE\", then how many\n"
     "\nExamples:\n  velmorctl apply-settings\n  velmorctl apply-settings --strict bench-3.ini\n"
     "  velmorctl apply-settings --diff bench-3.ini\n  velmorctl apply-settings --verify bench-3.ini\n",
     false, Detail::ApplySettings},
    {"store", "store",
     "store the parameters in the controller's EEPROM",
     "Stores the controller's parameters in its EEPROM: VLM_SavePar.\n"
     "\nExample:\n  velmorctl store\n",
     false, Detail::Store},
    {"scan", "scan [--addresses LIST]",
     "find the controllers on the link's line",
     "Probes each address of the link's line (1..247, or LIST) with one\n"
     "read-only request, a short deadline and no retry, and prints each\n"
     "controller that answered: its address and identification text, one a\n"
     "line. The progress goes to standard error. A signal (Ctrl-C, SIGTERM,\n"
     "SIGHUP) cancels the scan: what was found is printed, exit 128 + the\n"
     "signal's number. A link that does not open exits 3.\n"
     "  --addresses LIST  addresses and ranges joined by commas: 1-10,15\n"
     "\nExamples:\n  velmorctl --link 'serial:/dev/ttyUSB0?baud=9600' scan\n"
     "  velmorctl scan --addresses 1-16\n",
     false, Detail::Scan},
    {"ports", "ports",
     "the serial ports a link could use",
     "Lists the serial ports a link could use: first the stable names of\n"
     "/dev/serial/by-id with the device each one points at, then the ttyUSB,\n"
     "ttyACM and ttyS devices that are serial ports, and last the ttyS names\n"
     "with no UART behind them (\"no UART behind it\": a name the kernel made,\n"
     "no port). Opens nothing. The same list as the panel's link dialog and\n"
     "Python's velmor.ports(). A stable name goes into the link:\n"
     "--link serial:/dev/serial/by-id/NAME.\n"
     "\nExamples:\n  velmorctl ports\n"
     "  velmorctl --link serial:/dev/serial/by-id/usb-FTDI_RS485-if00-port0 info\n",
     false, Detail::Ports},
};


const char* const ExitCodesHelp =
    "Exit codes:\n"
    "  0      done\n"
    "  1      bad usage (the usage is printed), a malformed link setting (the text\n"
    "         names where it was read: --link, $VELMOR_LINK or link.conf), a\n"
    "         settings file refused by apply-settings\n"
    "  2      the controller refused a value or command (its text on standard\n"
    "         error), or a motion came to rest short of its target; apply-settings\n"
    "         --verify read back a value other than sent, get-settings met one\n"
    "         the settings file cannot carry\n"
    "  3      no connection: the device did not open (absent, busy, not\n"
    "         permitted, silent; the library's text on standard error)\n"
    "  4      a limit switch stopped the motion\n"
    "  5      --timeout passed: the motor was stopped and is at rest\n"
    "  6      the link was lost during the command: the motor may still be\n"
    "         moving; for watch, one or more samples could not be read\n"
    "  7      standard output or the CSV file could not be written (a motion\n"
    "         started with --wait is at rest or stopped first)\n"
    "  128+N  signal N (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP) ended the command;\n"
    "         in a wait, after the stop was sent and the motor came to rest (a\n"
    "         watch sends no stop)\n";

} // namespace

const CommandInfo* FindCommand(const std::string& Name)
{
    for (const CommandInfo& C : Commands)
        if (Name == C.Name)
            return &C;
    return nullptr;
}

std::string OwnOptions(const CommandInfo& C)
{
    // A scan probes every address and writes nothing to any.
    return std::string(C.Name) == "scan" ? "[--link SPEC] [--lock-wait S] "
                                          : "[--link SPEC] [--address N] [--watchdog MS] [--lock-wait S] ";
}

std::string UsageLine(const CommandInfo& C)
{
    return std::string(C.Usage) + (C.Motion ? " [--wait [--timeout S] [--json]]" : "");
}

void PrintUsage(std::ostream& Out)
{
    Out << "Usage: velmorctl [--link SPEC] [--address N] [--watchdog MS] [--lock-wait S] COMMAND [ARGUMENTS]\n"
           "       velmorctl COMMAND --help\n"
           "       velmorctl --version\n"
           "\n"
           "The Velmor controller from scripts and terminals, through the panel's device\n"
           "library (libvelmor.so beside this program). Each command opens the device,\n"
           "does its work and closes it.\n"
           "\n"
           "Commands:\n";
    for (const CommandInfo& C : Commands)
        Out << "  " << C.Usage << "\n      " << C.Summary << '\n';
    Out << "The motion commands, run to home, also take --wait [--timeout S] [--json].\n"
           "\n"
           "Examples:\n"
           "  velmorctl status --json\n"
           "  velmorctl goto 12000 --wait --timeout 60\n"
           "  velmorctl move-by -500 --wait --json\n"
           "  velmorctl watch --interval 50 --count 400 --csv run.csv\n"
           "  velmorctl set vw=2000 aw=4000\n"
           "  velmorctl --lock-wait 5 status\n"
           "  velmorctl --link serial:/dev/serial/by-id/usb-FTDI_RS485-if00-port0 apply-settings\n"
           "  velmorctl --link 'serial:/dev/ttyUSB0?baud=9600&parity=none&stopbits=1' status\n"
           "  velmorctl --link 'modbus-tcp:127.0.0.1:5020?unit=1&baud=115200' info\n";
    Out << "\n"
           "Options:\n"
           "  --link SPEC    the link for this run (sets VELMOR_LINK); without it\n"
           "                 $VELMOR_LINK, else ~/.config/velmor/link.conf, else the\n"
           "                 virtual controller. SPEC is one of\n"
           "                   virtual\n"
           "                   serial:PATH[?OPTIONS] (PATH: see ports)\n"
           "                   tcp:HOST:PORT[?OPTIONS] (RTU over TCP, ser2net)\n"
           "                   modbus-tcp:HOST:PORT[?OPTIONS] (velmor-gateway or\n"
           "                   another Modbus TCP gateway)\n"
           "                 with a numeric HOST; OPTIONS joined by '&': baud=N\n"
           "                 (default 115200; behind a gateway its line's, 9600),\n"
           "                 address=N (1..247; unit=N on modbus-tcp:),\n"
           "                 timeout=MS, parity=none|even|odd and stopbits=1|2\n"
           "                 (serial: only; default 8E1, 8N1 is\n"
           "                 parity=none&stopbits=1), trace=FILE, watchdog=MS.\n"
           "                 Quote a SPEC with '&'. Checked before the device is\n"
           "                 opened\n"
           "  --address N    the controller at address N (1..247) on the link's line,\n"
           "                 for every command: the link's address= (unit= on\n"
           "                 modbus-tcp) for this run\n"
           "  --watchdog MS  write the controller's communication watchdog at the\n"
           "                 open: while it moves, the motor ramps down once no\n"
           "                 request has come for MS ms (0: off); the link's\n"
           "                 watchdog= for this run\n"
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
    Out << "Usage: velmorctl " << OwnOptions(C) << UsageLine(C) << "\n\n" << C.Help;
    if (C.Motion)
        Out << "\nOptions:\n" << WaitHelp;
    Out << "\n" << ExitCodesHelp;
}

} // namespace Detail
} // namespace VelmorCtl
