#include "core/Text.h"

namespace Core {

std::string Trim(const std::string& S, Blanks Which)
{
    const auto Blank = [Which](char C) {
        const unsigned char U = static_cast<unsigned char>(C);
        return U <= ' ' || (Which == Blanks::ControlsAndDelete && U == 0x7F);
    };
    size_t B = 0, E = S.size();
    while (B < E && Blank(S[B]))
        ++B;
    while (E > B && Blank(S[E - 1]))
        --E;
    return S.substr(B, E - B);
}

bool ParseDecimal(const std::string& Text, long& Out)
{
    if (Text.empty() || Text.size() > 9 || Text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    Out = std::stol(Text);
    return true;
}

} // namespace Core
