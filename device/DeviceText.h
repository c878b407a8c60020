#pragma once

#include <string>

// The device library's texts are 8-bit: a text that is valid UTF-8 is taken
// as UTF-8, any other as Windows-1251, the code page of the controller's
// Russian texts. The result is UTF-8; a null pointer gives an empty text.
std::string DeviceTextToUtf8(const char* Text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(const std::string& Bytes);
