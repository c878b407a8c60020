#pragma once

// The fixture of velmorctl's in-process tests: the recording test double and
// a clock the test drives.
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/VelmorDouble.h"
#include "velmorctl/Ctl.h"

namespace VD = VelmorDouble;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

constexpr int64_t Ms = 1000000;

struct TempDir {
    fs::path Path;
    TempDir()
    {
        char Name[] = "/tmp/velmorctl-test-XXXXXX";
        Path = mkdtemp(Name);
    }
    ~TempDir() { fs::remove_all(Path); }
};

class Ctl : public ::testing::Test {
protected:
    std::ostringstream Out, Err;
    VelmorCtl::Context Ctx{Out, Err, {}, {}, {}, {}};
    // Fake time: every library call takes CallCost.
    int64_t Base = 0, CallCost = 0;
    std::vector<int64_t> Deadlines;
    std::function<int()> SignalWhen = [] { return 0; };

    void SetUp() override
    {
        VD::Reset();
        Ctx.Now = [this] { return Base + CallCost * static_cast<int64_t>(VD::Calls().size()); };
        Ctx.SleepUntil = [this](int64_t D) {
            Deadlines.push_back(D);
            if (D > Ctx.Now())
                Base = D - CallCost * static_cast<int64_t>(VD::Calls().size());
        };
        Ctx.Signal = [this] { return SignalWhen(); };
        // 2026-12-10T00:00:00Z at the start of the fake monotonic clock.
        Ctx.WallNow = [this] { return 1796860800LL * 1000 * Ms + Ctx.Now(); };
    }

    int Run(const Strings& Args) { return VelmorCtl::Run(Args, Ctx); }
    static Strings Session(Strings Calls)
    {
        Calls.insert(Calls.begin(), "VLM_OpenDevice()");
        Calls.push_back("VLM_CloseDevice()");
        return Calls;
    }
};
