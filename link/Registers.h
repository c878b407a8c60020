#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The controller's register map on the line (docs/protocol.md): addresses,
// command codes, the packing of 32-bit values, the status block, the
// identification text, and the reasons a controller refuses a request with
// their English texts. Shared by velmor-sim and the device library's line
// client; plain C++.
namespace Link {

// ---- holding registers (written with 0x10 only, read with 0x03) ----------
// Every parameter is a 32-bit two's complement value in two registers, high
// word first.
namespace Holding {
constexpr uint16_t Step = 0x0000;  // 1 full, 2 half   } VLM_SetMode writes
constexpr uint16_t Decay = 0x0002; // 0 slow, 1 fast   } 0x0000..0x0003 at once
constexpr uint16_t Iw = 0x0004;
constexpr uint16_t Ia = 0x0006;
constexpr uint16_t Ih = 0x0008;
constexpr uint16_t Vm = 0x000A;
constexpr uint16_t Vw = 0x000C;
constexpr uint16_t Aw = 0x000E;
constexpr uint16_t LimBackward = 0x0010; // } VLM_SetLim writes
constexpr uint16_t LimForward = 0x0012;  // } 0x0010..0x0015
constexpr uint16_t LimHome = 0x0014;     // } at once
constexpr uint16_t Ctrl = 0x0016;
constexpr uint16_t ParameterCount = 0x0018; // 0x0000..0x0017

// The command block: code, then a 32-bit argument; always written whole
// (3 registers from 0x0020 in one request).
constexpr uint16_t Command = 0x0020;
constexpr uint16_t Argument = 0x0021;
constexpr uint16_t CommandCount = 3;

// The communication watchdog: milliseconds (0 off), one register, read and
// written alone; not stored with the parameters, so 0 after power-on.
constexpr uint16_t Watchdog = 0x0030;
} // namespace Holding

// Command codes written to Holding::Command.
namespace Command {
constexpr uint16_t SetCoordinate = 1; // VLM_SetNc, argument: the coordinate
constexpr uint16_t Run = 2;           // VLM_StartD, argument 1, -1 or 0
constexpr uint16_t GoTo = 3;          // VLM_StartN, argument: the target
constexpr uint16_t MoveBy = 4;        // VLM_StartdN, argument: the distance
constexpr uint16_t Home = 5;          // VLM_Home, argument 1 or -1
constexpr uint16_t Stop = 6;          // VLM_Stop, argument 0
constexpr uint16_t Save = 7;          // VLM_SavePar, argument 0
} // namespace Command

// ---- input registers (read with 0x04) -------------------------------------
namespace Input {
constexpr uint16_t State = 0x0000;   // 0..6, as VLM_GetStat
constexpr uint16_t Nc = 0x0001;      // coordinate, 2 registers
constexpr uint16_t Nb = 0x0003;      // home coordinate, 2 registers
constexpr uint16_t Vc = 0x0005;      // signed speed, 2 registers
constexpr uint16_t Lim = 0x0007;     // bit0 backward, bit1 forward, bit2 home
constexpr uint16_t Adc = 0x0008;     // supply voltage, tenths of a volt
constexpr uint16_t StatusCount = 9;  // 0x0000..0x0008, read whole

constexpr uint16_t Reason = 0x0010;      // reason code of the last refusal (0 none)
constexpr uint16_t ReasonValue = 0x0011; // the value it names, 2 registers
constexpr uint16_t ReasonCount = 3;      // 0x0010..0x0012
// The range the value was checked against, when the controller gives it:
constexpr uint16_t ReasonRangeGiven = 0x0013; // 1: the two below hold it, 0: not given
constexpr uint16_t ReasonLow = 0x0014;        // the least value taken, 2 registers
constexpr uint16_t ReasonHigh = 0x0016;       // the greatest value taken, 2 registers
constexpr uint16_t ReasonRangeCount = 8;      // 0x0010..0x0017

constexpr uint16_t Ident = 0x0100;    // identification text
constexpr uint16_t IdentCount = 0x20; // 0x0100..0x011F
constexpr size_t IdentBytes = 64;
} // namespace Input

// ---- value encoding -------------------------------------------------------

// A 32-bit value as two registers, high word first, and back.
void PutInt32(int32_t Value, uint16_t* Out);
int32_t GetInt32(const uint16_t* Words);
// Appends the two registers of Value.
void AppendInt32(std::vector<uint16_t>& Out, int32_t Value);

// The status block, input registers 0x0000..0x0008.
struct Status {
    int32_t State = 0;
    int32_t Nc = 0;
    int32_t Nb = 0;
    int32_t Vc = 0;
    int32_t Lim = 0; // 16 bits on the line
    int32_t Adc = 0; // 16 bits on the line
    bool operator==(const Status& O) const;
};
std::vector<uint16_t> PackStatus(const Status& S);
// False (Out untouched) unless Count is Input::StatusCount.
bool UnpackStatus(const uint16_t* Words, size_t Count, Status& Out);

// The identification text: 64 bytes, two characters a register, the first in
// the high byte, zero-padded; a longer text is cut at 64 bytes.
std::vector<uint16_t> PackIdent(const std::string& Text);
// The text up to the first zero byte; control characters become '?'.
std::string UnpackIdent(const uint16_t* Words, size_t Count);

// The register image of a command block, and of a parameter write.
std::vector<uint16_t> CommandBlock(uint16_t Code, int32_t Argument);

// ---- refusals -------------------------------------------------------------

// Why the controller refused a request. After an exception 0x03 (or 0x04)
// the code is at input 0x0010 and the value it names at 0x0011..0x0012; the
// text is made from both by ReasonText, on either end of the line.
enum class Reason : uint16_t {
    None = 0,
    StepMode = 1,             // value: the step mode
    DecayMode = 2,            // value: the decay mode
    WorkingCurrent = 3,       // value: the current
    AccelerationCurrent = 4,
    HoldingCurrent = 5,
    MinimumSpeed = 6,         // value: the speed
    WorkingSpeed = 7,
    Acceleration = 8,
    BackwardLimitWord = 9,    // value: the word
    ForwardLimitWord = 10,
    HomeSensorWord = 11,
    ControlWordBits = 12,     // value: the word
    ControlWordMode = 13,     // value: the word (the mode is its low 4 bits)
    Direction = 14,           // value: the direction
    HomingDirection = 15,     // value: the direction
    HomingNeedsSensor = 16,
    StoreFailed = 17,         // exception 0x04
    UnknownCommand = 18,      // value: the command code
    BadCount = 19,            // value: the register count of the request
    DeviceFailure = 20,       // exception 0x04: any other failure
    WatchdogExpired = 21,     // value: the watchdog's time in ms; the motion was ramped down
};

// The English text of a reason with the value it names; empty for None. A
// code not in the table gives "Refused by the controller (reason N)".
std::string ReasonText(Reason Code, int32_t Value);
// The same for a code read from the line.
std::string ReasonText(uint16_t Code, int32_t Value);
// The same with the range the controller gave (registers 0x0013..0x0017):
// a reason whose text names a range names that one instead of ours.
std::string ReasonText(uint16_t Code, int32_t Value, int32_t Low, int32_t High);
// The range a reason's value is checked against (the currents, speeds and
// the acceleration); false for a reason without one.
bool ReasonRange(Reason Code, int32_t& Low, int32_t& High);
// True when Code is in the table.
bool KnownReason(uint16_t Code);
// The exception a controller answers a refusal with: 0x04 (device failure)
// for StoreFailed and DeviceFailure, else 0x03 (illegal data value).
uint8_t ExceptionFor(Reason Code);

} // namespace Link
