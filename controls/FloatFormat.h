#pragma once

#include <cstdint>
#include <string>

// The runtime's number formats. Every field of the panel uses ffFixed.
enum TFloatFormat : uint8_t { ffGeneral = 0, ffExponent = 1, ffFixed = 2, ffNumber = 3, ffCurrency = 4 };

// Formats Value as text (UTF-8) with the given decimal separator (UTF-8,
// usually one character).
std::string FloatToText(double Value, TFloatFormat Format, int Precision, int Digits, const std::string& DecimalSeparator);

// Converts Text (UTF-8) to a number. Returns false on a conversion error
// (text outside the grammar, or a number beyond the extended range). A number
// that converts but lies beyond the range of a double throws
// Exception("Floating point overflow").
bool TextToFloat(const std::string& Text, const std::string& DecimalSeparator, double& Result);
