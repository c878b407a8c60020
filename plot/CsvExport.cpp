#include "plot/CsvExport.h"

namespace Plot {

std::size_t WriteCsv(std::ostream& Out, const THistory& H, int64_t FromUs, int64_t ToUs,
                     Core::StateTextFn StateText)
{
    Out << Core::SampleCsvHeader() << '\n';
    std::size_t Rows = 0;
    int64_t Origin = 0;
    for (std::size_t I = H.LowerBound(FromUs); I < H.Size(); ++I) {
        const Core::PollSample& S = H.At(I);
        if (S.SteadyUs > ToUs)
            break;
        if (Rows == 0)
            Origin = S.SteadyUs;
        Out << Core::SampleCsvRow(S, Origin, StateText) << '\n';
        ++Rows;
    }
    return Rows;
}

} // namespace Plot
