#include "sim/Motion.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

#include "sim/Parameters.h"

namespace Sim {

namespace {

constexpr double Infinity = std::numeric_limits<double>::infinity();

// A handful of phases lead from any state to a cruise or to rest (ramp down,
// turn, ramp up, cruise, brake, arrive): one step of time that needs more
// than this has met a fault in the planning.
constexpr int MaxPhasesPerAdvance = 64;
// Changes that take no time (a jump to the start speed, a stop from below
// it, an arrival, a tripped input) follow each other only a few times before
// a phase with a duration, or rest: more than this is a fault in the planning.
constexpr int MaxStepsPerPlan = 16;
// Closer than this to the target counts as on it. The closed forms round
// by a few units in the last place, some 1e-16 of the position; a relative
// 1e-12 is far above that anywhere on the axis, and 1e-9 half-steps is the
// floor near 0. Both lie far below the half-step the controller reports.
constexpr double OnTargetAbsolute = 1e-9;
constexpr double OnTargetRelative = 1e-12;
// Braking that starts exactly in time needs Aw, give or take the rounding of
// the distance left; a millionth of Aw covers that rounding and is far below
// anything the motor would show.
constexpr double BrakeSlack = 1e-6;

int SignOf(double V) { return (V > 0) - (V < 0); }

} // namespace

void Motion::SetDrive(const Drive& D)
{
    FDrive = D;
    // The motion needs a start speed to get going at all.
    if (!(FDrive.Vm >= 1))
        FDrive.Vm = 1;
    if (!(FDrive.Vw >= 0))
        FDrive.Vw = 0;
    if (!(FDrive.Aw >= 0))
        FDrive.Aw = 0;
}

void Motion::Run(int Dir)
{
    FMode = Mode::Run;
    FDir = Dir > 0 ? 1 : -1;
    FState = StateRotating;
}

void Motion::RampStop()
{
    FFinalState = StateStopped;
    if (FV == 0) {
        FMode = Mode::Idle;
        FState = StateStopped;
    } else {
        FMode = Mode::StopRamp; // the state shown keeps what the motor was doing until it stands
    }
}

void Motion::Halt()
{
    FV = 0;
    FMode = Mode::Idle;
    FState = StateStopped;
}

void Motion::MoveTo(double Coordinate)
{
    FTarget = Coordinate - FOffset;
    FStopSpeed = 0;
    FMode = Mode::Position;
    FState = StatePositioning;
}

void Motion::Home(int Dir)
{
    FMode = Mode::Home;
    FDir = Dir > 0 ? 1 : -1;
    FState = StateHoming;
}

int32_t Motion::Inputs() const
{
    int32_t Word = 0;
    if (FX <= FLayout.BackwardLimit)
        Word |= Core::ActiveBackward;
    if (FX >= FLayout.ForwardLimit)
        Word |= Core::ActiveForward;
    if (HomeActive())
        Word |= Core::ActiveHome;
    return Word;
}

bool Motion::HomeActive() const { return std::fabs(FX - FLayout.HomeSensor) <= FLayout.HomeHalfWidth; }

void Motion::Advance(double Seconds)
{
    if (!(Seconds > 0))
        Seconds = 0;
    for (int Phases = 0; Phases < MaxPhasesPerAdvance; ++Phases) {
        Phase P;
        if (!Plan(P))
            return;
        CutAtEvents(P);
        if (P.Duration <= Seconds) {
            Seconds -= P.Duration;
            FX = P.SnapX ? P.EndX : FX + (FV + 0.5 * P.A * P.Duration) * P.Duration;
            FV = P.Kind == End::Halt ? 0 : P.EndV;
            if (P.Kind == End::Arrive)
                Arrive();
        } else {
            FX += (FV + 0.5 * P.A * Seconds) * Seconds;
            FV += P.A * Seconds;
            return;
        }
    }
    PlanningFault(); // the rest of Seconds is dropped
}

void Motion::PlanningFault()
{
    ++FPlanningFaults;
    assert(!"the motion planning reached its iteration cap");
}

int Motion::Heading() const
{
    if (FV != 0)
        return SignOf(FV);
    switch (FMode) {
    case Mode::Run:
    case Mode::Home:
        return FDir;
    case Mode::Position:
        return SignOf(FTarget - FX);
    default:
        return 0;
    }
}

void Motion::CheckInputs()
{
    if (FMode == Mode::Idle)
        return;
    const int H = Heading();
    if (H > 0 && (FDrive.LimForward & InputEnabled) && FX >= FLayout.ForwardLimit)
        TripLimit(FDrive.LimForward);
    else if (H < 0 && (FDrive.LimBackward & InputEnabled) && FX <= FLayout.BackwardLimit)
        TripLimit(FDrive.LimBackward);
    else if (FMode == Mode::Home && (FDrive.LimHome & InputEnabled) && H == FDir && HomeActive())
        TripHome();
}

void Motion::TripLimit(int32_t Word)
{
    FState = StateLimit;
    if ((Word & InputAbruptStop) || FV == 0) {
        FV = 0;
        FMode = Mode::Idle;
    } else {
        FMode = Mode::StopRamp;
        FFinalState = StateLimit;
    }
}

void Motion::TripHome()
{
    FHomeCoordinate = Coordinate();
    if ((FDrive.LimHome & InputAbruptStop) || FV == 0) {
        FV = 0;
        FMode = Mode::Idle;
        FState = StateDone;
    } else {
        FMode = Mode::StopRamp; // still "searching" until the motor stands
        FFinalState = StateDone;
    }
}

void Motion::Arrive()
{
    FX = FTarget;
    FV = 0;
    FMode = Mode::Idle;
    FState = StateDone;
}

Motion::Phase Motion::Ramp(int Sign, double From, double To, End Kind) const
{
    Phase P;
    P.A = (To > From ? Sign : -Sign) * FDrive.Aw;
    P.Duration = std::fabs(To - From) / FDrive.Aw;
    P.EndV = Sign * To;
    P.Kind = Kind;
    return P;
}

bool Motion::Plan(Phase& P)
{
    for (int Steps = 0; Steps < MaxStepsPerPlan; ++Steps) {
        CheckInputs();
        const double Vm = FDrive.Vm;
        const double Aw = FDrive.Aw;
        const int S = SignOf(FV);
        const double U = std::fabs(FV);
        switch (FMode) {
        case Mode::Idle:
            FV = 0;
            return false;
        case Mode::StopRamp:
            if (S == 0) {
                FMode = Mode::Idle;
                FState = FFinalState;
                return false;
            }
            if (U > Vm && Aw > 0) {
                P = Ramp(S, U, Vm, End::Halt);
                return true;
            }
            FV = 0;
            break;
        case Mode::Run:
        case Mode::Home: {
            const double Vc = Cruise();
            if (S == 0) {
                FV = FDir * (Aw > 0 ? Vm : Vc);
                break;
            }
            if (U < Vm) { // the start speed was raised under way
                FV = S * Vm;
                break;
            }
            if (S != FDir) {
                if (U > Vm && Aw > 0) {
                    P = Ramp(S, U, Vm, End::Halt);
                    return true;
                }
                FV = 0;
                break;
            }
            if (U != Vc && Aw > 0) {
                P = Ramp(S, U, Vc);
                return true;
            }
            FV = S * Vc;
            P = Phase();
            P.Duration = Infinity;
            P.EndV = FV;
            return true;
        }
        case Mode::Position:
            if (PlanPosition(P))
                return true;
            break;
        }
    }
    PlanningFault(); // no motion planned for this step
    return false;
}

// One piece of a positioning run, or false after a change that takes no time.
bool Motion::PlanPosition(Phase& P)
{
    const double Aw = FDrive.Aw;
    const double Vc = Cruise();
    const double D = FTarget - FX;
    const int Dir = SignOf(D);
    const double Dist = std::fabs(D);
    const double Eps = OnTargetAbsolute + OnTargetRelative * std::max(std::fabs(FX), std::fabs(FTarget));
    const int S = SignOf(FV);
    const double U = std::fabs(FV);
    // On course, a lower Vm or Aw must not carry the motor past the target:
    // it stops there no faster than it was going to, and no slower than Aw
    // still allows from here; the braking below may then exceed a lowered Aw.
    const bool OnCourse = FStopSpeed > 0 && S != 0 && S == Dir;
    double Vm = FDrive.Vm;
    if (OnCourse && Aw > 0)
        Vm = std::max(Vm, std::min(FStopSpeed, std::sqrt(std::max(0.0, U * U - 2 * Aw * Dist))));

    if (S == 0) {
        if (Dist <= Eps)
            Arrive();
        else
            FV = Dir * (Aw > 0 ? Vm : Vc);
        return false;
    }
    if (U < Vm) {
        FV = S * Vm;
        return false;
    }
    if (Dist <= Eps && (U <= Vm || Aw == 0)) {
        Arrive();
        return false;
    }
    if (S != Dir || Dist <= Eps) {
        // Heading away from the target, or on it too fast: ramp down, then come back.
        FStopSpeed = 0;
        if (U > Vm && Aw > 0) {
            P = Ramp(S, U, Vm, End::Halt);
            return true;
        }
        FV = 0;
        return false;
    }
    FStopSpeed = Vm;
    P = Phase();
    if (Aw == 0) {
        if (U != Vc) {
            FV = S * Vc;
            return false;
        }
        P.Duration = Dist / U;
        P.EndV = FV;
        P.Kind = End::Arrive;
        P.SnapX = true;
        P.EndX = FTarget;
        return true;
    }
    const double Brake = U > Vm ? (U * U - Vm * Vm) / (2 * Aw) : 0;
    if (Dist > Brake + Eps) {
        if (U > Vc) {
            P = Ramp(S, U, Vc);
            return true;
        }
        if (U < Vc) {
            // Accelerate to the cruise speed, or only to the speed from which
            // the braking ramp just reaches the target (a short move).
            const double Peak = std::min(Vc, std::sqrt((2 * Aw * Dist + U * U + Vm * Vm) / 2));
            if (Peak > U) {
                P = Ramp(S, U, Peak);
                return true;
            }
        } else {
            P.Duration = (Dist - Brake) / U;
            P.EndV = FV;
            P.SnapX = true;
            P.EndX = FTarget - S * Brake;
            return true;
        }
    }
    if (U <= Vm) {
        P.Duration = Dist / U;
        P.EndV = FV;
        P.Kind = End::Arrive;
        P.SnapX = true;
        P.EndX = FTarget;
        return true;
    }
    // The braking ramp, reaching Vm exactly on the target.
    const double Need = (U * U - Vm * Vm) / (2 * Dist);
    if (Need <= Aw * (1 + BrakeSlack) || OnCourse) {
        P.A = -S * Need;
        P.Duration = (U - Vm) / Need;
        P.EndV = S * Vm;
        P.Kind = End::Arrive;
        P.SnapX = true;
        P.EndX = FTarget;
        return true;
    }
    // A new target too close to stop for: pass it on the ramp and come back.
    FStopSpeed = 0;
    P = Ramp(S, U, Vm, End::Halt);
    return true;
}

void Motion::CutAtEvents(Phase& P) const
{
    const int S = SignOf(FV);
    if (S == 0)
        return;
    if (S > 0 && (FDrive.LimForward & InputEnabled) && FX < FLayout.ForwardLimit)
        CutAt(P, FLayout.ForwardLimit);
    if (S < 0 && (FDrive.LimBackward & InputEnabled) && FX > FLayout.BackwardLimit)
        CutAt(P, FLayout.BackwardLimit);
    if (FMode == Mode::Home && (FDrive.LimHome & InputEnabled) && S == FDir) {
        const double Edge = FLayout.HomeSensor - S * FLayout.HomeHalfWidth;
        if (S > 0 ? FX < Edge : FX > Edge)
            CutAt(P, Edge);
    }
}

// Ends the phase where the motor reaches At, if it gets there within the phase.
void Motion::CutAt(Phase& P, double At) const
{
    const int S = SignOf(FV);
    const double U = std::fabs(FV);
    const double Along = P.A * S;
    const double E = (At - FX) * S;
    double T;
    if (Along == 0) {
        T = E / U;
    } else {
        const double Disc = U * U + 2 * Along * E;
        if (Disc < 0)
            return;
        T = 2 * E / (U + std::sqrt(Disc));
    }
    if (!(T <= P.Duration))
        return;
    P.Duration = T;
    P.EndV = FV + P.A * T;
    P.Kind = End::None;
    P.SnapX = true;
    P.EndX = At;
}

} // namespace Sim
