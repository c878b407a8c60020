// The status log's CSV rows: held to the file velmorctl watch writes, and the
// plot's export of a span of its history.
#include <gtest/gtest.h>

#include <sstream>

#include "core/SampleCsv.h"
#include "device/Commands.h"
#include "plot/CsvExport.h"
#include "tests/support/VelmorDouble.h"
#include "velmorctl/Ctl.h"

namespace VD = VelmorDouble;

namespace {

constexpr int64_t NsPerUs = 1000;
// 2026-12-10T00:00:00Z, plus a part of a second so the milliseconds show.
constexpr int64_t WallStartNs = 1796860800LL * 1000000000 + 987654321;

std::vector<std::string> Lines(const std::string& Text)
{
    std::vector<std::string> R;
    std::istringstream In(Text);
    for (std::string L; std::getline(In, L);)
        R.push_back(L);
    return R;
}

struct TReading {
    int32_t Nc, Lim, Vc, Stat;
};

} // namespace

// velmorctl watch on the test double with a clock of our own; the same
// readings as samples give the same rows, byte for byte.
TEST(SampleCsv, RowsMatchVelmorctlWatch)
{
    VD::Reset();
    std::ostringstream Out, Err;
    int64_t Now = 0;
    VelmorCtl::Context Ctx{Out, Err, {}, {}, {}, {}};
    Ctx.Now = [&] { return Now; };
    Ctx.SleepUntil = [&](int64_t D) { Now = std::max(Now, D); };
    Ctx.Signal = [] { return 0; };
    Ctx.WallNow = [&] { return WallStartNs + Now; };

    const std::vector<TReading> Readings = {
        {0, 0, 0, 0}, {-1500, 1, -250, 3}, {2147483647, 7, 30000, 4}, {-2147483647 - 1, 4, -30000, 99}};
    for (const TReading& R : Readings) {
        VD::QueueRead("VLM_GetNc", R.Nc);
        VD::QueueRead("VLM_GetLim", R.Lim);
        VD::QueueRead("VLM_GetVc", R.Vc);
        VD::QueueRead("VLM_GetStat", R.Stat);
    }
    // The fifth sample fails with a text that needs quoting; the sixth reads
    // again after the reconnection.
    const int32_t Interval = 1234; // ms: times that are not round
    std::vector<Core::PollSample> Samples;
    for (std::size_t K = 0; K < 6; ++K) {
        Core::PollSample S;
        S.SteadyUs = static_cast<int64_t>(K) * Interval * 1000;
        S.UtcUs = (WallStartNs + S.SteadyUs * NsPerUs) / NsPerUs;
        if (K < Readings.size()) {
            S.Ok = S.HasMotion = S.HasState = true;
            S.Coordinate = Readings[K].Nc;
            S.Limits = Readings[K].Lim;
            S.Speed = Readings[K].Vc;
            S.StateCode = Readings[K].Stat;
        } else if (K == 4) {
            S.Error = "Timeout, \"no\" answer\nfrom 1";
        } else {
            S.Ok = S.HasMotion = S.HasState = true; // the double's reads give 0
        }
        Samples.push_back(S);
    }
    // The four good samples first.
    ASSERT_EQ(VelmorCtl::Run({"watch", "--interval", std::to_string(Interval), "--count", "4", "--csv", "-"}, Ctx),
              0)
        << Err.str();
    const std::vector<std::string> First = Lines(Out.str());
    ASSERT_EQ(First.size(), 5u);
    EXPECT_EQ(First[0], Core::SampleCsvHeader());
    for (std::size_t K = 0; K < 4; ++K)
        EXPECT_EQ(First[K + 1], Core::SampleCsvRow(Samples[K], 0, Commands::StateText)) << K;

    // A second watch whose first read fails: the failed row and the row after
    // the reconnection, timed from that watch's own start.
    Out.str("");
    Err.str("");
    Now = 4LL * Interval * 1000000;
    VD::Fail("VLM_GetNc", "Timeout, \"no\" answer\nfrom 1", 1);
    EXPECT_NE(VelmorCtl::Run({"watch", "--interval", std::to_string(Interval), "--count", "2", "--csv", "-"}, Ctx),
              0);
    const std::vector<std::string> Second = Lines(Out.str());
    ASSERT_EQ(Second.size(), 3u) << Out.str();
    const int64_t Origin = 4LL * Interval * 1000;
    EXPECT_EQ(Second[1], Core::SampleCsvRow(Samples[4], Origin, Commands::StateText));
    EXPECT_EQ(Second[2], Core::SampleCsvRow(Samples[5], Origin, Commands::StateText));
    // What those rows are, spelt out once.
    EXPECT_EQ(Second[1], "0.000,2026-12-10T00:00:05.923Z,,,,,,\"Timeout, \"\"no\"\" answer from 1\"");
    EXPECT_EQ(First[2], "1.234,2026-12-10T00:00:02.221Z,-1500,-250,1,3,Rotating...,");
}

TEST(SampleCsv, AReadingWithoutMotionLeavesItsFieldsEmpty)
{
    Core::PollSample S;
    S.SteadyUs = 2500000;
    S.UtcUs = 1796860800LL * 1000000 + 1999;
    S.Ok = S.HasState = true;
    S.StateCode = 1;
    S.Coordinate = 77; // not read: not written
    EXPECT_EQ(Core::SampleCsvRow(S, 500000, Commands::StateText), "2.000,2026-12-10T00:00:00.001Z,,,,1,Operation done,");
    S.HasState = false;
    S.HasMotion = true;
    EXPECT_EQ(Core::SampleCsvRow(S, 500000, Commands::StateText), "2.000,2026-12-10T00:00:00.001Z,77,0,0,,,");
}

TEST(SampleCsv, AFailedReadingWithoutATextStillSaysItFailed)
{
    Core::PollSample S;
    S.SteadyUs = 1000;
    S.UtcUs = 1796860800LL * 1000000;
    S.HasMotion = S.HasState = true; // a failed reading's values are never written
    S.Coordinate = 5;
    EXPECT_EQ(Core::SampleCsvRow(S, 0, Commands::StateText), "0.001,2026-12-10T00:00:00.000Z,,,,,,the read failed");
}

TEST(SampleCsv, FieldsAreQuotedOnlyWhenTheyMustBe)
{
    EXPECT_EQ(Core::CsvField("Timeout"), "Timeout");
    EXPECT_EQ(Core::CsvField(""), "");
    EXPECT_EQ(Core::CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(Core::CsvField("say \"x\""), "\"say \"\"x\"\"\"");
    EXPECT_EQ(Core::CsvField("one\r\ntwo"), "\"one  two\"");
}

TEST(PlotCsv, ExportsASpanTimedFromItsFirstRow)
{
    Plot::THistory H(100, 3600LL * 1000000);
    for (int I = 0; I < 10; ++I) {
        Core::PollSample S;
        S.SteadyUs = 7000000 + I * 100000;
        S.UtcUs = 1796860800LL * 1000000 + I * 100000;
        S.Ok = I != 5;
        S.HasMotion = S.HasState = S.Ok;
        S.Coordinate = I * 10;
        S.StateCode = 4;
        S.Error = S.Ok ? "" : "Link down";
        H.Add(S);
    }
    std::ostringstream Out;
    EXPECT_EQ(Plot::WriteCsv(Out, H, 7300000, 7600000, Commands::StateText), 4u);
    EXPECT_EQ(Out.str(), std::string(Core::SampleCsvHeader()) +
                             "\n0.000,2026-12-10T00:00:00.300Z,30,0,0,4,Positioning...,"
                             "\n0.100,2026-12-10T00:00:00.400Z,40,0,0,4,Positioning...,"
                             "\n0.200,2026-12-10T00:00:00.500Z,,,,,,Link down"
                             "\n0.300,2026-12-10T00:00:00.600Z,60,0,0,4,Positioning...,\n");
    std::ostringstream All;
    EXPECT_EQ(Plot::WriteCsv(All, H, INT64_MIN, INT64_MAX, Commands::StateText), 10u);
    std::ostringstream None;
    EXPECT_EQ(Plot::WriteCsv(None, H, 0, 1000, Commands::StateText), 0u);
    EXPECT_EQ(None.str(), std::string(Core::SampleCsvHeader()) + "\n");
}
