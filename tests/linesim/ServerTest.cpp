// velmor-sim's side of the line: requests through the codec into the server
// over a virtual controller on a hand-driven clock, and once the real
// program on a pseudo-terminal.
#include "tests/sim/SimFixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "link/Registers.h"
#include "link/RtuFrame.h"
#include "linesim/Server.h"

namespace {

using Link::Request;
using Link::ResponseStatus;

class ServerTest : public SimFixture {
protected:
    void Start(uint8_t Address = 1)
    {
        Make(false); // the server opens it at the first request
        Line = std::make_unique<LineSim::Server>(*Device, Address);
    }

    // The request's bytes through the server's parser and handler, and the
    // answer through the client's parser.
    Link::Response Ask(const Request& R)
    {
        const Link::Frame Bytes = Link::BuildRequest(R);
        Raw = Line->Handle(Link::ParseRequest(Bytes.data(), Bytes.size()));
        return Link::ParseResponse(R, Raw.data(), Raw.size(), true);
    }
    Link::Response Write(uint16_t Start, std::vector<uint16_t> Values, uint8_t Address = 1)
    {
        return Ask(Link::WriteRequest(Address, Start, std::move(Values)));
    }
    Link::Response Command(uint16_t Code, int32_t Argument)
    {
        return Write(Link::Holding::Command, Link::CommandBlock(Code, Argument));
    }
    std::vector<uint16_t> Pair(int32_t V)
    {
        std::vector<uint16_t> W;
        Link::AppendInt32(W, V);
        return W;
    }
    // The refusal text a client makes after an exception.
    std::string ReasonText()
    {
        const Link::Response R = Ask(Link::ReadRequest(1, Link::ReadInput, Link::Input::Reason, 3));
        EXPECT_EQ(R.Status, ResponseStatus::Ok);
        if (R.Values.size() != 3)
            return "(no reason)";
        return Link::ReasonText(R.Values[0], Link::GetInt32(&R.Values[1]));
    }
    void ExpectException(const Link::Response& R, uint8_t Code, const char* What)
    {
        EXPECT_EQ(R.Status, ResponseStatus::Exception) << What << ": " << Link::StatusText(R.Status);
        EXPECT_EQ(R.Code, Code) << What;
    }

    std::unique_ptr<LineSim::Server> Line;
    Link::Frame Raw;
};

} // namespace

TEST_F(ServerTest, StatusBlockIdentificationAndCommands)
{
    Start();
    Link::Response Id = Ask(Link::ReadRequest(1, Link::ReadInput, Link::Input::Ident, Link::Input::IdentCount));
    ASSERT_EQ(Id.Status, ResponseStatus::Ok);
    EXPECT_EQ(Link::UnpackIdent(Id.Values.data(), Id.Values.size()), "Virtual controller VLM-1 (simulated)");

    ASSERT_EQ(Write(Link::Holding::Vm, Pair(100)).Status, ResponseStatus::Ok);
    ASSERT_EQ(Write(Link::Holding::Vw, Pair(1000)).Status, ResponseStatus::Ok);
    ASSERT_EQ(Write(Link::Holding::Aw, Pair(1000)).Status, ResponseStatus::Ok);
    ASSERT_EQ(Command(Link::Command::SetCoordinate, -300).Status, ResponseStatus::Ok);
    ASSERT_EQ(Command(Link::Command::GoTo, 700).Status, ResponseStatus::Ok);
    Wait(0.5);
    const Link::Response St = Ask(Link::ReadRequest(1, Link::ReadInput, 0, Link::Input::StatusCount));
    ASSERT_EQ(St.Status, ResponseStatus::Ok);
    Link::Status S;
    ASSERT_TRUE(Link::UnpackStatus(St.Values.data(), St.Values.size(), S));
    // The same instant as the controller's own reads.
    EXPECT_EQ(S.State, Stat());
    EXPECT_EQ(S.State, 4);
    EXPECT_EQ(S.Nc, Nc());
    EXPECT_GT(S.Nc, -300);
    int32_t V = 0, Lim = -1, Adc = 0;
    ASSERT_TRUE(Device->GetVc(&V) && Device->GetLim(&Lim) && Device->GetAdc(&Adc));
    EXPECT_EQ(S.Vc, V);
    EXPECT_GT(S.Vc, 100);
    EXPECT_EQ(S.Lim, Lim);
    EXPECT_EQ(S.Adc, Adc);

    // A part of the block, and the last command read back.
    const Link::Response Coord = Ask(Link::ReadRequest(1, Link::ReadInput, Link::Input::Nc, 2));
    ASSERT_EQ(Coord.Status, ResponseStatus::Ok);
    EXPECT_EQ(Link::GetInt32(Coord.Values.data()), S.Nc);
    const Link::Response Last = Ask(Link::ReadRequest(1, Link::ReadHolding, Link::Holding::Command, 3));
    ASSERT_EQ(Last.Status, ResponseStatus::Ok);
    EXPECT_EQ(Last.Values, Link::CommandBlock(Link::Command::GoTo, 700));

    // Step and decay, and the three limit words, each in one request.
    ASSERT_EQ(Write(Link::Holding::Step, {0, 2, 0, 1}).Status, ResponseStatus::Ok);
    ASSERT_EQ(Write(Link::Holding::LimBackward, {0, 1, 0, 5, 0, 3}).Status, ResponseStatus::Ok);
    EXPECT_EQ(Device->Params().Step, 2);
    EXPECT_EQ(Device->Params().Decay, 1);
    EXPECT_EQ(Device->Params().LimForward, 5);
    EXPECT_EQ(Device->Params().LimHome, 3);
    const Link::Response Held = Ask(Link::ReadRequest(1, Link::ReadHolding, 0, Link::Holding::ParameterCount));
    ASSERT_EQ(Held.Status, ResponseStatus::Ok);
    EXPECT_EQ(Link::GetInt32(&Held.Values[Link::Holding::Vw]), 1000);
    EXPECT_EQ(Link::GetInt32(&Held.Values[Link::Holding::Ctrl]), 32);

    ASSERT_EQ(Command(Link::Command::Stop, 0).Status, ResponseStatus::Ok);
    EXPECT_EQ(Stat(), 0);
}

TEST_F(ServerTest, RefusalsGiveTheControllersTexts)
{
    Start();
    const Sim::Parameters Before = Device->Params();
    const std::vector<std::pair<std::function<Link::Response()>, const char*>> Cases = {
        {[&] { return Write(Link::Holding::Iw, Pair(2500)); }, "Working current 2500 mA is out of range 0..2000"},
        {[&] { return Write(Link::Holding::Step, {0, 2, 0xFFFF, 0xFFFF}); },
         "Decay mode -1 is not valid: use 0 (slow) or 1 (fast)"},
        {[&] { return Write(Link::Holding::LimBackward, {0, 1, 0, 1, 0xFFFF, 0xFFFF}); },
         "Home sensor word -1 is not valid: only bits 0..2 may be set"},
        {[&] { return Write(Link::Holding::Ctrl, Pair(0x28)); },
         "Control word 40 is not valid: local control mode 8 is out of range 0..7"},
        {[&] { return Command(Link::Command::Run, 2); },
         "Direction 2 is not valid: use 1 (forward), -1 (backward) or 0 (stop)"},
        {[&] { return Command(Link::Command::Home, 1); }, "Homing needs the home sensor, which is not enabled"},
        {[&] { return Command(9, 0); }, "Command code 9 is not known"},
    };
    for (auto& [Send, Text] : Cases) {
        ExpectException(Send(), Link::IllegalValue, Text);
        EXPECT_EQ(ReasonText(), Text);
    }
    EXPECT_EQ(Device->Params(), Before);
    EXPECT_EQ(Stat(), 0);

    // A store that cannot be written, and a call the control file fails.
    std::filesystem::create_directories(StatePath()); // a folder where the file goes
    ExpectException(Command(Link::Command::Save, 0), Link::ServerDeviceFailure, "store");
    EXPECT_EQ(ReasonText(), "Cannot store the parameters in the controller's EEPROM");
    WriteFile(ControlPath(), "fail VLM_GetNb Encoder fault\n");
    Wait(0.3);
    ExpectException(Ask(Link::ReadRequest(1, Link::ReadInput, 0, 9)), Link::ServerDeviceFailure, "fail line");
    EXPECT_EQ(ReasonText(), "The controller failed to carry out the request");
}

TEST_F(ServerTest, AddressesFunctionsAndRangesOutsideTheMap)
{
    Start(5);
    // Another address: silence. A broadcast: carried out, silence.
    EXPECT_EQ(Write(Link::Holding::Vw, Pair(1234), 4).Status, ResponseStatus::NoAnswer);
    EXPECT_EQ(Write(Link::Holding::Vw, Pair(1234), 0).Status, ResponseStatus::NoAnswer);
    EXPECT_EQ(Device->Params().Vw, 1234);
    const auto At5 = [](Request R) {
        R.Address = 5;
        return R;
    };
    const auto Read = [&](uint8_t Fn, uint16_t Start, uint16_t Count) {
        return Ask(At5(Link::ReadRequest(5, Fn, Start, Count)));
    };
    ExpectException(Read(Link::ReadInput, 0, 10), Link::IllegalAddress, "status + 1");
    ExpectException(Read(Link::ReadInput, 0x0017, 2), Link::IllegalAddress, "past the reason and its range");
    ExpectException(Read(Link::ReadInput, 0x0010, 9), Link::IllegalAddress, "the reason block + 1");
    ExpectException(Read(Link::ReadInput, 0x0100, 33), Link::IllegalAddress, "past the text");
    ExpectException(Read(Link::ReadHolding, 0x0016, 3), Link::IllegalAddress, "past the parameters");
    ExpectException(Read(Link::ReadHolding, 0xFFFF, 2), Link::IllegalAddress, "end of the address space");
    const auto W = [&](uint16_t Start, std::vector<uint16_t> V) { return Write(Start, std::move(V), 5); };
    ExpectException(W(Link::Holding::Vw + 1, {0, 5}), Link::IllegalAddress, "half of two values");
    ExpectException(W(Link::Holding::Vw, {0, 5, 0}), Link::IllegalAddress, "a value and a half");
    ExpectException(W(Link::Holding::Command, {3, 0}), Link::IllegalAddress, "command block cut short");
    ExpectException(W(Link::Holding::Argument, {0, 5}), Link::IllegalAddress, "argument alone");
    ExpectException(W(0x0018, {0, 5}), Link::IllegalAddress, "gap");
    EXPECT_EQ(Device->Params().Vw, 1234);

    // An unknown function, a bad count, a bad CRC.
    Link::Frame Unknown = {5, 0x06, 0, 0x0C, 0, 1};
    Link::AppendCrc(Unknown);
    Link::Frame Answer = Line->Handle(Link::ParseRequest(Unknown.data(), Unknown.size(), true));
    Link::Request Six = At5(Link::ReadRequest(5, 0x06, 0, 1));
    ExpectException(Link::ParseResponse(Six, Answer.data(), Answer.size()), Link::IllegalFunction, "0x06");
    ExpectException(Read(Link::ReadInput, 0, 200), Link::IllegalValue, "200 registers");
    EXPECT_EQ(Line->ReasonCode(), static_cast<uint16_t>(Link::Reason::BadCount));
    Link::Frame Bad = Link::BuildRequest(At5(Link::ReadRequest(5, Link::ReadInput, 0, 9)));
    Bad[3] ^= 1;
    EXPECT_TRUE(Line->Handle(Link::ParseRequest(Bad.data(), Bad.size())).empty());

    // A cut link: nothing is heard at all.
    WriteFile(ControlPath(), "link=down\n");
    Wait(0.3);
    EXPECT_EQ(Read(Link::ReadInput, 0, 9).Status, ResponseStatus::NoAnswer);
    WriteFile(ControlPath(), "link=up\n");
    Wait(0.3);
    EXPECT_EQ(Read(Link::ReadInput, 0, 9).Status, ResponseStatus::Ok);
}

TEST_F(ServerTest, TheWatchdogRegisterAndTheReasonItLeaves)
{
    Start();
    ASSERT_EQ(Ask(Link::ReadRequest(1, Link::ReadHolding, Link::Holding::Watchdog, 1)).Values,
              (std::vector<uint16_t>{0}))
        << "off at power-on";
    ASSERT_EQ(Write(Link::Holding::Watchdog, {250}).Status, ResponseStatus::Ok);
    EXPECT_EQ(Ask(Link::ReadRequest(1, Link::ReadHolding, Link::Holding::Watchdog, 1)).Values,
              (std::vector<uint16_t>{250}));
    ExpectException(Write(Link::Holding::Watchdog, {250, 0}), Link::IllegalAddress, "two registers");
    ExpectException(Ask(Link::ReadRequest(1, Link::ReadHolding, Link::Holding::Watchdog, 2)), Link::IllegalAddress,
                    "past the watchdog");
    ASSERT_EQ(Command(Link::Command::Run, 1).Status, ResponseStatus::Ok);
    // A master polling every 200 ms keeps it going; requests to another
    // address or broadcasts do not count.
    for (int I = 0; I < 5; ++I) {
        Wait(0.2);
        ASSERT_EQ(Ask(Link::ReadRequest(1, Link::ReadInput, 0, 9)).Status, ResponseStatus::Ok);
        EXPECT_EQ(Device->Axis().State(), 3);
    }
    Wait(0.2);
    EXPECT_EQ(Write(Link::Holding::Vw, Pair(900), 7).Status, ResponseStatus::NoAnswer);
    Wait(0.2);
    EXPECT_EQ(Write(Link::Holding::Vw, Pair(900), 0).Status, ResponseStatus::NoAnswer);
    Wait(1);
    const Link::Response Status = Ask(Link::ReadRequest(1, Link::ReadInput, 0, 9));
    ASSERT_EQ(Status.Status, ResponseStatus::Ok);
    EXPECT_EQ(Status.Values[0], 0) << "ramped down and stopped";
    EXPECT_EQ(Line->ReasonCode(), static_cast<uint16_t>(Link::Reason::WatchdogExpired));
    EXPECT_EQ(ReasonText(), "The communication watchdog ramped the motor down: no request for 250 ms");
    // Still set: 0 turns it off.
    ASSERT_EQ(Write(Link::Holding::Watchdog, {0}).Status, ResponseStatus::Ok);
    ASSERT_EQ(Command(Link::Command::Run, -1).Status, ResponseStatus::Ok);
    Wait(3);
    const Link::Response Later = Ask(Link::ReadRequest(1, Link::ReadInput, 0, 9));
    ASSERT_EQ(Later.Status, ResponseStatus::Ok);
    EXPECT_EQ(Later.Values[0], 3) << "off: it runs on without a master";
}

namespace {

// Reads until Want bytes, a newline when asked, or the deadline.
std::string ReadSome(int Fd, size_t Want, int Ms, bool ToNewline = false)
{
    std::string Got;
    const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
    while (Got.size() < Want && !(ToNewline && Got.find('\n') != std::string::npos)) {
        const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(End - std::chrono::steady_clock::now());
        if (Left.count() <= 0)
            break;
        pollfd P{Fd, POLLIN, 0};
        if (poll(&P, 1, static_cast<int>(Left.count())) <= 0)
            continue;
        char B[256];
        const ssize_t N = read(Fd, B, sizeof B);
        if (N <= 0)
            break;
        Got.append(B, static_cast<size_t>(N));
    }
    return Got;
}

} // namespace

TEST_F(ServerTest, ProgramServesAPseudoTerminalUntilTerminated)
{
    const std::string Link = Dir + "/line";
    int Out[2];
    ASSERT_EQ(pipe(Out), 0);
    const pid_t Child = fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
        dup2(Out[1], 1);
        close(Out[0]);
        execl(VELMOR_SIM_PROGRAM, "velmor-sim", "--pty", Link.c_str(), "--state", StatePath().c_str(), "--control",
              ControlPath().c_str(), "--address", "9", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(Out[1]);
    // A failed assertion returns early: the program must not outlive the
    // test (it would hold CTest's output open and serve on forever).
    struct Reaper {
        pid_t Pid;
        ~Reaper()
        {
            if (Pid > 0) {
                kill(Pid, SIGKILL);
                waitpid(Pid, nullptr, 0);
            }
        }
    } Guard{Child};
    const std::string Said = ReadSome(Out[0], 1000, 10000, true);
    const size_t Space = Said.find(' ');
    ASSERT_NE(Space, std::string::npos) << Said;
    EXPECT_EQ(Said.substr(Space + 1), Link + "\n");
    char Target[256] = {};
    ASSERT_GT(readlink(Link.c_str(), Target, sizeof Target - 1), 0);
    EXPECT_EQ(std::string(Target), Said.substr(0, Space));

    const int Fd = open(Link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(Fd, 0);
    termios T;
    ASSERT_EQ(tcgetattr(Fd, &T), 0);
    cfmakeraw(&T);
    ASSERT_EQ(tcsetattr(Fd, TCSANOW, &T), 0);
    const Link::Request R = Link::ReadRequest(9, Link::ReadInput, 0, Link::Input::StatusCount);
    const Link::Frame Bytes = Link::BuildRequest(R);
    ASSERT_EQ(write(Fd, Bytes.data(), Bytes.size()), static_cast<ssize_t>(Bytes.size()));
    const std::string Got = ReadSome(Fd, Link::ResponseSize(R), 5000);
    const Link::Response A =
        Link::ParseResponse(R, reinterpret_cast<const uint8_t*>(Got.data()), Got.size(), true);
    EXPECT_EQ(A.Status, ResponseStatus::Ok) << Link::StatusText(A.Status);
    EXPECT_EQ(A.Values.size(), 9u);
    close(Fd);

    ASSERT_EQ(kill(Child, SIGTERM), 0);
    int Status = 0;
    ASSERT_EQ(waitpid(Child, &Status, 0), Child);
    Guard.Pid = -1;
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << Status;
    EXPECT_FALSE(std::filesystem::is_symlink(Link)); // cleaned up
    close(Out[0]);
}
