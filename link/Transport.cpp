#include "link/Transport.h"

#include "core/Endpoint.h"
#include "link/SerialSpeed.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Link {

namespace {

// Waits for Events on Fd until the deadline; the revents, 0 on timeout, -1
// on a poll failure (errno set).
int WaitFor(int Fd, short Events, int64_t DeadlineUs)
{
    while (true) {
        int64_t Left = DeadlineUs - NowUs();
        if (Left < 0)
            Left = 0;
        struct timespec Ts;
        Ts.tv_sec = static_cast<time_t>(Left / 1000000);
        Ts.tv_nsec = static_cast<long>((Left % 1000000) * 1000);
        struct pollfd P = {Fd, Events, 0};
        int N = ::ppoll(&P, 1, &Ts, nullptr);
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0)
            return -1;
        if (N == 0)
            return 0;
        return P.revents;
    }
}

bool IsHangUp(int Err) { return Err == EIO || Err == ECONNRESET || Err == EPIPE || Err == ENXIO || Err == ENODEV; }

class SerialPort : public Transport {
public:
    SerialPort(int Fd, const std::string& Path) : Transport(Fd, "port " + Path) {}
    // The exclusive mode stays on the terminal while anyone else holds it
    // open (a pseudo-terminal's owner does): a reopen by an ordinary user
    // would find it busy. So it goes before the close.
    ~SerialPort() override
    {
        if (FExclusive)
            (void)::ioctl(FFd, TIOCNXCL);
    }
    bool FExclusive = false;

protected:
    void DropInput() override { ::tcflush(FFd, TCIFLUSH); }
};

class TcpLink : public Transport {
public:
    TcpLink(int Fd, const std::string& Name) : Transport(Fd, "gateway " + Name) { FSocket = true; }
};

// The optional modes of a serial port: each asked for, none required.
void TuneSerial(int Fd)
{
    struct serial_struct Ss;
    if (::ioctl(Fd, TIOCGSERIAL, &Ss) == 0) {
        Ss.flags |= ASYNC_LOW_LATENCY;
        (void)::ioctl(Fd, TIOCSSERIAL, &Ss);
    }
    struct serial_rs485 Rs;
    std::memset(&Rs, 0, sizeof Rs);
    if (::ioctl(Fd, TIOCGRS485, &Rs) == 0) {
        Rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        Rs.flags &= ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
        (void)::ioctl(Fd, TIOCSRS485, &Rs);
    }
}

} // namespace

Transport::~Transport()
{
    if (FFd >= 0)
        ::close(FFd);
}

IoStatus Transport::Fail(IoStatus S, const std::string& Text)
{
    FError = Text;
    return S;
}

IoStatus Transport::Discard(size_t* Dropped)
{
    int Pending = 0;
    if (Dropped)
        *Dropped = 0;
    if (Dropped && ::ioctl(FFd, FIONREAD, &Pending) == 0 && Pending > 0)
        *Dropped = static_cast<size_t>(Pending);
    DropInput();
    uint8_t Sink[256];
    for (int Round = 0; Round < 64; ++Round) {
        ssize_t N = ::read(FFd, Sink, sizeof Sink);
        if (N > 0) {
            if (Dropped && Pending <= 0)
                *Dropped += static_cast<size_t>(N);
            continue;
        }
        if (N == 0)
            return Fail(IoStatus::HangUp, "the " + FName + " hung up");
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        if (IsHangUp(errno))
            return Fail(IoStatus::HangUp, "the " + FName + " hung up (" + std::strerror(errno) + ")");
        return Fail(IoStatus::Error, "reading the " + FName + " failed: " + std::strerror(errno));
    }
    int Ev = WaitFor(FFd, POLLIN, 0);
    if (Ev > 0 && (Ev & (POLLHUP | POLLERR)) && !(Ev & POLLIN))
        return Fail(IoStatus::HangUp, "the " + FName + " hung up");
    return IoStatus::Ok;
}

IoStatus Transport::Send(const uint8_t* Data, size_t Size, int64_t DeadlineUs)
{
    size_t Done = 0;
    while (Done < Size) {
        ssize_t N = FSocket ? ::send(FFd, Data + Done, Size - Done, MSG_NOSIGNAL)
                            : ::write(FFd, Data + Done, Size - Done);
        if (N > 0) {
            Done += static_cast<size_t>(N);
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (IsHangUp(errno))
                return Fail(IoStatus::HangUp, "the " + FName + " hung up (" + std::strerror(errno) + ")");
            return Fail(IoStatus::Error, "writing to the " + FName + " failed: " + std::strerror(errno));
        }
        int Ev = WaitFor(FFd, POLLOUT, DeadlineUs);
        if (Ev < 0)
            return Fail(IoStatus::Error, std::string("poll failed: ") + std::strerror(errno));
        if (Ev == 0)
            return Fail(IoStatus::Timeout, "the " + FName + " took no data before the deadline");
        if ((Ev & (POLLHUP | POLLERR)) && !(Ev & POLLOUT))
            return Fail(IoStatus::HangUp, "the " + FName + " hung up");
    }
    return IoStatus::Ok;
}

IoStatus Transport::Receive(uint8_t* Out, size_t Max, size_t& Got, int64_t DeadlineUs)
{
    Got = 0;
    while (true) {
        ssize_t N = ::read(FFd, Out, Max);
        if (N > 0) {
            Got = static_cast<size_t>(N);
            return IoStatus::Ok;
        }
        if (N == 0)
            return Fail(IoStatus::HangUp, "the " + FName + " hung up");
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            if (IsHangUp(errno))
                return Fail(IoStatus::HangUp, "the " + FName + " hung up (" + std::strerror(errno) + ")");
            return Fail(IoStatus::Error, "reading the " + FName + " failed: " + std::strerror(errno));
        }
        int Ev = WaitFor(FFd, POLLIN, DeadlineUs);
        if (Ev < 0)
            return Fail(IoStatus::Error, std::string("poll failed: ") + std::strerror(errno));
        if (Ev == 0)
            return Fail(IoStatus::Timeout, "no answer before the deadline");
        if ((Ev & (POLLHUP | POLLERR)) && !(Ev & POLLIN))
            return Fail(IoStatus::HangUp, "the " + FName + " hung up");
    }
}

Core::Result<std::unique_ptr<Transport>> OpenSerial(const std::string& Path, int Baud, Parity P, int StopBits)
{
    const auto Fail = [&Path](const std::string& Why) {
        return Core::Status::Fail("Cannot open the port " + Path + ": " + Why);
    };
    const speed_t Speed = SpeedCode(Baud);
    if (Speed == B0)
        return Fail(std::to_string(Baud) + " baud is not a speed the port can take");
    int Fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Fd < 0) {
        int Err = errno;
        if (Err == ENOENT || Err == ENODEV || Err == ENXIO)
            return Fail("no such port (is the adapter plugged in?)");
        if (Err == EACCES || Err == EPERM)
            return Fail("not permitted; add the user to the dialout group (sudo adduser $USER dialout), "
                        "then log in again");
        if (Err == EBUSY)
            return Fail("busy, opened exclusively by another program");
        return Fail(std::strerror(Err));
    }
    auto Port = std::make_unique<SerialPort>(Fd, Path);
    if (::flock(Fd, LOCK_EX | LOCK_NB) != 0)
        return Fail(errno == EWOULDBLOCK ? "busy, opened exclusively by another program" : std::strerror(errno));
    struct termios T;
    if (::tcgetattr(Fd, &T) != 0)
        return Fail(errno == ENOTTY ? "not a serial port" : std::strerror(errno));
    // One byte makes a read return; with O_NONBLOCK an empty port gives
    // EAGAIN, so a read of 0 bytes means the line hung up.
    SetRawFraming(T, P, StopBits);
    if (::cfsetispeed(&T, Speed) != 0 || ::cfsetospeed(&T, Speed) != 0 || !ApplyTermios(Fd, T))
        return Fail("cannot set " + std::to_string(Baud) + " baud " + FramingName(P, StopBits) + ": " +
                    std::strerror(errno));
    Port->FExclusive = ::ioctl(Fd, TIOCEXCL) == 0;
    TuneSerial(Fd);
    ::tcflush(Fd, TCIOFLUSH);
    return std::unique_ptr<Transport>(std::move(Port));
}

Core::Result<std::unique_ptr<Transport>> OpenTcp(const std::string& Host, int Port, int ConnectMs)
{
    const bool Six = Host.find(':') != std::string::npos;
    const std::string Name = Core::FormatEndpoint(Host, Port);
    const auto Fail = [&Name](const std::string& Why) {
        return Core::Status::Fail("Cannot connect to " + Name + ": " + Why);
    };
    struct sockaddr_storage Addr;
    std::memset(&Addr, 0, sizeof Addr);
    socklen_t Len;
    if (Six) {
        auto* A = reinterpret_cast<sockaddr_in6*>(&Addr);
        A->sin6_family = AF_INET6;
        A->sin6_port = htons(static_cast<uint16_t>(Port));
        if (::inet_pton(AF_INET6, Host.c_str(), &A->sin6_addr) != 1)
            return Fail("not a numeric IPv6 address");
        Len = sizeof *A;
    } else {
        auto* A = reinterpret_cast<sockaddr_in*>(&Addr);
        A->sin_family = AF_INET;
        A->sin_port = htons(static_cast<uint16_t>(Port));
        if (::inet_pton(AF_INET, Host.c_str(), &A->sin_addr) != 1)
            return Fail("not a numeric IPv4 address");
        Len = sizeof *A;
    }
    int Fd = ::socket(Six ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (Fd < 0)
        return Fail(std::strerror(errno));
    auto Link = std::make_unique<TcpLink>(Fd, Name);
    int One = 1;
    (void)::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
    if (::connect(Fd, reinterpret_cast<sockaddr*>(&Addr), Len) != 0) {
        if (errno != EINPROGRESS)
            return Fail(std::strerror(errno));
        int Ev = WaitFor(Fd, POLLOUT, NowUs() + static_cast<int64_t>(ConnectMs) * 1000);
        if (Ev == 0)
            return Fail("no connection within " + std::to_string(ConnectMs) + " ms");
        int Err = 0;
        socklen_t ErrLen = sizeof Err;
        if (Ev < 0 || ::getsockopt(Fd, SOL_SOCKET, SO_ERROR, &Err, &ErrLen) != 0)
            Err = errno;
        if (Err != 0)
            return Fail(std::strerror(Err));
    }
    return std::unique_ptr<Transport>(std::move(Link));
}

} // namespace Link
