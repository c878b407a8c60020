// watch: the panel's first-page poll as a log and a CSV file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <memory>
#include <ostream>

#include "core/DeviceState.h"
#include "core/PollSample.h"
#include "core/SampleCsv.h"
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

// The sample as a CSV row (core/SampleCsv.h, the plot window's export too),
// its time counted from Start; nanoseconds in, as velmorctl's clocks give them.
std::string CsvRow(const Sample& S, int64_t Answered, int64_t AnsweredUtc, int64_t Start)
{
    Core::PollSample P;
    P.SteadyUs = (Answered - Start) / 1000;
    P.UtcUs = AnsweredUtc / 1000;
    P.Ok = S.Read;
    P.HasMotion = P.HasState = S.Read;
    P.Coordinate = S.Nc;
    P.Speed = S.Vc;
    P.Limits = S.Lim;
    P.StateCode = S.State;
    P.Error = S.Error;
    return Core::SampleCsvRow(P, 0, Core::StateText);
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
        *Csv << Core::SampleCsvHeader() << '\n';
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
        ++Taken;
        Sample S;
        // A sample is timed when its answer arrived, not when it was asked
        // for: the first read fetches the status block (the others are
        // answered from it), and a retry inside the library delays that
        // answer. A failed sample is timed when its failure was known.
        int64_t Answered = 0, AnsweredUtc = 0;
        const auto Stamp = [&] {
            Answered = Ctx.Now();
            AnsweredUtc = WallNow(Ctx);
        };
        if (!Connected) {
            // As the panel's poll does with a lost link: close, then open.
            VLM_CloseDevice();
            if (VLM_OpenDevice())
                Connected = true;
            else
                S.Error = LastErrorText();
            Stamp();
        }
        if (Connected) {
            bool FirstAnswered = false;
            try {
                S.Nc = Commands::GetNc();
                Stamp();
                FirstAnswered = true;
                S.Lim = Commands::GetLim();
                S.Vc = Commands::GetVc();
                S.State = Commands::GetStat();
                S.Read = true;
            } catch (const EHardwareException& E) {
                if (!FirstAnswered)
                    Stamp();
                Connected = false;
                S.Error = E.Message().empty() ? "the read failed" : E.Message();
            }
        }
        const double T = static_cast<double>(Answered - Start) / Second;
        const std::string Utc = UtcTime(AnsweredUtc);
        if (S.Read) {
            const char* Text = Commands::StateText(S.State);
            Line(*Log, "%8.3f %-24s %11d %6d %6d  %s", T, Utc.c_str(), S.Nc, S.Vc, S.Lim, Text);
            if (Csv)
                *Csv << CsvRow(S, Answered, AnsweredUtc, Start) << '\n';
        } else {
            ++Failed;
            Line(*Log, "%8.3f %-24s %11s %6s %6s  %s  error: %s", T, Utc.c_str(), "", "", "", "",
                 S.Error.c_str());
            if (Csv)
                *Csv << CsvRow(S, Answered, AnsweredUtc, Start) << '\n';
        }
        Flush();
        ++K;
        const int64_t Now = Ctx.Now();
        if (Start + K * Interval < Now)
            K = (Now - Start) / Interval + 1;
    }
    // A watch only observes: a signal ends it with its summary and sends
    // nothing, so a motion another program started goes on.
    int Code = Failed ? ExitLinkLost : ExitOk;
    if (const int N = Ctx.Signal()) {
        Code = ExitSignal + N;
        Ctx.Err << "velmorctl: interrupted (" << SignalName(N) << "); nothing sent, the motor is left as it is\n";
    }
    Line(*Log, "samples: %" PRId64 ", failed: %" PRId64, Taken, Failed);
    Flush();
    if (Failed)
        Ctx.Err << "velmorctl: " << Failed << " of " << Taken << " samples could not be read\n";
    return Code;
}

} // namespace Detail
} // namespace VelmorCtl
