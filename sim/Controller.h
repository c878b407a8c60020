#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "device/Backend.h"
#include "core/Clock.h"
#include "sim/ControlFile.h"
#include "sim/Motion.h"
#include "sim/Parameters.h"

// The virtual controller VLM-1: the model behind libvelmor.so, one of its
// backends (device/Backend.h): one member function per library call, with
// the same name and arguments; each returns the call's truth value and, on
// failure, leaves the text that GetLastError hands out. Every call first moves the model on to the clock's "now"; there
// are no threads.
//
// Defined behaviour beyond the library interface:
// - Construction is power-on: it loads the stored parameters (built-in
//   defaults when there are none or the file is damaged). The working
//   parameters, the motor's position and its motion carry over a close and a
//   reopen, as on a powered controller. Close always succeeds and never stops
//   the motor.
// - A refused call leaves, beside its text, the reason of the line protocol
//   it was refused for and the value that reason names (LastRefusal): the
//   text is made from them, so a client on the line shows the same text. A
//   call that fails for the link (closed or cut) leaves no reason; other
//   failures (a store that cannot be written, a control-file fail line) leave
//   StoreFailed or DeviceFailure.
// - With the link closed every call but OpenDevice, CloseDevice and
//   GetLastError fails with "Device is not open".
// - With the link cut through the control file (ControlFile.cpp) every call
//   but CloseDevice and GetLastError fails, OpenDevice included; the motor
//   goes on meanwhile.
// - A call that fails changes nothing.
// - GetNc, GetNb round to the nearest half-step and clamp to 32 bits; GetVc
//   rounds the signed speed.
// - GetLim reports the inputs as they are, enabled or not; the contact-type
//   bit does not change them.
// - StartdN counts from the reported coordinate.
// - A command into an enabled limit switch that is already active is taken,
//   but the motor does not move and the state is 2 at once.
// - Homing that starts on the home sensor trips at once, recording the
//   present coordinate; homing that starts beyond the sensor in its search
//   direction runs until a limit switch (or for ever when none is enabled).
// - The home sensor trips a homing run only while it is enabled. Disabled
//   during the search, it is ignored and the search goes on in its direction,
//   still state 6, until an enabled limit switch (state 2) or a stop command
//   ends it; enabled again before the motor has passed it, it trips as usual
//   (at once when the motor stands on it).
// - A positioning run never passes its target because Vm or Aw changed under
//   way (see Motion.h); only a new target too close to stop for is passed.
// - StartD(0) ramps down keeping the state of what the motor did, then
//   reports 0; Stop stops at once, state 0. A limit stop on the ramp shows
//   state 2 at once; a homing stop on the ramp shows 6 until the motor stands,
//   then 1.
// - The communication watchdog (docs/protocol.md): once set (SetWatchdog,
//   ms, 0 off; not stored, so 0 at power-on), the motor is ramped down as
//   StartD(0) does when it moves and nothing was heard (Heard) for that
//   long: at that instant of the model's time, whenever the model is next
//   moved on. It fires once per silence; TakeWatchdogStop says so once.
namespace Sim {

// Monotonic time in nanoseconds.
using Clock = std::function<int64_t()>;
using Core::SteadyNow;

struct Options {
    Clock Now = SteadyNow;
    std::string StatePath;   // empty: nothing is stored
    std::string ControlPath; // empty: no control file
    AxisLayout Axis;

    // The real clock and the paths of Storage.h taken from the environment.
    static Options FromEnvironment();
};

class VirtualController : public Device::Backend {
public:
    static constexpr const char* InfoText = "Virtual controller VLM-1 (simulated)";
    static constexpr const char* NotOpenText = "Device is not open";
    static constexpr const char* LinkDownText = "No answer from the controller: the link is down";

    explicit VirtualController(Options Opts = Options::FromEnvironment());

    VELMOR_BACKEND_OPERATIONS

    // For a server of the line (velmor-sim): moves on to now and looks at the
    // control file; false while it cuts the link. Leaves no error text.
    bool LinkUp();
    // The communication watchdog: Ms 0..65535 (0 off); false (and the
    // text) for another value. Starts its count now.
    bool SetWatchdog(int32_t Ms);
    int32_t Watchdog() const { return FWatchdogMs; }
    // A request to this controller arrived: moves on to now (a watchdog run
    // out meanwhile has ramped the motor down at its time), then restarts
    // the watchdog's count.
    void Heard();
    // True once after the watchdog ramped the motor down.
    bool TakeWatchdogStop();
    // The control file, for the line faults it names.
    ControlFile& Control() { return FControl; }

    // For tests and tools: no call, no time passes.
    bool IsOpen() const override { return FOpen; }
    const Parameters& Params() const { return FParams; }
    const Motion& Axis() const { return FMotion; }
    const std::string& LastError() const { return FLastError; }
    const Refusal& LastRefusal() const { return FLastRefusal; }
    const Options& GetOptions() const { return FOptions; }

    // Supply voltage in tenths of a volt at a time: 24.0 V with a ripple of
    // one tenth, repeating every second (240, 241, 240, 239).
    static int32_t SupplyReading(int64_t NowNs);

private:
    // Moves on to now, then the control file, the link and the open state
    // decide whether the call named Name may go on.
    bool Begin(const char* Name, bool NeedLink = true, bool NeedOpen = true);
    // Moves the motor on to the clock's now and gives now.
    int64_t MoveOn();
    bool Fail(const std::string& Text, Refusal Why = {Link::Reason::DeviceFailure, 0});
    // True (the call is refused) when there is a reason.
    bool Refuse(const Refusal& Why) { return Why && !Fail(Why.Text(), Why); }
    void Apply(const Parameters& P);
    // A setter of one parameter: the call's checks, then Why refuses the
    // value or Field takes it; ToDrive: it reaches the motion at once.
    bool Set(const char* Name, const Refusal& Why, int32_t Parameters::*Field, int32_t Value, bool ToDrive = false);
    template <class Fn> bool Read(const char* Name, int32_t* Out, Fn Value);
    // A command that sets the motor going (or stopping on its ramp): the
    // call's checks, then Why refuses it or Start starts it.
    template <class Fn> bool Move(const char* Name, Fn Start, const Refusal& Why = {});

    Options FOptions;
    ControlFile FControl;
    Motion FMotion;
    Parameters FParams;
    bool FOpen = false;
    int64_t FNow = 0;
    bool FStarted = false;
    std::string FLastError;
    Refusal FLastRefusal;
    int32_t FWatchdogMs = 0;
    int64_t FHeardAt = 0;          // the model's time of the last request heard
    bool FWatchdogSpent = false;   // fired in this silence
    bool FWatchdogStopped = false; // fired, not yet taken
};

} // namespace Sim
