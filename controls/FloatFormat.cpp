#include "controls/FloatFormat.h"

#include <cstdio>
#include <cstdlib>

// Interim formatter and parser; replaced by the exact ones.
std::string FloatToText(double Value, TFloatFormat, int, int Digits, const std::string& Sep)
{
    char Buf[64];
    std::snprintf(Buf, sizeof Buf, "%.*f", Digits, Value);
    std::string S(Buf);
    auto P = S.find('.');
    if (P != std::string::npos)
        S.replace(P, 1, Sep);
    return S;
}

bool TextToFloat(const std::string& Text, const std::string&, double& Result)
{
    char* End = nullptr;
    Result = std::strtod(Text.c_str(), &End);
    return End && *End == 0 && !Text.empty();
}
