// The line's frame codec and register map: CRC, both ends' frames, what is
// wrong with a bad answer, value packing and the refusal texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "link/Mbap.h"
#include "link/Registers.h"
#include "link/RtuFrame.h"

namespace {

using Link::Frame;
using Link::ResponseStatus;
using Link::RequestStatus;

std::string Hex(const Frame& F)
{
    std::string S;
    char B[4];
    for (uint8_t Byte : F) {
        std::snprintf(B, sizeof B, S.empty() ? "%02X" : " %02X", Byte);
        S += B;
    }
    return S;
}

Link::Response Parse(const Link::Request& R, const Frame& F, bool TimedOut = false)
{
    return Link::ParseResponse(R, F.data(), F.size(), TimedOut);
}

} // namespace

TEST(RtuFrame, CrcOfKnownFrames)
{
    // The read of ten holding registers every Modbus text shows.
    EXPECT_EQ(Hex(Link::BuildRequest(Link::ReadRequest(1, Link::ReadHolding, 0, 10))), "01 03 00 00 00 0A C5 CD");
    EXPECT_EQ(Link::Crc16(nullptr, 0), 0xFFFF);
    const Frame Status = Link::BuildRequest(Link::ReadRequest(1, Link::ReadInput, 0, Link::Input::StatusCount));
    EXPECT_EQ(Hex(Status), "01 04 00 00 00 09 30 0C");
    // The worked examples of the protocol document are these frames.
    std::ifstream Doc(VELMOR_SOURCE_DIR "/docs/protocol.md");
    ASSERT_TRUE(Doc.good());
    std::stringstream Text;
    Text << Doc.rdbuf();
    EXPECT_NE(Text.str().find(Hex(Status)), std::string::npos);
    const Frame Go = Link::BuildRequest(
        Link::WriteRequest(1, Link::Holding::Command, Link::CommandBlock(Link::Command::GoTo, 5000)));
    EXPECT_EQ(Hex(Go), "01 10 00 20 00 03 06 00 03 00 00 13 88 AE BC");
    Link::Status S;
    S.State = 4;
    S.Nc = 2000;
    S.Vc = 1000;
    S.Adc = 240;
    std::vector<uint16_t> Iw;
    Link::AppendInt32(Iw, 2500);
    std::vector<uint16_t> Why{static_cast<uint16_t>(Link::Reason::WorkingCurrent)};
    Link::AppendInt32(Why, 2500);
    for (const Frame& F :
         {Go, Link::BuildWriteResponse(1, Link::Holding::Command, 3),
          Link::BuildReadResponse(1, Link::ReadInput, Link::PackStatus(S)),
          Link::BuildRequest(Link::WriteRequest(1, Link::Holding::Iw, Iw)),
          Link::BuildException(1, Link::WriteMultiple, Link::IllegalValue),
          Link::BuildRequest(Link::ReadRequest(1, Link::ReadInput, Link::Input::Reason, Link::Input::ReasonCount)),
          Link::BuildReadResponse(1, Link::ReadInput, Why)})
        EXPECT_NE(Text.str().find(Hex(F)), std::string::npos) << Hex(F);
    EXPECT_NE(Text.str().find(Link::ReasonText(Link::Reason::WorkingCurrent, 2500)), std::string::npos);
}

TEST(RtuFrame, ClientStopsAtTheExpectedLengthAndDecodes)
{
    const Link::Request R = Link::ReadRequest(7, Link::ReadInput, 0x0100, 2);
    Frame Answer = Link::BuildReadResponse(7, Link::ReadInput, {0x4142, 0xFFFE});
    ASSERT_EQ(Answer.size(), Link::ResponseSize(R));
    for (size_t N = 0; N < Answer.size(); ++N)
        EXPECT_EQ(Link::ParseResponse(R, Answer.data(), N).Status, ResponseStatus::Incomplete) << N;
    Answer.push_back(0x55); // a byte of whatever follows is not looked at
    const Link::Response Ok = Parse(R, Answer);
    EXPECT_EQ(Ok.Status, ResponseStatus::Ok);
    EXPECT_EQ(Ok.Used, 9u);
    EXPECT_EQ(Ok.Values, (std::vector<uint16_t>{0x4142, 0xFFFE}));

    // An exception is known to be whole at 5 bytes.
    const Frame Ex = Link::BuildException(7, Link::ReadInput, Link::IllegalAddress);
    EXPECT_EQ(Link::ParseResponse(R, Ex.data(), 4).Status, ResponseStatus::Incomplete);
    const Link::Response E = Parse(R, Ex);
    EXPECT_EQ(E.Status, ResponseStatus::Exception);
    EXPECT_EQ(E.Code, Link::IllegalAddress);
    EXPECT_EQ(E.Used, 5u);

    const Link::Request W = Link::WriteRequest(7, Link::Holding::Vw, {0, 1000});
    EXPECT_EQ(Parse(W, Link::BuildWriteResponse(7, Link::Holding::Vw, 2)).Status, ResponseStatus::Ok);
    EXPECT_EQ(Parse(W, Link::BuildWriteResponse(7, Link::Holding::Vm, 2)).Status, ResponseStatus::Malformed);
}

TEST(RtuFrame, ClientSaysWhatIsWrongWithAnAnswer)
{
    const Link::Request R = Link::ReadRequest(1, Link::ReadInput, 0, 2);
    const Frame Good = Link::BuildReadResponse(1, Link::ReadInput, {1, 2});
    Frame Flipped = Good;
    Flipped[4] ^= 0x01;
    EXPECT_EQ(Parse(R, Flipped).Status, ResponseStatus::BadCrc);
    EXPECT_EQ(Parse(R, Link::BuildReadResponse(2, Link::ReadInput, {1, 2})).Status, ResponseStatus::WrongAddress);
    EXPECT_EQ(Parse(R, Link::BuildReadResponse(1, Link::ReadHolding, {1, 2})).Status, ResponseStatus::WrongFunction);
    EXPECT_EQ(Parse(R, Link::BuildException(1, Link::ReadHolding, 1)).Status, ResponseStatus::WrongFunction);
    // Right size, wrong byte count inside.
    Frame Count = {1, Link::ReadInput, 2, 0, 1, 0, 2};
    Link::AppendCrc(Count);
    EXPECT_EQ(Parse(R, Count).Status, ResponseStatus::Malformed);
    const Frame Part(Good.begin(), Good.begin() + 6);
    EXPECT_EQ(Parse(R, Part).Status, ResponseStatus::Incomplete);
    EXPECT_EQ(Parse(R, Part, true).Status, ResponseStatus::Truncated);
    EXPECT_EQ(Parse(R, {}, true).Status, ResponseStatus::NoAnswer);
    EXPECT_EQ(Parse(R, Good, true).Status, ResponseStatus::Ok);
}

TEST(RtuFrame, ServerRecognisesRequests)
{
    const Frame Write = Link::BuildRequest(Link::WriteRequest(3, Link::Holding::LimBackward, {0, 1, 0, 3, 0, 5}));
    for (size_t N = 0; N < Write.size(); ++N) {
        EXPECT_EQ(Link::ParseRequest(Write.data(), N).Status, RequestStatus::Incomplete) << N;
        EXPECT_EQ(Link::ParseRequest(Write.data(), N, true).Status,
                  N == 0 ? RequestStatus::Incomplete : RequestStatus::Garbage)
            << N;
    }
    const Link::ParsedRequest P = Link::ParseRequest(Write.data(), Write.size());
    ASSERT_EQ(P.Status, RequestStatus::Ok);
    EXPECT_EQ(P.Used, Write.size());
    EXPECT_EQ(P.Req.Address, 3);
    EXPECT_EQ(P.Req.Function, Link::WriteMultiple);
    EXPECT_EQ(P.Req.Start, 0x0010);
    EXPECT_EQ(P.Req.Count, 6);
    EXPECT_EQ(P.Req.Values, (std::vector<uint16_t>{0, 1, 0, 3, 0, 5}));

    Frame Bad = Write;
    Bad[8] ^= 0x80;
    EXPECT_EQ(Link::ParseRequest(Bad.data(), Bad.size()).Status, RequestStatus::BadCrc);

    // Counts a sound frame may not carry.
    for (uint16_t Count : {0, 126}) {
        const Frame F = Link::BuildRequest(Link::ReadRequest(1, Link::ReadHolding, 0, Count));
        EXPECT_EQ(Link::ParseRequest(F.data(), F.size()).Status, RequestStatus::BadCount) << Count;
    }
    Frame Mismatch = {1, Link::WriteMultiple, 0, 0, 0, 2, 2, 0, 1};
    Link::AppendCrc(Mismatch);
    EXPECT_EQ(Link::ParseRequest(Mismatch.data(), Mismatch.size()).Status, RequestStatus::BadCount);

    // An unknown function has no length of its own: whole at the silence.
    Frame Unknown = {1, 0x2B, 0x0E, 0x01, 0x00};
    Link::AppendCrc(Unknown);
    EXPECT_EQ(Link::ParseRequest(Unknown.data(), Unknown.size()).Status, RequestStatus::Incomplete);
    const Link::ParsedRequest U = Link::ParseRequest(Unknown.data(), Unknown.size(), true);
    EXPECT_EQ(U.Status, RequestStatus::UnknownFunction);
    EXPECT_EQ(U.Req.Function, 0x2B);
    EXPECT_EQ(U.Used, Unknown.size());
    Unknown.back() ^= 1;
    EXPECT_EQ(Link::ParseRequest(Unknown.data(), Unknown.size(), true).Status, RequestStatus::BadCrc);

    EXPECT_EQ(Hex(Link::BuildException(1, Link::WriteMultiple, Link::IllegalValue)).substr(0, 8), "01 90 03");
}

TEST(Registers, ValuesStatusAndIdentification)
{
    for (int32_t V : {0, 1, -1, 5000, -20000, INT32_MAX, INT32_MIN, 0x12345678}) {
        uint16_t W[2];
        Link::PutInt32(V, W);
        EXPECT_EQ(Link::GetInt32(W), V);
    }
    uint16_t W[2];
    Link::PutInt32(-2, W);
    EXPECT_EQ(W[0], 0xFFFF); // high word first
    EXPECT_EQ(W[1], 0xFFFE);

    Link::Status S;
    S.State = 3;
    S.Nc = -123456;
    S.Nb = 5000;
    S.Vc = -1000;
    S.Lim = 5;
    S.Adc = 241;
    const std::vector<uint16_t> Block = Link::PackStatus(S);
    ASSERT_EQ(Block.size(), Link::Input::StatusCount);
    EXPECT_EQ(Block[Link::Input::Lim], 5);
    Link::Status Back;
    ASSERT_TRUE(Link::UnpackStatus(Block.data(), Block.size(), Back));
    EXPECT_EQ(Back, S);
    EXPECT_FALSE(Link::UnpackStatus(Block.data(), 8, Back));

    const std::vector<uint16_t> Id = Link::PackIdent("ABC");
    ASSERT_EQ(Id.size(), 32u);
    EXPECT_EQ(Id[0], 0x4142);
    EXPECT_EQ(Id[1], 0x4300);
    EXPECT_EQ(Link::UnpackIdent(Id.data(), Id.size()), "ABC");
    const std::string Long(70, 'x');
    EXPECT_EQ(Link::UnpackIdent(Link::PackIdent(Long).data(), 32), Long.substr(0, 64));
    const uint16_t Hostile[2] = {0x4101, 0x7F42};
    EXPECT_EQ(Link::UnpackIdent(Hostile, 2), "A??B");
}

TEST(Registers, ReasonTexts)
{
    EXPECT_EQ(Link::ReasonText(Link::Reason::None, 5), "");
    EXPECT_EQ(Link::ReasonText(Link::Reason::WorkingCurrent, 2500), "Working current 2500 mA is out of range 0..2000");
    EXPECT_EQ(Link::ReasonText(Link::Reason::ControlWordMode, 0x28),
              "Control word 40 is not valid: local control mode 8 is out of range 0..7");
    EXPECT_EQ(Link::ReasonText(uint16_t{999}, 0), "Refused by the controller (reason 999)");
    EXPECT_FALSE(Link::KnownReason(0));
    for (uint16_t C = 1; C <= 21; ++C)
        EXPECT_TRUE(Link::KnownReason(C)) << C;
    EXPECT_FALSE(Link::KnownReason(22));
    EXPECT_EQ(Link::ReasonText(Link::Reason::WatchdogExpired, 500),
              "The communication watchdog ramped the motor down: no request for 500 ms");
}

namespace {

std::string DocText()
{
    std::ifstream Doc(VELMOR_SOURCE_DIR "/docs/protocol.md");
    std::stringstream Text;
    Text << Doc.rdbuf();
    return Text.str();
}

} // namespace

TEST(Mbap, FramesTranslateBothWaysAsThePageShows)
{
    const Frame Status = Link::BuildRequest(Link::ReadRequest(1, Link::ReadInput, 0, Link::Input::StatusCount));
    const Frame Tcp = Link::RtuToMbap(0x0001, Status.data(), Status.size());
    EXPECT_EQ(Hex(Tcp), "00 01 00 00 00 06 01 04 00 00 00 09");
    const Link::MbapFrame F = Link::PeekMbap(Tcp.data(), Tcp.size());
    ASSERT_EQ(F.Status, Link::MbapStatus::Ok);
    EXPECT_EQ(F.Size, Tcp.size());
    EXPECT_EQ(F.Transaction, 1);
    EXPECT_EQ(F.Unit, 1);
    EXPECT_EQ(Link::MbapToRtu(Tcp.data(), Tcp.size()), Status) << "the CRC is made again";

    Link::Status S;
    S.State = 4;
    S.Nc = 2000;
    S.Vc = 1000;
    S.Adc = 240;
    const Frame Answer = Link::BuildReadResponse(1, Link::ReadInput, Link::PackStatus(S));
    const Frame TcpAnswer = Link::RtuToMbap(0x0001, Answer.data(), Answer.size());
    const Frame Silent = Link::BuildException(9, Link::ReadInput, Link::GatewayNoAnswer);
    const std::string Doc = DocText();
    for (const Frame& Shown : {Tcp, TcpAnswer, Link::RtuToMbap(0x0002, Silent.data(), Silent.size())})
        EXPECT_NE(Doc.find(Hex(Shown)), std::string::npos) << Hex(Shown);

    // Every prefix is incomplete; two frames back to back are taken one by one.
    for (size_t N = 0; N < Tcp.size(); ++N)
        EXPECT_EQ(Link::PeekMbap(Tcp.data(), N).Status, Link::MbapStatus::Incomplete) << N;
    Frame Two = Tcp;
    Two.insert(Two.end(), TcpAnswer.begin(), TcpAnswer.end());
    EXPECT_EQ(Link::PeekMbap(Two.data(), Two.size()).Size, Tcp.size());
    // Not MBAP: a protocol id other than 0, a length too short or too long.
    for (const Frame& Bad : {Frame{0, 1, 0, 1, 0, 6, 1, 4}, Frame{0, 1, 0, 0, 0, 1, 1, 4}, Frame{0, 1, 0, 0, 1, 0, 1, 4}})
        EXPECT_EQ(Link::PeekMbap(Bad.data(), Bad.size()).Status, Link::MbapStatus::Malformed) << Hex(Bad);
    EXPECT_TRUE(Link::RtuToMbap(1, Status.data(), 3).empty());
}

TEST(RtuFrame, NoiseBeforeAnAnswerIsCounted)
{
    const Link::Request R = Link::ReadRequest(1, Link::ReadInput, 0, 9);
    const struct {
        Frame Bytes;
        size_t Noise;
    } Cases[] = {
        {{0x00, 0xFF, 0x01, 0x04}, 2}, // up to our address and function
        {{0x01, 0x01, 0x84, 0x02}, 1}, // the exception starts too
        {{0x07, 0x04, 0x01}, 2},       // a last byte equal to the address may begin it
        {{0x02, 0x03, 0x04}, 3},       // nothing can
        {{0x01, 0x04}, 0},
        {{}, 0},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(Link::NoiseBefore(R, C.Bytes.data(), C.Bytes.size()), C.Noise) << Hex(C.Bytes);
}

TEST(RtuFrame, RefusalWithItsRangeAsThePageShows)
{
    std::vector<uint16_t> Why{static_cast<uint16_t>(Link::Reason::WorkingCurrent)};
    Link::AppendInt32(Why, 2500);
    int32_t Low = -1, High = -1;
    ASSERT_TRUE(Link::ReasonRange(Link::Reason::WorkingCurrent, Low, High));
    Why.push_back(1);
    Link::AppendInt32(Why, Low);
    Link::AppendInt32(Why, High);
    const std::string Doc = DocText();
    for (const Frame& F :
         {Link::BuildRequest(Link::ReadRequest(1, Link::ReadInput, Link::Input::Reason, Link::Input::ReasonRangeCount)),
          Link::BuildReadResponse(1, Link::ReadInput, Why), Link::BuildException(1, Link::ReadInput, Link::IllegalAddress)})
        EXPECT_NE(Doc.find(Hex(F)), std::string::npos) << Hex(F);
    EXPECT_EQ(Link::ReasonText(3, 800, 0, 500), "Working current 800 mA is out of range 0..500");
    EXPECT_EQ(Link::ReasonText(8, 50000, 0, 40000), Link::ReasonText(8, 50000)) << "our own range, our own text";
    EXPECT_EQ(Link::ReasonText(1, 3, 0, 9), Link::ReasonText(1, 3)) << "a reason without a range";
    EXPECT_FALSE(Link::ReasonRange(Link::Reason::StepMode, Low, High));
}
