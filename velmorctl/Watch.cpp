// watch: the panel's first-page poll as a log and a CSV file.
#include <cinttypes>
#include <fstream>
#include <ostream>

#include "device/Commands.h"
#include "device/velmor.h"
#include "velmorctl/Internal.h"

namespace VelmorCtl {
namespace Detail {

int Watch(const std::vector<std::string>& Args, Context& Ctx)
{
    const ParsedArgs P = ParseArgs(Args, {{"--interval", true}, {"--count", true}, {"--csv", true}});
    ExpectPositionals(P, 0, 0);
    const int64_t Interval =
        (P.Has("--interval") ? ParsePositive("--interval", P.Value("--interval"), 3600 * 1000) : 100) *
        Millisecond;
    const int64_t Count = P.Has("--count") ? ParsePositive("--count", P.Value("--count"), INT32_MAX) : 0;

    Session Device;

    // The file is replaced only once the device has answered, so a watch
    // that cannot start leaves the last run's file alone.
    std::ostream* Log = &Ctx.Out;
    std::ostream* Csv = nullptr;
    std::ofstream File;
    if (P.Has("--csv")) {
        const std::string& Path = P.Value("--csv");
        if (Path == "-") {
            Csv = &Ctx.Out;
            Log = &Ctx.Err;
        } else {
            File.open(Path, std::ios::out | std::ios::trunc | std::ios::binary);
            if (!File)
                throw UsageError{"cannot write the CSV file '" + Path + "'"};
            Csv = &File;
        }
    }
    Line(*Log, "%8s %11s %6s %6s  %s", "time_s", "coordinate", "speed", "limits", "state");
    if (Csv)
        *Csv << "time_s,coordinate,speed,limits,state_code,state\n";

    // Sample K is due at Start + K * Interval: a slow read delays its own
    // sample, never the ones after it; a sample whose time has passed is
    // skipped rather than crowded in.
    const int64_t Start = Ctx.Now();
    int64_t K = 0, Taken = 0, Failed = 0;
    bool Connected = true, WriteFailed = false;
    while (Count == 0 || Taken < Count) {
        const int64_t Due = Start + K * Interval;
        while (!Ctx.Interrupted() && Ctx.Now() < Due)
            Ctx.SleepUntil(Due);
        if (Ctx.Interrupted())
            break;
        const double T = static_cast<double>(Ctx.Now() - Start) / Second;
        ++Taken;
        if (!Connected) {
            // As the panel's poll does with a lost link: close, then open.
            VLM_CloseDevice();
            if (VLM_OpenDevice()) {
                Connected = true;
                Line(*Log, "%8.3f  link restored", T);
            }
        }
        if (Connected) {
            try {
                const int32_t Nc = Commands::GetNc();
                const int32_t Lim = Commands::GetLim();
                const int32_t Vc = Commands::GetVc();
                const int32_t State = Commands::GetStat();
                const char* Text = Commands::StateText(State);
                Line(*Log, "%8.3f %11d %6d %6d  %s", T, Nc, Vc, Lim, Text);
                if (Csv) {
                    Line(*Csv, "%.3f,%d,%d,%d,%d,%s", T, Nc, Vc, Lim, State, Text);
                    Csv->flush();
                    if (!*Csv) {
                        WriteFailed = true;
                        break;
                    }
                }
            } catch (const EHardwareException& E) {
                Connected = false;
                ++Failed;
                Line(*Log, "%8.3f  link lost: %s", T, E.Message().c_str());
            }
        } else {
            ++Failed;
        }
        Log->flush();
        ++K;
        const int64_t Now = Ctx.Now();
        if (Start + K * Interval < Now)
            K = (Now - Start) / Interval + 1;
    }
    Line(*Log, "samples: %" PRId64 ", failed reads: %" PRId64, Taken, Failed);
    if (WriteFailed) {
        Ctx.Err << "velmorctl: cannot write the CSV file '" << P.Value("--csv") << "'\n";
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace Detail
} // namespace VelmorCtl
