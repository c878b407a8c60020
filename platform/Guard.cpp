#include "platform/Guard.h"

#include <cstdio>

namespace {
ExceptionDisplay GDisplay = nullptr;
int GDepth = 0;
std::exception_ptr GPending;
} // namespace

ExceptionDisplay SetExceptionDisplay(ExceptionDisplay Display)
{
    ExceptionDisplay Old = GDisplay;
    GDisplay = Display;
    return Old;
}

void ShowEscapedException(std::exception_ptr E) noexcept
{
    if (GDisplay) {
        ModalScope Fresh;
        try {
            GDisplay(E);
        } catch (...) {
            std::fputs("velmor: the exception display failed\n", stderr);
        }
        return;
    }
    try {
        std::rethrow_exception(E);
    } catch (const std::exception& Ex) {
        std::fprintf(stderr, "velmor: %s\n", Ex.what());
    } catch (...) {
        std::fputs("velmor: unknown exception\n", stderr);
    }
}

namespace GuardDetail {

int& Depth() noexcept { return GDepth; }
std::exception_ptr& Pending() noexcept { return GPending; }

void Escaped(std::exception_ptr E) noexcept
{
    if (GDepth > 1) {
        // Nested: the first exception wins and travels on in the caller.
        if (!GPending)
            GPending = E;
        return;
    }
    GPending = nullptr;
    ShowEscapedException(E);
}

void Leave() noexcept
{
    if (--GDepth == 0 && GPending) {
        // Nobody took the pending exception on: show it rather than lose it.
        std::exception_ptr E = GPending;
        GPending = nullptr;
        ShowEscapedException(E);
    }
}

} // namespace GuardDetail

void RethrowPending()
{
    if (GPending) {
        std::exception_ptr E = GPending;
        GPending = nullptr;
        std::rethrow_exception(E);
    }
}

ModalScope::ModalScope() noexcept : FDepth(GDepth), FPending(GPending)
{
    GDepth = 0;
    GPending = nullptr;
}

ModalScope::~ModalScope()
{
    GDepth = FDepth;
    GPending = FPending;
}
