#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "sim/Controller.h"
#include "tests/support/TempFolder.h"

// A virtual controller on a hand-driven clock, with its state and control
// files in a fresh temporary folder, on a short axis: backward limit -1000,
// forward limit 1000, home sensor 500 (active 450..550).
class SimFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestSupport::MakeTempFolder("velmor-sim", Dir);
        Layout.BackwardLimit = -1000;
        Layout.ForwardLimit = 1000;
        Layout.HomeSensor = 500;
        Layout.HomeHalfWidth = 50;
    }
    void TearDown() override
    {
        Device.reset();
        std::error_code Ec;
        std::filesystem::remove_all(Dir, Ec);
    }

    std::string StatePath() const { return Dir + "/state/virtual-controller.ini"; }
    std::string ControlPath() const { return Dir + "/virtual-controller.control"; }

    Sim::Options Opts()
    {
        Sim::Options O;
        O.Now = [this] { return NowNs; };
        O.StatePath = StatePath();
        O.ControlPath = ControlPath();
        O.Axis = Layout;
        return O;
    }

    // A new controller (as in a new process), opened when asked.
    Sim::VirtualController& Make(bool Open = true)
    {
        Device = std::make_unique<Sim::VirtualController>(Opts());
        if (Open) {
            EXPECT_TRUE(Device->OpenDevice());
        }
        return *Device;
    }

    // Opened, with start speed 100, working speed 1000, acceleration 1000:
    // the ramp from 100 to 1000 takes 0.9 s and 495 half-steps.
    Sim::VirtualController& MakeDrive(int32_t Aw = 1000)
    {
        Make();
        EXPECT_TRUE(Device->SetVm(100));
        EXPECT_TRUE(Device->SetVw(1000));
        EXPECT_TRUE(Device->SetAw(Aw));
        return *Device;
    }

    // The drive after 2 s of a forward run: cruising at 1000, at 1595.
    void MakeCruising()
    {
        MakeDrive();
        ASSERT_TRUE(Device->StartD(1)) << Device->LastError();
        Wait(2);
    }

    // The same drive with the input words of SetLim.
    void MakeDriveWithInputs(int32_t Backward, int32_t Forward, int32_t Home)
    {
        MakeDrive();
        EXPECT_TRUE(Device->SetLim(Backward, Forward, Home)) << Device->LastError();
    }

    void Wait(double Seconds) { NowNs += std::llround(Seconds * 1e9); }

    // Each read is a library call: it moves the model on to now.
    int32_t Get(bool (Sim::VirtualController::*Read)(int32_t*))
    {
        int32_t V = -100;
        EXPECT_TRUE(((*Device).*Read)(&V)) << Device->LastError();
        return V;
    }
    int32_t Stat() { return Get(&Sim::VirtualController::GetStat); }
    int32_t Nc() { return Get(&Sim::VirtualController::GetNc); }
    int32_t Nb() { return Get(&Sim::VirtualController::GetNb); }
    int32_t Vc() { return Get(&Sim::VirtualController::GetVc); }
    int32_t Lim() { return Get(&Sim::VirtualController::GetLim); }
    // The exact coordinate and speed, after a call has moved the model on.
    double X()
    {
        Stat();
        return Device->Axis().Coordinate();
    }
    double V()
    {
        Stat();
        return Device->Axis().Velocity();
    }

    void WriteFile(const std::string& Path, const std::string& Text)
    {
        std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
        const std::string Temp = Path + ".new";
        {
            std::ofstream Out(Temp, std::ios::binary | std::ios::trunc);
            Out << Text;
        }
        std::filesystem::rename(Temp, Path);
    }

    std::string Dir;
    Sim::AxisLayout Layout;
    int64_t NowNs = 5000000000;
    std::unique_ptr<Sim::VirtualController> Device;
};
