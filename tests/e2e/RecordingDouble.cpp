// libvelmor.so for tests of the real program: the recording test double,
// every call appended to the file named by $VELMOR_DOUBLE_LOG as it is made.
// With $VELMOR_DOUBLE_HOLD_OPEN set, every open waits for ever (a line that
// never answers and a library with no deadline).
#include <cstdio>
#include <cstdlib>

#include "tests/support/VelmorDouble.h"

namespace {

FILE* GLog = nullptr;

void Write(const VelmorDouble::Call& C)
{
    std::fprintf(GLog, "%s\n", C.Str().c_str());
    std::fflush(GLog);
}

struct Install {
    Install()
    {
        if (const char* Path = std::getenv("VELMOR_DOUBLE_LOG"))
            if ((GLog = std::fopen(Path, "ae")) != nullptr)
                VelmorDouble::SetCallSink(Write);
        if (std::getenv("VELMOR_DOUBLE_HOLD_OPEN"))
            VelmorDouble::HoldOpen();
    }
} GInstall;

} // namespace
