#pragma once

#include <cstdint>

#include "link/RtuFrame.h"
#include "sim/Controller.h"

// The controller's side of the line protocol (docs/protocol.md) over the
// virtual controller: a request in, the answer out. No I/O and no clock of its
// own; the controller's clock says when a request is handled.
namespace LineSim {

class Server {
public:
    // The controller is opened at the first request (and again whenever it is
    // not open: a control file that cut the link may have kept it shut).
    Server(Sim::VirtualController& Device, uint8_t Address) : FDevice(Device), FAddress(Address) {}

    // The answer to a request ParseRequest recognised (any status but
    // Incomplete). Empty: nothing is sent (bad CRC, garbage, another
    // address, a broadcast, or a link the control file cuts).
    Link::Frame Handle(const Link::ParsedRequest& P);

    uint8_t Address() const { return FAddress; }
    // Input registers 0x0010..0x0012.
    uint16_t ReasonCode() const { return FReason; }
    int32_t ReasonValue() const { return FReasonValue; }

private:
    // Carries out a sound request of this device; its normal or exception
    // answer, or Silent set when the controller cannot be reached.
    Link::Frame Serve(const Link::Request& R, bool& Silent);
    Link::Frame ReadInputs(const Link::Request& R, bool& Silent);
    Link::Frame ReadHoldings(const Link::Request& R);
    Link::Frame WriteParameters(const Link::Request& R, bool& Silent);
    Link::Frame RunCommand(const Link::Request& R, bool& Silent);
    // The answer to a call of the controller that failed: its refusal as an
    // exception, or silence when it failed for the link.
    Link::Frame Refused(const Link::Request& R, bool& Silent);
    Link::Frame Exception(const Link::Request& R, uint8_t Code) const;
    Link::Frame Refuse(const Link::Request& R, Link::Reason Why, int32_t Value);

    Sim::VirtualController& FDevice;
    uint8_t FAddress;
    uint16_t FReason = 0;
    int32_t FReasonValue = 0;
    bool FRangeGiven = false;
    int32_t FLow = 0, FHigh = 0;
    uint16_t FLastCommand = 0;
    int32_t FLastArgument = 0;
};

} // namespace LineSim
