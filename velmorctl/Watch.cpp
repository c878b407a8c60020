// watch: the panel's first-page poll as a log and a CSV file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <memory>
#include <ostream>

#include "core/DeviceState.h"
#include "device/Commands.h"
#include "device/velmor.h"
#include "velmorctl/Internal.h"

namespace VelmorCtl {
namespace Detail {

namespace {

// One sample: read, or the failure's text.
struct Sample {
    bool Read = false;
    int32_t Nc = 0, Lim = 0, Vc = 0, State = 0;
    std::string Error;
};

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& Text)
{
    if (Text.find_first_of(",\"\r\n") == std::string::npos)
        return Text;
    std::string R = "\"";
    for (char C : Text) {
        if (C == '"')
            R += '"';
        R += C == '\r' || C == '\n' ? ' ' : C;
    }
    return R + "\"";
}

// The CSV file, written through a buffer that keeps the errno of a failed
// write.
struct CsvFile {
    int Fd = -1;
    std::unique_ptr<FdStreamBuf> Buf;
    std::unique_ptr<std::ostream> Stream;
    ~CsvFile()
    {
        Stream.reset();
        Buf.reset();
        if (Fd >= 0)
            ::close(Fd);
    }
};

} // namespace

int Watch(const std::vector<std::string>& Args, Context& Ctx)
{
    const ParsedArgs P = ParseArgs(Args, {{"--interval", true}, {"--count", true}, {"--csv", true}});
    ExpectPositionals(P, 0, 0);
    const int64_t Interval =
        (P.Has("--interval") ? ParsePositive("--interval", P.Value("--interval"), 3600 * 1000) : 100) *
        Millisecond;
    const int64_t Count = P.Has("--count") ? ParsePositive("--count", P.Value("--count"), INT32_MAX) : 0;

    Session Device(Ctx);

    // The file is replaced only once the device has answered, so a watch
    // that cannot start leaves the last run's file alone.
    std::ostream* Log = &Ctx.Out;
    std::ostream* Csv = nullptr;
    CsvFile File;
    std::string CsvName = "standard output";
    if (P.Has("--csv")) {
        const std::string& Path = P.Value("--csv");
        if (Path == "-") {
            Csv = &Ctx.Out;
            Log = &Ctx.Err;
        } else {
            File.Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (File.Fd < 0)
                throw OutputFailed{"the CSV file '" + Path + "'", errno};
            File.Buf = std::make_unique<FdStreamBuf>(File.Fd);
            File.Stream = std::make_unique<std::ostream>(File.Buf.get());
            Csv = File.Stream.get();
            CsvName = "the CSV file '" + Path + "'";
        }
    }
    // Every row is flushed and checked: a watch whose output is gone ends
    // at once instead of polling on and holding the port.
    const auto Flush = [&] {
        if (Csv) {
            Csv->flush();
            if (!*Csv)
                throw OutputFailed{CsvName, Csv == &Ctx.Out ? (Ctx.OutErrno ? Ctx.OutErrno() : 0)
                                                            : File.Buf->Error()};
        }
        if (Log == &Ctx.Out)
            CheckOutput(Ctx);
        else
            Log->flush();
    };
    Line(*Log, "%8s %-24s %11s %6s %6s  %s", "time_s", "time_utc", "coordinate", "speed", "limits", "state");
    if (Csv)
        *Csv << "time_s,time_utc,coordinate,speed,limits,state_code,state,error\n";
    Flush();

    // Sample K is due at Start + K * Interval: a slow read delays its own
    // sample, never the ones after it; a sample whose time has passed is
    // skipped rather than crowded in.
    const int64_t Start = Ctx.Now();
    int64_t K = 0, Taken = 0, Failed = 0;
    bool Connected = true;
    while (Count == 0 || Taken < Count) {
        const int64_t Due = Start + K * Interval;
        while (!Ctx.Signal() && Ctx.Now() < Due)
            Ctx.SleepUntil(Due);
        if (Ctx.Signal())
            break;
        const double T = static_cast<double>(Ctx.Now() - Start) / Second;
        const std::string Utc = UtcTime(WallNow(Ctx));
        ++Taken;
        Sample S;
        if (!Connected) {
            // As the panel's poll does with a lost link: close, then open.
            VLM_CloseDevice();
            if (VLM_OpenDevice())
                Connected = true;
            else
                S.Error = LastErrorText();
        }
        if (Connected) {
            try {
                S.Nc = Commands::GetNc();
                S.Lim = Commands::GetLim();
                S.Vc = Commands::GetVc();
                S.State = Commands::GetStat();
                S.Read = true;
            } catch (const EHardwareException& E) {
                Connected = false;
                S.Error = E.Message().empty() ? "the read failed" : E.Message();
            }
        }
        if (S.Read) {
            const char* Text = Commands::StateText(S.State);
            Line(*Log, "%8.3f %-24s %11d %6d %6d  %s", T, Utc.c_str(), S.Nc, S.Vc, S.Lim, Text);
            if (Csv)
                Line(*Csv, "%.3f,%s,%d,%d,%d,%d,%s,", T, Utc.c_str(), S.Nc, S.Vc, S.Lim, S.State, Text);
        } else {
            ++Failed;
            Line(*Log, "%8.3f %-24s %11s %6s %6s  %s  error: %s", T, Utc.c_str(), "", "", "", "",
                 S.Error.c_str());
            if (Csv)
                Line(*Csv, "%.3f,%s,,,,,,%s", T, Utc.c_str(), CsvField(S.Error).c_str());
        }
        Flush();
        ++K;
        const int64_t Now = Ctx.Now();
        if (Start + K * Interval < Now)
            K = (Now - Start) / Interval + 1;
    }
    int Code = Failed ? ExitLinkLost : ExitOk;
    if (const int N = Ctx.Signal()) {
        // A stop request ends the watch as it ends a wait: the stop of the
        // panel's stop button, and the state the motor came to rest in.
        Code = ExitSignal + N;
        try {
            Commands::StartD(0);
            Ctx.Err << "velmorctl: interrupted (" << SignalName(N) << "); stop sent (VLM_StartD(0))\n";
            int32_t State = 0, Speed = 0;
            int Calm = 0;
            for (int64_t Next = Ctx.Now(); Calm < 2;) {
                Next += 100 * Millisecond;
                while (Ctx.Now() < Next)
                    Ctx.SleepUntil(Next);
                State = Commands::GetStat();
                Speed = Commands::GetVc();
                Calm = Core::StateEnded(State) && Speed == 0 ? Calm + 1 : 0;
            }
            Line(*Log, "state: %s (%d), coordinate: %d", Commands::StateText(State), State, Commands::GetNc());
        } catch (const EHardwareException& E) {
            Ctx.Err << "velmorctl: interrupted (" << SignalName(N)
                    << "); the stop (VLM_StartD(0)) or the reads after it failed: " << E.Message()
                    << "; the motor may still be moving\n";
        }
    }
    Line(*Log, "samples: %" PRId64 ", failed: %" PRId64, Taken, Failed);
    Flush();
    if (Failed)
        Ctx.Err << "velmorctl: " << Failed << " of " << Taken << " samples could not be read\n";
    return Code;
}

} // namespace Detail
} // namespace VelmorCtl
