#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Modbus RTU frames as the controller's line carries them (docs/protocol.md):
// CRC-16, the requests 0x03, 0x04 and 0x10, their normal and exception
// responses, for both ends of the line. Plain bytes in, plain bytes out: no
// I/O, no clock. Any byte sequence gives a defined result, never a crash.
namespace Link {

using Frame = std::vector<uint8_t>;

// Function codes on the line.
constexpr uint8_t ReadHolding = 0x03;
constexpr uint8_t ReadInput = 0x04;
constexpr uint8_t WriteMultiple = 0x10;
constexpr uint8_t ExceptionFlag = 0x80;

// Exception codes (one byte after function | 0x80).
constexpr uint8_t IllegalFunction = 0x01;
constexpr uint8_t IllegalAddress = 0x02;
constexpr uint8_t IllegalValue = 0x03; // the controller refused; reason at input 0x0010
constexpr uint8_t ServerDeviceFailure = 0x04;
constexpr uint8_t DeviceBusy = 0x06;
// A Modbus gateway's own: no path to the line, no answer on it.
constexpr uint8_t GatewayPathUnavailable = 0x0A;
constexpr uint8_t GatewayNoAnswer = 0x0B;

constexpr uint8_t Broadcast = 0;
constexpr uint8_t MinAddress = 1;
constexpr uint8_t MaxAddress = 247;

// Register counts one request may carry, and the longest frame.
constexpr uint16_t MaxReadCount = 125;
constexpr uint16_t MaxWriteCount = 123;
constexpr size_t MaxFrameSize = 256;
constexpr size_t ExceptionSize = 5;

// CRC-16 of Modbus: polynomial 0xA001 (reflected 0x8005), initial 0xFFFF. On
// the wire the low byte comes first.
uint16_t Crc16(const uint8_t* Data, size_t Size);

// Appends the CRC of F to F.
void AppendCrc(Frame& F);

// True when the bytes are at least 3 and the last two are the CRC of the
// bytes before them.
bool CrcMatches(const uint8_t* Data, size_t Size);

struct Request {
    uint8_t Address = 1;
    uint8_t Function = ReadHolding;
    uint16_t Start = 0;
    uint16_t Count = 0;           // registers read or written
    std::vector<uint16_t> Values; // 0x10 only: Count values
};

// ---- client side ---------------------------------------------------------

Request ReadRequest(uint8_t Address, uint8_t Function, uint16_t Start, uint16_t Count);
Request WriteRequest(uint8_t Address, uint16_t Start, std::vector<uint16_t> Values);

// The request's bytes, CRC included. Count and Values are taken as they are
// (Values.size() registers for 0x10); the caller keeps them within the limits.
Frame BuildRequest(const Request& R);

// Bytes of the normal response to R: 0x03/0x04: 5 + 2 * Count; 0x10: 8.
size_t ResponseSize(const Request& R);

enum class ResponseStatus {
    Incomplete,    // fewer bytes than the response needs: read on
    Ok,            // a normal response; Values holds the registers read
    Exception,     // an exception response; Code holds its code
    BadCrc,        // the bytes of a whole response do not check
    WrongAddress,  // a sound frame from another address
    WrongFunction, // a sound frame of another function
    Malformed,     // a sound frame whose content does not fit the request
    Truncated,     // the deadline passed with part of a response
    NoAnswer,      // the deadline passed with nothing received
};

struct Response {
    ResponseStatus Status = ResponseStatus::Incomplete;
    uint8_t Code = 0;              // the exception code
    std::vector<uint16_t> Values;  // registers read (0x03/0x04)
    size_t Used = 0;               // bytes of the buffer the response took
};

// Looks at the bytes received so far after sending R. The response's size is
// known from R and from its second byte (an exception is 5 bytes), so the
// caller stops reading as soon as the result is not Incomplete. TimedOut: the
// deadline has passed, so a short buffer is Truncated (or NoAnswer) rather
// than Incomplete. Bytes beyond Used are not looked at.
Response ParseResponse(const Request& R, const uint8_t* Data, size_t Size, bool TimedOut = false);

// How many leading bytes of Data cannot begin the answer to R: the answer
// starts with R's address and R's function (or its exception). Bytes a
// transceiver emits while it switches, or the tail of an earlier frame, are
// skipped this way. Size when no byte can begin it; a last byte equal to the
// address may.
size_t NoiseBefore(const Request& R, const uint8_t* Data, size_t Size);

// A short English description of a status ("bad CRC", "truncated frame"...).
const char* StatusText(ResponseStatus S);

// ---- server side ---------------------------------------------------------

enum class RequestStatus {
    Incomplete,      // read on (or wait for the silence that ends a frame)
    Ok,              // a sound request of a known function, fields in range
    BadCount,        // a sound request whose count or byte count is invalid
    UnknownFunction, // a sound frame of a function this device lacks
    BadCrc,          // the bytes do not check: no answer
    Garbage,         // too short or cut at a silence: no answer
};

struct ParsedRequest {
    RequestStatus Status = RequestStatus::Incomplete;
    Request Req;     // Address and Function are set from the second status on
    size_t Used = 0; // bytes to drop from the buffer once handled
};

// Looks at the bytes received since the last frame. For the known functions
// the size is known from the bytes themselves; an unknown function is whole
// only when Ended (a silence of 3.5 characters followed the last byte). With
// Ended, everything received is one frame: a short one is Garbage. No bytes
// at all are always Incomplete.
ParsedRequest ParseRequest(const uint8_t* Data, size_t Size, bool Ended = false);

Frame BuildReadResponse(uint8_t Address, uint8_t Function, const std::vector<uint16_t>& Values);
Frame BuildWriteResponse(uint8_t Address, uint16_t Start, uint16_t Count);
Frame BuildException(uint8_t Address, uint8_t Function, uint8_t Code);

// ---- timing --------------------------------------------------------------

// Microseconds one character (11 bits: start, 8 data, parity or a second
// stop, stop; 8N1 sends 10 but the silence rule counts 11) takes at Baud.
double CharTimeUs(int Baud);
// The silence that ends a frame: 3.5 characters, 1750 us above 19200 baud.
int64_t FrameGapUs(int Baud);
// Time on the wire of Bytes bytes at Baud, Bits each (start, 8 data, parity
// and stop bits: 10 for 8N1, 11 for 8E1 and 8N2).
int64_t WireTimeUs(size_t Bytes, int Baud, int Bits = 10);

} // namespace Link
