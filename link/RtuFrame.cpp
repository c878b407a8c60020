#include "link/RtuFrame.h"

namespace Link {

namespace {

uint16_t Word(const uint8_t* P) { return static_cast<uint16_t>((P[0] << 8) | P[1]); }

void PutWord(Frame& F, uint16_t W)
{
    F.push_back(static_cast<uint8_t>(W >> 8));
    F.push_back(static_cast<uint8_t>(W & 0xFF));
}

bool IsRead(uint8_t Function) { return Function == ReadHolding || Function == ReadInput; }

} // namespace

uint16_t Crc16(const uint8_t* Data, size_t Size)
{
    uint16_t Crc = 0xFFFF;
    for (size_t I = 0; I < Size; ++I) {
        Crc ^= Data[I];
        for (int Bit = 0; Bit < 8; ++Bit)
            Crc = (Crc & 1) ? static_cast<uint16_t>((Crc >> 1) ^ 0xA001) : static_cast<uint16_t>(Crc >> 1);
    }
    return Crc;
}

void AppendCrc(Frame& F)
{
    const uint16_t Crc = Crc16(F.data(), F.size());
    F.push_back(static_cast<uint8_t>(Crc & 0xFF));
    F.push_back(static_cast<uint8_t>(Crc >> 8));
}

bool CrcMatches(const uint8_t* Data, size_t Size)
{
    if (!Data || Size < 3)
        return false;
    const uint16_t Crc = Crc16(Data, Size - 2);
    return Data[Size - 2] == (Crc & 0xFF) && Data[Size - 1] == (Crc >> 8);
}

Request ReadRequest(uint8_t Address, uint8_t Function, uint16_t Start, uint16_t Count)
{
    Request R;
    R.Address = Address;
    R.Function = Function;
    R.Start = Start;
    R.Count = Count;
    return R;
}

Request WriteRequest(uint8_t Address, uint16_t Start, std::vector<uint16_t> Values)
{
    Request R;
    R.Address = Address;
    R.Function = WriteMultiple;
    R.Start = Start;
    R.Count = static_cast<uint16_t>(Values.size());
    R.Values = std::move(Values);
    return R;
}

Frame BuildRequest(const Request& R)
{
    Frame F;
    F.reserve(9 + 2 * R.Values.size());
    F.push_back(R.Address);
    F.push_back(R.Function);
    PutWord(F, R.Start);
    if (R.Function == WriteMultiple) {
        const size_t N = R.Values.size() > MaxWriteCount ? MaxWriteCount : R.Values.size();
        PutWord(F, static_cast<uint16_t>(N));
        F.push_back(static_cast<uint8_t>(2 * N));
        for (size_t I = 0; I < N; ++I)
            PutWord(F, R.Values[I]);
    } else {
        PutWord(F, R.Count);
    }
    AppendCrc(F);
    return F;
}

size_t ResponseSize(const Request& R)
{
    if (IsRead(R.Function))
        return 5 + 2 * static_cast<size_t>(R.Count);
    return 8;
}

Response ParseResponse(const Request& R, const uint8_t* Data, size_t Size, bool TimedOut)
{
    Response Out;
    if (!Data)
        Size = 0;
    // The size the answer must have: an exception when the function byte
    // says so, else the normal response to R.
    size_t Need = ResponseSize(R);
    if (Size >= 2 && (Data[1] & ExceptionFlag))
        Need = ExceptionSize;
    if (Size < Need) {
        if (TimedOut)
            Out.Status = Size == 0 ? ResponseStatus::NoAnswer : ResponseStatus::Truncated;
        return Out;
    }
    Out.Used = Need;
    if (!CrcMatches(Data, Need)) {
        Out.Status = ResponseStatus::BadCrc;
        return Out;
    }
    if (Data[0] != R.Address) {
        Out.Status = ResponseStatus::WrongAddress;
        return Out;
    }
    if ((Data[1] & ~ExceptionFlag) != R.Function) {
        Out.Status = ResponseStatus::WrongFunction;
        return Out;
    }
    if (Data[1] & ExceptionFlag) {
        Out.Status = ResponseStatus::Exception;
        Out.Code = Data[2];
        return Out;
    }
    if (IsRead(R.Function)) {
        if (Data[2] != 2 * R.Count) {
            Out.Status = ResponseStatus::Malformed;
            return Out;
        }
        Out.Values.reserve(R.Count);
        for (size_t I = 0; I < R.Count; ++I)
            Out.Values.push_back(Word(Data + 3 + 2 * I));
    } else if (Word(Data + 2) != R.Start || Word(Data + 4) != R.Count) {
        Out.Status = ResponseStatus::Malformed;
        return Out;
    }
    Out.Status = ResponseStatus::Ok;
    return Out;
}

size_t NoiseBefore(const Request& R, const uint8_t* Data, size_t Size)
{
    if (!Data)
        return 0;
    for (size_t I = 0; I < Size; ++I)
        if (Data[I] == R.Address && (I + 1 == Size || (Data[I + 1] & ~ExceptionFlag) == R.Function))
            return I;
    return Size;
}

const char* StatusText(ResponseStatus S)
{
    switch (S) {
    case ResponseStatus::Incomplete: return "incomplete frame";
    case ResponseStatus::Ok: return "ok";
    case ResponseStatus::Exception: return "exception response";
    case ResponseStatus::BadCrc: return "bad CRC";
    case ResponseStatus::WrongAddress: return "answer from another address";
    case ResponseStatus::WrongFunction: return "answer of another function";
    case ResponseStatus::Malformed: return "malformed answer";
    case ResponseStatus::Truncated: return "truncated frame";
    case ResponseStatus::NoAnswer: return "no answer";
    }
    return "unknown status";
}

ParsedRequest ParseRequest(const uint8_t* Data, size_t Size, bool Ended)
{
    ParsedRequest Out;
    if (!Data || Size == 0)
        return Out; // nothing to look at, even after a silence
    const auto Short = [&] {
        if (Ended) {
            Out.Status = RequestStatus::Garbage;
            Out.Used = Size;
        }
        return Out;
    };
    if (Size < 2)
        return Short();
    Out.Req.Address = Data[0];
    Out.Req.Function = Data[1];
    size_t Need = 0;
    if (IsRead(Data[1])) {
        Need = 8;
    } else if (Data[1] == WriteMultiple) {
        if (Size < 7)
            return Short();
        Need = 9 + static_cast<size_t>(Data[6]);
    } else {
        // No length to go by: the frame is what came before the silence.
        if (!Ended)
            return Out;
        Out.Used = Size;
        Out.Status = CrcMatches(Data, Size) ? RequestStatus::UnknownFunction
                     : Size < 4             ? RequestStatus::Garbage
                                            : RequestStatus::BadCrc;
        return Out;
    }
    if (Size < Need)
        return Short();
    Out.Used = Need;
    if (!CrcMatches(Data, Need)) {
        Out.Status = RequestStatus::BadCrc;
        return Out;
    }
    Out.Req.Start = Word(Data + 2);
    Out.Req.Count = Word(Data + 4);
    Out.Status = RequestStatus::Ok;
    if (IsRead(Data[1])) {
        if (Out.Req.Count < 1 || Out.Req.Count > MaxReadCount)
            Out.Status = RequestStatus::BadCount;
        return Out;
    }
    if (Out.Req.Count < 1 || Out.Req.Count > MaxWriteCount || Data[6] != 2 * Out.Req.Count) {
        Out.Status = RequestStatus::BadCount;
        return Out;
    }
    Out.Req.Values.reserve(Out.Req.Count);
    for (size_t I = 0; I < Out.Req.Count; ++I)
        Out.Req.Values.push_back(Word(Data + 7 + 2 * I));
    return Out;
}

Frame BuildReadResponse(uint8_t Address, uint8_t Function, const std::vector<uint16_t>& Values)
{
    const size_t N = Values.size() > MaxReadCount ? MaxReadCount : Values.size();
    Frame F;
    F.reserve(5 + 2 * N);
    F.push_back(Address);
    F.push_back(Function);
    F.push_back(static_cast<uint8_t>(2 * N));
    for (size_t I = 0; I < N; ++I)
        PutWord(F, Values[I]);
    AppendCrc(F);
    return F;
}

Frame BuildWriteResponse(uint8_t Address, uint16_t Start, uint16_t Count)
{
    Frame F{Address, WriteMultiple};
    PutWord(F, Start);
    PutWord(F, Count);
    AppendCrc(F);
    return F;
}

Frame BuildException(uint8_t Address, uint8_t Function, uint8_t Code)
{
    Frame F{Address, static_cast<uint8_t>(Function | ExceptionFlag), Code};
    AppendCrc(F);
    return F;
}

double CharTimeUs(int Baud) { return Baud > 0 ? 11e6 / Baud : 0; }

int64_t FrameGapUs(int Baud)
{
    if (Baud <= 0 || Baud > 19200)
        return 1750;
    return static_cast<int64_t>(3.5 * CharTimeUs(Baud) + 0.5);
}

int64_t WireTimeUs(size_t Bytes, int Baud, int Bits)
{
    if (Baud <= 0)
        return 0;
    return static_cast<int64_t>((static_cast<double>(Bytes) * Bits * 1e6) / Baud + 0.5);
}

} // namespace Link
