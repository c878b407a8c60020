// Throughput of the number formatter and parser. Run with
// --benchmark_repetitions=N to get medians.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "controls/FloatFormat.h"

namespace {

const std::vector<double>& Values()
{
    static const std::vector<double> V = {0.0, 2000.0, -0.01, 12.25, 1234.5678, 3.14159265358979, 123456.0,
                                          -98765.4321, 1e-7, 1.7976931348623157e308};
    return V;
}

const std::vector<std::string>& Texts()
{
    static const std::vector<std::string> T = {"0",       "2000",  "-0,01", "12,25",        "  1234,5678 ",
                                               "3,14159", "1,2346E5", "-98765,4321", "1e-7", "abc"};
    return T;
}

void Format(benchmark::State& State, TFloatFormat F, int Precision, int Digits)
{
    const auto& V = Values();
    size_t I = 0;
    for (auto _ : State) {
        std::string S = FloatToText(V[I], F, Precision, Digits, ",");
        benchmark::DoNotOptimize(S);
        I = I + 1 == V.size() ? 0 : I + 1;
    }
    State.SetItemsProcessed(State.iterations());
}

void BM_FormatFixed(benchmark::State& S) { Format(S, ffFixed, 5, 2); }
void BM_FormatFixedFull(benchmark::State& S) { Format(S, ffFixed, 18, 18); }
void BM_FormatGeneral(benchmark::State& S) { Format(S, ffGeneral, 15, 0); }

void BM_Parse(benchmark::State& State)
{
    const auto& T = Texts();
    size_t I = 0;
    for (auto _ : State) {
        double R = 0;
        bool Ok = TextToFloat(T[I], ",", R);
        benchmark::DoNotOptimize(Ok);
        benchmark::DoNotOptimize(R);
        I = I + 1 == T.size() ? 0 : I + 1;
    }
    State.SetItemsProcessed(State.iterations());
}

// The commit path of a field: format the shown text, parse it back. The
// last value is left out: rounded to 5 digits it lies beyond a double.
void BM_RoundTrip(benchmark::State& State)
{
    const auto& V = Values();
    const size_t N = V.size() - 1;
    size_t I = 0;
    for (auto _ : State) {
        double R = 0;
        bool Ok = TextToFloat(FloatToText(V[I], ffFixed, 5, 5, ","), ",", R);
        benchmark::DoNotOptimize(Ok);
        benchmark::DoNotOptimize(R);
        I = I + 1 == N ? 0 : I + 1;
    }
    State.SetItemsProcessed(State.iterations());
}

} // namespace

BENCHMARK(BM_FormatFixed);
BENCHMARK(BM_FormatFixedFull);
BENCHMARK(BM_FormatGeneral);
BENCHMARK(BM_Parse);
BENCHMARK(BM_RoundTrip);

BENCHMARK_MAIN();
