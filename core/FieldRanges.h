#pragma once

#include <cstdint>

// What the controller takes, and the ranges of the panel's numeric fields
// derived from it: one table for the form, the settings file, velmorctl's
// set and apply, and the line's refusal texts.
namespace Core {

// Limits the controller checks values against.
constexpr int32_t MaxCurrent = 2000;       // mA
constexpr int32_t MaxSpeed = 30000;        // half-steps per second
constexpr int32_t MaxAcceleration = 40000; // half-steps per second squared

struct FieldRange {
    double Min;
    double Max;
};

// The fields' ranges. A minimum a little below zero lets a field be emptied
// to zero; what it sends is the value truncated toward zero.
namespace Fields {
constexpr FieldRange Current{-0.01, MaxCurrent};                 // Iw, Ia, Ih
constexpr FieldRange Coordinate{-2000000000, 2000000000};        // Nr, Nc, the home coordinate
constexpr FieldRange Speed{1, MaxSpeed};                         // Vm and the maximum speed
constexpr FieldRange WorkingSpeed{-0.1, MaxSpeed};               // Vw; its top follows the maximum speed
constexpr FieldRange Acceleration{-0.1, MaxAcceleration};        // Aw
constexpr FieldRange Velocity{-MaxSpeed, MaxSpeed};              // the signed speed read back
constexpr FieldRange Supply{-0.1, 40};                           // the supply voltage read back, V
} // namespace Fields

} // namespace Core
