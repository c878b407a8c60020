// Fuzz target of velmor-gateway's request checks and answer matching
// (gateway/Pdu.h), and of the MBAP stream a TCP client sends it. The input is
// read three ways:
//
// 1. unit | PDU length | PDU | answer bytes: a request as it comes and bytes
//    from the line after it.
//    - CheckRequest never asks for an answer longer than a whole frame
//      (MaxRtuFrame); a refusal is one of its two codes and promises nothing;
//      an accepted request's exact answer is within its longest, which holds
//      at least an exception; writes are never cached, reads never writes.
//    - AnswerFits never takes a frame from another address, of another
//      function, longer than the request's longest answer (nor one the
//      gateway could not send back as MBAP), nor a non-5-byte exception.
//    - AnswerSize tells nothing before the function byte, never a size
//      smaller than the bytes it looked at, and never changes its mind as
//      more bytes come; it reads nothing past the bytes given (exact-size
//      copies, so ASan sees any read past them).
//    - For a request it accepts, an answer built here from the request (not
//      from CheckRequest's numbers) and its exception form fit it, and their
//      size is told from their first bytes; the same answer with its
//      address, function, byte count or echoed fields changed, or a byte
//      longer or shorter, does not fit.
// 2. The same bytes pick a function and its fields, and a well-formed request
//    is built of them (quantities within the standard's limits, byte counts
//    that agree): it is accepted with the answer size it calls for; a
//    quantity just past its limit, a byte count off by one or a byte too many
//    or too few is refused with IllegalDataValue; a function without a rule
//    passes as a write bounded by a whole frame.
// 3. The bytes as a Modbus TCP stream arriving in pieces, taken frame by
//    frame the way the gateway's ParseIn does (PeekMbap, MbapToRtu): a frame
//    found on a part of the stream is the one found on the whole; the stream
//    is never left incomplete past the largest frame (so the gateway's per
//    client limit never cuts a frame); each request goes through 1.'s checks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "gateway/Pdu.h"
#include "link/Mbap.h"
#include "link/RtuFrame.h"

namespace {

using namespace VelmorGateway;
using Bytes = std::vector<uint8_t>;

void Check(bool Ok, const char* What)
{
    if (!Ok) {
        std::fprintf(stderr, "check failed: %s\n", What);
        std::abort();
    }
}

uint16_t Word(const uint8_t* P) { return static_cast<uint16_t>(P[0] << 8 | P[1]); }

bool Ruled(uint8_t F)
{
    switch (F) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06:
    case 0x0F: case 0x10: case 0x16: case 0x17: return true;
    default: return false;
    }
}

// Exact-size copies so that a read past the end is an ASan report.
RequestCheck Checked(const Bytes& Pdu) { return CheckRequest(Bytes(Pdu).data(), Pdu.size()); }

bool Fits(uint8_t Unit, const Bytes& Pdu, const Bytes& Rtu)
{
    const Bytes P(Pdu), R(Rtu);
    return AnswerFits(Unit, P.data(), P.size(), R.data(), R.size());
}

size_t SizeOf(uint8_t F, const uint8_t* Data, size_t N)
{
    const Bytes Copy(Data, Data + N);
    return AnswerSize(F, Copy.data(), Copy.size());
}

RequestCheck Request(const Bytes& Pdu)
{
    const RequestCheck C = Checked(Pdu);
    Check(C.AnswerMax <= MaxRtuFrame, "no answer longer than a whole frame");
    if (C.Exception) {
        Check(C.Exception == IllegalFunction || C.Exception == IllegalDataValue, "a refusal is a known code");
        Check(C.AnswerMax == 0 && C.AnswerExact == 0 && !C.Writes && !C.Cacheable, "a refusal promises nothing");
        Check(Pdu.empty() || (Pdu[0] != 0 && !(Pdu[0] & 0x80)) || C.Exception == IllegalFunction,
              "function 0 and exception forms are illegal functions");
        return C;
    }
    Check(!Pdu.empty() && Pdu[0] != 0 && !(Pdu[0] & 0x80), "only a real function is accepted");
    Check(C.AnswerExact <= C.AnswerMax, "the exact answer is within the longest");
    Check(C.AnswerMax >= Link::ExceptionSize, "an exception answer always fits");
    Check(!(C.Writes && C.Cacheable), "a write is never cached");
    Check(!C.Cacheable || Pdu[0] == 0x04, "only input registers are cached");
    Check(C.Writes == !(Pdu[0] >= 0x01 && Pdu[0] <= 0x04), "every accepted request but a read is a write");
    Check(Ruled(Pdu[0]) == (C.AnswerExact != 0), "a function with a rule has an exact answer");
    Check(C.AnswerExact != 0 || C.AnswerMax == MaxRtuFrame, "without a rule, a whole frame may come");
    return C;
}

// The normal answer to an accepted request, built from the request alone;
// empty for a function without a rule.
Bytes Answer(uint8_t Unit, const Bytes& Pdu, const uint8_t* Fill, size_t FillSize)
{
    Bytes A = {Unit, Pdu[0]};
    size_t Data = 0;
    switch (Pdu[0]) {
    case 0x01: case 0x02: Data = (Word(&Pdu[3]) + 7u) / 8u; break;
    case 0x03: case 0x04: Data = 2u * Word(&Pdu[3]); break;
    case 0x17: Data = 2u * Word(&Pdu[3]); break;
    case 0x05: case 0x06: case 0x0F: case 0x10: A.insert(A.end(), &Pdu[1], &Pdu[5]); break;
    case 0x16: A.insert(A.end(), &Pdu[1], &Pdu[7]); break;
    default: return {};
    }
    if (Data) {
        A.push_back(static_cast<uint8_t>(Data));
        for (size_t I = 0; I < Data; ++I)
            A.push_back(FillSize ? Fill[I % FillSize] : 0);
    }
    Link::AppendCrc(A);
    return A;
}

void Sizes(uint8_t F, const uint8_t* Data, size_t N)
{
    size_t Told = 0, At = 0;
    for (size_t K = 0; K <= std::min<size_t>(N, 8); ++K) {
        const size_t S = SizeOf(F, Data, K);
        if (K < 2)
            Check(S == 0, "nothing is told before the function byte");
        if (S == 0) {
            Check(Told == 0, "a told size stays told");
            continue;
        }
        if (Told == 0) {
            Told = S;
            At = K;
            Check(S == SIZE_MAX || (S >= K && S >= Link::ExceptionSize), "never smaller than what it looked at");
            Check(!(Data[1] & 0x80) || S == Link::ExceptionSize, "an exception is 5 bytes");
        }
        Check(S == Told, "more bytes do not change a told size");
    }
    if (Told && N > 8)
        Check(SizeOf(F, Data, N) == Told, "the whole does not change a told size");
    (void)At;
}

void Matching(uint8_t Unit, const Bytes& Pdu, const RequestCheck& C, const Bytes& Rtu)
{
    if (!Fits(Unit, Pdu, Rtu))
        return;
    Check(C.Exception == 0, "nothing answers a refused request");
    Check(Rtu.size() <= C.AnswerMax, "no answer longer than the request's longest");
    Check(!Link::RtuToMbap(0, Rtu.data(), Rtu.size()).empty(), "an answer taken can go back to the client");
    Check(Rtu[0] == Unit, "the answer comes from the unit asked");
    Check(Rtu[1] == Pdu[0] || Rtu[1] == (Pdu[0] | 0x80), "the answer is of the function asked");
    if (Rtu[1] != Pdu[0])
        Check(Rtu.size() == Link::ExceptionSize, "an exception answer is 5 bytes");
    else if (C.AnswerExact)
        Check(Rtu.size() == C.AnswerExact, "a normal answer has the exact size");
}

// 1.'s checks for one request, with Line as the bytes that came after it.
void Exchange(uint8_t Unit, const Bytes& Pdu, const uint8_t* Line, size_t LineSize)
{
    const RequestCheck C = Request(Pdu);
    const uint8_t F = Pdu.empty() ? 0 : Pdu[0];
    Sizes(F, Line, LineSize);
    Matching(Unit, Pdu, C, Bytes(Line, Line + LineSize));
    const size_t Told = SizeOf(F, Line, LineSize);
    if (Told && Told != SIZE_MAX && Told <= LineSize)
        Matching(Unit, Pdu, C, Bytes(Line, Line + Told)); // as the gateway cuts it
    if (C.Exception)
        return;

    Bytes Exc = {Unit, static_cast<uint8_t>(F | 0x80), LineSize ? Line[0] : uint8_t(4)};
    Link::AppendCrc(Exc);
    Check(Fits(Unit, Pdu, Exc), "the exception form answers");
    Check(SizeOf(F, Exc.data(), 2) == Exc.size(), "an exception's size is told from two bytes");

    const Bytes A = Answer(Unit, Pdu, Line, LineSize);
    if (A.empty()) {
        // Only the line's silence ends it; any frame up to a whole one may be it.
        Bytes Any = {Unit, F};
        Any.insert(Any.end(), Line, Line + std::min<size_t>(LineSize, 400));
        Link::AppendCrc(Any);
        Check(SizeOf(F, Any.data(), Any.size()) == SIZE_MAX, "without a rule the size is not told");
        Check(Fits(Unit, Pdu, Any) == (Any.size() <= MaxRtuFrame), "without a rule, any whole frame fits");
        return;
    }
    Check(A.size() == C.AnswerExact, "the exact answer is the one the request calls for");
    Check(Fits(Unit, Pdu, A), "the answer built from the request fits it");
    for (size_t K = 3; K <= A.size(); K += 1 + K / 4)
        Check(SizeOf(F, A.data(), K) == A.size(), "an answer's size is told from its first bytes");

    Bytes Wrong = A;
    Wrong[0] ^= 1 + (LineSize ? Line[LineSize - 1] % 255 : 0);
    Check(!Fits(Unit, Pdu, Wrong), "another address's answer does not fit");
    Wrong = A;
    Wrong[1] = static_cast<uint8_t>(F == 0x7F ? 0x01 : F + 1);
    Check(!Fits(Unit, Pdu, Wrong), "another function's answer does not fit");
    Wrong = A;
    Wrong.push_back(0);
    Check(!Fits(Unit, Pdu, Wrong), "a byte too many does not fit");
    Wrong.resize(A.size() - 1);
    Check(!Fits(Unit, Pdu, Wrong), "a byte too few does not fit");
    // The byte count of a read, the echoed fields of a write.
    const size_t Echoed = F <= 0x04 || F == 0x17 ? 1 : F == 0x16 ? 6 : 4;
    for (size_t I = 2; I < 2 + Echoed; ++I) {
        Wrong = A;
        Wrong[I] ^= 0x01;
        Check(!Fits(Unit, Pdu, Wrong), "a changed byte count or echo does not fit");
    }
}

// 2. A well-formed request of a function picked by the bytes, and its near misses.
void Generated(const uint8_t* Data, size_t Size)
{
    if (Size < 8)
        return;
    static const uint8_t Functions[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0F, 0x10, 0x16, 0x17, 0x2B};
    const uint8_t F = Data[0] < 0xF0 ? Functions[Data[0] % sizeof Functions] : static_cast<uint8_t>(Data[1]);
    const uint16_t W1 = Word(Data + 2), W2 = Word(Data + 4), W3 = Word(Data + 6);
    const uint8_t Unit = Data[1];
    auto Accepted = [&](const Bytes& Pdu, size_t Exact) {
        const RequestCheck C = Request(Pdu);
        Check(C.Exception == 0, "a well-formed request is accepted");
        Check(C.AnswerExact == Exact, "the answer size follows from the quantity");
        Exchange(Unit, Pdu, Data + 8, Size - 8);
    };
    auto Refused = [&](const Bytes& Pdu) {
        Check(Request(Pdu).Exception == IllegalDataValue, "a malformed request is refused");
    };
    auto Resized = [&](const Bytes& Pdu) {
        Bytes P = Pdu;
        P.push_back(Data[7]);
        Refused(P);
        P.resize(Pdu.size() - 1);
        Refused(P);
    };
    const uint8_t Hi = Data[2], Lo = Data[3];
    switch (F) {
    case 0x01: case 0x02: case 0x03: case 0x04: {
        const uint16_t Most = F <= 0x02 ? 2000 : 125;
        const uint16_t Count = static_cast<uint16_t>(1 + W2 % Most);
        const size_t Exact = 5u + (F <= 0x02 ? (Count + 7u) / 8u : 2u * Count);
        const Bytes Pdu = {F, Hi, Lo, uint8_t(Count >> 8), uint8_t(Count)};
        Accepted(Pdu, Exact);
        Resized(Pdu);
        for (uint16_t Over : {static_cast<uint16_t>(Most + 1), static_cast<uint16_t>(Most + 1 + W3 % (0x10000 - Most - 1))})
            Refused({F, Hi, Lo, uint8_t(Over >> 8), uint8_t(Over)});
        Refused({F, Hi, Lo, 0, 0});
        break;
    }
    case 0x05: {
        const uint16_t Value = W2 & 1 ? 0xFF00 : 0x0000;
        const Bytes Pdu = {F, Hi, Lo, uint8_t(Value >> 8), uint8_t(Value)};
        Accepted(Pdu, 8);
        Resized(Pdu);
        if (W3 != 0x0000 && W3 != 0xFF00)
            Refused({F, Hi, Lo, uint8_t(W3 >> 8), uint8_t(W3)});
        break;
    }
    case 0x06: {
        const Bytes Pdu = {F, Hi, Lo, uint8_t(W2 >> 8), uint8_t(W2)};
        Accepted(Pdu, 8);
        Resized(Pdu);
        break;
    }
    case 0x0F: case 0x10: {
        const uint16_t Most = F == 0x0F ? 1968 : 123;
        const uint16_t Count = static_cast<uint16_t>(1 + W2 % Most);
        const size_t N = F == 0x0F ? (Count + 7u) / 8u : 2u * Count;
        Bytes Pdu = {F, Hi, Lo, uint8_t(Count >> 8), uint8_t(Count), uint8_t(N)};
        for (size_t I = 0; I < N; ++I)
            Pdu.push_back(Data[I % Size]);
        Accepted(Pdu, 8);
        Resized(Pdu);
        Bytes Off = Pdu;
        Off[5] = static_cast<uint8_t>(N + 1);
        Refused(Off);
        Off[5] = static_cast<uint8_t>(N - 1);
        Refused(Off);
        // One past the limit, with the byte count and data that agree with it.
        const uint16_t Over = static_cast<uint16_t>(Most + 1);
        const size_t OverBytes = F == 0x0F ? (Over + 7u) / 8u : 2u * Over;
        Off = {F, Hi, Lo, uint8_t(Over >> 8), uint8_t(Over), uint8_t(OverBytes)};
        Off.resize(6 + OverBytes, Data[7]);
        Refused(Off);
        break;
    }
    case 0x16: {
        const Bytes Pdu = {F, Hi, Lo, Data[4], Data[5], Data[6], Data[7]};
        Accepted(Pdu, 10);
        Resized(Pdu);
        break;
    }
    case 0x17: {
        const uint16_t Read = static_cast<uint16_t>(1 + W2 % 125), Write = static_cast<uint16_t>(1 + W3 % 121);
        Bytes Pdu = {F, Hi, Lo, uint8_t(Read >> 8), uint8_t(Read), Data[4], Data[5],
                     uint8_t(Write >> 8), uint8_t(Write), uint8_t(2 * Write)};
        for (size_t I = 0; I < 2u * Write; ++I)
            Pdu.push_back(Data[I % Size]);
        Accepted(Pdu, 5u + 2u * Read);
        Resized(Pdu);
        Bytes Off = Pdu;
        Off[9] = static_cast<uint8_t>(2 * Write + 1);
        Refused(Off);
        Off = Pdu;
        Off[3] = 0;
        Off[4] = 126;
        Refused(Off);
        Off.resize(10);
        Off[4] = 1;
        Off[8] = 122;
        Off[9] = 244;
        Off.resize(10 + 244, Data[7]);
        Refused(Off);
        Off = Pdu;
        Off[3] = 0;
        Off[4] = 0;
        Refused(Off);
        break;
    }
    default: {
        Bytes Pdu = {F};
        Pdu.insert(Pdu.end(), Data + 2, Data + std::min<size_t>(Size, 2 + W1 % 253));
        const RequestCheck C = Request(Pdu);
        if (F == 0 || (F & 0x80)) {
            Check(C.Exception == IllegalFunction, "function 0 and exception forms are refused");
        } else {
            Check(C.Exception == 0 && C.Writes && !C.Cacheable && C.AnswerMax == MaxRtuFrame,
                  "a function without a rule passes as a write bounded by a whole frame");
            Exchange(Unit, Pdu, Data + 8, Size - 8);
        }
        break;
    }
    }
}

// 3. The bytes as a client's Modbus TCP stream, arriving in pieces.
void Stream(const uint8_t* Data, size_t Size)
{
    Bytes In;
    size_t Fed = 0, Taken = 0;
    while (Fed < Size) {
        const size_t Piece = std::min<size_t>(Size - Fed, 1 + Data[Fed] % 97);
        In.insert(In.end(), Data + Fed, Data + Fed + Piece);
        Fed += Piece;
        while (true) {
            const Bytes Part(In); // exact size
            const Link::MbapFrame F = Link::PeekMbap(Part.data(), Part.size());
            const Link::MbapFrame Whole = Link::PeekMbap(Data + Taken, Size - Taken);
            if (F.Status == Link::MbapStatus::Incomplete) {
                Check(Part.size() < Link::MbapHeaderSize + Link::MbapMaxLength - 1,
                      "never incomplete past the largest frame");
                Check(Whole.Status != Link::MbapStatus::Ok || Whole.Size > Part.size(),
                      "incomplete only when the frame is not all there");
                break;
            }
            Check(F.Status == Whole.Status, "a part of the stream tells what the whole does");
            if (F.Status == Link::MbapStatus::Malformed)
                return; // the gateway drops the client
            Check(F.Size == Whole.Size && F.Transaction == Whole.Transaction && F.Unit == Whole.Unit,
                  "the frame on a part is the frame on the whole");
            Check(F.Size > Link::MbapHeaderSize && F.Size <= Part.size(), "a frame lies within the bytes");
            const Link::Frame Rtu = Link::MbapToRtu(Part.data(), F.Size);
            Check(Rtu.size() >= 4 && Rtu[0] == F.Unit && Link::CrcMatches(Rtu.data(), Rtu.size()),
                  "the request goes on the line with its unit and a good CRC");
            const Bytes Pdu(Rtu.begin() + 1, Rtu.end() - 2);
            const RequestCheck C = Request(Pdu);
            const Link::Frame Refusal = Link::BuildException(F.Unit, Rtu[1], C.Exception ? C.Exception : 0x0B);
            Check(!Link::RtuToMbap(F.Transaction, Refusal.data(), Refusal.size()).empty(),
                  "every request can be answered with an exception");
            In.erase(In.begin(), In.begin() + static_cast<std::ptrdiff_t>(F.Size));
            Taken += F.Size;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size >= 2) {
        const size_t PduSize = std::min<size_t>(Data[1], Size - 2);
        const Bytes Pdu(Data + 2, Data + 2 + PduSize);
        Exchange(Data[0], Pdu, Data + 2 + PduSize, Size - 2 - PduSize);
    }
    Generated(Data, Size);
    Stream(Data, Size);
    return 0;
}
