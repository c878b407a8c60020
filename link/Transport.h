#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/Clock.h"
#include "core/Result.h"
#include "link/SerialFraming.h"

// The byte pipes under the RTU client: a serial port (or a pseudo-terminal
// standing in for one) and a TCP connection to a gateway. Each is a file
// descriptor in non-blocking mode; every wait is a poll() bounded by a
// deadline on the monotonic clock, so no call blocks past it. No threads.
namespace Link {

// Monotonic time in microseconds.
inline constexpr auto NowUs = Core::SteadyNowUs;

enum class IoStatus {
    Ok,
    Timeout, // the deadline passed
    HangUp,  // the other end went away (POLLHUP, EIO, ECONNRESET, end of file)
    Error,   // anything else; the text says what
};

class Transport {
public:
    virtual ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Drops whatever arrived unasked (a late answer to an earlier request,
    // noise); their number goes to Dropped when given. A hang-up found on the
    // way is reported.
    IoStatus Discard(size_t* Dropped = nullptr);
    // Sends all Size bytes by the deadline.
    IoStatus Send(const uint8_t* Data, size_t Size, int64_t DeadlineUs);
    // Waits for bytes until the deadline; puts up to Max of them at Out and
    // their number in Got (at least one when the result is Ok).
    IoStatus Receive(uint8_t* Out, size_t Max, size_t& Got, int64_t DeadlineUs);

    // What went wrong in the last call that did not give Ok.
    const std::string& ErrorText() const { return FError; }
    int Descriptor() const { return FFd; }

protected:
    Transport(int Fd, std::string Name) : FFd(Fd), FName(std::move(Name)) {}
    virtual void DropInput() {}
    IoStatus Fail(IoStatus S, const std::string& Text);

    int FFd;
    bool FSocket = false; // send() without SIGPIPE instead of write()
    std::string FName; // "port /dev/ttyUSB0", "gateway 127.0.0.1:5020"
    std::string FError;
};

// Opens a serial port raw at Baud with 8 data bits, the given parity and stop
// bits, exclusive (TIOCEXCL and an advisory
// lock), low-latency and RS-485 mode where the port has them (quietly not on
// ports without, such as pseudo-terminals). Fails when the port is absent
// ("no such port"), not permitted, busy or not a serial port.
Core::Result<std::unique_ptr<Transport>> OpenSerial(const std::string& Path, int Baud, Parity P, int StopBits);

// Connects to Host (a numeric IPv4 or IPv6 address) at Port within ConnectMs,
// with TCP_NODELAY.
Core::Result<std::unique_ptr<Transport>> OpenTcp(const std::string& Host, int Port, int ConnectMs);

} // namespace Link
