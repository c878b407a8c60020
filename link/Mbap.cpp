#include "link/Mbap.h"

namespace Link {

MbapFrame PeekMbap(const uint8_t* Data, size_t Size)
{
    MbapFrame F;
    if (!Data || Size < MbapHeaderSize)
        return F;
    F.Transaction = static_cast<uint16_t>(Data[0] << 8 | Data[1]);
    const uint16_t Protocol = static_cast<uint16_t>(Data[2] << 8 | Data[3]);
    const uint16_t Length = static_cast<uint16_t>(Data[4] << 8 | Data[5]);
    F.Unit = Data[6];
    // At least the unit id and a function code.
    if (Protocol != 0 || Length < 2 || Length > MbapMaxLength) {
        F.Status = MbapStatus::Malformed;
        return F;
    }
    const size_t Whole = 6u + Length;
    if (Size < Whole)
        return F;
    F.Status = MbapStatus::Ok;
    F.Size = Whole;
    return F;
}

Frame RtuToMbap(uint16_t Transaction, const uint8_t* Rtu, size_t Size)
{
    if (!Rtu || Size < 4 || Size - 2 > MbapMaxLength)
        return {};
    const size_t Length = Size - 2; // unit + PDU
    Frame F;
    F.reserve(6 + Length);
    F.push_back(static_cast<uint8_t>(Transaction >> 8));
    F.push_back(static_cast<uint8_t>(Transaction & 0xFF));
    F.push_back(0);
    F.push_back(0);
    F.push_back(static_cast<uint8_t>(Length >> 8));
    F.push_back(static_cast<uint8_t>(Length & 0xFF));
    F.insert(F.end(), Rtu, Rtu + Length);
    return F;
}

Frame MbapToRtu(const uint8_t* Mbap, size_t Size)
{
    if (!Mbap || Size < MbapHeaderSize)
        return {};
    Frame F(Mbap + 6, Mbap + Size);
    AppendCrc(F);
    return F;
}

} // namespace Link
