#pragma once

#include <exception>
#include <utility>

// Qt is built without exception support here, so no exception may unwind
// through its frames. Every place where Qt calls into the program (bound
// handlers, overridden events, the timer) runs its work through Guarded().
//
// The outermost guarded call hands an escaped exception to the installed
// exception display. A guarded call nested inside another one (a handler run
// by a control that our own code has just changed, say a scroll bar moved
// from a field's handler) keeps the exception pending instead; the code that
// changed the control calls RethrowPending() once Qt has returned, so the
// exception goes on through our own frames as if Qt were not in between.
// Modal loops open a fresh level with ModalScope: what escapes there is shown
// there.

using ExceptionDisplay = void (*)(std::exception_ptr);

// Installs the display for escaped exceptions; returns the previous one.
// Without one, escaped exceptions are written to stderr.
ExceptionDisplay SetExceptionDisplay(ExceptionDisplay Display);

// Passes an escaped exception to the installed display.
void ShowEscapedException(std::exception_ptr E) noexcept;

namespace GuardDetail {
int& Depth() noexcept;
std::exception_ptr& Pending() noexcept;
void Escaped(std::exception_ptr E) noexcept;
void Leave() noexcept;
} // namespace GuardDetail

template <class F>
void Guarded(F&& Work) noexcept
{
    ++GuardDetail::Depth();
    try {
        std::forward<F>(Work)();
    } catch (...) {
        GuardDetail::Escaped(std::current_exception());
    }
    GuardDetail::Leave();
}

// Rethrows the exception a nested guarded call kept pending, if any.
void RethrowPending();

// Runs Work (which changes a control and so may run its handlers through Qt)
// and then lets a pending exception of those handlers go on.
template <class F>
void Emitting(F&& Work)
{
    std::forward<F>(Work)();
    RethrowPending();
}

// While alive, guarded calls count as outermost: used around modal loops.
class ModalScope {
public:
    ModalScope() noexcept;
    ~ModalScope();
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

private:
    int FDepth;
    std::exception_ptr FPending;
};
