// docs/protocol.md's register table for integrators against the code's own
// definitions: each register's address (hex and 1-based), type, the range
// the controller takes (asked of its checks, at both ends and one beyond)
// and the factory default; the poll table's figures from the line's timing;
// and its mbpoll commands for negative values, run against velmor-sim.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/DeviceState.h"
#include "core/FieldRanges.h"
#include "link/Registers.h"
#include "link/RtuFrame.h"
#include "sim/Parameters.h"

namespace fs = std::filesystem;

namespace {

std::string Protocol()
{
    std::ifstream In(std::string(VELMOR_SOURCE_DIR) + "/docs/protocol.md");
    std::ostringstream All;
    All << In.rdbuf();
    return All.str();
}

std::vector<std::string> Cells(const std::string& Row)
{
    std::vector<std::string> Out;
    std::istringstream In(Row.substr(1));
    for (std::string C; std::getline(In, C, '|');) {
        const size_t B = C.find_first_not_of(' '), E = C.find_last_not_of(' ');
        Out.push_back(B == std::string::npos ? "" : C.substr(B, E - B + 1));
    }
    return Out;
}

// The rows of the table whose header row starts with Header.
std::vector<std::vector<std::string>> Table(const std::string& Doc, const std::string& Header)
{
    std::vector<std::vector<std::string>> Rows;
    size_t At = Doc.find("\n" + Header);
    EXPECT_NE(At, std::string::npos) << Header;
    if (At == std::string::npos)
        return Rows;
    std::istringstream In(Doc.substr(At + 1));
    std::string Line;
    std::getline(In, Line); // the header
    std::getline(In, Line); // |---|
    while (std::getline(In, Line) && !Line.empty() && Line[0] == '|')
        Rows.push_back(Cells(Line));
    return Rows;
}

using Check = std::function<bool(int32_t)>; // true: the controller takes it

// A register as the code defines it.
struct Register {
    bool Holding;
    uint16_t Address;
    const char* Type; // "s32", "u16", "text"
    int Words;
    int64_t Low, High;      // LLONG_MIN: not a number range
    Check Takes;            // null: no check of the controller's
    const char* Default;    // "" none
};

bool Taken(const Sim::Refusal& R) { return !R; }

std::vector<Register> Registers()
{
    namespace H = Link::Holding;
    namespace I = Link::Input;
    using Link::Reason;
    const Sim::Parameters P;
    static std::vector<std::string> Defaults; // the texts live as long as the table
    Defaults.clear();
    for (int32_t V : {P.Step, P.Decay, P.Iw, P.Ia, P.Ih, P.Vm, P.Vw, P.Aw, P.LimBackward, P.LimForward, P.LimHome, P.Ctrl})
        Defaults.push_back(std::to_string(V));
    const int64_t Min = INT32_MIN, Max = INT32_MAX;
    auto Current = [](Reason R) { return [R](int32_t V) { return Taken(Sim::CheckCurrent(R, V)); }; };
    auto Word = [](Reason R) { return [R](int32_t V) { return Taken(Sim::CheckInputWord(R, V)); }; };
    return {
        {true, H::Step, "s32", 2, 1, 2, [](int32_t V) { return Taken(Sim::CheckStep(V)); }, Defaults[0].c_str()},
        {true, H::Decay, "s32", 2, 0, 1, [](int32_t V) { return Taken(Sim::CheckDecay(V)); }, Defaults[1].c_str()},
        {true, H::Iw, "s32", 2, 0, Core::MaxCurrent, Current(Reason::WorkingCurrent), Defaults[2].c_str()},
        {true, H::Ia, "s32", 2, 0, Core::MaxCurrent, Current(Reason::AccelerationCurrent), Defaults[3].c_str()},
        {true, H::Ih, "s32", 2, 0, Core::MaxCurrent, Current(Reason::HoldingCurrent), Defaults[4].c_str()},
        {true, H::Vm, "s32", 2, 1, Core::MaxSpeed, [](int32_t V) { return Taken(Sim::CheckVm(V)); }, Defaults[5].c_str()},
        {true, H::Vw, "s32", 2, 0, Core::MaxSpeed, [](int32_t V) { return Taken(Sim::CheckVw(V)); }, Defaults[6].c_str()},
        {true, H::Aw, "s32", 2, 0, Core::MaxAcceleration, [](int32_t V) { return Taken(Sim::CheckAw(V)); },
         Defaults[7].c_str()},
        {true, H::LimBackward, "s32", 2, 0, Core::InputWordBits, Word(Reason::BackwardLimitWord), Defaults[8].c_str()},
        {true, H::LimForward, "s32", 2, 0, Core::InputWordBits, Word(Reason::ForwardLimitWord), Defaults[9].c_str()},
        {true, H::LimHome, "s32", 2, 0, Core::InputWordBits, Word(Reason::HomeSensorWord), Defaults[10].c_str()},
        // The control word's top: both option bits and the highest mode.
        {true, H::Ctrl, "s32", 2, 0, 0x30 | Core::ControlMaxMode, [](int32_t V) { return Taken(Sim::CheckCtrl(V)); },
         Defaults[11].c_str()},
        {true, H::Command, "u16", 1, Link::Command::SetCoordinate, Link::Command::Save, nullptr, "0"},
        {true, H::Argument, "s32", 2, Min, Max, nullptr, "0"},
        {true, H::Watchdog, "u16", 1, 0, 65535, nullptr, "0"},
        {false, I::State, "u16", 1, Core::StateStopped, Core::StateHoming, nullptr, ""},
        {false, I::Nc, "s32", 2, Min, Max, nullptr, ""},
        {false, I::Nb, "s32", 2, Min, Max, nullptr, ""},
        {false, I::Vc, "s32", 2, -Core::MaxSpeed, Core::MaxSpeed, nullptr, ""},
        {false, I::Lim, "u16", 1, 0, Core::ActiveBackward | Core::ActiveForward | Core::ActiveHome, nullptr, ""},
        {false, I::Adc, "u16", 1, 0, 65535, nullptr, ""},
        {false, I::Reason, "u16", 1, 0, static_cast<int64_t>(Reason::WatchdogExpired), nullptr, "0"},
        {false, I::ReasonValue, "s32", 2, Min, Max, nullptr, "0"},
        {false, I::ReasonRangeGiven, "u16", 1, 0, 1, nullptr, "0"},
        {false, I::ReasonLow, "s32", 2, Min, Max, nullptr, "0"},
        {false, I::ReasonHigh, "s32", 2, Min, Max, nullptr, "0"},
        {false, I::Ident, "text", I::IdentCount, LLONG_MIN, LLONG_MIN, nullptr, ""},
    };
}

std::string Hex(uint16_t A)
{
    char B[8];
    std::snprintf(B, sizeof B, "0x%04X", A);
    return B;
}

TEST(ProtocolTable, EveryRegisterAsTheCodeDefinesIt)
{
    const auto Rows = Table(Protocol(), "| Modicon | hex | what | access | type | unit | range | default |");
    const std::vector<Register> Code = Registers();
    EXPECT_EQ(Rows.size(), Code.size()) << "a register in the table that the code does not have, or one left out";
    for (const Register& R : Code) {
        const std::string Address = Hex(R.Address);
        SCOPED_TRACE((R.Holding ? "holding " : "input ") + Address);
        const std::vector<std::string>* Row = nullptr;
        for (const auto& C : Rows)
            if (C.size() == 8 && C[1] == Address && C[0].size() == 5 + (R.Words > 1 ? 6 : 0) &&
                C[0][0] == (R.Holding ? '4' : '3'))
                Row = &C;
        ASSERT_NE(Row, nullptr) << "not in the table";
        const std::vector<std::string>& C = *Row;
        // 1-based: 40001 is holding 0x0000, 30001 input 0x0000.
        const int First = (R.Holding ? 40001 : 30001) + R.Address;
        EXPECT_EQ(C[0], R.Words == 1 ? std::to_string(First)
                                     : std::to_string(First) + "-" + std::to_string(First + R.Words - 1));
        EXPECT_EQ(C[4], R.Type);
        // Every holding register is written; an input register only read.
        if (R.Holding) {
            EXPECT_TRUE(C[3] == "read/write" || C[3] == "write; read: the last") << C[3];
        } else {
            EXPECT_EQ(C[3], "read");
        }
        EXPECT_EQ(C[7], R.Default);
        if (R.Low == LLONG_MIN) {
            EXPECT_EQ(C[6], "");
            continue;
        }
        EXPECT_EQ(C[6], std::to_string(R.Low) + ".." + std::to_string(R.High));
        if (R.Takes) {
            EXPECT_TRUE(R.Takes(static_cast<int32_t>(R.Low))) << R.Low;
            EXPECT_TRUE(R.Takes(static_cast<int32_t>(R.High))) << R.High;
            EXPECT_FALSE(R.Takes(static_cast<int32_t>(R.Low - 1))) << R.Low - 1;
            EXPECT_FALSE(R.Takes(static_cast<int32_t>(R.High + 1))) << R.High + 1;
        }
    }
    // The parameters' block and the command block as the code sizes them.
    EXPECT_EQ(Link::Holding::ParameterCount, Link::Holding::Ctrl + 2);
    EXPECT_EQ(Link::Holding::CommandCount, 3);
}

TEST(ProtocolTable, ThePollFiguresFollowFromTheLinesTiming)
{
    const auto Rows =
        Table(Protocol(), "| line speed | one status read | reads per second at most | clients polling every 100 ms |");
    ASSERT_EQ(Rows.size(), 5u);
    for (const auto& C : Rows) {
        ASSERT_EQ(C.size(), 5u);
        const int Baud = std::stoi(C[0]);
        SCOPED_TRACE(Baud);
        // Request 8 bytes, answer 5 + 2 * 9, 11 bits a byte; the silence
        // before the next request; a 5 ms turnaround.
        const double Wire = (8 + 5 + 2 * Link::Input::StatusCount) * 11 * 1000.0 / Baud;
        const double Read = Wire + Link::FrameGapUs(Baud) / 1000.0 + 5;
        char Ms[32];
        std::snprintf(Ms, sizeof Ms, "%.1f ms", Read);
        EXPECT_EQ(C[1], Ms);
        EXPECT_EQ(std::stoi(C[2]), static_cast<int>(1000 / Read));
        EXPECT_EQ(std::stoi(C[3]), static_cast<int>(100 * 0.7 / Read));
        EXPECT_EQ(std::stoi(C[4]), static_cast<int>(250 * 0.7 / Read));
    }
}

// velmor-sim on a pseudo-terminal for the mbpoll commands.
class ProtocolMbpoll : public ::testing::Test {
protected:
    std::string Dir, Line;
    pid_t Sim = -1;

    void SetUp() override
    {
        if (::access("/usr/bin/mbpoll", X_OK) != 0)
            GTEST_SKIP() << "mbpoll is not installed (scripts/packages)";
        char Template[] = "/tmp/velmor-mbpoll-XXXXXX";
        ASSERT_NE(mkdtemp(Template), nullptr);
        Dir = Template;
        Line = Dir + "/line";
        int Out[2];
        ASSERT_EQ(pipe2(Out, O_CLOEXEC), 0);
        Sim = fork();
        if (Sim == 0) {
            dup2(Out[1], 1);
            execl(VELMOR_SIM_PROGRAM, "velmor-sim", "--pty", Line.c_str(), "--state", (Dir + "/state.ini").c_str(),
                  "--control", (Dir + "/control").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(Out[1]);
        pollfd P{Out[0], POLLIN, 0};
        char B[256] = {};
        ASSERT_EQ(poll(&P, 1, 10000), 1);
        ASSERT_GT(read(Out[0], B, sizeof B - 1), 0);
        close(Out[0]);
    }
    void TearDown() override
    {
        if (Sim > 0) {
            kill(Sim, SIGTERM);
            waitpid(Sim, nullptr, 0);
        }
        if (!Dir.empty())
            fs::remove_all(Dir);
    }

    // A command run in a shell; its output and exit code.
    std::string Shell(const std::string& Command, int& Code)
    {
        const std::string Full = "timeout 20 " + Command + " 2>&1";
        FILE* P = popen(Full.c_str(), "r");
        std::string Out;
        char B[512];
        while (P && fgets(B, sizeof B, P))
            Out += B;
        const int Status = P ? pclose(P) : -1;
        Code = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
        return Out;
    }
};

TEST_F(ProtocolMbpoll, TheNegativeValueCommandsDoWhatTheTableSays)
{
    const std::string Doc = Protocol();
    const size_t Start = Doc.find("**Negative values.**");
    ASSERT_NE(Start, std::string::npos);
    const size_t Block = Doc.find("```sh\n", Start) + 6;
    const std::string Commands = Doc.substr(Block, Doc.find("```", Block) - Block);
    std::vector<std::string> Lines;
    std::istringstream In(Commands);
    for (std::string L; std::getline(In, L);)
        if (!L.empty() && L[0] != '#')
            Lines.push_back(std::regex_replace(L, std::regex("/dev/ttyUSB0"), Line));
    ASSERT_EQ(Lines.size(), 4u) << Commands;

    int Code = -1;
    // Go to -5000 as three raw words, then the argument read back signed.
    std::string Out = Shell(Lines[0], Code);
    EXPECT_EQ(Code, 0) << Out;
    EXPECT_NE(Out.find("Written 3 references"), std::string::npos) << Out;
    Out = Shell(Lines[1], Code);
    EXPECT_EQ(Code, 0) << Out;
    EXPECT_NE(Out.find("[33]: \t-5000"), std::string::npos) << Out;
    // The motor heads for -5000: the coordinate reads signed and below 0.
    usleep(200000);
    Out = Shell(Lines[2], Code);
    EXPECT_EQ(Code, 0) << Out;
    std::smatch M;
    ASSERT_TRUE(std::regex_search(Out, M, std::regex(R"(\[1\]: \t(-?[0-9]+))"))) << Out;
    EXPECT_LT(std::stoi(M[1]), 0);
    // -1 as one signed 32-bit value is sent, and refused with reason 7.
    Out = Shell(Lines[3], Code);
    EXPECT_NE(Code, 0) << Out;
    EXPECT_NE(Out.find("Illegal data value"), std::string::npos) << Out;
    Out = Shell("mbpoll -m rtu -b 115200 -a 1 -t 3 -0 -r 16 -c 3 -1 " + Line, Code);
    EXPECT_NE(Out.find("[16]: \t7"), std::string::npos) << Out;
    EXPECT_NE(Out.find("[17]: \t65535 (-1)"), std::string::npos) << Out;
    EXPECT_NE(Out.find("[18]: \t65535 (-1)"), std::string::npos) << Out;
    // And -t 4 refuses -1, as the text says.
    Out = Shell("mbpoll -m rtu -b 115200 -a 1 -t 4 -0 -r 32 " + Line + " -- 3 0 -1", Code);
    EXPECT_NE(Code, 0);
    EXPECT_NE(Out.find("data out of range (-1)"), std::string::npos) << Out;
}

} // namespace
