#include "linesim/Line.h"

#include "link/SerialSpeed.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace LineSim {

namespace {

std::string Errno(const std::string& What) { return What + ": " + std::strerror(errno); }

// Raw with the framing given; a read returns once one byte is in, so an
// empty port gives EAGAIN (non-blocking) and end of file means a hang-up.
bool SetRaw(int Fd, speed_t Code, Link::Parity Parity, int StopBits)
{
    termios T;
    if (tcgetattr(Fd, &T) != 0)
        return false;
    Link::SetRawFraming(T, Parity, StopBits);
    if (Code != B0) {
        cfsetispeed(&T, Code);
        cfsetospeed(&T, Code);
    }
    return Link::ApplyTermios(Fd, T);
}

} // namespace

bool ParseHostPort(const std::string& Text, std::string& Host, uint16_t& Port)
{
    std::string H, P;
    if (!Text.empty() && Text[0] == '[') {
        const size_t Close = Text.find(']');
        if (Close == std::string::npos || Close + 1 >= Text.size() || Text[Close + 1] != ':')
            return false;
        H = Text.substr(1, Close - 1);
        P = Text.substr(Close + 2);
    } else {
        const size_t Colon = Text.rfind(':');
        if (Colon == std::string::npos || Text.find(':') != Colon)
            return false;
        H = Text.substr(0, Colon);
        P = Text.substr(Colon + 1);
    }
    if (H.empty() || P.empty() || P.size() > 5)
        return false;
    long V = 0;
    for (char C : P) {
        if (C < '0' || C > '9')
            return false;
        V = V * 10 + (C - '0');
    }
    if (V > 65535)
        return false;
    Host = H;
    Port = static_cast<uint16_t>(V);
    return true;
}

bool KnownBaud(int Baud) { return Link::SpeedCode(Baud) != B0; }

bool Line::Open(std::string& Error)
{
    switch (FWhere.Kind) {
    case Place::Pty: return OpenPty(Error);
    case Place::Port: return OpenPort(Error);
    case Place::Tcp:
    case Place::ModbusTcp: return Listen(Error);
    case Place::None: break;
    }
    Error = "nowhere to serve";
    return false;
}

bool Line::OpenPty(std::string& Error)
{
    // Only a symlink (ours from an earlier run, or a stale one) is replaced.
    struct stat St;
    if (lstat(FWhere.Path.c_str(), &St) == 0 && !S_ISLNK(St.st_mode)) {
        Error = FWhere.Path + " exists and is not a symlink; not replacing it";
        return false;
    }
    const int Master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Master < 0) {
        Error = Errno("Cannot create a pseudo-terminal");
        return false;
    }
    char Name[PATH_MAX];
    if (grantpt(Master) != 0 || unlockpt(Master) != 0 || ptsname_r(Master, Name, sizeof Name) != 0) {
        Error = Errno("Cannot set up the pseudo-terminal");
        ::close(Master);
        return false;
    }
    // Holding the slave open keeps the master from hanging up between
    // clients; raw, so nothing is echoed or translated before a client sets
    // its own mode.
    const int Slave = ::open(Name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Slave < 0) {
        Error = Errno(std::string("Cannot open ") + Name);
        ::close(Master);
        return false;
    }
    SetRaw(Slave, B0, Link::Parity::None, 1);
    // Replace the symlink in one step: a client never sees it missing or
    // half made while the line is up.
    const std::string Temp = FWhere.Path + ".new" + std::to_string(getpid());
    ::unlink(Temp.c_str());
    if (::symlink(Name, Temp.c_str()) != 0 || ::rename(Temp.c_str(), FWhere.Path.c_str()) != 0) {
        Error = Errno("Cannot make the symlink " + FWhere.Path);
        ::unlink(Temp.c_str());
        ::close(Slave);
        ::close(Master);
        return false;
    }
    FData = Master;
    FSlave = Slave;
    FSlavePath = Name;
    return true;
}

bool Line::OpenPort(std::string& Error)
{
    const int Fd = ::open(FWhere.Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Fd < 0) {
        Error = Errno("Cannot open " + FWhere.Path);
        return false;
    }
    if (!isatty(Fd)) {
        Error = FWhere.Path + " is not a serial port";
        ::close(Fd);
        return false;
    }
    if (ioctl(Fd, TIOCEXCL) != 0) {
        Error = Errno("Cannot open " + FWhere.Path + " exclusively");
        ::close(Fd);
        return false;
    }
    const speed_t Code = Link::SpeedCode(FWhere.Baud);
    if (!SetRaw(Fd, Code == B0 ? B115200 : Code, FWhere.Parity, FWhere.StopBits)) {
        Error = Errno("Cannot set " + FWhere.Path + " to " + std::to_string(FWhere.Baud) + " baud " +
                      Link::FramingName(FWhere.Parity, FWhere.StopBits));
        ::close(Fd);
        return false;
    }
    tcflush(Fd, TCIOFLUSH);
    FData = Fd;
    return true;
}

bool Line::Listen(std::string& Error)
{
    addrinfo Hints{};
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_STREAM;
    Hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* Found = nullptr;
    const std::string Port = std::to_string(FWhere.TcpPort);
    if (getaddrinfo(FWhere.Host.c_str(), Port.c_str(), &Hints, &Found) != 0 || !Found) {
        Error = FWhere.Host + " is not a numeric IP address";
        return false;
    }
    const int Fd = ::socket(Found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int One = 1;
    if (Fd < 0 || setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One) != 0 ||
        ::bind(Fd, Found->ai_addr, Found->ai_addrlen) != 0 || ::listen(Fd, 8) != 0) {
        Error = Errno("Cannot listen on " + FWhere.Host + ":" + Port);
        if (Fd >= 0)
            ::close(Fd);
        freeaddrinfo(Found);
        return false;
    }
    freeaddrinfo(Found);
    sockaddr_storage Bound{};
    socklen_t Len = sizeof Bound;
    if (getsockname(Fd, reinterpret_cast<sockaddr*>(&Bound), &Len) == 0)
        FBoundPort = ntohs(Bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&Bound)->sin6_port
                                                        : reinterpret_cast<sockaddr_in*>(&Bound)->sin_port);
    FListen = Fd;
    FWhere.TcpPort = FBoundPort; // a replug listens on the same port
    return true;
}

bool Line::Accept()
{
    if (FListen < 0)
        return false;
    const int Fd = ::accept4(FListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (Fd < 0)
        return false;
    if (FData >= 0) { // one client at a time
        ::close(Fd);
        return false;
    }
    int One = 1;
    setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
    FData = Fd;
    return true;
}

void Line::DropData()
{
    if (FData >= 0)
        ::close(FData);
    FData = -1;
}

void Line::Close()
{
    if (FWhere.Kind == Place::Pty && !FSlavePath.empty()) {
        // The symlink goes only while it still names our slave.
        char Target[PATH_MAX];
        const ssize_t N = ::readlink(FWhere.Path.c_str(), Target, sizeof Target - 1);
        if (N > 0 && std::string(Target, static_cast<size_t>(N)) == FSlavePath)
            ::unlink(FWhere.Path.c_str());
        FSlavePath.clear();
    }
    DropData();
    if (FSlave >= 0)
        ::close(FSlave);
    FSlave = -1;
    if (FListen >= 0)
        ::close(FListen);
    FListen = -1;
}

std::string Line::Describe() const
{
    switch (FWhere.Kind) {
    case Place::Pty: return FSlavePath + " " + FWhere.Path;
    case Place::Port: return FWhere.Path;
    case Place::Tcp:
    case Place::ModbusTcp:
        return (FWhere.Host.find(':') != std::string::npos ? "[" + FWhere.Host + "]" : FWhere.Host) + ":" +
               std::to_string(FBoundPort);
    case Place::None: break;
    }
    return {};
}

} // namespace LineSim
