#include "gateway/Options.h"

#include <arpa/inet.h>

#include <cstring>

#include "core/Endpoint.h"
#include "link/RtuFrame.h"

namespace VelmorGateway {

const char* const Usage = R"(Usage: velmor-gateway --port DEVICE [--listen HOST:PORT] [options]

Shares one RS-485 line of Modbus RTU slaves (a Velmor controller or any
other) among several Modbus TCP clients: the panel, velmorctl, mbpoll, SCADA.
One request is on the line at a time; clients are served in turn; each answer
goes back to the client that asked, with its transaction id, and only when it
fits the request (address, function, length). The unit id is the slave's
address on the line. A slave that does not answer within the deadline gives
its client exception 0x0B. Runs until SIGINT or SIGTERM.

Modbus TCP has no authentication: anyone who reaches the port can move the
motor. The gateway listens on loopback unless told otherwise and warns when
it is not; to serve other machines, give the address of one interface and
use --allow (and --read-only where nobody needs to write), or a firewall or
an SSH tunnel in front.

  --port DEVICE       the serial port (opened exclusively); reopened by this
                      path after a hang-up (use a /dev/serial/by-id name)
  --listen HOST:PORT  where clients connect (default 127.0.0.1:5020): a
                      numeric address ([::1]:PORT for IPv6; port 0: any free
                      port); prints HOST:PORT as bound on one line once serving
  --baud N            the line's speed (default 9600)
  --parity P          none, even or odd (default even: 8E1, the Modbus default)
  --stopbits N        1 or 2 (default 1, or 2 when --parity none: 8N2)
  --timeout MS        the deadline of one transaction on the line, 1..10000
                      (default: the wire time of the request and of the
                      longest answer it can have, three frame silences and a
                      50 ms turnaround)
  --trace FILE        append every frame to FILE: monotonic microseconds,
                      direction (tcp-rx, line-tx, line-rx, tcp-tx, cache-tx),
                      bytes in hex, and what became of it
Safety:
  --read-only         refuse every function that writes (all but 0x01..0x04)
                      with exception 0x01
  --allow ADDR[/BITS] accept clients from this address range only; repeatable
                      (default: any peer that reaches the address)
  --allow-broadcast   pass unit id 0 (a write to every slave) on to the line;
                      refused with exception 0x0A without it
Limits:
  --max-clients N     clients at once, 1..4096 (default 64); one more is
                      answered exception 0x0A and closed, and it is logged
  --max-pending N     requests of one client queued or on the line, 1..64
                      (default 4); its further requests wait in its socket
  --queue-timeout MS  a request that waited this long for the line is answered
                      0x0B without going on it, 10..60000 (default 500)
  --idle-timeout S    close a client that sent nothing for S seconds, or that
                      read none of its answers for that long (default 60;
                      0: never for idleness, 10 s for unread answers)
  --cache MS          answer a read of input registers (0x04, the status
                      block) from the last answer to the same read while it
                      is at most MS old, 0..10000 (default 100; 0: off);
                      a write to a unit forgets what was cached for it
MQTT (publishes only; nothing is taken from MQTT):
  --mqtt HOST[:PORT]  the broker (numeric or a name; default port 1883)
  --poll UNIT[,UNIT]  the units whose status block is read and published
  --poll-interval MS  how often, 50..3600000 (default 1000)
  --line-name NAME    LINE in the topics (default: the port's file name)
      velmor/LINE/UNIT/status  JSON, velmorctl status --json's names
      velmor/LINE/UNIT/availability  "online" / "offline", retained
      velmor/LINE/availability       "online" / "offline", retained, the
                                     broker's last will "offline"
  --help              this text

Exit codes: 0 ended by SIGINT or SIGTERM (or --help), 1 bad usage, or a port,
address or trace file it cannot open at the start. A port that hangs up later
is reopened: its clients get 0x0B meanwhile.

Examples:
  velmor-gateway --port /dev/ttyUSB0 --baud 115200
  VELMOR_LINK='modbus-tcp:127.0.0.1:5020?unit=1&baud=115200' velmor
  mbpoll -m tcp -p 5020 -a 1 -t 3 -0 -r 0 -c 9 -1 127.0.0.1
  velmor-gateway --port /dev/ttyUSB0 --mqtt 127.0.0.1 --poll 1
  mosquitto_sub -h 127.0.0.1 -t 'velmor/#' -v
)";

namespace {

bool Number(const std::string& Value, long Low, long High, int& Out)
{
    long N = 0;
    if (!Link::ParseBounded(Value, Low, High, N))
        return false;
    Out = static_cast<int>(N);
    return true;
}

std::string FileName(const std::string& Path)
{
    const size_t Slash = Path.find_last_of('/');
    std::string Name = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
    for (char& C : Name)
        if (!((C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') || C == '-' || C == '_' ||
              C == '.'))
            C = '_';
    return Name.empty() ? "line" : Name;
}

} // namespace

Core::Result<AllowRange> ParseAllow(const std::string& Text)
{
    const std::string Fail = "--allow " + Text + ": give ADDRESS or ADDRESS/BITS, for example 192.168.10.0/24";
    const size_t Slash = Text.find('/');
    const std::string Address = Text.substr(0, Slash);
    AllowRange R;
    if (::inet_pton(AF_INET, Address.c_str(), R.Address) == 1) {
        R.V6 = false;
    } else if (::inet_pton(AF_INET6, Address.c_str(), R.Address) == 1) {
        R.V6 = true;
    } else {
        return Core::Status::Fail(Fail);
    }
    const int Most = R.V6 ? 128 : 32;
    R.Bits = Most;
    if (Slash != std::string::npos && !Number(Text.substr(Slash + 1), 0, Most, R.Bits))
        return Core::Status::Fail(Fail);
    return R;
}

bool InRange(const AllowRange& Range, const uint8_t* Peer, bool PeerV6)
{
    static const uint8_t Mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (PeerV6 && !Range.V6 && std::memcmp(Peer, Mapped, 12) == 0) {
        Peer += 12;
        PeerV6 = false;
    }
    if (PeerV6 != Range.V6)
        return false;
    const int Whole = Range.Bits / 8, Rest = Range.Bits % 8;
    if (std::memcmp(Peer, Range.Address, static_cast<size_t>(Whole)) != 0)
        return false;
    if (Rest == 0)
        return true;
    const uint8_t Mask = static_cast<uint8_t>(0xFF << (8 - Rest));
    return (Peer[Whole] & Mask) == (Range.Address[Whole] & Mask);
}

Core::Result<Options> ParseOptions(int Argc, char** Argv)
{
    Options O;
    O.Line.Baud = 9600;
    const Core::Result<std::vector<Link::ServeOption>> Given = Link::ReadServeOptions(
        Argc, Argv,
        {"--port", "--listen", "--baud", "--parity", "--stopbits", "--timeout", "--trace", "--allow", "--max-clients",
         "--max-pending", "--queue-timeout", "--idle-timeout", "--cache", "--mqtt", "--poll", "--poll-interval",
         "--line-name"},
        {"--read-only", "--allow-broadcast"}, O.Help);
    if (!Given || O.Help)
        return Given.Why().Ok() ? Core::Result<Options>(O) : Given.Why();
    for (const Link::ServeOption& Option : *Given) {
        const std::string& Name = Option.Name;
        const std::string& Value = Option.Value;
        const Core::Result<bool> Took = Link::TakeLineOption(Option, O.Line);
        if (!Took)
            return Took.Why();
        long N = 0;
        if (*Took) {
            continue;
        } else if (Name == "--port") {
            if (Value.empty())
                return Core::Status::Fail("--port needs a device");
            O.Port = Value;
        } else if (Name == "--listen") {
            // The port may have leading zeros beyond five digits here.
            const Core::Result<Core::EndpointParts> At = Core::SplitEndpoint(Value);
            if (!At || !Link::ParseBounded(At->Port, 0, 65535, N))
                return Core::Status::Fail("--listen " + Value + ": give HOST:PORT, for example 127.0.0.1:5020");
            O.Host = At->Host;
            O.ListenPort = static_cast<uint16_t>(N);
        } else if (Name == "--timeout") {
            if (!Number(Value, 1, 10000, O.TimeoutMs))
                return Core::Status::Fail("--timeout " + Value + ": use 1..10000 (ms)");
        } else if ((Name == "--read-only" || Name == "--allow-broadcast") && !Value.empty()) {
            return Core::Status::Fail(Name + " takes no value");
        } else if (Name == "--read-only") {
            O.ReadOnly = true;
        } else if (Name == "--allow-broadcast") {
            O.AllowBroadcast = true;
        } else if (Name == "--allow") {
            const Core::Result<AllowRange> R = ParseAllow(Value);
            if (!R)
                return R.Why();
            O.Allowed.push_back(*R);
        } else if (Name == "--max-clients") {
            if (!Number(Value, 1, 4096, O.MaxClients))
                return Core::Status::Fail("--max-clients " + Value + ": use 1..4096");
        } else if (Name == "--max-pending") {
            if (!Number(Value, 1, 64, O.MaxPending))
                return Core::Status::Fail("--max-pending " + Value + ": use 1..64");
        } else if (Name == "--queue-timeout") {
            if (!Number(Value, 10, 60000, O.QueueMs))
                return Core::Status::Fail("--queue-timeout " + Value + ": use 10..60000 (ms)");
        } else if (Name == "--idle-timeout") {
            if (!Number(Value, 0, 86400, O.IdleSeconds))
                return Core::Status::Fail("--idle-timeout " + Value + ": use 0..86400 (s)");
        } else if (Name == "--cache") {
            if (!Number(Value, 0, 10000, O.CacheMs))
                return Core::Status::Fail("--cache " + Value + ": use 0..10000 (ms)");
        } else if (Name == "--mqtt") {
            // HOST, HOST:PORT or [IPv6]:PORT; a bare IPv6 address has no port.
            const Core::Result<Core::EndpointParts> At = Core::SplitEndpoint(Value);
            if (At) {
                if (At->Host.empty() || !Link::ParseBounded(At->Port, 1, 65535, N))
                    return Core::Status::Fail("--mqtt " + Value + ": give HOST or HOST:PORT");
                O.MqttHost = At->Host;
                O.MqttPort = static_cast<uint16_t>(N);
            } else if (!Value.empty() && Value[0] != '[') {
                O.MqttHost = Value;
            } else {
                return Core::Status::Fail("--mqtt " + Value + ": give HOST or HOST:PORT");
            }
        } else if (Name == "--poll") {
            size_t From = 0;
            while (true) {
                const size_t Comma = Value.find(',', From);
                const size_t Length = Comma == std::string::npos ? std::string::npos : Comma - From;
                const std::string Unit = Value.substr(From, Length);
                if (!Link::ParseBounded(Unit, Link::MinAddress, Link::MaxAddress, N))
                    return Core::Status::Fail("--poll " + Value + ": give unit ids 1..247, separated by commas");
                O.PollUnits.push_back(static_cast<uint8_t>(N));
                if (Comma == std::string::npos)
                    break;
                From = Comma + 1;
            }
        } else if (Name == "--poll-interval") {
            if (!Number(Value, 50, 3600000, O.PollMs))
                return Core::Status::Fail("--poll-interval " + Value + ": use 50..3600000 (ms)");
        } else if (Name == "--line-name") {
            if (Value.empty() || Value.find_first_of("/#+") != std::string::npos)
                return Core::Status::Fail("--line-name " + Value + ": give a name without '/', '#' or '+'");
            O.LineName = Value;
        }
    }
    if (O.Port.empty())
        return Core::Status::Fail("say which serial port to share: --port DEVICE");
    if (!O.PollUnits.empty() && O.MqttHost.empty())
        return Core::Status::Fail("--poll publishes to MQTT: give --mqtt HOST[:PORT] too");
    if (O.LineName.empty())
        O.LineName = FileName(O.Port);
    if (O.Line.StopBits == 0)
        O.Line.StopBits = Link::DefaultStopBits(O.Line.Framing);
    return O;
}

} // namespace VelmorGateway
