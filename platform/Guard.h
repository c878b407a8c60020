#pragma once

#include <exception>
#include <functional>
#include <utility>

// Qt is built without exception support here, so no exception may unwind
// through its frames. Every place where Qt calls into the program (bound
// handlers, overridden events, the timer) runs its work through Guarded(),
// which catches what escapes and hands it to the installed exception display.

using ExceptionDisplay = void (*)(std::exception_ptr);

// Installs the display for escaped exceptions; returns the previous one.
// Without one, escaped exceptions are written to stderr.
ExceptionDisplay SetExceptionDisplay(ExceptionDisplay Display);

// Passes an escaped exception to the installed display.
void ShowEscapedException(std::exception_ptr E) noexcept;

template <class F>
void Guarded(F&& Work) noexcept
{
    try {
        std::forward<F>(Work)();
    } catch (...) {
        ShowEscapedException(std::current_exception());
    }
}
