#include "device/DeviceText.h"

#include <cstdint>

namespace {

// Windows-1251 bytes 0x80 to 0xBF; 0xC0 to 0xFF are U+0410 to U+044F in
// order. The one unassigned byte, 0x98, shows as U+FFFD.
const char16_t Cp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

void AppendUtf8(std::string& Out, char32_t C)
{
    if (C < 0x80) {
        Out += static_cast<char>(C);
    } else if (C < 0x800) {
        Out += static_cast<char>(0xC0 | (C >> 6));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else {
        Out += static_cast<char>(0xE0 | (C >> 12));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    }
}

} // namespace

bool IsValidUtf8(const std::string& Bytes)
{
    const std::size_t N = Bytes.size();
    for (std::size_t I = 0; I < N;) {
        const uint8_t B = static_cast<uint8_t>(Bytes[I]);
        int Length;
        char32_t C;
        if (B < 0x80) {
            ++I;
            continue;
        } else if (B >= 0xC2 && B <= 0xDF) {
            Length = 2;
            C = B & 0x1F;
        } else if (B >= 0xE0 && B <= 0xEF) {
            Length = 3;
            C = B & 0x0F;
        } else if (B >= 0xF0 && B <= 0xF4) {
            Length = 4;
            C = B & 0x07;
        } else {
            return false;
        }
        if (N - I < static_cast<std::size_t>(Length))
            return false;
        for (int K = 1; K < Length; ++K) {
            const uint8_t Next = static_cast<uint8_t>(Bytes[I + K]);
            if ((Next & 0xC0) != 0x80)
                return false;
            C = (C << 6) | (Next & 0x3F);
        }
        if ((Length == 3 && C < 0x800) || (Length == 4 && (C < 0x10000 || C > 0x10FFFF)) ||
            (C >= 0xD800 && C <= 0xDFFF))
            return false;
        I += Length;
    }
    return true;
}

std::string DeviceTextToUtf8(const char* Text)
{
    if (!Text)
        return std::string();
    std::string Bytes(Text);
    if (IsValidUtf8(Bytes))
        return Bytes;
    std::string Out;
    Out.reserve(Bytes.size() * 2);
    for (char Ch : Bytes) {
        const uint8_t B = static_cast<uint8_t>(Ch);
        if (B < 0x80)
            Out += Ch;
        else if (B < 0xC0)
            AppendUtf8(Out, Cp1251High[B - 0x80]);
        else
            AppendUtf8(Out, 0x0410 + (B - 0xC0));
    }
    return Out;
}
