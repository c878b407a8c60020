#pragma once

#include <type_traits>

#include "device/velmor.h"

// The device library's 26 operations, listed once. Each entry gives the
// operation's name (the C function is VLM_ and the name), its C parameter
// list and the argument list that hands those parameters on:
//   X(Name, (parameters), (arguments))
// The link operations open, close and say why a call failed; every front
// treats them on its own. The device operations are the controller's: its
// text, its parameters, its commands and its readings.
#define VELMOR_LINK_OPERATIONS(X)                                                                                   \
    X(OpenDevice, (void), ())                                                                                       \
    X(CloseDevice, (void), ())                                                                                      \
    X(GetLastError, (char** text), (text))

// Settings and commands: int32_t arguments, nothing handed back.
#define VELMOR_COMMAND_OPERATIONS(X)                                                                                \
    X(SetMode, (int32_t step, int32_t decay), (step, decay))                                                        \
    X(SetIw, (int32_t current), (current))                                                                          \
    X(SetIa, (int32_t current), (current))                                                                          \
    X(SetIh, (int32_t current), (current))                                                                          \
    X(SetVm, (int32_t speed), (speed))                                                                              \
    X(SetVw, (int32_t speed), (speed))                                                                              \
    X(SetAw, (int32_t acceleration), (acceleration))                                                                \
    X(SetLim, (int32_t backward, int32_t forward, int32_t home), (backward, forward, home))                         \
    X(SetCtrl, (int32_t word), (word))                                                                              \
    X(SetNc, (int32_t coordinate), (coordinate))                                                                    \
    X(StartD, (int32_t dir), (dir))                                                                                 \
    X(StartN, (int32_t n), (n))                                                                                     \
    X(StartdN, (int32_t dn), (dn))                                                                                  \
    X(Home, (int32_t dir), (dir))                                                                                   \
    X(Stop, (void), ())                                                                                             \
    X(SavePar, (void), ())

// Readings: one int32_t handed back through a pointer.
#define VELMOR_READ_OPERATIONS(X)                                                                                   \
    X(GetStat, (int32_t* state), (state))                                                                           \
    X(GetNc, (int32_t* coordinate), (coordinate))                                                                   \
    X(GetNb, (int32_t* coordinate), (coordinate))                                                                   \
    X(GetVc, (int32_t* speed), (speed))                                                                             \
    X(GetLim, (int32_t* word), (word))                                                                              \
    X(GetAdc, (int32_t* reading), (reading))

// The controller's operations: its text, then the two kinds above.
#define VELMOR_DEVICE_OPERATIONS(X)                                                                                 \
    X(GetInfo, (char** text), (text))                                                                               \
    VELMOR_COMMAND_OPERATIONS(X) VELMOR_READ_OPERATIONS(X)

#define VELMOR_OPERATIONS(X) VELMOR_LINK_OPERATIONS(X) VELMOR_DEVICE_OPERATIONS(X)

// device/velmor.h keeps its declarations written out for people and for
// Python; here the compiler holds each one to the list.
#define VELMOR_CHECK_DECLARATION(Name, Params, Args)                                                                \
    static_assert(std::is_same<decltype(&VLM_##Name), VLM_BOOL(*) Params>::value,                                   \
                  "device/velmor.h declares VLM_" #Name " otherwise than device/Operations.h");
VELMOR_OPERATIONS(VELMOR_CHECK_DECLARATION)
#undef VELMOR_CHECK_DECLARATION
#define VELMOR_COUNT_OPERATION(Name, Params, Args) +1
static_assert(0 VELMOR_OPERATIONS(VELMOR_COUNT_OPERATION) == 26, "the device library has 26 operations");
#undef VELMOR_COUNT_OPERATION
