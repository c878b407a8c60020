#include "gateway/Pdu.h"

#include <cstring>

namespace VelmorGateway {

namespace {

uint16_t Word(const uint8_t* P) { return static_cast<uint16_t>(P[0] << 8 | P[1]); }

RequestCheck Refuse(uint8_t Code)
{
    RequestCheck C;
    C.Exception = Code;
    return C;
}

RequestCheck Fits(size_t Answer, bool Writes)
{
    RequestCheck C;
    C.AnswerMax = C.AnswerExact = Answer;
    C.Writes = Writes;
    return C;
}

} // namespace

RequestCheck CheckRequest(const uint8_t* Pdu, size_t Size)
{
    if (Size < 1 || Pdu[0] == 0 || (Pdu[0] & 0x80))
        return Refuse(IllegalFunction);
    const uint8_t F = Pdu[0];
    switch (F) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04: {
        const uint16_t Count = Size == 5 ? Word(Pdu + 3) : 0;
        const uint16_t Most = F <= 0x02 ? 2000 : 125;
        if (Count < 1 || Count > Most)
            return Refuse(IllegalDataValue);
        RequestCheck C = Fits(5u + (F <= 0x02 ? (Count + 7u) / 8u : 2u * Count), false);
        C.Cacheable = F == 0x04;
        return C;
    }
    case 0x05:
        if (Size != 5 || (Word(Pdu + 3) != 0x0000 && Word(Pdu + 3) != 0xFF00))
            return Refuse(IllegalDataValue);
        return Fits(8, true);
    case 0x06:
        return Size == 5 ? Fits(8, true) : Refuse(IllegalDataValue);
    case 0x0F:
    case 0x10: {
        if (Size < 6)
            return Refuse(IllegalDataValue);
        const uint16_t Count = Word(Pdu + 3);
        const uint16_t Most = F == 0x0F ? 1968 : 123;
        const size_t Bytes = F == 0x0F ? (Count + 7u) / 8u : 2u * Count;
        if (Count < 1 || Count > Most || Pdu[5] != Bytes || Size != 6 + Bytes)
            return Refuse(IllegalDataValue);
        return Fits(8, true);
    }
    case 0x16:
        return Size == 7 ? Fits(10, true) : Refuse(IllegalDataValue);
    case 0x17: {
        if (Size < 10)
            return Refuse(IllegalDataValue);
        const uint16_t Read = Word(Pdu + 3), Write = Word(Pdu + 7);
        if (Read < 1 || Read > 125 || Write < 1 || Write > 121 || Pdu[9] != 2u * Write || Size != 10u + 2u * Write)
            return Refuse(IllegalDataValue);
        return Fits(5u + 2u * Read, true);
    }
    default: {
        // No rule for its form: the answer ends with the line's silence and
        // is at most a whole frame. Taken as a write: it may change anything.
        RequestCheck C;
        C.AnswerMax = MaxRtuFrame;
        C.Writes = true;
        return C;
    }
    }
}

bool AnswerFits(uint8_t Unit, const uint8_t* Pdu, size_t PduSize, const uint8_t* Rtu, size_t Size)
{
    // A refused request never goes on the line, so nothing answers it; and
    // no answer is longer than the request's longest (for a function without
    // a rule, a whole frame: more could not go back to the client as MBAP).
    const RequestCheck C = CheckRequest(Pdu, PduSize);
    if (C.Exception || Size < 4 || Size > C.AnswerMax || Rtu[0] != Unit)
        return false;
    const uint8_t F = Pdu[0];
    if (Rtu[1] == (F | 0x80))
        return Size == 5;
    if (Rtu[1] != F)
        return false;
    if (C.AnswerExact == 0)
        return true;
    if (Size != C.AnswerExact)
        return false;
    switch (F) {
    case 0x05:
    case 0x06:
    case 0x0F:
    case 0x10: return std::memcmp(Rtu + 2, Pdu + 1, 4) == 0; // the address and the value or quantity echoed
    case 0x16: return std::memcmp(Rtu + 2, Pdu + 1, 6) == 0;
    default: return Rtu[2] == C.AnswerExact - 5; // the byte count of a read
    }
}

size_t AnswerSize(uint8_t Function, const uint8_t* Data, size_t Size)
{
    if (Size < 2)
        return 0;
    if (Data[1] & 0x80)
        return 5;
    switch (Function) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x17: return Size < 3 ? 0 : 5u + Data[2];
    case 0x05:
    case 0x06:
    case 0x0F:
    case 0x10: return 8;
    case 0x16: return 10;
    default: return SIZE_MAX;
    }
}

} // namespace VelmorGateway
