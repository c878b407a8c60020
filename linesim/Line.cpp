#include "linesim/Line.h"

#include "core/Endpoint.h"
#include "link/SerialSpeed.h"
#include "link/ServeSocket.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
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

Core::Status Line::Open()
{
    switch (FWhere.Kind) {
    case Place::Pty: return OpenPty();
    case Place::Port: return OpenPort();
    case Place::Tcp:
    case Place::ModbusTcp: return Listen();
    case Place::None: break;
    }
    return Core::Status::Fail("nowhere to serve");
}

Core::Status Line::OpenPty()
{
    // Only a symlink (ours from an earlier run, or a stale one) is replaced.
    struct stat St;
    if (lstat(FWhere.Path.c_str(), &St) == 0 && !S_ISLNK(St.st_mode))
        return Core::Status::Fail(FWhere.Path + " exists and is not a symlink; not replacing it");
    const int Master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Master < 0)
        return Core::Status::Fail(Errno("Cannot create a pseudo-terminal"));
    char Name[PATH_MAX];
    if (grantpt(Master) != 0 || unlockpt(Master) != 0 || ptsname_r(Master, Name, sizeof Name) != 0) {
        const Core::Status Failed = Core::Status::Fail(Errno("Cannot set up the pseudo-terminal"));
        ::close(Master);
        return Failed;
    }
    // Holding the slave open keeps the master from hanging up between
    // clients; raw, so nothing is echoed or translated before a client sets
    // its own mode.
    const int Slave = ::open(Name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Slave < 0) {
        const Core::Status Failed = Core::Status::Fail(Errno(std::string("Cannot open ") + Name));
        ::close(Master);
        return Failed;
    }
    SetRaw(Slave, B0, Link::Parity::None, 1);
    // Replace the symlink in one step: a client never sees it missing or
    // half made while the line is up.
    const std::string Temp = FWhere.Path + ".new" + std::to_string(getpid());
    ::unlink(Temp.c_str());
    if (::symlink(Name, Temp.c_str()) != 0 || ::rename(Temp.c_str(), FWhere.Path.c_str()) != 0) {
        const Core::Status Failed = Core::Status::Fail(Errno("Cannot make the symlink " + FWhere.Path));
        ::unlink(Temp.c_str());
        ::close(Slave);
        ::close(Master);
        return Failed;
    }
    FData = Master;
    FSlave = Slave;
    FSlavePath = Name;
    return {};
}

Core::Status Line::OpenPort()
{
    const int Fd = ::open(FWhere.Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Fd < 0)
        return Core::Status::Fail(Errno("Cannot open " + FWhere.Path));
    if (!isatty(Fd)) {
        const Core::Status Failed = Core::Status::Fail(FWhere.Path + " is not a serial port");
        ::close(Fd);
        return Failed;
    }
    // The port is ours alone, as the device library takes it: the lock
    // keeps out a second velmor-sim or a panel even when run as root, whom
    // TIOCEXCL does not stop.
    if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
        const Core::Status Failed = Core::Status::Fail(
            errno == EWOULDBLOCK ? FWhere.Path + " is busy: another program (a velmor-sim, the panel, a gateway) holds it"
                                 : Errno("Cannot lock " + FWhere.Path));
        ::close(Fd);
        return Failed;
    }
    if (ioctl(Fd, TIOCEXCL) != 0) {
        const Core::Status Failed = Core::Status::Fail(Errno("Cannot open " + FWhere.Path + " exclusively"));
        ::close(Fd);
        return Failed;
    }
    const speed_t Code = Link::SpeedCode(FWhere.Line.Baud);
    if (!SetRaw(Fd, Code == B0 ? B115200 : Code, FWhere.Line.Framing, FWhere.Line.StopBits)) {
        const Core::Status Failed = Core::Status::Fail(Errno("Cannot set " + FWhere.Path + " to " +
                                                             std::to_string(FWhere.Line.Baud) + " baud " +
                                                             Link::FramingName(FWhere.Line.Framing, FWhere.Line.StopBits)));
        ::close(Fd);
        return Failed;
    }
    tcflush(Fd, TCIOFLUSH);
    FData = Fd;
    return {};
}

Core::Status Line::Listen()
{
    const Core::Result<Link::Listener> L = Link::ListenTcp(FWhere.Host, FWhere.TcpPort, 8);
    if (!L) {
        std::string Error = L.Error();
        if (L.Why().Code() == Link::CannotListen)
            Error[0] = 'C'; // "Cannot listen on ...", as velmor-sim has always said it
        return Core::Status::Fail(Error);
    }
    FListen = L->Fd;
    FBoundPort = L->Port;
    FWhere.TcpPort = FBoundPort; // a replug listens on the same port
    return {};
}

bool Line::Accept()
{
    if (FListen < 0)
        return false;
    const int Fd = Link::AcceptClient(FListen);
    if (Fd < 0)
        return false;
    if (FData >= 0) { // one client at a time
        ::close(Fd);
        return false;
    }
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
    case Place::ModbusTcp: return Core::FormatEndpoint(FWhere.Host, FBoundPort);
    case Place::None: break;
    }
    return {};
}

} // namespace LineSim
