#pragma once

#include <string>

#include "core/Result.h"
#include "linksetting/Framing.h"

// The device library's link setting: one line saying which controller the
// library talks to.
//
//   virtual                                        the in-process virtual controller
//   serial:PATH[?OPTIONS]                          RTU on a serial port
//   tcp:HOST:PORT[?OPTIONS]                        RTU frames over TCP (ser2net, a
//                                                  converter in transparent mode)
//   modbus-tcp:HOST:PORT[?OPTIONS]                 Modbus TCP (MBAP framing): a
//                                                  Modbus gateway such as
//                                                  velmor-gateway, or velmor-sim
//
// OPTIONS are NAME=VALUE pairs joined by '&': baud (the line's speed, default
// 115200; on tcp and modbus-tcp, the speed of the line behind the gateway,
// which sets the deadlines: default 9600 there, the common gateway default),
// address (the controller's address 1..247, default 1; unit is the same on
// modbus-tcp), timeout (the deadline of one request in ms, 1..10000; default
// derived from the speed), parity (none, even or odd; default even, as the
// Modbus serial line standard says) and stopbits (1 or 2; default 1, or 2
// when parity is none): serial only, a gateway sets its own line's framing;
// watchdog (the controller's communication watchdog in ms, 0..65535, written
// at each open; 0 turns it off; left out: left as the controller has it);
// trace (a file the frames on the line are appended to; up to the next '&').
// HOST is a numeric address (127.0.0.1, [::1]): no name look-up, whose time
// nobody bounds.
//
// The line comes from $VELMOR_LINK when set and not empty, else from the file
// $XDG_CONFIG_HOME/velmor/link.conf ($XDG_CONFIG_HOME when absolute, else
// ~/.config). In the file, blank lines and lines starting with '#' are
// ignored; exactly one other line is the setting. No setting anywhere (no
// variable, no file) means virtual.
namespace Link {

struct LinkConfig {
    enum class Kind { Virtual, Serial, Tcp, ModbusTcp };
    Kind Type = Kind::Virtual;
    std::string Path;     // serial: the device
    std::string Host;     // tcp, modbus-tcp: numeric address, without brackets
    int Port = 0;         // tcp, modbus-tcp
    int Baud = 115200;    // tcp, modbus-tcp: 9600 unless given
    int Address = 1;      // modbus-tcp: the unit id
    int TimeoutMs = 0;    // 0: derived from the speed
    Link::Parity Parity = Link::Parity::Even;
    int StopBits = 1;
    std::string TracePath; // empty: no trace
    int WatchdogMs = -1;   // -1: not given
};

// Whether the link reaches the controller through a TCP gateway.
inline bool ThroughGateway(const LinkConfig& C)
{
    return C.Type == LinkConfig::Kind::Tcp || C.Type == LinkConfig::Kind::ModbusTcp;
}

// Parses one setting. A failure says what is wrong, e.g. `address 300 is out
// of range 1..247`.
Core::Result<LinkConfig> ParseLinkLine(const std::string& Line);

// Where a setting was read and what it gave. Ok false: Error is the whole
// text an open reports, naming Source ("$VELMOR_LINK" or the file's path).
struct LinkSetting {
    bool Ok = true;
    LinkConfig Config;
    std::string Source; // empty: nothing configured, the default
    std::string Error;
};

// The rule above on given values (null or empty: not set); ReadFile reads
// the file at a path into Text and returns 0, or returns an errno value
// (ENOENT: no file, so the default).
using FileReader = int (*)(const std::string& Path, std::string& Text);
LinkSetting LinkSettingFrom(const char* EnvLink, const char* XdgConfigHome, const char* Home,
                            FileReader ReadFile);

// The same on this process's environment and file system.
LinkSetting ReadLinkSetting();

// The file's path by the rule above, or empty when there is no home at all.
std::string LinkFilePath(const char* XdgConfigHome, const char* Home);

// The text of a setting as it was read, fit for a message: non-printing
// bytes as '?', at most 120 characters.
std::string Printable(const std::string& Text);

} // namespace Link
