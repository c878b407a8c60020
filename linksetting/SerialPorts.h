#pragma once

#include <string>
#include <vector>

// The serial ports present on this machine, for a person picking the link's
// port (the panel's link dialog, velmorctl ports). Plain C++, no Qt.
//
// First the stable names under /dev/serial/by-id/ (sorted by name), each
// with the adapter it names; then the ports /dev/ttyUSB*, /dev/ttyACM* and
// /dev/ttyS* (in that order, by number) that are serial ports and that no
// stable name already shows. Whether a tty is a serial port is asked of sysfs
// (/sys/class/tty/NAME: a USB or ACM port with a device behind it; a ttyS
// whose UART type is not 0, "unknown", since the kernel makes ttyS0..3 even
// where there is no UART); only where sysfs says nothing is the port opened
// (O_NONBLOCK|O_NOCTTY) and asked with TIOCGSERIAL or tcgetattr. A port that
// cannot be opened for want of permission is still listed: it is there.
// A ttyS with no UART behind it (type 0) is listed after all the others,
// marked NoHardware: a name to type, never one to offer first.
namespace Link {

struct SerialPortFolders {
    std::string ById = "/dev/serial/by-id";
    std::string Dev = "/dev";
    std::string SysTty = "/sys/class/tty";
};

struct SerialPort {
    std::string Path;        // for the link: /dev/serial/by-id/NAME or /dev/ttyUSB0
    std::string Device;      // what Path is: the stable name's target; empty when it points nowhere
    std::string Description; // the adapter in a few words, e.g. "FTDI FT232R USB UART A10K1ABC"
    bool NoHardware = false; // a ttyS name the kernel made with no UART behind it
};

std::vector<SerialPort> ListSerialPorts(const SerialPortFolders& Folders = {});

// The adapter that a stable name describes: "usb-FTDI_FT232R_USB_UART_A10K1ABC-if00-port0"
// gives "FTDI FT232R USB UART A10K1ABC".
std::string DescribeStableName(const std::string& Name);

} // namespace Link
