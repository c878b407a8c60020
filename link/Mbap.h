#pragma once

#include <cstddef>
#include <cstdint>

#include "link/RtuFrame.h"

// Modbus TCP's framing (MBAP) and its translation to and from RTU frames.
// An MBAP frame is a 7-byte header, then the PDU (function and data, as in
// an RTU frame between the address and the CRC):
//
//   transaction id (2) | protocol id 0 (2) | length (2): unit + PDU | unit id (1) | PDU
//
// all big-endian. The unit id takes the place of the RTU address. Plain bytes
// in, plain bytes out; any byte sequence gives a defined result.
namespace Link {

constexpr size_t MbapHeaderSize = 7;

// How long velmor-gateway lets a request wait for its turn on the line before
// it answers 0x0B itself (its --queue-timeout default). A client behind a
// Modbus TCP gateway waits that long on top of the line's own deadline: the
// gateway answers every request it took, and a client that gave up sooner
// would only queue a second copy behind the first.
constexpr int64_t GatewayQueueUs = 500000;
// Unit id plus the longest PDU (253 bytes).
constexpr uint16_t MbapMaxLength = 254;

enum class MbapStatus {
    Incomplete, // read on
    Ok,         // a whole frame of Size bytes
    Malformed,  // not MBAP (protocol id not 0, length out of range): the stream is lost
};

struct MbapFrame {
    MbapStatus Status = MbapStatus::Incomplete;
    uint16_t Transaction = 0;
    uint8_t Unit = 0;
    size_t Size = 0; // header and PDU
};

// Looks at the bytes received on a Modbus TCP stream so far.
MbapFrame PeekMbap(const uint8_t* Data, size_t Size);

// The RTU frame Rtu (address, PDU, CRC; at least 4 bytes) as an MBAP frame
// with transaction id Transaction; the CRC is not carried. Empty when Rtu is
// too short.
Frame RtuToMbap(uint16_t Transaction, const uint8_t* Rtu, size_t Size);

// A whole MBAP frame (as PeekMbap found it) as an RTU frame: the unit id as
// the address, the PDU, a CRC computed for it.
Frame MbapToRtu(const uint8_t* Mbap, size_t Size);

} // namespace Link
