// Fuzz target of the line's frame codec, both ends. For arbitrary bytes:
// - neither parser crashes or reads past the bytes it is given;
// - a request the server's parser accepts is exactly the frame the client's
//   builder makes of it, and every shorter prefix of it is incomplete;
// - an answer the client's parser accepts holds exactly the registers asked
//   for and is exactly the frame the server's builder makes of them; an
//   answer it rejects is whole (no prefix of it is already rejected);
// - the register map's unpacking and refusal texts take any values.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/Mbap.h"
#include "link/Registers.h"
#include "link/RtuFrame.h"

namespace {

void Check(bool Ok, const char* What)
{
    if (!Ok) {
        std::fprintf(stderr, "check failed: %s\n", What);
        std::abort();
    }
}

void Server(const uint8_t* Data, size_t Size)
{
    // A copy of exactly Size bytes, so that ASan sees any read past them.
    const std::vector<uint8_t> Bytes(Data, Data + Size);
    for (bool Ended : {false, true}) {
        const Link::ParsedRequest P = Link::ParseRequest(Bytes.data(), Bytes.size(), Ended);
        Check(P.Used <= Size, "request uses no more than it was given");
        if (P.Status != Link::RequestStatus::Incomplete)
            Check(P.Used > 0, "a finished request uses some bytes");
        if (P.Status != Link::RequestStatus::Ok)
            continue;
        const Link::Frame Again = Link::BuildRequest(P.Req);
        Check(Again.size() == P.Used && std::equal(Again.begin(), Again.end(), Bytes.begin()),
              "an accepted request is the frame built from it");
        for (size_t N = 0; N < P.Used; N += 1 + P.Used / 8)
            Check(Link::ParseRequest(Bytes.data(), N).Status == Link::RequestStatus::Incomplete,
                  "a prefix of a request is incomplete");
    }
}

void Client(const uint8_t* Data, size_t Size)
{
    if (Size < 5)
        return;
    // The request the answer is for, from the first bytes.
    static const uint8_t Functions[] = {Link::ReadHolding, Link::ReadInput, Link::WriteMultiple};
    Link::Request R;
    R.Address = Data[0];
    R.Function = Functions[Data[1] % 3];
    R.Start = static_cast<uint16_t>((Data[2] << 8) | Data[3]);
    R.Count = static_cast<uint16_t>(1 + Data[4] % Link::MaxReadCount);
    const bool TimedOut = Data[1] & 0x80;
    const std::vector<uint8_t> Bytes(Data + 5, Data + Size);
    const Link::Response A = Link::ParseResponse(R, Bytes.data(), Bytes.size(), TimedOut);
    Check(A.Used <= Bytes.size(), "answer uses no more than it was given");
    switch (A.Status) {
    case Link::ResponseStatus::Ok: {
        const bool Read = R.Function != Link::WriteMultiple;
        Check(A.Values.size() == (Read ? R.Count : 0u), "an answer holds the registers asked for");
        const Link::Frame Again = Read ? Link::BuildReadResponse(R.Address, R.Function, A.Values)
                                       : Link::BuildWriteResponse(R.Address, R.Start, R.Count);
        Check(Again.size() == A.Used && std::equal(Again.begin(), Again.end(), Bytes.begin()),
              "an accepted answer is the frame built from it");
        break;
    }
    case Link::ResponseStatus::Incomplete:
        Check(!TimedOut, "a deadline leaves nothing incomplete");
        break;
    case Link::ResponseStatus::Truncated:
    case Link::ResponseStatus::NoAnswer:
        Check(TimedOut, "only a deadline truncates");
        break;
    default:
        Check(A.Used >= Link::ExceptionSize, "a judged answer is a whole frame");
        Check(Link::ParseResponse(R, Bytes.data(), A.Used - 1).Status == Link::ResponseStatus::Incomplete,
              "an answer is judged only when whole");
        break;
    }
    Link::StatusText(A.Status);
    const size_t Noise = Link::NoiseBefore(R, Bytes.data(), Bytes.size());
    Check(Noise <= Bytes.size(), "no more noise than bytes");
    if (Noise < Bytes.size())
        Check(Bytes[Noise] == R.Address, "an answer starts at our address");
}

// Modbus TCP: a frame found is within the bytes, and goes to RTU and back.
void Mbap(const uint8_t* Data, size_t Size)
{
    const Link::MbapFrame F = Link::PeekMbap(Data, Size);
    if (F.Status != Link::MbapStatus::Ok)
        return;
    Check(F.Size >= Link::MbapHeaderSize + 1 && F.Size <= Size, "an MBAP frame lies within the bytes");
    const Link::Frame Rtu = Link::MbapToRtu(Data, F.Size);
    Check(Rtu.size() == F.Size - 6 + 2 && Link::CrcMatches(Rtu.data(), Rtu.size()), "the RTU frame checks");
    const Link::Frame Back = Link::RtuToMbap(F.Transaction, Rtu.data(), Rtu.size());
    Check(Back.size() == F.Size && std::equal(Back.begin() + 6, Back.end(), Data + 6) && Back[0] == Data[0] &&
              Back[1] == Data[1],
          "MBAP to RTU and back gives the frame");
}

void Map(const uint8_t* Data, size_t Size)
{
    std::vector<uint16_t> Words;
    for (size_t I = 0; I + 1 < Size; I += 2)
        Words.push_back(static_cast<uint16_t>((Data[I] << 8) | Data[I + 1]));
    const std::string Text = Link::UnpackIdent(Words.data(), Words.size());
    Check(Text.size() <= 2 * Words.size(), "the text is no longer than its registers");
    for (char C : Text)
        Check(static_cast<unsigned char>(C) >= 0x20 && C != 0x7F, "no control characters in the text");
    if (Words.size() >= 3)
        Check(!Link::ReasonText(Words[0], Link::GetInt32(&Words[1])).empty() || Words[0] == 0,
              "every reason has a text");
    if (Words.size() >= 7)
        Check(!Link::ReasonText(Words[0], Link::GetInt32(&Words[1]), Link::GetInt32(&Words[3]),
                                Link::GetInt32(&Words[5]))
                       .empty() ||
                  Words[0] == 0,
              "every reason with a range has a text");
    Link::Status S;
    if (Link::UnpackStatus(Words.data(), Words.size(), S))
        Check(Link::PackStatus(S).size() == Link::Input::StatusCount, "a status packs whole");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    Server(Data, Size);
    Client(Data, Size);
    Map(Data, Size);
    Mbap(Data, Size);
    return 0;
}
