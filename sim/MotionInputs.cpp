#include "sim/Motion.h"

#include <cmath>

#include "sim/Parameters.h"

// The axis's inputs: what the limit switches and the home sensor read, how
// they stop the motor, and where a phase of motion meets them.
namespace Sim {

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
    StopFor(Word, StateLimit);
}

void Motion::TripHome()
{
    FHomeCoordinate = Coordinate();
    StopFor(FDrive.LimHome, StateDone); // on the ramp, still "searching" until the motor stands
}

void Motion::StopFor(int32_t Word, int32_t Final)
{
    if ((Word & InputAbruptStop) || FV == 0) {
        FV = 0;
        FMode = Mode::Idle;
        FState = Final;
    } else {
        FMode = Mode::StopRamp;
        FFinalState = Final;
    }
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
