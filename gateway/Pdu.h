#pragma once

#include <cstddef>
#include <cstdint>

// What the gateway knows of a Modbus request before it goes on the line, and
// of the bytes that come back: whether the request is well formed for its
// function, the longest answer it can have, whether it writes, and whether a
// frame from the line is the answer to it. Plain bytes in, no I/O.
namespace VelmorGateway {

// The largest RTU frame: address, 253-byte PDU, CRC.
constexpr size_t MaxRtuFrame = 256;

// Exception codes the gateway answers itself.
constexpr uint8_t IllegalFunction = 0x01;
constexpr uint8_t IllegalDataValue = 0x03;
constexpr uint8_t GatewayPathUnavailable = 0x0A;
constexpr uint8_t GatewayNoAnswer = 0x0B;

struct RequestCheck {
    uint8_t Exception = 0;  // 0: fit for the line; else the code to answer with
    size_t AnswerMax = 0;   // the longest RTU answer it can legitimately get
    size_t AnswerExact = 0; // the size of a normal answer when known, else 0
    bool Writes = false;    // changes something on the slave (never cached or merged)
    bool Cacheable = false; // a read of input registers (0x04)
};

// Checks the PDU (function code and data, without unit id and CRC) of a
// request. The standard's limits: 1..2000 coils or inputs, 1..125 registers
// to read, 1..1968 coils or 1..123 registers to write, 1..121 registers to
// write with 0x17; the byte counts must agree with the quantities. Functions
// the gateway has no rule for (0x07, 0x08, 0x11, 0x2B, user functions...)
// pass with the longest answer a frame can hold; a function code 0 or with
// the exception bit set is refused with IllegalFunction.
RequestCheck CheckRequest(const uint8_t* Pdu, size_t Size);

// Whether Rtu (a whole RTU frame with a good CRC) answers the request with
// PDU Pdu sent to Unit: the same address, the function or its exception
// form, and the length (and, for the writes, the echoed fields) the request
// calls for; never longer than its AnswerMax. Nothing answers a request
// CheckRequest refuses.
bool AnswerFits(uint8_t Unit, const uint8_t* Pdu, size_t PduSize, const uint8_t* Rtu, size_t Size);

// The size of a whole RTU answer to Function from its first Size bytes: 0
// while it cannot be told yet, SIZE_MAX when only the line's silence ends it.
size_t AnswerSize(uint8_t Function, const uint8_t* Data, size_t Size);

} // namespace VelmorGateway
