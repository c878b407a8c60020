#include "platform/Guard.h"

#include <cstdio>

namespace {
ExceptionDisplay GDisplay = nullptr;
}

ExceptionDisplay SetExceptionDisplay(ExceptionDisplay Display)
{
    ExceptionDisplay Old = GDisplay;
    GDisplay = Display;
    return Old;
}

void ShowEscapedException(std::exception_ptr E) noexcept
{
    if (GDisplay) {
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
