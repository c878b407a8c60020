#include "gateway/Options.h"

#include "core/Endpoint.h"

namespace VelmorGateway {

const char* const Usage = R"(Usage: velmor-gateway --port DEVICE --listen HOST:PORT [options]

Shares one RS-485 line of Modbus RTU slaves (a Velmor controller or any
other) among any number of Modbus TCP clients: the panel, velmorctl, mbpoll,
SCADA. Requests go on the line one at a time in the order they arrived; each
answer goes back to the client that asked, with its transaction id. The unit
id is the slave's address on the line. A slave that does not answer within
the deadline gives its client exception 0x0B. Runs until SIGINT or SIGTERM.

  --port DEVICE       the serial port (opened exclusively)
  --listen HOST:PORT  where clients connect: a numeric address (0.0.0.0 for all,
                      [::1]:PORT for IPv6; port 0: any free port); prints
                      HOST:PORT as bound on one line once serving
  --baud N            the line's speed (default 9600)
  --parity P          none, even or odd (default even: 8E1, the Modbus default)
  --stopbits N        1 or 2 (default 1, or 2 when --parity none: 8N2)
  --timeout MS        the deadline of one transaction on the line, 1..10000
                      (default: the wire time of request and answer, three
                      frame silences and a 50 ms turnaround)
  --trace FILE        append every frame to FILE: monotonic microseconds,
                      direction (tcp-rx, line-tx, line-rx, tcp-tx), bytes in hex
  --help              this text

Exit codes: 0 ended by SIGINT or SIGTERM (or --help), 1 bad usage, a port or
address it cannot open, or the port gone (an adapter unplugged).

Example:
  velmor-gateway --port /dev/ttyUSB0 --baud 115200 --listen 0.0.0.0:5020
  VELMOR_LINK=modbus-tcp:127.0.0.1:5020?unit=1&baud=115200 velmor
  mbpoll -m tcp -p 5020 -a 1 -t 3 -0 -r 0 -c 9 -1 127.0.0.1
)";

Core::Result<Options> ParseOptions(int Argc, char** Argv)
{
    Options O;
    O.Line.Baud = 9600;
    const Core::Result<std::vector<Link::ServeOption>> Given = Link::ReadServeOptions(
        Argc, Argv, {"--port", "--listen", "--baud", "--parity", "--stopbits", "--timeout", "--trace"}, {}, O.Help);
    if (!Given || O.Help)
        return Given.Why().Ok() ? Core::Result<Options>(O) : Given.Why();
    for (const Link::ServeOption& Option : *Given) {
        const std::string& Value = Option.Value;
        const Core::Result<bool> Took = Link::TakeLineOption(Option, O.Line);
        if (!Took)
            return Took.Why();
        long N = 0;
        if (*Took) {
            continue;
        } else if (Option.Name == "--port") {
            if (Value.empty())
                return Core::Status::Fail("--port needs a device");
            O.Port = Value;
        } else if (Option.Name == "--listen") {
            // The port may have leading zeros beyond five digits here.
            const Core::Result<Core::EndpointParts> At = Core::SplitEndpoint(Value);
            if (!At || !Link::ParseBounded(At->Port, 0, 65535, N))
                return Core::Status::Fail("--listen " + Value + ": give HOST:PORT, for example 127.0.0.1:5020");
            O.Host = At->Host;
            O.ListenPort = static_cast<uint16_t>(N);
        } else if (Option.Name == "--timeout") {
            if (!Link::ParseBounded(Value, 1, 10000, N))
                return Core::Status::Fail("--timeout " + Value + ": use 1..10000 (ms)");
            O.TimeoutMs = static_cast<int>(N);
        }
    }
    if (O.Port.empty())
        return Core::Status::Fail("say which serial port to share: --port DEVICE");
    if (O.Host.empty())
        return Core::Status::Fail("say where to listen: --listen HOST:PORT");
    if (O.Line.StopBits == 0)
        O.Line.StopBits = Link::DefaultStopBits(O.Line.Framing);
    return O;
}

} // namespace VelmorGateway
