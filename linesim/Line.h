#pragma once

#include <cstdint>
#include <string>

#include "link/ServeOptions.h"

// Where velmor-sim serves: a pseudo-terminal it creates (with a symlink to
// its slave), a serial port, or a TCP listener taking one client at a time.
// Each can be taken away (a hang-up) and brought back (a replug).
namespace LineSim {

struct Place {
    enum Kind { None, Pty, Port, Tcp, ModbusTcp } Kind = None;
    std::string Path; // the symlink (Pty) or the device (Port)
    Link::LineOptions Line = {115200, Link::Parity::Even, 0, {}}; // Port: the speed and the framing
    std::string Host; // Tcp
    uint16_t TcpPort = 0;
};

class Line {
public:
    explicit Line(Place Where) : FWhere(std::move(Where)) {}
    ~Line() { Close(); }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Creates the pseudo-terminal, opens the port or listens, or says why
    // it cannot.
    Core::Status Open();
    // Hangs up: closes everything; the symlink goes too (while it still
    // names our pseudo-terminal). Open again replugs, at the same symlink or
    // TCP port.
    void Close();
    bool IsOpen() const { return FData >= 0 || FListen >= 0; }

    // What to say on stdout once open: "SLAVE SYMLINK", "PORT" or "HOST:PORT".
    std::string Describe() const;

    // The descriptor requests arrive on and answers leave by (-1: none yet,
    // a TCP listener waiting for its client), and the TCP listener (or -1).
    int DataFd() const { return FData; }
    int ListenFd() const { return FListen; }
    // Takes a waiting TCP client, or turns it away when one is connected.
    // True when a new client was taken (its bytes start a fresh frame).
    bool Accept();
    // The TCP client went away (or the port failed): closes its descriptor.
    void DropData();
    bool IsTcp() const { return FWhere.Kind == Place::Tcp || FWhere.Kind == Place::ModbusTcp; }

private:
    Core::Status OpenPty();
    Core::Status OpenPort();
    Core::Status Listen();

    Place FWhere;
    int FData = -1;
    int FListen = -1;
    int FSlave = -1; // our own hold on the pty's slave, so the master never hangs up
    std::string FSlavePath;
    uint16_t FBoundPort = 0;
};

} // namespace LineSim
