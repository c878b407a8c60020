#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/Backend.h"
#include "linksetting/LinkConfig.h"
#include "link/Registers.h"
#include "link/RtuFrame.h"
#include "link/Trace.h"
#include "link/Transport.h"
#include "link/TransportShare.h"

// The device library's operations over the line: Modbus RTU requests on the
// register map of link/Registers.h, through a serial port or a TCP gateway
// (RTU frames as they are, or Modbus TCP's MBAP framing on modbus-tcp).
// One of the library's backends (device/Backend.h), like the in-process
// virtual controller: one member function per library call, each returning
// the call's truth value and, on failure, leaving the text GetLastError
// hands out. Every call returns within its deadline on the caller's thread;
// no threads.
//
// - OpenDevice opens the port (or joins it, below) and reads the device's
//   identification text: an open succeeds only when a controller answered.
//   The probe is tried twice.
// - Each request has a deadline: the wire time of the request and its answer
//   at the line's speed, plus three frame gaps and a turnaround allowance of
//   50 ms (about 58 ms for a status read at 115200 8E1), and 20 ms more for
//   the network behind a gateway, and on modbus-tcp the wait a Modbus TCP
//   gateway may give a request before its turn on a shared line
//   (Link::GatewayQueueUs; the gateway answers 0x0B itself when the line
//   stays silent, so only a gateway that does not answer costs the whole
//   wait); timeout= in the link setting replaces it.
// - Before it sends, the client leaves the line silent for 3.5 characters
//   (1.75 ms above 19200 baud) after the last byte of any frame on it, as
//   Modbus RTU asks (not on modbus-tcp: the gateway keeps its own line).
// - Bytes before an answer that cannot begin it (not our address and the
//   request's function or its exception) are skipped.
// - No answer, a truncated answer or a damaged one (bad CRC, wrong address)
//   to a read, a setter or a repeatable command is asked for once more; a
//   relative move (StartdN) is never sent twice: its failure is reported and
//   the link stays open. Failing twice, or a hang-up at any time, fails the
//   call with its text and closes the port, so every later call fails until
//   the next OpenDevice.
// - A refusal (exception 0x03, or 0x04 with a reason) reads the reason code
//   and its value and gives the same English text as the in-process virtual
//   controller.
// - One status request a tick: a read fetches the whole status block and the
//   reads after it are answered from it for FreshUs; any setter or command
//   makes it stale.
// - Clients in one process that reach the same port (or TCP endpoint) share
//   it (link/TransportShare.h): each request and its answer run whole under
//   the port's turn, so two clients at different addresses on one line may
//   be used from two threads. Each client keeps its own address, status
//   block and last error. A hang-up closes the port for all of them; a
//   controller that does not answer closes the link of its own client only.
namespace Link {

class RtuClient : public Device::Backend {
public:
    static constexpr const char* NotOpenText = "Device is not open";
    static constexpr int64_t FreshUs = 10000;
    static constexpr int64_t TurnaroundUs = 50000;
    static constexpr int64_t NetworkUs = 20000;

    // Clock: monotonic microseconds, for how fresh the status block is (the
    // deadlines always run on the real clock).
    using Clock = int64_t (*)();
    explicit RtuClient(LinkConfig Config, Clock Now = NowUs);
    ~RtuClient() override;

    VELMOR_BACKEND_OPERATIONS

    // The twelve parameters as the controller holds them (holding registers
    // 0x0000..0x0017, one request, asked for once more like any read): step,
    // decay, Iw, Ia, Ih, Vm, Vw, Aw, the three limit words, the control word,
    // into Out[0..11] (VLMS_ReadParameters).
    static constexpr int ParameterCount = 12;
    bool ReadParameters(int32_t* Out);

    // The communication watchdog (holding register 0x0030): Ms 0..65535, 0
    // off (VLMS_SetWatchdog). With watchdog= in the link setting OpenDevice
    // writes it after the identification read, and the open fails when the
    // controller does not take it.
    bool SetWatchdog(int32_t Ms);

    // The bus scan (VLMS_Scan), on a client made for it: OpenForScan opens
    // (or joins) the port and asks nobody anything; ProbeAt sends one read of
    // the state register to Address with a short deadline (ScanDeadlineUs)
    // and no retry (timeout= does not lengthen it). Found: a device answered (a Velmor controller, or another
    // that answered with an exception); its identification text is then read
    // with the usual deadline into Info. Absent: no valid answer. Failed: the
    // port failed (the text is LastError). Neither closes the link for a
    // silent address.
    enum class Probe { Absent, Found, Failed };
    static constexpr int64_t ScanTurnaroundUs = 20000;
    bool OpenForScan();
    Probe ProbeAt(uint8_t Address, std::string& Info);
    int64_t ScanDeadlineUs() const;

    // For tests and benchmarks.
    bool IsOpen() const override { return FShared && FOpening != 0 && FShared->Opening == FOpening; }
    const std::string& LastError() const { return FLastError; }
    // Requests sent since construction, every try counted.
    uint64_t RequestsSent() const { return FSent; }
    // The deadline of a request of RequestBytes with an answer of AnswerBytes.
    int64_t DeadlineUs(size_t RequestBytes, size_t AnswerBytes) const;
    // The silence the client leaves on the line before it sends (0 on
    // modbus-tcp).
    int64_t SilenceUs() const;

private:
    enum class Result { Ok, Exception, Failed };
    enum class Tries {
        Twice, // once more after a lost or damaged answer; then the port closes
        Once,  // a move by: never sent again; the port stays open
        Probe, // the open's identification read: twice; the open fails
        Scan,  // a scan's probe: once, a short deadline; the link stays open
        Ident, // a scan's identification read: twice; the link stays open
    };
    int64_t DeadlineUs(size_t RequestBytes, size_t AnswerBytes, int64_t Turnaround) const;
    // Opens or joins the port; the call's text set on failure.
    bool Join(const char* Name);
    // Waits until the line has been silent for SilenceUs, dropping what
    // arrives meanwhile; false (the call's text set, the port closed) on a
    // hang-up.
    bool WaitForSilence(SharedPort& Shared, const char* Name, int64_t UntilUs);
    // Reads the answer to R (sent as Sent) until it is whole or the deadline
    // passes; S gives the transport's last status.
    Response ReadAnswer(SharedPort& Shared, const Request& R, int64_t UntilUs, IoStatus& S);
    // Sends R and reads its answer. Failed: the call's text is set.
    Result Transact(const char* Name, const Request& R, Tries T, Response& Out);
    bool Write(const char* Name, uint16_t Start, std::vector<uint16_t> Values, bool Repeatable = true);
    bool Command(const char* Name, uint16_t Code, int32_t Argument, bool Repeatable = true);
    // The text of an exception answer to a request of Name.
    std::string ExceptionText(const char* Name, uint8_t Code);
    // A reading: Field of the status block, fetched anew unless fresh.
    bool Read(const char* Name, int32_t* Out, int32_t Status::*Field);
    bool Fail(const std::string& Text);
    // This client's link is closed: every later call fails until the next
    // OpenDevice.
    bool Lose(const std::string& Text);
    // The port itself failed: closed for every client that shares it. The
    // caller holds its turn.
    bool HangUp(SharedPort& Shared, const std::string& Text);
    std::string Where() const;
    bool OverMbap() const { return FConfig.Type == LinkConfig::Kind::ModbusTcp; }

    LinkConfig FConfig;
    Clock FNow;
    std::shared_ptr<SharedPort> FShared;
    uint64_t FOpening = 0; // the port's opening this client joined
    std::string FInfo;
    std::string FLastError;
    Status FStatus;
    int64_t FStatusAt = 0;
    bool FStatusFresh = false;
    uint64_t FSent = 0;
    Trace FTrace;
};

} // namespace Link
