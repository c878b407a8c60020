#pragma once

#include <cstdint>
#include <string>

// The runtime's number formats. Every field of the panel uses ffFixed.
//
// What each gives (Precision counts significant digits and is taken as at
// least 2 and at most 18; "sep" is the decimal separator passed in; every
// format starts from the value's 18 significant decimal digits and rounds
// them half away from zero; a value that rounds to zero never gets a minus
// sign):
//   ffFixed    at most Digits (0..18) decimals and at most Precision
//              significant digits; exactly Digits decimals shown, padded
//              with zeros; no thousands separators. When the integer part
//              has more digits than Precision, scientific notation without
//              trailing zeros and without a "+" in the exponent:
//              123456 (P 5, D 0) -> "1.2346E5", 12.25 (P 3, D 1) -> "12.3".
//   ffGeneral  the shortest text of Precision significant digits: trailing
//              zeros and a bare separator dropped; scientific notation when
//              the integer part has more digits than Precision or the value
//              is below 1E-5; the exponent has no "+" and at least Digits
//              (0..4) digits: 1234.5 (P 15) -> "1234.5", 1E20 -> "1E20",
//              0.000001 -> "1E-6".
//   ffExponent always scientific: one digit, sep, Precision - 1 digits (zeros
//              kept), "E", the exponent's sign (always) and at least Digits
//              (0..4) exponent digits: 1234.5 (P 5, D 2) -> "1.2345E+03".
//   ffNumber   ffFixed with the integer part grouped by three with a
//              thousands separator, which is "," or, when sep is ",", ".":
//              1234567.891 (P 18, D 2) -> "1,234,567.89".
//   ffCurrency ffNumber, a negative amount in parentheses instead of a minus
//              sign (no currency symbol): -1234.5 (D 2) -> "(1,234.50)".
// Not-a-number gives "NAN", infinities "INF" and "-INF", in every format.
// An unknown format value is formatted as ffFixed. An empty separator
// stands for ".".
enum TFloatFormat : uint8_t { ffGeneral = 0, ffExponent = 1, ffFixed = 2, ffNumber = 3, ffCurrency = 4 };

// Formats Value as text (UTF-8) with the given decimal separator (UTF-8,
// usually one character).
std::string FloatToText(double Value, TFloatFormat Format, int Precision, int Digits, const std::string& DecimalSeparator);

// Converts Text (UTF-8) to a number. Returns false on a conversion error
// (text outside the grammar, or a number beyond the extended range). A number
// that converts but lies beyond the range of a double throws
// Exception("Floating point overflow").
//
// Grammar (a "space" is the blank character only):
//   spaces* [+|-] int-digits* [sep frac-digits*] [(E|e) [+|-] digits+] spaces*
// where the integer digits and the separator may not both be missing, so
// "5", "5.", ".5" and even "." (zero) are numbers, "" and "e5" are not. The
// number is converted in the 80-bit extended format and then rounded to a
// double. A number too small for a double is not an error: it becomes the
// nearest double, a denormal or a zero of the same sign. An empty separator
// stands for ".". Result is written only when true is returned.
bool TextToFloat(const std::string& Text, const std::string& DecimalSeparator, double& Result);
