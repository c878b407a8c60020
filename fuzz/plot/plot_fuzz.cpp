// Fuzz target of the plot's data. The input is a run of readings (each eight
// bytes: a time step that may go backwards, flags, a value, a speed and an
// input word) in a small ring, then views onto it. For any input:
// - the ring never holds more than its capacity, keeps time order and the
//   span, and never keeps an error text longer than its limit;
// - the columns are as many as asked, each one's least and greatest bound
//   its first and last reading, and only readings in view are looked at;
// - every CSV row has the header's eight fields.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "core/SampleCsv.h"
#include "plot/CsvExport.h"
#include "plot/Decimate.h"
#include "plot/History.h"

namespace {

void Check(bool Ok, const char* What)
{
    if (!Ok) {
        std::fprintf(stderr, "check failed: %s\n", What);
        std::abort();
    }
}

const char* StateText(int32_t Code) { return Code == 2 ? "Limit, reached" : "State"; }

// Fields of one CSV line, quotes respected.
int FieldCount(const std::string& Line)
{
    int N = 1;
    bool Quoted = false;
    for (char C : Line) {
        if (C == '"')
            Quoted = !Quoted;
        else if (C == ',' && !Quoted)
            ++N;
        Check(C != '\n' && C != '\r', "a line break inside a row");
    }
    Check(!Quoted, "an unclosed quote");
    return N;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size < 4)
        return 0;
    const std::size_t Capacity = 1 + Data[0] % 64;
    const int64_t Span = (1 + Data[1]) * 10000LL;
    Plot::THistory H(Capacity, Span);
    std::size_t I = 2;
    int64_t T = 0;
    std::size_t Added = 0;
    for (; I + 8 <= Size && Data[I] != 0xFF; I += 8) {
        const uint8_t* D = Data + I;
        Core::PollSample S;
        T += static_cast<int8_t>(D[0]) * 1000;
        S.SteadyUs = T;
        S.UtcUs = T + 1796860800LL * 1000000;
        S.Ok = D[1] & 1;
        S.HasMotion = D[1] & 2;
        S.HasState = D[1] & 4;
        S.Coordinate = static_cast<int32_t>(static_cast<uint32_t>(D[2]) << 24 | D[3]);
        S.Speed = static_cast<int16_t>(D[4] << 8 | D[5]);
        S.Limits = D[6];
        S.StateCode = static_cast<int8_t>(D[7]);
        if (!S.Ok)
            S.Error.assign(static_cast<std::size_t>(D[2]) * 2, static_cast<char>(D[3] | 1));
        const bool Newest = H.Empty() || S.SteadyUs >= H.Newest().SteadyUs;
        Check(H.Add(S) == Newest, "a reading refused or taken wrongly");
        Added += Newest;
        Check(H.Size() <= H.Capacity() && H.Size() <= Added, "the ring holds too much");
    }
    for (std::size_t K = 1; K < H.Size(); ++K)
        Check(H.At(K - 1).SteadyUs <= H.At(K).SteadyUs, "out of time order");
    for (std::size_t K = 0; K < H.Size(); ++K) {
        Check(H.At(K).Error.size() <= Plot::THistory::MaxErrorLength, "an error text too long");
        Check(H.Newest().SteadyUs - H.At(K).SteadyUs <= Span, "a reading outside the span");
    }

    // Views: from, length and width from what is left.
    for (; I + 4 <= Size; I += 4) {
        const int64_t From = static_cast<int8_t>(Data[I]) * 3000LL;
        const int64_t Length = (Data[I + 1] + 1) * 2000LL * (Data[I + 3] & 1 ? -1 : 1);
        const int Width = Data[I + 2] * 4 + (Data[I + 3] >> 1);
        Plot::TDecimation D;
        Plot::Decimate(H, From, From + Length, Width, D);
        Check(D.Columns.size() == static_cast<std::size_t>(Width < 1 ? 1 : Width), "wrong number of columns");
        Check(D.Visited <= H.Size(), "looked at more than the ring");
        std::size_t InView = 0;
        for (std::size_t K = 0; K < H.Size(); ++K)
            InView += H.At(K).SteadyUs >= D.FromUs && H.At(K).SteadyUs < D.ToUs;
        Check(D.Visited == InView, "looked at readings out of view");
        for (const Plot::TColumn& C : D.Columns) {
            if (!C.HasMotion)
                continue;
            Check(C.CoordMin <= C.CoordFirst && C.CoordFirst <= C.CoordMax, "coordinate first out of bounds");
            Check(C.CoordMin <= C.CoordLast && C.CoordLast <= C.CoordMax, "coordinate last out of bounds");
            Check(C.SpeedMin <= C.SpeedFirst && C.SpeedFirst <= C.SpeedMax, "speed first out of bounds");
            Check(C.SpeedMin <= C.SpeedLast && C.SpeedLast <= C.SpeedMax, "speed last out of bounds");
            Check(D.Any && D.CoordMin <= C.CoordMin && C.CoordMax <= D.CoordMax, "a column outside the range");
        }
        std::ostringstream Csv;
        const std::size_t Rows = Plot::WriteCsv(Csv, H, D.FromUs, D.ToUs - 1, StateText);
        Check(Rows == InView, "rows and readings in view differ");
        std::istringstream Lines(Csv.str());
        std::size_t Count = 0;
        for (std::string L; std::getline(Lines, L); ++Count)
            Check(FieldCount(L) == 8, "a row without eight fields");
        Check(Count == Rows + 1, "lines and rows differ");
    }
    return 0;
}
