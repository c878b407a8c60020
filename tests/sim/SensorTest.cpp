// Limit switches and the home sensor of the virtual axis (backward limit
// -1000, forward limit 1000, home sensor 500 active within 450..550).
#include "tests/sim/SimFixture.h"

using SensorTest = SimFixture;

TEST_F(SensorTest, EnabledLimitStopsAbruptlyOrOnTheRamp)
{
    MakeDriveWithInputs(0, 1 | 4, 0); // forward: enabled, stop without ramp
    ASSERT_TRUE(Device->StartD(1));
    Wait(3);
    EXPECT_EQ(Nc(), 1000);
    EXPECT_EQ(Device->Axis().Coordinate(), 1000.0);
    EXPECT_EQ(Vc(), 0);
    EXPECT_EQ(Stat(), 2);
    EXPECT_EQ(Lim(), 2);

    // Further into the switch: refused by the switch, at once.
    ASSERT_TRUE(Device->StartN(5000));
    EXPECT_EQ(Stat(), 2);
    Wait(1);
    EXPECT_EQ(Nc(), 1000);
    // Away from it: allowed.
    ASSERT_TRUE(Device->StartD(-1));
    EXPECT_EQ(Stat(), 3);
    Wait(0.5);
    EXPECT_LT(Nc(), 1000);
    EXPECT_EQ(Lim(), 0);

    // The same switch with the ramp (and normally closed contacts, which
    // change nothing logically): it trips at 1000 at full speed and stops
    // one braking distance (495) beyond.
    ASSERT_TRUE(Device->StartN(0));
    Wait(10);
    ASSERT_EQ(Nc(), 0);
    ASSERT_TRUE(Device->SetLim(0, 1 | 2, 0));
    ASSERT_TRUE(Device->StartD(1));
    Wait(1.505); // 0.1 s past the switch
    EXPECT_EQ(Stat(), 2);
    EXPECT_NEAR(V(), 900, 1e-6);
    Wait(2);
    EXPECT_EQ(Nc(), 1495);
    EXPECT_EQ(Stat(), 2);
    EXPECT_EQ(Lim(), 2);
}

TEST_F(SensorTest, DisabledLimitIsIgnoredUntilEnabled)
{
    MakeDriveWithInputs(6, 6, 0); // wiring and ramp bits, not enabled
    ASSERT_TRUE(Device->StartD(1));
    Wait(3);
    EXPECT_NEAR(X(), 495 + 2100, 1e-6);
    EXPECT_EQ(Stat(), 3);
    EXPECT_EQ(Lim(), 2); // the input is active all the same
    ASSERT_TRUE(Device->SetLim(6, 3, 0)); // enabled beyond the switch: stops on the ramp
    EXPECT_EQ(Stat(), 2);
    Wait(2);
    EXPECT_EQ(Nc(), 2595 + 495);
    EXPECT_EQ(Vc(), 0);
}

TEST_F(SensorTest, PositioningIntoTheBackwardLimitEndsInStateTwo)
{
    MakeDriveWithInputs(5, 0, 0);
    ASSERT_TRUE(Device->StartN(-5000));
    Wait(5);
    EXPECT_EQ(Nc(), -1000);
    EXPECT_EQ(Stat(), 2);
    EXPECT_EQ(Lim(), 1);
}

TEST_F(SensorTest, HomingForwardRecordsWhereTheSensorTripped)
{
    MakeDriveWithInputs(0, 0, 1 | 4);
    ASSERT_TRUE(Device->Home(1));
    EXPECT_EQ(Stat(), 6);
    Wait(3);
    EXPECT_EQ(Stat(), 1);
    EXPECT_EQ(Nb(), 450);
    EXPECT_EQ(Nc(), 450);
    EXPECT_EQ(Lim(), 4);

    // On the ramp: trips at 450 at sqrt(100^2 + 2*1000*450), brakes 450 further.
    ASSERT_TRUE(Device->StartN(0));
    Wait(10);
    ASSERT_TRUE(Device->SetNc(-100)); // coordinates are not axis positions
    ASSERT_TRUE(Device->SetLim(0, 0, 1));
    ASSERT_TRUE(Device->Home(1));
    Wait(1);
    EXPECT_EQ(Stat(), 6);
    EXPECT_EQ(Nb(), 350);
    Wait(3);
    EXPECT_EQ(Stat(), 1);
    EXPECT_EQ(Nc(), 800);
    EXPECT_EQ(Nb(), 350);
}

TEST_F(SensorTest, HomingBackwardAndFromOnTheSensor)
{
    MakeDriveWithInputs(0, 0, 5);
    ASSERT_TRUE(Device->StartN(900));
    Wait(5);
    ASSERT_TRUE(Device->Home(-1));
    Wait(3);
    EXPECT_EQ(Stat(), 1);
    EXPECT_EQ(Nb(), 550);
    EXPECT_EQ(Nc(), 550);

    ASSERT_TRUE(Device->StartN(510));
    Wait(3);
    ASSERT_TRUE(Device->Home(1)); // already on it: trips at once
    EXPECT_EQ(Stat(), 1);
    EXPECT_EQ(Nb(), 510);
    EXPECT_EQ(Vc(), 0);
}

TEST_F(SensorTest, HomingStoppedByALimitAndHomingWithTheSensorOff)
{
    MakeDrive();
    EXPECT_FALSE(Device->Home(1));
    EXPECT_EQ(Device->LastError(), "Homing needs the home sensor, which is not enabled");
    EXPECT_EQ(Stat(), 0);
    EXPECT_EQ(Vc(), 0);

    ASSERT_TRUE(Device->SetLim(5, 0, 1));
    EXPECT_FALSE(Device->Home(0));
    EXPECT_EQ(Device->LastError(), "Homing direction 0 is not valid: use 1 (forward) or -1 (backward)");
    ASSERT_TRUE(Device->Home(-1)); // the sensor lies the other way
    Wait(5);
    EXPECT_EQ(Stat(), 2);
    EXPECT_EQ(Nc(), -1000);
    EXPECT_EQ(Nb(), 0);
}

TEST_F(SensorTest, HomeSensorDisabledDuringTheSearchNoLongerTripsIt)
{
    MakeDriveWithInputs(0, 1 | 4, 1);
    ASSERT_TRUE(Device->Home(1));
    Wait(0.5); // at 175, short of the sensor
    ASSERT_TRUE(Device->SetLim(0, 1 | 4, 0));
    Wait(0.5); // at 600: past the sensor, still searching
    EXPECT_EQ(Stat(), 6);
    Wait(2);
    EXPECT_EQ(Stat(), 2);
    EXPECT_EQ(Nc(), 1000);
    EXPECT_EQ(Nb(), 0);
}
