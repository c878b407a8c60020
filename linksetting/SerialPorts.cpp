#include "linksetting/SerialPorts.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <set>

namespace Link {

namespace {

std::vector<std::string> Entries(const std::string& Folder)
{
    std::vector<std::string> Names;
    if (DIR* D = ::opendir(Folder.c_str())) {
        while (const dirent* E = ::readdir(D)) {
            const std::string Name = E->d_name;
            if (Name != "." && Name != "..")
                Names.push_back(Name);
        }
        ::closedir(D);
    }
    return Names;
}

std::string RealPath(const std::string& Path)
{
    char Buffer[PATH_MAX];
    const char* Real = ::realpath(Path.c_str(), Buffer);
    return Real ? std::string(Real) : std::string();
}

// The first line of a small sysfs file, trimmed; empty when there is none.
std::string Attribute(const std::string& Path)
{
    std::ifstream In(Path);
    std::string Line;
    if (!In || !std::getline(In, Line))
        return {};
    while (!Line.empty() && static_cast<unsigned char>(Line.back()) <= ' ')
        Line.pop_back();
    std::string Clean;
    for (char C : Line)
        Clean += static_cast<unsigned char>(C) < 0x20 || C == 0x7F ? '?' : C;
    return Clean;
}

// Name is Prefix followed by a number; Number gets it.
bool Numbered(const std::string& Name, const std::string& Prefix, long& Number)
{
    if (Name.size() <= Prefix.size() || Name.size() > Prefix.size() + 6 || Name.compare(0, Prefix.size(), Prefix) != 0)
        return false;
    for (size_t I = Prefix.size(); I < Name.size(); ++I)
        if (Name[I] < '0' || Name[I] > '9')
            return false;
    Number = std::strtol(Name.c_str() + Prefix.size(), nullptr, 10);
    return true;
}

// The adapter behind a USB port, from the USB device's attributes a few
// levels above the tty's device in sysfs.
std::string UsbDescription(const std::string& SysEntry)
{
    std::string Dir = RealPath(SysEntry + "/device");
    for (int Level = 0; Level < 4 && Dir.size() > 1; ++Level) {
        const std::string Product = Attribute(Dir + "/product");
        if (!Product.empty()) {
            const std::string Maker = Attribute(Dir + "/manufacturer");
            return Maker.empty() || Product.compare(0, Maker.size(), Maker) == 0 ? Product : Maker + " " + Product;
        }
        Dir = Dir.substr(0, Dir.rfind('/'));
    }
    return {};
}

enum class Answer { Yes, No, Unknown };

// What sysfs says of a tty: is it a serial port with hardware behind it?
Answer SysfsSays(const std::string& SysEntry, bool Uart)
{
    struct stat St;
    if (::stat(SysEntry.c_str(), &St) != 0)
        return Answer::Unknown;
    if (Uart) {
        const std::string Type = Attribute(SysEntry + "/type");
        if (Type.empty())
            return Answer::Unknown;
        return std::atoi(Type.c_str()) != 0 ? Answer::Yes : Answer::No;
    }
    return ::stat((SysEntry + "/device").c_str(), &St) == 0 ? Answer::Yes : Answer::Unknown;
}

// Opens the port without waiting for a carrier and without making it our
// terminal, and asks it. No: not a serial port at all (a plain terminal);
// Unknown for a ttyS: a serial port with no UART behind it.
Answer AnswersAsSerialPort(const std::string& Path, bool Uart)
{
    const int Fd = ::open(Path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (Fd < 0)
        return errno == EACCES || errno == EPERM || errno == EBUSY ? Answer::Yes : Answer::No;
    Answer Serial = Answer::No;
    struct serial_struct Info {};
    if (::ioctl(Fd, TIOCGSERIAL, &Info) == 0) {
        Serial = Info.type != PORT_UNKNOWN ? Answer::Yes : Answer::Unknown;
    } else if (!Uart) {
        struct termios T;
        Serial = ::tcgetattr(Fd, &T) == 0 ? Answer::Yes : Answer::No;
    }
    ::close(Fd);
    return Serial;
}

} // namespace

std::string DescribeStableName(const std::string& Name)
{
    std::string S = Name;
    for (const char* Bus : {"usb-", "pci-", "platform-"})
        if (S.compare(0, std::char_traits<char>::length(Bus), Bus) == 0) {
            S = S.substr(std::char_traits<char>::length(Bus));
            break;
        }
    // "-if00-port0", "-if00": the interface, not the adapter.
    const size_t If = S.rfind("-if");
    if (If != std::string::npos && If > 0)
        S = S.substr(0, If);
    for (char& C : S)
        if (C == '_' || static_cast<unsigned char>(C) < 0x20 || C == 0x7F)
            C = ' ';
    return S;
}

std::vector<SerialPort> ListSerialPorts(const SerialPortFolders& Folders)
{
    std::vector<SerialPort> Ports;
    std::vector<SerialPort> Idle; // no hardware behind them: after all the others
    std::set<std::string> Shown; // devices a stable name already shows

    std::vector<std::string> Stable = Entries(Folders.ById);
    std::sort(Stable.begin(), Stable.end());
    for (const std::string& Name : Stable) {
        SerialPort P;
        P.Path = Folders.ById + "/" + Name;
        P.Device = RealPath(P.Path);
        P.Description = DescribeStableName(Name);
        if (!P.Device.empty())
            Shown.insert(P.Device);
        Ports.push_back(P);
    }

    const std::vector<std::string> Names = Entries(Folders.Dev);
    for (const char* Prefix : {"ttyUSB", "ttyACM", "ttyS"}) {
        const bool Uart = std::string(Prefix) == "ttyS";
        std::vector<std::pair<long, std::string>> Found;
        for (const std::string& Name : Names) {
            long Number = 0;
            if (Numbered(Name, Prefix, Number))
                Found.emplace_back(Number, Name);
        }
        std::sort(Found.begin(), Found.end());
        for (const auto& F : Found) {
            const std::string Path = Folders.Dev + "/" + F.second;
            struct stat St;
            if (::stat(Path.c_str(), &St) != 0 || !S_ISCHR(St.st_mode))
                continue;
            const std::string Device = RealPath(Path);
            if (Shown.count(Device))
                continue;
            const std::string SysEntry = Folders.SysTty + "/" + F.second;
            // Yes: a port; No from sysfs (UART type 0) or Unknown from the
            // port itself: a ttyS name with no UART behind it.
            Answer Says = SysfsSays(SysEntry, Uart);
            bool NoUart = Uart && Says == Answer::No;
            if (Says == Answer::Unknown) {
                Says = AnswersAsSerialPort(Path, Uart);
                NoUart = Uart && Says == Answer::Unknown;
            }
            if (Says != Answer::Yes && !NoUart)
                continue;
            SerialPort P;
            P.Path = Path;
            P.Device = Device;
            P.NoHardware = NoUart;
            P.Description = NoUart ? "serial port, no UART behind it" : Uart ? "serial port" : UsbDescription(SysEntry);
            if (P.Description.empty())
                P.Description = Prefix == std::string("ttyACM") ? "USB modem-class serial port" : "USB serial port";
            (NoUart ? Idle : Ports).push_back(P);
        }
    }
    Ports.insert(Ports.end(), Idle.begin(), Idle.end());
    return Ports;
}

} // namespace Link
