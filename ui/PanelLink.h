#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/PollSample.h"

// What the panel does on the line, as sequences of device-library calls:
// connecting, disconnecting and the poll's readings. Plain C++, no Qt: it runs
// on the panel's device thread, the one thread that calls the library, and
// keeps whether the link is up as the calls found it. The window decides
// what to ask for and shows what comes back.
namespace PanelLink {

// The parameters a connection sends, as the window had them when it asked.
struct TParameters {
    int32_t Step = 0;
    int32_t Decay = 0;
    int32_t Ih = 0;
    int32_t Ia = 0;
    int32_t Iw = 0;
    int32_t Vm = 0;
    int32_t Vw = 0;
    int32_t Aw = 0;
    int32_t LimBackward = 0;
    int32_t LimForward = 0;
    int32_t LimHome = 0;
    int32_t Control = 0;
};

// The outcome of a connection attempt.
struct TOpened {
    bool Tried = false;
    bool Ok = false;
    std::string Info;   // the device text, when Ok
    std::string Reason; // the library's text of a failure, when the window asked for it
};

// What one tick of the poll reads: the state always, more by page.
struct TPollRequest {
    int Page = 0;
    bool Adc = false;    // the voltage, on page 1 while it is shown
    bool Homing = false; // a homing run awaited on page 2
    bool KeepConnected = false;
    TParameters Parameters; // sent if the tick connects
};

struct TPollResult {
    // The readings (Sample.Ok: all read), timed at their answer.
    Core::PollSample Sample;
    bool Read = false; // the link was up and the tick read
    bool HasAdc = false;
    double Adc = 0;
    bool HomeDone = false;
    int32_t HomeCoordinate = 0;
    std::string StateText; // when Sample.HasState
    // A reading failed: the link is taken as lost (Sample.Error says why).
    bool Lost = false;
    // The tick's connection attempt, made when the link was down.
    TOpened Reconnect;
};

class TLink {
public:
    bool Linked() const { return FLinked; }

    // With the link up: the device text and the parameters again. Else an
    // open; on success the device text and the parameters, on failure a
    // disconnect.
    TOpened Connect(const TParameters& P);
    // Stops the motor while the link is up, then closes; failures are
    // ignored.
    void Disconnect();
    // One tick: the readings while the link is up; a failed one marks the
    // link lost. Then, with the link down, a disconnect and, if asked, a
    // connection.
    // Lost, if given, hears of a lost link as soon as it is found, before
    // the tick goes on to reconnect.
    TPollResult Poll(const TPollRequest& R, const std::function<void(const std::string& Error)>& Lost = nullptr);
    // Sends every parameter in order; the first failure ends the sending
    // (the next tick finds out whether the link is gone).
    void SendAll(const TParameters& P);
    // The library's text of the last failure (VLM_GetLastError).
    static std::string LastError();

private:
    bool FLinked = false;
};

} // namespace PanelLink
