#include "link/Trace.h"

#include "link/Transport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Link {

Trace::~Trace()
{
    if (FFd >= 0)
        ::close(FFd);
}

Core::Status Trace::Open(const std::string& Path)
{
    const int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
    if (Fd < 0)
        return Core::Status::Fail("cannot open the trace file " + Path + ": " + std::strerror(errno));
    if (FFd >= 0)
        ::close(FFd);
    FFd = Fd;
    return {};
}

void Trace::Line(const std::string& Text)
{
    if (FFd < 0)
        return;
    const std::string L = std::to_string(NowUs()) + " " + Text + "\n";
    // A trace that cannot be written (a full disk) must not stop the line:
    // the line goes on untraced.
    ssize_t N;
    do
        N = ::write(FFd, L.data(), L.size());
    while (N < 0 && errno == EINTR);
}

void Trace::Frame(const char* Direction, const uint8_t* Data, size_t Size)
{
    if (FFd < 0)
        return;
    static const char Hex[] = "0123456789ABCDEF";
    std::string T = Direction;
    T.reserve(T.size() + 3 * Size);
    for (size_t I = 0; I < Size; ++I) {
        T += ' ';
        T += Hex[Data[I] >> 4];
        T += Hex[Data[I] & 15];
    }
    Line(T);
}

void Trace::Verdict(const std::string& Text) { Line("-- " + Text); }

} // namespace Link
