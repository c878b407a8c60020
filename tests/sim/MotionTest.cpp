// The motion profile of the virtual controller, on the hand-driven clock.
#include "tests/sim/SimFixture.h"

#include <algorithm>
#include <climits>
#include <limits>

// Every test here ends with a planning that never reached an iteration cap.
class MotionTest : public SimFixture {
protected:
    void TearDown() override
    {
        if (Device) {
            EXPECT_EQ(Device->Axis().PlanningFaults(), 0);
        }
        SimFixture::TearDown();
    }
};

// A target the planning cannot reach (no number) is a fault it reports: an
// assertion in a debug build, a count otherwise, and the motor stays put.
TEST(MotionPlanning, ReachingTheIterationCapIsCounted)
{
    Sim::Motion M;
    M.MoveTo(std::numeric_limits<double>::quiet_NaN());
    EXPECT_DEBUG_DEATH(M.Advance(1), "iteration cap");
#ifdef NDEBUG
    EXPECT_EQ(M.PlanningFaults(), 1);
    EXPECT_EQ(M.AxisPosition(), 0);
    EXPECT_EQ(M.Velocity(), 0);
    M.MoveTo(100);
    M.Advance(100);
    EXPECT_EQ(M.Coordinate(), 100);
    EXPECT_EQ(M.PlanningFaults(), 1);
#endif
}

TEST_F(MotionTest, PositioningFollowsTheTrapezoidAndStopsOnTheTarget)
{
    MakeDrive();
    ASSERT_TRUE(Device->StartN(10000));
    EXPECT_EQ(Vc(), 100); // from rest straight to the start speed
    EXPECT_EQ(Stat(), 4);
    Wait(0.5); // on the ramp: 100 t + 500 t^2
    EXPECT_NEAR(X(), 175, 1e-6);
    EXPECT_NEAR(V(), 600, 1e-6);
    Wait(0.4); // top of the ramp
    EXPECT_NEAR(X(), 495, 1e-6);
    EXPECT_NEAR(V(), 1000, 1e-6);
    Wait(4.1); // cruising
    EXPECT_NEAR(X(), 4595, 1e-6);
    EXPECT_EQ(Vc(), 1000);
    // Braking starts 495 before the target, at 9.91 s.
    Wait(5.41);
    EXPECT_NEAR(V(), 500, 1e-6);
    EXPECT_NEAR(X(), 9880, 1e-6);
    Wait(0.39);
    EXPECT_NEAR(X(), 10000 - 1.05, 1e-6);
    EXPECT_EQ(Stat(), 4);
    Wait(0.02);
    EXPECT_EQ(Nc(), 10000);
    EXPECT_EQ(Device->Axis().Coordinate(), 10000.0);
    EXPECT_EQ(Vc(), 0);
    EXPECT_EQ(Stat(), 1);
    Wait(100);
    EXPECT_EQ(Nc(), 10000);
}

TEST_F(MotionTest, ShortMovesAreTriangularAndNeverOvershoot)
{
    MakeDrive();
    // 200 half-steps: the peak is sqrt((2*1000*200 + 100^2 + 100^2) / 2).
    const double Peak = std::sqrt(210000.0);
    ASSERT_TRUE(Device->StartdN(200));
    double Top = 0, Last = 0;
    for (int I = 0; I < 80; ++I) {
        Wait(0.01);
        double P = X();
        EXPECT_GE(P, Last);
        EXPECT_LE(P, 200);
        Last = P;
        Top = std::max(Top, V());
    }
    EXPECT_LE(Top, Peak + 1e-6);
    EXPECT_GT(Top, Peak - 10);
    EXPECT_EQ(Nc(), 200);
    EXPECT_EQ(Stat(), 1);

    // The same backward, relative to where it stands.
    ASSERT_TRUE(Device->StartdN(-500));
    Wait(0.3);
    EXPECT_LT(Vc(), 0);
    Wait(5);
    EXPECT_EQ(Nc(), -300);
    EXPECT_EQ(Stat(), 1);
}

TEST_F(MotionTest, ZeroAccelerationJumpsAndLowWorkingSpeedRunsAtTheStartSpeed)
{
    MakeDrive(0);
    ASSERT_TRUE(Device->SetVw(500));
    ASSERT_TRUE(Device->StartN(1000));
    EXPECT_EQ(Vc(), 500);
    Wait(1);
    EXPECT_NEAR(X(), 500, 1e-6);
    Wait(1);
    EXPECT_EQ(Nc(), 1000);
    EXPECT_EQ(Stat(), 1);
    ASSERT_TRUE(Device->StartD(-1));
    Wait(0.2);
    ASSERT_TRUE(Device->StartD(0));
    EXPECT_EQ(Vc(), 0);
    EXPECT_EQ(Nc(), 900);
    EXPECT_EQ(Stat(), 0);

    ASSERT_TRUE(Device->SetAw(1000));
    ASSERT_TRUE(Device->SetVm(300));
    ASSERT_TRUE(Device->SetVw(0));
    ASSERT_TRUE(Device->StartD(1));
    Wait(2);
    EXPECT_EQ(Vc(), 300);
    EXPECT_EQ(Nc(), 1500);
}

TEST_F(MotionTest, ReversalRampsDownToTheStartSpeedThenGoesBack)
{
    MakeCruising();
    EXPECT_NEAR(X(), 1595, 1e-6);
    ASSERT_TRUE(Device->StartD(-1));
    EXPECT_EQ(Stat(), 3);
    Wait(0.45);
    EXPECT_NEAR(V(), 550, 1e-6);
    EXPECT_NEAR(X(), 1943.75, 1e-6);
    Wait(0.5); // turned at 2090 after 0.9 s, then 0.05 s backward from 100
    EXPECT_NEAR(V(), -150, 1e-6);
    EXPECT_NEAR(X(), 2090 - 6.25, 1e-6);
    Wait(0.45);
    EXPECT_NEAR(V(), -600, 1e-6);
    EXPECT_NEAR(X(), 1915, 1e-6);
}

TEST_F(MotionTest, NewTargetTooCloseIsPassedOnTheRampAndApproachedFromBeyond)
{
    MakeDrive();
    ASSERT_TRUE(Device->StartN(10000));
    Wait(5); // cruising at 4595
    ASSERT_TRUE(Device->StartN(4800));
    double Far = 0;
    for (int I = 0; I < 400; ++I) {
        Wait(0.01);
        Far = std::max(Far, X());
    }
    EXPECT_NEAR(Far, 4595 + 495, 1e-6);
    EXPECT_EQ(Nc(), 4800);
    EXPECT_EQ(Stat(), 1);
}

TEST_F(MotionTest, SpeedChangesUnderWayAndBothKindsOfStop)
{
    MakeCruising();
    ASSERT_TRUE(Device->SetVw(500));
    Wait(0.25);
    EXPECT_NEAR(V(), 750, 1e-6);
    Wait(1);
    EXPECT_EQ(Vc(), 500);

    ASSERT_TRUE(Device->StartD(0)); // on the ramp, still "rotating"
    Wait(0.2);
    EXPECT_NEAR(V(), 300, 1e-6);
    EXPECT_EQ(Stat(), 3);
    Wait(0.21);
    EXPECT_EQ(Vc(), 0);
    EXPECT_EQ(Stat(), 0);
    const int32_t Rest = Nc();
    Wait(1);
    EXPECT_EQ(Nc(), Rest);

    ASSERT_TRUE(Device->StartD(-1));
    Wait(2);
    ASSERT_TRUE(Device->Stop());
    EXPECT_EQ(Vc(), 0);
    EXPECT_EQ(Stat(), 0);
    const int32_t Here = Nc();
    Wait(1);
    EXPECT_EQ(Nc(), Here);
}

TEST_F(MotionTest, FarMovesStayExactAndReportsClampTo32Bits)
{
    MakeDrive();
    ASSERT_TRUE(Device->SetVw(30000));
    ASSERT_TRUE(Device->SetAw(40000));
    ASSERT_TRUE(Device->StartN(INT32_MIN));
    Wait(1e5); // one call after a long gap
    EXPECT_EQ(Nc(), INT32_MIN);
    EXPECT_EQ(Stat(), 1);

    ASSERT_TRUE(Device->StartD(1));
    Wait(1e6);
    EXPECT_EQ(Nc(), INT32_MAX);
    EXPECT_EQ(Vc(), 30000);
    ASSERT_TRUE(Device->SetNc(0));
    EXPECT_EQ(Nc(), 0);
    ASSERT_TRUE(Device->StartdN(-5));
    Wait(10);
    EXPECT_EQ(Nc(), -5);
}

// Vm 500: braking from 1000 starts 375 before the target, at 1.75 s; at 1.9 s
// the motor is at 1763.75 at 850. A lower Vm or Aw from there on must not
// carry it past the target.
TEST_F(MotionTest, LoweringVmOrAwWhileBrakingStillStopsOnTheTarget)
{
    for (int Lower = 0; Lower < 2; ++Lower) {
        MakeDrive();
        ASSERT_TRUE(Device->SetVm(500));
        ASSERT_TRUE(Device->StartN(2000));
        Wait(1.9);
        ASSERT_LT(V(), 1000);
        ASSERT_TRUE(Lower == 0 ? Device->SetVm(1) : Device->SetAw(1));
        double Far = 0, Slowest = 0;
        for (int I = 0; I < 300; ++I) {
            Wait(0.01);
            Far = std::max(Far, X());
            Slowest = std::min(Slowest, V());
        }
        EXPECT_LE(Far, 2000) << (Lower == 0 ? "Vm" : "Aw");
        EXPECT_EQ(Slowest, 0) << (Lower == 0 ? "Vm" : "Aw");
        EXPECT_EQ(Nc(), 2000);
        EXPECT_EQ(Stat(), 1);
    }
}

// Any mix of commands, parameter changes and gaps leaves the motion sound,
// and a positioning run given time always ends exactly on its target.
TEST_F(MotionTest, RandomCommandMixesAlwaysSettleOnTheTarget)
{
    MakeDrive();
    uint32_t Seed = 12345;
    auto Next = [&Seed](uint32_t Range) {
        Seed = Seed * 1664525u + 1013904223u;
        return static_cast<int32_t>((Seed >> 8) % Range);
    };
    for (int Round = 0; Round < 300; ++Round) {
        for (int Step = 0; Step < 6; ++Step) {
            switch (Next(7)) {
            case 0: ASSERT_TRUE(Device->SetVm(1 + Next(3000))); break;
            case 1: ASSERT_TRUE(Device->SetVw(Next(30001))); break;
            case 2: ASSERT_TRUE(Device->SetAw(Next(4) == 0 ? 0 : Next(40001))); break;
            case 3: ASSERT_TRUE(Device->StartD(Next(3) - 1)); break;
            case 4: ASSERT_TRUE(Device->StartN(Next(200001) - 100000)); break;
            case 5: ASSERT_TRUE(Device->StartdN(Next(2001) - 1000)); break;
            default: ASSERT_TRUE(Device->SetNc(Next(1001) - 500)); break;
            }
            Wait(Next(500) * 1e-3);
            const double Speed = std::fabs(V());
            ASSERT_TRUE(std::isfinite(X()));
            ASSERT_LE(Speed, 30000.0);
        }
        const int32_t Target = Next(200001) - 100000;
        ASSERT_TRUE(Device->StartN(Target));
        Wait(1e6); // enough even at 1 half-step per second
        ASSERT_EQ(Nc(), Target) << "round " << Round;
        ASSERT_EQ(Device->Axis().PlanningFaults(), 0) << "round " << Round;
        ASSERT_EQ(Stat(), 1);
        ASSERT_EQ(Vc(), 0);
    }
}
