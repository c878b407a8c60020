// The real program (offscreen) on the recording double, ended by a signal:
// it must close as its close box does (the stop before the link's close,
// the settings file written with this run's values) and end with status 0.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/linkclient/ChildProcess.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& Path)
{
    std::ifstream In(Path, std::ios::binary);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
}

std::vector<std::string> Lines(const std::string& Text)
{
    std::vector<std::string> L;
    std::istringstream In(Text);
    for (std::string Line; std::getline(In, Line);)
        L.push_back(Line);
    return L;
}

class EndSignal : public ::testing::TestWithParam<int> {
protected:
    fs::path Dir;
    pid_t Pid = -1;

    void SetUp() override
    {
        // A folder of its own: the panel keeps velmor.ini beside itself.
        Dir = LinkTest::MakeTempFolder();
        fs::copy_file(VELMOR_PANEL_EXE, Dir / "velmor");
        fs::copy_file(VELMOR_RECORDING_LIB, Dir / "libvelmor.so");
        std::ofstream(Dir / "velmor.ini", std::ios::binary) << "[V]\r\nVw=1234\r\n";
    }

    void TearDown() override
    {
        if (Pid > 0) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
        fs::remove_all(Dir);
    }

    void Launch(const std::vector<std::string>& Extra = {})
    {
        std::vector<std::string> Env;
        for (char** E = environ; *E; ++E)
            Env.emplace_back(*E);
        Env.push_back("QT_QPA_PLATFORM=offscreen");
        Env.push_back("VELMOR_DOUBLE_LOG=" + (Dir / "calls.log").string());
        Env.insert(Env.end(), Extra.begin(), Extra.end());
        std::vector<char*> EnvP;
        for (std::string& E : Env)
            EnvP.push_back(E.data());
        EnvP.push_back(nullptr);
        std::string Exe = (Dir / "velmor").string();
        char* Argv[] = {Exe.data(), nullptr};
        ASSERT_EQ(::posix_spawn(&Pid, Exe.c_str(), nullptr, nullptr, Argv, EnvP.data()), 0);
    }

    // The exit status within Ms; -1 if it is still running.
    int WaitExit(int Ms)
    {
        int Status = 0;
        const bool Ended = LinkTest::WaitUntil([&] { return ::waitpid(Pid, &Status, WNOHANG) == Pid; }, Ms);
        if (!Ended)
            return -1;
        Pid = -1;
        return Status;
    }
};

TEST_P(EndSignal, ClosesAsTheCloseBoxDoesAndEndsWithZero)
{
    Launch();
    // Connected: the parameters went out from the first tick of the running
    // event loop, so the signals are caught by now.
    ASSERT_TRUE(LinkTest::WaitUntil([&] { return ReadFile(Dir / "calls.log").find("VLM_SetCtrl(") != std::string::npos; },
                                    30000))
        << "the panel did not connect";
    ASSERT_EQ(::kill(Pid, GetParam()), 0);
    const int Status = WaitExit(30000);
    ASSERT_NE(Status, -1) << "still running";
    ASSERT_TRUE(WIFEXITED(Status)) << "ended by signal " << (WIFSIGNALED(Status) ? WTERMSIG(Status) : 0);
    EXPECT_EQ(WEXITSTATUS(Status), 0);

    const std::vector<std::string> Calls = Lines(ReadFile(Dir / "calls.log"));
    EXPECT_NE(std::find(Calls.begin(), Calls.end(), "VLM_SetVw(1234)"), Calls.end()) << "the stored speed was sent";
    ASSERT_GE(Calls.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(Calls.end() - 3, Calls.end()),
              (std::vector<std::string>{"VLM_Stop()", "VLM_Stop()", "VLM_CloseDevice()"}))
        << "the closing stop, the disconnect's stop, the close";

    const std::string Ini = ReadFile(Dir / "velmor.ini");
    EXPECT_NE(Ini.find("[V]\r\nVw=1234\r\n"), std::string::npos) << Ini;
    for (const char* Entry : {"Vm=50\r\n", "Left=600\r\n", "[Control]\r\nMode=32\r\n"})
        EXPECT_NE(Ini.find(Entry), std::string::npos) << "every entry written, " << Entry << " missing: " << Ini;
    EXPECT_FALSE(fs::exists(Dir / "velmor.ini.tmp"));
}

TEST_P(EndSignal, ASecondSignalEndsAClosingThatCannotFinish)
{
    // The first attempt's open never returns, so the closing, which waits
    // for it, never ends.
    Launch({"VELMOR_DOUBLE_HOLD_OPEN=1"});
    // The second close is the first tick's: the event loop runs.
    const auto Closes = [&] {
        const std::vector<std::string> L = Lines(ReadFile(Dir / "calls.log"));
        return std::count(L.begin(), L.end(), "VLM_CloseDevice()");
    };
    ASSERT_TRUE(LinkTest::WaitUntil([&] { return Closes() >= 2; }, 30000)) << "the panel did not start";
    ASSERT_EQ(::kill(Pid, GetParam()), 0);
    EXPECT_EQ(WaitExit(300), -1) << "the closing waits for the open";
    ASSERT_EQ(::kill(Pid, GetParam()), 0);
    const int Status = WaitExit(30000);
    ASSERT_NE(Status, -1) << "still running after the second signal";
    ASSERT_TRUE(WIFSIGNALED(Status));
    EXPECT_EQ(WTERMSIG(Status), GetParam());
    EXPECT_FALSE(fs::exists(Dir / "velmor.ini.tmp"));
}

INSTANTIATE_TEST_SUITE_P(, EndSignal, ::testing::Values(SIGTERM, SIGHUP, SIGINT),
                         [](const ::testing::TestParamInfo<int>& I) {
                             return std::string(I.param == SIGTERM ? "SIGTERM" : I.param == SIGHUP ? "SIGHUP" : "SIGINT");
                         });

} // namespace
