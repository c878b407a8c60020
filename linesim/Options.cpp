#include "linesim/Options.h"

#include <cstdio>

#include "core/Endpoint.h"
#include "link/RtuFrame.h"
#include "link/ServeOptions.h"
#include "link/ServeSocket.h"

namespace LineSim {

const char* const Usage = R"(Usage: velmor-sim (--pty PATH | --port DEVICE | --tcp HOST:PORT | --modbus-tcp HOST:PORT) [options]

The virtual controller VLM-1 as a device on a Modbus RTU line, with the same
model as the panel's in-process virtual controller (the line protocol is
docs/protocol.md in the Velmor source). It runs until SIGINT or SIGTERM, so the
axis keeps its coordinate while panels come and go.

Where it serves (exactly one):
  --pty PATH          create a pseudo-terminal and keep a symlink at PATH to its
                      slave; prints "SLAVE PATH" on one line, then serves
                      (an existing PATH is replaced only when it is a symlink)
  --port DEVICE       a serial port, raw, opened exclusively (locked, as the
                      library locks it: refused while another program holds
                      it); prints DEVICE
  --tcp [HOST:]PORT   RTU frames over TCP (no MBAP header), one client at a time
                      (a second is turned away), a numeric address ([::1]:PORT
                      for IPv6; port 0: any free port; 127.0.0.1 when only a
                      port is given); prints HOST:PORT as bound
  --modbus-tcp [HOST:]PORT
                      Modbus TCP (MBAP framing) as a device with its own
                      Ethernet port: any number of clients at once, each
                      answered with its transaction id; the unit id is the
                      address (--address; 0 and 255 reach the first)
                      Modbus has no authentication: an address beyond
                      loopback is warned about on standard error
Options:
  --baud N            line speed (default 115200); sets the port's speed and the
                      silence that ends a frame (3.5 characters, 1.75 ms above
                      19200); a pseudo-terminal or TCP uses a 5 ms silence
  --parity P          none, even or odd (default even: 8E1, the Modbus default)
  --stopbits N        1 or 2 (default 1, or 2 when --parity none: 8N2)
  --address N[,N...]  slave address 1..247 (default 1); 0 (broadcast) is carried
                      out and never answered. Several addresses (--address 1,2,3)
                      serve a controller each on the one line, each with its
                      own model and stored parameters: the first in the state
                      file, the others in the state file with -N before its
                      extension (virtual-controller-2.ini); they share the
                      control file. A request to an address not served goes
                      unanswered
  --state FILE        the stored parameters (default: as the virtual controller,
                      $VELMOR_SIM_STATE, else
                      ~/.local/state/velmor/virtual-controller.ini), loaded at
                      start (power-on) and written by the store command
  --control FILE      the control file (default: as the virtual controller,
                      $VELMOR_SIM_CONTROL, else virtual-controller.control beside
                      the state file), read again within 200 ms of a change
  --trace FILE        append every frame received and sent to FILE: monotonic
                      microseconds, rx or tx, the bytes in hex
  --fault KIND        play a fault on the next answer: no-answer (the request is
                      carried out, its answer lost), late=MS (the answer MS ms
                      late), bad-crc, truncate (the answer without its last 3
                      bytes), hangup=MS (the request is lost, the port goes away
                      and comes back after MS ms)
  --fault-every       play the --fault on every answer instead of the next only
  --help              this text

Control file lines for the line (besides link=down/up and fail lines):
  line no-answer | line late MS | line bad-crc | line truncate
                      on every answer while the line is in the file
  line-once KIND      on the next answer only (armed again when the file changes)
  line hangup MS      the next request is lost and the line hangs up: the
                      pseudo-terminal and its symlink go (TCP: the client and the
                      listener), back after MS ms at the same place; once per
                      change of the file
  link=down           every request goes unanswered (the controller hears nothing)

The link of a panel, velmorctl or Python on it ($VELMOR_LINK or link.conf):
  --pty PATH or --port DEVICE  serial:PATH?OPTIONS
  --tcp HOST:PORT              tcp:HOST:PORT?OPTIONS
  --modbus-tcp HOST:PORT       modbus-tcp:HOST:PORT?OPTIONS (as to velmor-gateway,
                               the Modbus TCP gateway for a real line)
  virtual is the library's own in-process controller, with no velmor-sim.
OPTIONS, joined by '&' (quote the line in a shell): baud=N (default 115200;
behind tcp: and modbus-tcp: the gateway's line, default 9600), address=N
(as --address; unit=N on modbus-tcp:), timeout=MS, parity=none|even|odd and
stopbits=1|2 (serial: only; as --parity and --stopbits, default 8E1),
watchdog=MS (the communication watchdog, written at each open), trace=FILE
(the frames as the library saw them).

Exit codes: 0 ended by SIGINT or SIGTERM (or --help), 1 bad usage or a place
it cannot serve (a port another program holds: "DEVICE is busy").

Examples:
  velmor-sim --pty /tmp/velmor-line
  VELMOR_LINK=serial:/tmp/velmor-line velmor
  velmor-sim --tcp 127.0.0.1:5020 --address 3
  velmor-sim --pty /tmp/velmor-line --address 1,2
  VELMOR_LINK='tcp:127.0.0.1:5020?address=3&baud=115200' velmor
  velmor-sim --modbus-tcp 127.0.0.1:5020
  velmorctl --link 'modbus-tcp:127.0.0.1:5020?unit=1&baud=115200' status
  velmor-sim --port /dev/ttyUSB1 --baud 9600 --parity none --fault late=200 --fault-every
  VELMOR_LINK='serial:/dev/ttyUSB0?baud=9600&parity=none&stopbits=2' velmor
  echo 'line hangup 2000' >> ~/.local/state/velmor/virtual-controller.control
)";

Core::Result<Options> ParseOptions(int Argc, char** Argv)
{
    Options C;
    const Core::Result<std::vector<Link::ServeOption>> Given = Link::ReadServeOptions(
        Argc, Argv,
        {"--pty", "--port", "--tcp", "--baud", "--address", "--state", "--control", "--fault", "--parity",
         "--stopbits", "--trace", "--modbus-tcp"},
        {"--fault-every"}, C.Help);
    if (!Given || C.Help)
        return Given.Why().Ok() ? Core::Result<Options>(C) : Given.Why();
    int Places = 0;
    for (const Link::ServeOption& O : *Given) {
        const std::string& Arg = O.Name;
        const std::string& Value = O.Value;
        const Core::Result<bool> Took = Link::TakeLineOption(O, C.Where.Line);
        if (!Took)
            return Took.Why();
        if (*Took)
            continue;
        long N = 0;
        if (Arg == "--fault-every") {
            C.Every = true;
        } else if (Arg == "--pty" || Arg == "--port") {
            if (Value.empty())
                return Core::Status::Fail(Arg + " needs a path");
            C.Where.Kind = Arg == "--pty" ? Place::Pty : Place::Port;
            C.Where.Path = Value;
            ++Places;
        } else if (Arg == "--tcp" || Arg == "--modbus-tcp") {
            // A port alone listens on loopback.
            const bool PortOnly = !Value.empty() && Value.find_first_not_of("0123456789") == std::string::npos;
            const Core::Result<Core::Endpoint> At = Core::ParseEndpoint(PortOnly ? "127.0.0.1:" + Value : Value);
            if (!At)
                return Core::Status::Fail(Arg + " " + Value + ": give HOST:PORT, for example 127.0.0.1:5020");
            C.Where.Host = At->Host;
            C.Where.TcpPort = At->Port;
            C.Where.Kind = Arg == "--tcp" ? Place::Tcp : Place::ModbusTcp;
            ++Places;
        } else if (Arg == "--address") {
            std::vector<uint8_t> List;
            for (size_t From = 0;;) {
                const size_t Comma = Value.find(',', From);
                const std::string One = Value.substr(From, Comma == std::string::npos ? std::string::npos : Comma - From);
                if (!Link::ParseBounded(One, Link::MinAddress, Link::MaxAddress, N))
                    return Core::Status::Fail("--address " + Value + ": use 1..247, or several joined by commas (1,2,3)");
                for (uint8_t Had : List)
                    if (Had == N)
                        return Core::Status::Fail("--address " + Value + ": address " + One + " is given twice");
                List.push_back(static_cast<uint8_t>(N));
                if (Comma == std::string::npos)
                    break;
                From = Comma + 1;
            }
            C.Addresses = List;
            C.Address = List.front();
        } else if (Arg == "--state") {
            C.State = Value;
            C.StateSet = true;
        } else if (Arg == "--control") {
            C.Control = Value;
            C.ControlSet = true;
        } else if (Arg == "--fault") {
            if (!ParseFault(Value, C.CommandLineFault))
                return Core::Status::Fail("--fault " + Value +
                                          ": use no-answer, late=MS, bad-crc, truncate or hangup=MS");
            C.HaveFault = true;
        }
    }
    if (Places != 1)
        return Core::Status::Fail(Places == 0 ? "say where to serve: --pty PATH, --port DEVICE, --tcp HOST:PORT or "
                                                "--modbus-tcp HOST:PORT"
                                              : "give only one of --pty, --port, --tcp and --modbus-tcp");
    if (C.Every && !C.HaveFault)
        return Core::Status::Fail("--fault-every needs a --fault");
    if (!C.Where.Line.StopBits)
        C.Where.Line.StopBits = Link::DefaultStopBits(C.Where.Line.Framing);
    if (C.Where.Kind == Place::Tcp || C.Where.Kind == Place::ModbusTcp) {
        const std::string Warning = Link::ExposedWarning(C.Where.Host, C.Where.TcpPort);
        if (!Warning.empty())
            std::fprintf(stderr, "velmor-sim: %s\n", Warning.c_str());
    }
    return C;
}

} // namespace LineSim
