#include "link/ServeSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <limits>

namespace Link {

int ServeMain(const char* Program, const char* Usage, const Core::Status& Parsed, bool Help,
              const std::function<int(int StopFd, const ReadyFn& Ready)>& Serve)
{
    if (!Parsed) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", Program, Parsed.Text().c_str(), Program);
        return 1;
    }
    if (Help) {
        std::fputs(Usage, stdout);
        return 0;
    }
    const int StopFd = StopSignalFd(Program);
    if (StopFd < 0)
        return 1;
    const int Code = Serve(StopFd, [](const std::string& Where) {
        std::printf("%s\n", Where.c_str());
        std::fflush(stdout);
    });
    ::close(StopFd);
    return Code;
}

int StopSignalFd(const char* Program)
{
    sigset_t Ending;
    sigemptyset(&Ending);
    sigaddset(&Ending, SIGINT);
    sigaddset(&Ending, SIGTERM);
    sigprocmask(SIG_BLOCK, &Ending, nullptr);
    const int Fd = signalfd(-1, &Ending, SFD_CLOEXEC | SFD_NONBLOCK);
    if (Fd < 0) {
        std::perror((std::string(Program) + ": signalfd").c_str());
        return -1;
    }
    signal(SIGPIPE, SIG_IGN);
    return Fd;
}

Core::Result<Listener> ListenTcp(const std::string& Host, uint16_t Port, int Backlog)
{
    addrinfo Hints{};
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_STREAM;
    Hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* Found = nullptr;
    const std::string PortText = std::to_string(Port);
    if (getaddrinfo(Host.c_str(), PortText.c_str(), &Hints, &Found) != 0 || !Found)
        return Core::Status::Fail(Host + " is not a numeric IP address", NotNumeric);
    const int Fd = ::socket(Found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int One = 1;
    if (Fd < 0 || setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One) != 0 ||
        ::bind(Fd, Found->ai_addr, Found->ai_addrlen) != 0 || ::listen(Fd, Backlog) != 0) {
        const std::string Why = std::strerror(errno);
        if (Fd >= 0)
            ::close(Fd);
        freeaddrinfo(Found);
        return Core::Status::Fail("cannot listen on " + Host + ":" + PortText + ": " + Why, CannotListen);
    }
    freeaddrinfo(Found);
    Listener L;
    L.Fd = Fd;
    sockaddr_storage Bound{};
    socklen_t Len = sizeof Bound;
    if (getsockname(Fd, reinterpret_cast<sockaddr*>(&Bound), &Len) == 0)
        L.Port = ntohs(Bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&Bound)->sin6_port
                                                    : reinterpret_cast<sockaddr_in*>(&Bound)->sin_port);
    return L;
}

int StopOrFailure(int Ready, const pollfd& Stop, const char* Program)
{
    if (Ready < 0 && errno != EINTR) {
        std::perror((std::string(Program) + ": poll").c_str());
        return -1;
    }
    return Ready > 0 && (Stop.revents & POLLIN) ? 1 : 0;
}

int AcceptClient(int ListenFd)
{
    const int Fd = ::accept4(ListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (Fd >= 0) {
        int One = 1;
        setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
    }
    return Fd;
}

bool ReceiveAvailable(int Fd, std::vector<uint8_t>& In)
{
    return ReceiveSome(Fd, In, std::numeric_limits<size_t>::max());
}

bool ReceiveSome(int Fd, std::vector<uint8_t>& In, size_t Limit)
{
    uint8_t Buffer[1024];
    while (In.size() < Limit) {
        const ssize_t N = ::recv(Fd, Buffer, std::min(sizeof Buffer, Limit - In.size()), 0);
        if (N > 0) {
            In.insert(In.end(), Buffer, Buffer + N);
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        return N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

bool IsLoopbackHost(const std::string& Host)
{
    uint8_t A[16];
    if (::inet_pton(AF_INET, Host.c_str(), A) == 1)
        return A[0] == 127;
    if (::inet_pton(AF_INET6, Host.c_str(), A) != 1)
        return false;
    static const uint8_t One[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const uint8_t Mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return std::memcmp(A, One, 16) == 0 || (std::memcmp(A, Mapped, 12) == 0 && A[12] == 127);
}

std::string ExposedWarning(const std::string& Host, uint16_t Port)
{
    if (IsLoopbackHost(Host))
        return {};
    return "warning: listening on " + Host + ":" + std::to_string(Port) +
           " for other machines. Modbus has no authentication: anyone who reaches this address can move the "
           "motor. Listen on loopback (the default) or limit who reaches it with a firewall.";
}

bool SendPending(int Fd, std::vector<uint8_t>& Out)
{
    while (!Out.empty()) {
        const ssize_t N = ::send(Fd, Out.data(), Out.size(), MSG_NOSIGNAL);
        if (N > 0) {
            Out.erase(Out.begin(), Out.begin() + N);
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        return N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

} // namespace Link
