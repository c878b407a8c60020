#pragma once

// What the command units of velmorctl share; not for use outside velmorctl/.

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/PanelSettings.h"
#include "velmorctl/Ctl.h"

namespace VelmorCtl {
namespace Detail {

constexpr int64_t Millisecond = 1000000; // in nanoseconds
constexpr int64_t Second = 1000 * Millisecond;

// Bad usage of the current command: Run prints the text, the command's
// usage and exits 1. Nothing has been sent when it is thrown.
struct UsageError : std::runtime_error { using std::runtime_error::runtime_error; };

// The device did not open: Run prints the library's text and exits 3.
struct OpenFailed : std::runtime_error { using std::runtime_error::runtime_error; };

// A write to standard output or the CSV file failed: Run says where and why
// (Errno, 0 when not known) and exits 7.
// what() is the place ("standard output").
struct OutputFailed : std::runtime_error {
    OutputFailed(const std::string& Where, int Error) : std::runtime_error(Where), Errno(Error) {}
    int Errno;
};

// Flushes Out and throws OutputFailed when it or an earlier write failed.
void CheckOutput(Context& Ctx);

// One command's options. A value option takes the next argument or the text
// after "="; "--" ends the options, and an argument that starts with "-" and
// a digit is a (negative) number, not an option.
struct OptionSpec {
    const char* Name; // "--wait"
    bool TakesValue;
};

struct ParsedArgs {
    std::vector<std::string> Positional;
    std::map<std::string, std::string> Options;

    bool Has(const char* Name) const { return Options.count(Name) != 0; }
    const std::string& Value(const char* Name) const { return Options.at(Name); }
};

ParsedArgs ParseArgs(const std::vector<std::string>& Args, const std::vector<OptionSpec>& Specs);
// Throws UsageError unless the command got between Min and Max positionals.
void ExpectPositionals(const ParsedArgs& P, size_t Min, size_t Max);

// Numbers as typed: an optional sign and decimal digits only, within int32_t
// (Whole); an optional "0x" hexadecimal form as in the settings file (Word).
bool ParseWhole(const std::string& Text, int32_t& Value);
bool ParseWord(const std::string& Text, int32_t& Value);
// A positive count of milliseconds or seconds, bounded by Max.
int64_t ParsePositive(const std::string& Option, const std::string& Text, int64_t Max);
int64_t ParseSeconds(const std::string& Option, const std::string& Text);

// The device for one command: opened on construction (OpenFailed with the
// library's text when it does not open), closed on destruction. With
// --lock-wait, an open that fails because the port is busy (the library's
// text says "busy") is tried again every 100 ms until the time is up.
class Session {
public:
    explicit Session(Context& Ctx);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

// An open tried again while the port is busy, as Session does: Open until
// it succeeds, Error the text of its failure; OpenFailed when it gives up.
void OpenWithLockWait(Context& Ctx, const std::function<bool()>& Open, const std::function<std::string()>& Error);

// The parameters the controller holds, read through a library session of
// their own on this run's link (VLMS_ReadParameters): in the order and
// meaning of what apply-settings sends. OpenFailed when the session does
// not open; LinkLostError with the library's text when the read fails.
struct LinkLostError : std::runtime_error { using std::runtime_error::runtime_error; };
PanelSettings::DeviceParameters ReadHeldParameters(Context& Ctx);

// A parameter the controller holds otherwise than wanted.
struct Difference {
    const char* Name; // "vw", "limits.backward": the keys of set
    int32_t Held, Wanted;
};
std::vector<Difference> Differences(const PanelSettings::DeviceParameters& Held,
                                    const PanelSettings::DeviceParameters& Wanted);

// The library's text after a failed call, in UTF-8.
std::string LastErrorText();

// A wall-clock time as ISO 8601 UTC with milliseconds:
// "2026-12-10T00:15:02.125Z".
std::string UtcTime(int64_t NanosecondsSince1970);
int64_t WallNow(const Context& Ctx);

// "SIGINT", "SIGTERM", "SIGHUP", else "signal N".
std::string SignalName(int N);

// A text as a JSON string, quotes included.
std::string JsonString(const std::string& Text);

// Writes one printf-formatted line (the newline added).
void Line(std::ostream& Out, const char* Format, ...) __attribute__((format(printf, 2, 3)));

// The commands. Each gets the arguments after its name.
int Info(const std::vector<std::string>& Args, Context& Ctx);
int Status(const std::vector<std::string>& Args, Context& Ctx);
int Watch(const std::vector<std::string>& Args, Context& Ctx);
int Run(const std::vector<std::string>& Args, Context& Ctx);
int Stop(const std::vector<std::string>& Args, Context& Ctx);
int Halt(const std::vector<std::string>& Args, Context& Ctx);
int Goto(const std::vector<std::string>& Args, Context& Ctx);
int MoveBy(const std::vector<std::string>& Args, Context& Ctx);
int Zero(const std::vector<std::string>& Args, Context& Ctx);
int ResetCoordinate(const std::vector<std::string>& Args, Context& Ctx);
int Home(const std::vector<std::string>& Args, Context& Ctx);
int Wait(const std::vector<std::string>& Args, Context& Ctx);
int Set(const std::vector<std::string>& Args, Context& Ctx);
int ApplySettings(const std::vector<std::string>& Args, Context& Ctx);
int Store(const std::vector<std::string>& Args, Context& Ctx);
int Ports(const std::vector<std::string>& Args, Context& Ctx);
int GetSettings(const std::vector<std::string>& Args, Context& Ctx);
int Scan(const std::vector<std::string>& Args, Context& Ctx);

} // namespace Detail
} // namespace VelmorCtl
