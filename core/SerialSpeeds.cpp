#include "core/SerialSpeeds.h"

namespace Core {

std::string SerialSpeedList(const char* LastJoin)
{
    constexpr size_t Count = sizeof SerialSpeeds / sizeof SerialSpeeds[0];
    std::string Out;
    for (size_t I = 0; I < Count; ++I)
        Out += (I == 0 ? "" : I + 1 == Count ? LastJoin : ", ") + std::to_string(SerialSpeeds[I]);
    return Out;
}

} // namespace Core
