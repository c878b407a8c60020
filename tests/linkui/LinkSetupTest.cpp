// The link line written from its settings, the setting file written whole,
// and the list of serial ports on fake folders (ptys standing in for
// adapters). Plain C++.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "linksetting/LinkConfig.h"
#include "linksetting/LinkFormat.h"
#include "linksetting/SerialPorts.h"
#include "tests/support/Pty.h"

namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path Path;
    TempDir()
    {
        std::string Pattern = (fs::temp_directory_path() / "velmor-linksetup-XXXXXX").string();
        Path = ::mkdtemp(&Pattern[0]);
    }
    ~TempDir()
    {
        std::error_code Ignored;
        fs::remove_all(Path, Ignored);
    }
};

using TestSupport::Pty;

std::string Slurp(const fs::path& P)
{
    std::ifstream In(P);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
}

void Write(const fs::path& P, const std::string& Text)
{
    fs::create_directories(P.parent_path());
    std::ofstream(P) << Text;
}

TEST(LinkFormat, EveryLineItWritesParsesBackToTheSameSettings)
{
    using K = Link::LinkConfig::Kind;
    std::vector<Link::LinkConfig> Cases;
    Cases.push_back({});
    Link::LinkConfig S;
    S.Type = K::Serial;
    S.Path = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
    Cases.push_back(S);
    S.Baud = 9600;
    S.Address = 247;
    S.TimeoutMs = 10000;
    Cases.push_back(S);
    S.Path = "/tmp/a line&with=odd chars";
    S.Baud = 115200;
    S.TimeoutMs = 1;
    Cases.push_back(S);
    Link::LinkConfig T;
    T.Type = K::Tcp;
    T.Host = "127.0.0.1";
    T.Port = 4001;
    Cases.push_back(T);
    T.Host = "::1";
    T.Port = 65535;
    T.Baud = 1200;
    T.Address = 2;
    Cases.push_back(T);

    for (const Link::LinkConfig& C : Cases) {
        const std::string Line = Link::FormatLinkLine(C);
        const Core::Result<Link::LinkConfig> Parsed = Link::ParseLinkLine(Line);
        ASSERT_TRUE(Parsed) << Line << ": " << Parsed.Error();
        const Link::LinkConfig& Back = *Parsed;
        EXPECT_EQ(Back.Type, C.Type) << Line;
        EXPECT_EQ(Back.Path, C.Path) << Line;
        EXPECT_EQ(Back.Host, C.Host) << Line;
        EXPECT_EQ(Back.Port, C.Port) << Line;
        EXPECT_EQ(Back.Baud, C.Baud) << Line;
        EXPECT_EQ(Back.Address, C.Address) << Line;
        EXPECT_EQ(Back.TimeoutMs, C.TimeoutMs) << Line;
        const Core::Result<std::string> Checked = Link::LinkLineFor(C);
        EXPECT_TRUE(Checked) << Checked.Error();
        EXPECT_EQ(*Checked, Line);
    }
    // Defaults stay out of the line; an IPv6 host goes in brackets.
    EXPECT_EQ(Link::FormatLinkLine(Cases[1]), "serial:" + Cases[1].Path);
    EXPECT_EQ(Link::FormatLinkLine(Cases[5]), "tcp:[::1]:65535?baud=1200&address=2");
}

TEST(LinkFormat, SettingsTheLineCannotCarryAreRefusedWithAReason)
{
    Link::LinkConfig C;
    C.Type = Link::LinkConfig::Kind::Serial;
    for (const char* Path : {"/dev/tty?USB0", "/dev/ttyUSB0 ", "", "/dev/tty\x01"}) {
        C.Path = Path;
        const Core::Result<std::string> Line = Link::LinkLineFor(C);
        EXPECT_FALSE(Line) << Path;
        EXPECT_FALSE(Line.Error().empty()) << Path;
    }
    C.Type = Link::LinkConfig::Kind::Tcp;
    C.Host = "gateway.local";
    C.Port = 4001;
    const Core::Result<std::string> Line = Link::LinkLineFor(C);
    EXPECT_FALSE(Line);
    EXPECT_NE(Line.Error().find("not a numeric address"), std::string::npos) << Line.Error();
}

TEST(LinkFormat, TheFileIsWrittenWholeInAPrivateFolderAndReplacesTheOld)
{
    TempDir Dir;
    const fs::path File = Dir.Path / "config" / "velmor" / "link.conf";
    Core::Status Saved = Link::SaveLinkFile(File.string(), "serial:/dev/ttyUSB0");
    ASSERT_TRUE(Saved) << Saved.Text();
    EXPECT_EQ(Slurp(File), "serial:/dev/ttyUSB0\n");
    for (const fs::path& Folder : {Dir.Path / "config", Dir.Path / "config" / "velmor"})
        EXPECT_EQ(fs::status(Folder).permissions() & fs::perms::all, fs::perms::owner_all) << Folder;

    Saved = Link::SaveLinkFile(File.string(), "virtual");
    ASSERT_TRUE(Saved) << Saved.Text();
    EXPECT_EQ(Slurp(File), "virtual\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(File.parent_path()), fs::directory_iterator()), 1)
        << "a temporary file was left behind";

    // The library reads back what was written.
    const Link::LinkSetting S = Link::LinkSettingFrom(nullptr, (Dir.Path / "config").c_str(), nullptr,
                                                      [](const std::string& P, std::string& Text) {
                                                          std::ifstream In(P);
                                                          if (!In)
                                                              return ENOENT;
                                                          Text = Slurp(P);
                                                          return 0;
                                                      });
    EXPECT_TRUE(S.Ok) << S.Error;
    EXPECT_EQ(S.Source, File.string());

    // A folder that cannot be made: an error, and the old file stays.
    Write(Dir.Path / "blocked", "a file where a folder should be");
    Saved = Link::SaveLinkFile((Dir.Path / "blocked" / "velmor" / "link.conf").string(), "virtual");
    EXPECT_FALSE(Saved);
    EXPECT_NE(Saved.Text().find("blocked"), std::string::npos) << Saved.Text();
    EXPECT_FALSE(Link::SaveLinkFile("", "virtual"));
}

TEST(SerialPorts, StableNamesFirstThenTheTtysThatAreSerialPorts)
{
    TempDir Dir;
    Pty Adapter, Usb, Acm, Uart, NoUart, Unasked;
    ASSERT_FALSE(Adapter.Slave.empty());
    Link::SerialPortFolders F;
    F.ById = (Dir.Path / "dev" / "serial" / "by-id").string();
    F.Dev = (Dir.Path / "dev").string();
    F.SysTty = (Dir.Path / "sys" / "class" / "tty").string();
    fs::create_directories(F.ById);
    fs::create_directories(F.SysTty);

    fs::create_symlink(Adapter.Slave, fs::path(F.ById) / "usb-FTDI_FT232R_USB_UART_A10K1ABC-if00-port0");
    fs::create_symlink(Dir.Path / "unplugged", fs::path(F.ById) / "usb-1a86_USB_Serial-if00-port0");
    // ttyUSB1 is the adapter above under its kernel name: shown once only.
    fs::create_symlink(Adapter.Slave, fs::path(F.Dev) / "ttyUSB1");
    fs::create_symlink(Usb.Slave, fs::path(F.Dev) / "ttyUSB10");
    fs::create_symlink(Acm.Slave, fs::path(F.Dev) / "ttyACM0");
    Write(fs::path(F.Dev) / "ttyUSB2", "a plain file is no port");
    fs::create_symlink(Uart.Slave, fs::path(F.Dev) / "ttyS1");
    fs::create_symlink(NoUart.Slave, fs::path(F.Dev) / "ttyS0");
    fs::create_symlink(Unasked.Slave, fs::path(F.Dev) / "ttyS2");
    fs::create_symlink(Usb.Slave, fs::path(F.Dev) / "ttyXYZ");
    // sysfs: the USB port's adapter; a ttyS without a UART (type 0) and one
    // with a 16550A (type 4). ttyS2 has no sysfs entry: opened and asked,
    // a pty is no UART.
    Write(fs::path(F.SysTty) / "ttyUSB10" / "product", "CP2102N USB to UART Bridge Controller\n");
    Write(fs::path(F.SysTty) / "ttyUSB10" / "manufacturer", "Silicon Labs\n");
    fs::create_directories(fs::path(F.SysTty) / "ttyUSB10" / "device");
    Write(fs::path(F.SysTty) / "ttyS0" / "type", "0\n");
    Write(fs::path(F.SysTty) / "ttyS1" / "type", "4\n");

    std::ostringstream Got;
    for (const Link::SerialPort& P : Link::ListSerialPorts(F))
        Got << P.Path.substr(Dir.Path.string().size()) << " | "
            << (P.Device.empty() ? "-" : P.Device == Adapter.Slave ? "adapter" : P.Device.substr(0, 9)) << " | "
            << P.Description << (P.NoHardware ? " | no hardware" : "") << "\n";
    EXPECT_EQ(Got.str(), "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0 | - | 1a86 USB Serial\n"
                         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1ABC-if00-port0 | adapter | FTDI "
                         "FT232R USB UART A10K1ABC\n"
                         "/dev/ttyUSB10 | /dev/pts/ | Silicon Labs CP2102N USB to UART Bridge Controller\n"
                         "/dev/ttyACM0 | /dev/pts/ | USB modem-class serial port\n"
                         "/dev/ttyS1 | /dev/pts/ | serial port\n"
                         "/dev/ttyS0 | /dev/pts/ | serial port, no UART behind it | no hardware\n");

    // No folders at all: nothing, and no failure.
    EXPECT_TRUE(Link::ListSerialPorts({"/nonexistent/by-id", "/nonexistent", "/nonexistent/sys"}).empty());
}

} // namespace
