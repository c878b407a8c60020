#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Result.h"

// The gateway's MQTT side: it publishes, it never subscribes. Topics, with
// LINE the line's name and UNIT the slave's address:
//
//   velmor/LINE/availability        "online" / "offline", retained; the
//                                   broker's last will says "offline"
//   velmor/LINE/UNIT/availability   "online" / "offline", retained, on change
//   velmor/LINE/UNIT/status         the status block as JSON, each poll
//
// A thread of its own keeps the connection (and connects again when the
// broker was away); a publication while the broker is away is dropped, so
// nothing piles up.
namespace VelmorGateway {

// The status block's nine input registers (0x0000..0x0008) as the JSON
// object velmorctl status --json prints; empty when Words is not nine long.
std::string StatusJson(const std::vector<uint16_t>& Words);

class Publisher {
public:
    virtual ~Publisher() = default;
    virtual void Status(uint8_t Unit, const std::string& Json) = 0;
    virtual void Available(uint8_t Unit, bool Online) = 0;
};

// Connects (in the background, again each second while the broker cannot
// be reached) to Host:Port as client "velmor-gateway-LINE-PID". Fails only
// when libmosquitto cannot start.
Core::Result<std::unique_ptr<Publisher>> StartMqtt(const std::string& Host, uint16_t Port, const std::string& Line);

} // namespace VelmorGateway
