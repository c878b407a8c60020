#pragma once

#include <cstdint>

#include "core/DeviceState.h"

// The motor on the virtual axis. Positions are in half-steps, speeds in
// half-steps per second, accelerations in half-steps per second squared.
//
// The axis position is physical: the switches sit at fixed places on it, and
// the coordinate the controller reports is the axis position plus an offset
// that VLM_SetNc moves. Time is passed in as elapsed seconds; each piece of
// the motion (a ramp at constant acceleration, a cruise) is solved in closed
// form, so a long gap costs no more than a short one.
//
// The profile: from rest the speed jumps to the start speed Vm, ramps at Aw to
// the cruise speed max(Vw, Vm), and ramps down to Vm before it stops (below
// Vm the motor may stop or start at once). With Aw = 0 the speed jumps
// straight between 0 and the cruise speed. A positioning run starts its
// braking ramp so that it reaches Vm exactly on the target and stops there;
// a short move never reaches the cruise speed. A new command takes over from
// the current motion: a reversal ramps down to Vm, stops, then starts the
// other way; a target too close to stop for is passed on the ramp and then
// approached from the other side. A run once on course for its target is
// never carried past it by a change of Vm or Aw: after a lower Vm it reaches
// the target at the lowest speed Aw allows from where it is, but no faster
// than it was going to; after a lower Aw it brakes as hard as it must to stop
// there, harder than Aw if need be.
//
// The home sensor stops a homing run only while it is enabled.
namespace Sim {

struct AxisLayout {
    double BackwardLimit = -20000; // active at or below
    double ForwardLimit = 20000;   // active at or above
    double HomeSensor = 5000;      // active within HomeHalfWidth either side
    double HomeHalfWidth = 50;
};

struct Drive {
    double Vm = 50;
    double Vw = 100;
    double Aw = 100;
    int32_t LimBackward = 0;
    int32_t LimForward = 0;
    int32_t LimHome = 0;
};

// State codes of VLM_GetStat.
using Core::StateStopped, Core::StateDone, Core::StateLimit, Core::StateRotating, Core::StatePositioning,
    Core::StateHoming;

class Motion {
public:
    explicit Motion(const AxisLayout& Layout = {}) : FLayout(Layout) {}

    void SetDrive(const Drive& D);
    const Drive& GetDrive() const { return FDrive; }
    const AxisLayout& Layout() const { return FLayout; }

    // Moves the model on by Seconds (0 settles what happens at once).
    void Advance(double Seconds);

    // Dir 1 or -1.
    void Run(int Dir);
    // Ramps down to a stop; ends in state 0.
    void RampStop();
    // Stops at once; state 0.
    void Halt();
    void MoveTo(double Coordinate);
    void Home(int Dir);
    void SetCoordinate(double Coordinate) { FOffset = Coordinate - FX; }

    double AxisPosition() const { return FX; }
    double Coordinate() const { return FX + FOffset; }
    double Velocity() const { return FV; }
    int32_t State() const { return FState; }
    // Coordinate where the home sensor tripped in the last homing (0 before).
    double HomeCoordinate() const { return FHomeCoordinate; }
    // Bit 0 backward limit, bit 1 forward limit, bit 2 home sensor.
    int32_t Inputs() const;
    bool Moving() const { return FV != 0; }
    // How often the planning reached an iteration cap, which it never should:
    // each time fails an assertion in a debug build; otherwise the rest of
    // that step of time is dropped, or no motion is planned for it, and the
    // count goes up for the tests to see.
    int PlanningFaults() const { return FPlanningFaults; }

private:
    enum class Mode { Idle, Run, Home, Position, StopRamp };
    enum class End { None, Halt, Arrive };
    struct Phase {
        double A = 0;        // acceleration, signed
        double Duration = 0; // seconds, may be infinite
        double EndV = 0;     // velocity at the end
        End Kind = End::None;
        bool SnapX = false;  // the phase ends exactly at EndX
        double EndX = 0;
    };

    bool Plan(Phase& P);
    bool PlanPosition(Phase& P);
    void CheckInputs();
    void CutAtEvents(Phase& P) const;
    void CutAt(Phase& P, double At) const;
    void TripLimit(int32_t Word);
    void TripHome();
    // Stops for a tripped input whose word is Word: at once when it asks for
    // an abrupt stop or the motor stands, else on the ramp; Final is the
    // state once the motor stands.
    void StopFor(int32_t Word, int32_t Final);
    void Arrive();
    int Heading() const;
    double Cruise() const { return FDrive.Vw > FDrive.Vm ? FDrive.Vw : FDrive.Vm; }
    Phase Ramp(int Sign, double From, double To, End Kind = End::None) const;
    // A phase at the present speed for Duration, ending exactly at EndX.
    Phase Coast(double Duration, double EndX, End Kind = End::None) const;
    // Ramps down to Vm and halts there; without a ramp to go down, halts at
    // once and gives false (a change that takes no time).
    bool RampToHalt(Phase& P, double Vm);
    bool HomeActive() const;
    void PlanningFault();
    static int SignOf(double V) { return (V > 0) - (V < 0); }

    AxisLayout FLayout;
    Drive FDrive;
    Mode FMode = Mode::Idle;
    double FX = 0;
    double FV = 0;
    double FOffset = 0;
    double FTarget = 0; // axis position of a positioning run
    // The speed at which a positioning run on course for its target is to
    // reach it; 0 until the run heads for the target able to stop on it.
    double FStopSpeed = 0;
    int FDir = 0;       // direction of a run or of a homing search
    int32_t FState = StateStopped;
    int32_t FFinalState = StateStopped; // state once a ramp stop has ended
    double FHomeCoordinate = 0;
    int FPlanningFaults = 0;
};

} // namespace Sim
