// Cost of one call into the virtual controller: moving the model on to "now"
// and reading, as the panel's poll does. Run with --benchmark_repetitions=N
// to get medians.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "sim/Controller.h"

namespace {

// A scratch folder with a control file in it, so the rate-limited look at
// the file is part of what is measured.
struct Scratch {
    std::string Dir;
    Scratch()
    {
        char Template[] = "/tmp/velmor-bench-XXXXXX";
        if (mkdtemp(Template))
            Dir = Template;
        if (FILE* F = std::fopen((Dir + "/virtual-controller.control").c_str(), "w")) {
            std::fputs("link=up\n", F);
            std::fclose(F);
        }
    }
    ~Scratch()
    {
        std::remove((Dir + "/virtual-controller.control").c_str());
        std::remove((Dir + "/virtual-controller.ini").c_str());
        rmdir(Dir.c_str());
    }
};

// With Now, the model's clock is *Now, which the benchmark moves itself.
Sim::Options BenchOptions(const Scratch& S, const int64_t* Now = nullptr)
{
    Sim::Options O;
    O.StatePath = S.Dir + "/virtual-controller.ini";
    O.ControlPath = S.Dir + "/virtual-controller.control";
    if (Now)
        O.Now = [Now] { return *Now; };
    return O;
}

void Drive(Sim::VirtualController& C)
{
    C.OpenDevice();
    C.SetVm(100);
    C.SetVw(30000);
    C.SetAw(100);
}

// GetNc on the real steady clock while the motor ramps up and cruises.
void BM_GetNcWhileRunning(benchmark::State& State)
{
    Scratch S;
    Sim::VirtualController C(BenchOptions(S));
    Drive(C);
    C.StartD(1);
    int32_t N = 0;
    for (auto _ : State) {
        C.GetNc(&N);
        benchmark::DoNotOptimize(N);
    }
}
BENCHMARK(BM_GetNcWhileRunning);

// The same on a clock that moves 100 us per call: the model's own cost,
// through a positioning run back and forth (ramps, cruise, braking).
void BM_GetNcPositioningModelClock(benchmark::State& State)
{
    Scratch S;
    int64_t Now = 0;
    Sim::VirtualController C(BenchOptions(S, &Now));
    Drive(C);
    C.SetAw(20000);
    int32_t N = 0;
    int32_t Target = 100000;
    C.StartN(Target);
    for (auto _ : State) {
        Now += 100000;
        C.GetNc(&N);
        if (C.Axis().State() == Sim::StateDone) {
            Target = -Target;
            C.StartN(Target);
        }
        benchmark::DoNotOptimize(N);
    }
}
BENCHMARK(BM_GetNcPositioningModelClock);

// A call after an hour's gap: StartN first finishes the run it finds in
// progress (ramp, cruise, braking, arrival: each piece in closed form), then
// starts the next one back. As cheap as any call. Without a control file:
// after a gap that long every call looks at it (one stat, about a
// microsecond), which is not what is measured here.
void BM_StartNAfterLongGap(benchmark::State& State)
{
    Scratch S;
    int64_t Now = 0;
    Sim::Options O = BenchOptions(S, &Now);
    O.ControlPath.clear();
    Sim::VirtualController C(O);
    Drive(C);
    int32_t Target = 25000000; // each run 5e7 half-steps, about 1970 s
    for (auto _ : State) {
        Now += 3600000000000LL;
        Target = -Target;
        C.StartN(Target);
    }
    if (State.iterations() > 1 && C.Axis().Coordinate() != -Target)
        State.SkipWithError("the run before the last did not arrive");
}
BENCHMARK(BM_StartNAfterLongGap);

} // namespace

BENCHMARK_MAIN();
