#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/Result.h"
#include "link/ServeOptions.h"
#include "link/Mbap.h"

// velmor-gateway's command line.
namespace VelmorGateway {

extern const char* const Usage;

// A peer address range of --allow: Bits leading bits of Address.
struct AllowRange {
    bool V6 = false;
    uint8_t Address[16] = {};
    int Bits = 0;
};

// The range written as ADDRESS or ADDRESS/PREFIX (numeric IPv4 or IPv6).
Core::Result<AllowRange> ParseAllow(const std::string& Text);
// Whether the peer (4 or 16 bytes; an IPv4-mapped IPv6 address counts as
// IPv4) is in the range.
bool InRange(const AllowRange& Range, const uint8_t* Peer, bool PeerV6);

struct Options {
    bool Help = false; // --help: nothing else was looked at
    std::string Port;
    std::string Host = "127.0.0.1"; // loopback unless told
    uint16_t ListenPort = 5020;
    Link::LineOptions Line; // the stop bits always set once parsed
    int TimeoutMs = 0;      // 0: the deadline from the line's speed and the request

    // Who may do what.
    bool ReadOnly = false;
    bool AllowBroadcast = false;
    std::vector<AllowRange> Allowed; // empty: any peer

    // Limits.
    int MaxClients = 64;
    int MaxPending = 4;     // requests of one client waiting or on the line
    int QueueMs = Link::GatewayQueueUs / 1000; // a request waiting longer is answered 0x0B
    int IdleSeconds = 60;   // 0: never closed for idleness
    int CacheMs = 100;      // age of a cached input-register answer; 0: no cache

    // MQTT.
    std::string MqttHost;
    uint16_t MqttPort = 1883;
    std::vector<uint8_t> PollUnits;
    int PollMs = 1000;
    std::string LineName; // the topics' LINE: the port's file name unless --line-name
};

// The options of Argv, or what is wrong with them.
Core::Result<Options> ParseOptions(int Argc, char** Argv);

} // namespace VelmorGateway
