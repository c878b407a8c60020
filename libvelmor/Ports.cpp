// VLMS_ListPorts: the serial ports to pick from, the one list of
// linksetting/SerialPorts that the panel's link dialog and velmorctl ports
// show, handed to a caller of the C interface (Python's velmor.ports()).
#include "libvelmor/velmor_session.h"

#include <exception>
#include <vector>

#include "linksetting/SerialPorts.h"

extern "C" int32_t VLMS_ListPorts(VLMS_PortFn found, void* user)
{
    // Nothing thrown leaves the library: out of memory lists nothing.
    std::vector<Link::SerialPort> Ports;
    try {
        Ports = Link::ListSerialPorts();
    } catch (const std::exception&) {
        return 0;
    }
    int32_t Count = 0;
    for (const Link::SerialPort& P : Ports) {
        if (found)
            found(user, P.Path.c_str(), P.Description.c_str(), P.NoHardware ? 1 : 0);
        ++Count;
    }
    return Count;
}
