// velmor-gateway against hostile and heavy clients, with velmor-sim and its
// fault play behind it on a pseudo-terminal: each case is one way a client
// or the line could stall, confuse or take over the shared line.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <thread>

#include "link/RtuClient.h"
#include "tests/gateway/GatewayHarness.h"

namespace {

using namespace GatewayTest;
using LinkTest::Has;
using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point T)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - T).count();
}

bool IsStatus(const Bytes& A) { return Function(A) == 0x04 && A.size() == 9 + 18 && A[8] == 18; }

// Resident memory of a process, in kB.
long ResidentKb(pid_t Pid)
{
    const std::string Status = ReadFile("/proc/" + std::to_string(Pid) + "/status");
    const size_t At = Status.find("VmRSS:");
    return At == std::string::npos ? -1 : std::atol(Status.c_str() + At + 6);
}

TEST(Gateway, OneRequestCannotHoldTheLine)
{
    Line L;
    ASSERT_TRUE(L.Start({"--baud", "9600"}));
    Client Hostile, Other;
    ASSERT_TRUE(Hostile.Connect(L.Port));
    ASSERT_TRUE(Other.Connect(L.Port));
    // 65535 input registers from an absent unit 200, and a frame cut after
    // the address: refused at once, without the line.
    const auto Start = Clock::now();
    ASSERT_TRUE(Hostile.Send(ReadInputs(1, 200, 0, 65535)));
    ASSERT_TRUE(Hostile.Send(Mbap(2, 1, {0x04, 0x00, 0x00})));
    const Bytes Other1 = Other.Ask(ReadInputs(7, 1, 0, 9), 1000);
    EXPECT_TRUE(IsStatus(Other1)) << "another client waited behind the hostile requests";
    const Bytes Huge = Hostile.Receive(500), Cut = Hostile.Receive(500);
    EXPECT_EQ(Function(Huge), 0x84);
    EXPECT_EQ(ExceptionCode(Huge), 0x03);
    EXPECT_EQ(Function(Cut), 0x84);
    EXPECT_EQ(ExceptionCode(Cut), 0x03);
    EXPECT_LT(MsSince(Start), 1000);
    EXPECT_FALSE(Has(L.Trace(), "line-tx C8 04")) << L.Trace();

    // The longest legitimate read from an absent unit holds the line for a
    // whole frame's time at 9600 baud and no more.
    const auto Legit = Clock::now();
    const Bytes Silent = Hostile.Ask(ReadInputs(3, 200, 0, 125), 3000);
    EXPECT_EQ(Function(Silent), 0x84);
    EXPECT_EQ(ExceptionCode(Silent), 0x0B);
    EXPECT_LT(MsSince(Legit), 1000);
}

TEST(Gateway, ALateAnswerNeverReachesTheNextRequest)
{
    Line L;
    ASSERT_TRUE(L.Start({"--baud", "115200"}));
    Client A, B;
    ASSERT_TRUE(A.Connect(L.Port));
    ASSERT_TRUE(B.Connect(L.Port));
    int Wrong = 0, Late = 0;
    for (int Round = 0; Round < 10; ++Round) {
        L.Control("# round " + std::to_string(Round) + "\nline-once late 200");
        const Bytes First = A.Ask(ReadInputs(uint16_t(100 + Round), 1, 0, 9), 2000);
        if (Function(First) == 0x84 && ExceptionCode(First) == 0x0B)
            ++Late;
        std::this_thread::sleep_for(std::chrono::milliseconds(170));
        // The identification: 32 registers, never the 9 of A's status.
        const Bytes Ident = B.Ask(ReadInputs(uint16_t(200 + Round), 1, 0x0100, 32), 2000);
        EXPECT_EQ(Transaction(Ident), 200 + Round);
        if (!(Function(Ident) == 0x04 && Ident.size() == 9 + 64) &&
            !(Function(Ident) == 0x84 && ExceptionCode(Ident) == 0x0B))
            ++Wrong;
    }
    EXPECT_EQ(Late, 10) << "the fault did not play: each first read should time out";
    EXPECT_EQ(Wrong, 0);
    // A late answer that arrives while the same unit is asked again, for
    // something else, is dropped and counted.
    L.Control("# once more\nline-once late 80");
    const Bytes First = A.Ask(ReadInputs(300, 1, 0, 9), 2000);
    EXPECT_EQ(ExceptionCode(First), 0x0B);
    const Bytes Ident = B.Ask(ReadInputs(301, 1, 0x0100, 32), 2000);
    EXPECT_TRUE(Function(Ident) == 0x04 && Ident.size() == 9 + 64) << "the right answer still comes";
}

TEST(Gateway, IdleClientsCannotLockOthersOut)
{
    {
        // 64 idle clients: the 65th is told, not silently closed.
        Line L;
        ASSERT_TRUE(L.Start({}));
        std::vector<std::unique_ptr<Client>> Idle;
        for (int I = 0; I < 64; ++I) {
            Idle.push_back(std::make_unique<Client>());
            ASSERT_TRUE(Idle.back()->Connect(L.Port));
        }
        // Give the gateway time to take them all before the next knocks.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Client Next;
        ASSERT_TRUE(Next.Connect(L.Port));
        const Bytes Told = Next.Ask(ReadInputs(5, 1, 0, 9), 2000);
        EXPECT_EQ(Function(Told), 0x84) << "the refused client is told";
        EXPECT_EQ(ExceptionCode(Told), 0x0A);
        EXPECT_EQ(Transaction(Told), 5);
        EXPECT_TRUE(Next.ClosedWithin(1000));
        EXPECT_TRUE(
            Has(L.LogUntil("refused a client from 127.0.0.1", 2000), "64 clients already (--max-clients)"));
        // One of the 64 still is served.
        EXPECT_TRUE(IsStatus(Idle.back()->Ask(ReadInputs(6, 1, 0, 9))));
        // A flood of refused connections is logged one line a second.
        std::vector<std::unique_ptr<Client>> Flood;
        for (int I = 0; I < 20; ++I) {
            Flood.push_back(std::make_unique<Client>());
            Flood.back()->Connect(L.Port);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        Client Last;
        ASSERT_TRUE(Last.Connect(L.Port));
        const std::string Log = L.LogUntil("more refused before", 2000);
        EXPECT_TRUE(Has(Log, "more refused before)")) << Log;
        EXPECT_LE(Count(Log, "refused a client"), 3) << "22 refusals in about two seconds\n" << Log;
    }
    // Idle clients are closed after the idle time: room again.
    Line L;
    ASSERT_TRUE(L.Start({"--max-clients", "8", "--idle-timeout", "1"}));
    std::vector<std::unique_ptr<Client>> Idle;
    for (int I = 0; I < 8; ++I) {
        Idle.push_back(std::make_unique<Client>());
        ASSERT_TRUE(Idle.back()->Connect(L.Port));
    }
    EXPECT_TRUE(Idle.front()->ClosedWithin(3000));
    EXPECT_TRUE(Idle.back()->ClosedWithin(1000));
    Client Later;
    ASSERT_TRUE(Later.Connect(L.Port));
    EXPECT_TRUE(IsStatus(Later.Ask(ReadInputs(7, 1, 0, 9))));
    EXPECT_TRUE(Has(L.LogUntil("idle for 1 s", 2000), "idle for 1 s"));
}

TEST(Gateway, ASlowLineIsSharedWithoutFailures)
{
    // A line that carries 9600 baud between the gateway and velmor-sim.
    Line L;
    ASSERT_TRUE(L.Start({"--baud", "9600"}, {}, 9600));
    const std::string Link = "modbus-tcp:127.0.0.1:" + L.Port + "?unit=1&baud=9600";
    std::atomic<bool> Done{false};
    std::atomic<int> Calls{0}, Failed{0};
    std::string FirstFailure;
    std::vector<std::thread> Loops;
    for (int N = 0; N < 2; ++N)
        Loops.emplace_back([&] {
            while (!Done) {
                int Status = 0;
                const std::string Out = LinkTest::RunTool({VELMORCTL_EXE, "--link", Link, "status"}, Status);
                ++Calls;
                if ((Status != 0 || !Has(Out, "coordinate:")) && Failed++ == 0)
                    FirstFailure = Out;
            }
        });
    // The panel's poll: the status block every 100 ms.
    Link::RtuClient Panel(LinkTest::Parse(Link));
    ASSERT_TRUE(Panel.OpenDevice()) << Panel.LastError();
    int Ticks = 0, PanelFailed = 0;
    std::string PanelFailure;
    const auto End = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < End) {
        int32_t State = -1;
        if (!Panel.GetStat(&State) && PanelFailed++ == 0)
            PanelFailure = Panel.LastError();
        ++Ticks;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    Done = true;
    for (std::thread& T : Loops)
        T.join();
    std::printf("10 s: %d panel polls, %d velmorctl runs\n", Ticks, Calls.load());
    EXPECT_EQ(PanelFailed, 0) << PanelFailure;
    EXPECT_EQ(Failed, 0) << FirstFailure;
    EXPECT_GE(Calls, 4);
}

// Watchers each read the status block every 100 ms for Seconds; the line
// requests that cost.
int LineRequestsFor(int Watchers, int Seconds)
{
    Line L;
    EXPECT_TRUE(L.Start({"--baud", "115200"}));
    std::vector<std::thread> Threads;
    std::atomic<int> Failed{0};
    for (int W = 0; W < Watchers; ++W)
        Threads.emplace_back([&, W] {
            Client C;
            if (!C.Connect(L.Port)) {
                ++Failed;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(W * 100 / Watchers));
            const auto End = Clock::now() + std::chrono::seconds(Seconds);
            for (uint16_t T = 0; Clock::now() < End; ++T) {
                if (!IsStatus(C.Ask(ReadInputs(T, 1, 0, 9))))
                    ++Failed;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    for (std::thread& T : Threads)
        T.join();
    EXPECT_EQ(Failed, 0);
    return L.LineRequests();
}

TEST(Gateway, TenWatchersCostTheLineWhatOneDoes)
{
    const int One = LineRequestsFor(1, 3), Ten = LineRequestsFor(10, 3);
    std::printf("line requests in 3 s: one watcher %d, ten watchers %d\n", One, Ten);
    EXPECT_GE(One, 15);
    EXPECT_LE(Ten, One * 11 / 10);
}

TEST(Gateway, AClientsReadAfterItsOwnWriteSeesTheWrite)
{
    Line L;
    ASSERT_TRUE(L.Start({"--cache", "5000"}));
    Client Watcher, Writer;
    ASSERT_TRUE(Watcher.Connect(L.Port));
    ASSERT_TRUE(Writer.Connect(L.Port));
    // The status block is cached (coordinate 0)...
    ASSERT_TRUE(IsStatus(Watcher.Ask(ReadInputs(1, 1, 0, 9))));
    // ...then one client sends, in one go, the command that renames the
    // coordinate 1234 (holding 0x0020: code 1, argument 1234) and a status read.
    Bytes Both = Mbap(2, 1, {0x10, 0x00, 0x20, 0x00, 0x03, 0x06, 0x00, 0x01, 0x00, 0x00, 0x04, 0xD2});
    const Bytes Read = ReadInputs(3, 1, 0, 9);
    Both.insert(Both.end(), Read.begin(), Read.end());
    ASSERT_TRUE(Writer.Send(Both));
    const Bytes Written = Writer.Receive(2000), Status = Writer.Receive(2000);
    EXPECT_EQ(Transaction(Written), 2) << "answers in the order asked";
    EXPECT_EQ(Function(Written), 0x10);
    ASSERT_EQ(Transaction(Status), 3);
    ASSERT_TRUE(IsStatus(Status));
    const int32_t Coordinate =
        int32_t(uint32_t(Status[11]) << 24 | uint32_t(Status[12]) << 16 | Status[13] << 8 | Status[14]);
    EXPECT_EQ(Coordinate, 1234) << "the read was answered from before the write";
    // And the watcher's next read is not the old block either.
    const Bytes After = Watcher.Ask(ReadInputs(4, 1, 0, 9));
    ASSERT_TRUE(IsStatus(After));
    EXPECT_EQ(After[14], 0xD2);
}

TEST(Gateway, NobodyDrivesTheMotorWithoutLeave)
{
    {
        Line L;
        ASSERT_TRUE(L.Start({"--read-only"}));
        Client C;
        ASSERT_TRUE(C.Connect(L.Port));
        // Writing the working speed (holding 0x000C) is refused; reading goes.
        const Bytes Write = C.Ask(Mbap(1, 1, {0x10, 0x00, 0x0C, 0x00, 0x02, 0x04, 0, 0, 0x01, 0x2C}));
        EXPECT_EQ(Function(Write), 0x90);
        EXPECT_EQ(ExceptionCode(Write), 0x01);
        const Bytes Single = C.Ask(Mbap(2, 1, {0x06, 0x00, 0x20, 0x00, 0x01}));
        EXPECT_EQ(Function(Single), 0x86);
        EXPECT_EQ(ExceptionCode(Single), 0x01);
        EXPECT_TRUE(IsStatus(C.Ask(ReadInputs(3, 1, 0, 9))));
        EXPECT_FALSE(Has(L.Trace(), "line-tx 01 10")) << L.Trace();
        EXPECT_FALSE(Has(L.Trace(), "line-tx 01 06")) << L.Trace();
        // A broadcast is refused too, without --allow-broadcast.
        const Bytes Broadcast = C.Ask(Mbap(4, 0, {0x04, 0, 0, 0, 9}));
        EXPECT_EQ(ExceptionCode(Broadcast), 0x0A);
        EXPECT_FALSE(Has(L.Trace(), "line-tx 00 ")) << L.Trace();
    }
    {
        Line L;
        ASSERT_TRUE(L.Start({"--allow", "127.0.0.2/32", "--allow-broadcast"}));
        Client Stranger, Friend;
        ASSERT_TRUE(Stranger.Connect(L.Port, "127.0.0.1"));
        EXPECT_TRUE(Stranger.ClosedWithin(2000));
        EXPECT_TRUE(Has(L.LogUntil("not in --allow", 2000), "refused a client from 127.0.0.1: not in --allow"));
        ASSERT_TRUE(Friend.Connect(L.Port, "127.0.0.2"));
        EXPECT_TRUE(IsStatus(Friend.Ask(ReadInputs(1, 1, 0, 9))));
        // With --allow-broadcast unit 0 goes on the line, and nobody answers it.
        ASSERT_TRUE(Friend.Send(Mbap(2, 0, {0x06, 0x00, 0x30, 0x00, 0x00})));
        EXPECT_TRUE(LinkTest::WaitUntil([&] { return Has(L.Trace(), "line-tx 00 06 00 30 00 00"); }, 2000))
            << L.Trace();
    }
}

TEST(Gateway, AClientThatDoesNotReadIsHeldThenClosed)
{
    // Under AddressSanitizer every freed block waits in a quarantine of up
    // to 256 MB before it is reused, which would read as growth here: the
    // gateway of this test reuses memory at once, as a plain build does.
    const char* Asan = std::getenv("ASAN_OPTIONS");
    const std::string Kept = Asan ? Asan : "";
    if (Asan)
        ::setenv("ASAN_OPTIONS", (Kept + ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0").c_str(), 1);
    Line L;
    const bool Started = L.Start({"--idle-timeout", "2"});
    if (Asan)
        ::setenv("ASAN_OPTIONS", Kept.c_str(), 1);
    ASSERT_TRUE(Started);
    Client Deaf, Other;
    ASSERT_TRUE(Deaf.Connect(L.Port, nullptr, 4096));
    ASSERT_TRUE(Other.Connect(L.Port));
    // The deaf client sends requests the gateway answers at once by itself
    // (126 registers: one too many), as fast as it takes them, and never
    // reads: the gateway stops reading from it.
    const Bytes Ask = ReadInputs(1, 1, 0, 126);
    Bytes Burst;
    for (int I = 0; I < 340; ++I)
        Burst.insert(Burst.end(), Ask.begin(), Ask.end());
    size_t Offset = 0; // into Burst: a send may take part of it
    long Sent = 0, Memory[2] = {0, 0};
    const auto Start = Clock::now();
    int Slow = 0;
    for (int Phase = 0; Phase < 2; ++Phase) {
        const auto Until = Start + std::chrono::milliseconds(1500 * (Phase + 1));
        while (Clock::now() < Until) {
            for (int I = 0; I < 100; ++I) {
                const ssize_t N = ::send(Deaf.Fd(), Burst.data() + Offset, Burst.size() - Offset,
                                         MSG_NOSIGNAL | MSG_DONTWAIT);
                if (N <= 0)
                    break;
                Sent += N;
                Offset = (Offset + size_t(N)) % Burst.size();
            }
            // Meanwhile the other client's reads are answered at once.
            const auto Asked = Clock::now();
            if (!IsStatus(Other.Ask(ReadInputs(2, 1, 0, 9), 1000)) || MsSince(Asked) > 300)
                ++Slow;
        }
        Memory[Phase] = ResidentKb(L.Gateway.Pid());
    }
    std::printf("sent %ld requests unread; gateway %ld kB, then %ld kB\n", Sent / long(Ask.size()), Memory[0],
                Memory[1]);
    EXPECT_EQ(Slow, 0);
    EXPECT_LT(Memory[1] - Memory[0], 512) << "the gateway's memory grew with the unread answers";
    const std::string Log = L.LogUntil("read none of its answers", 6000);
    EXPECT_TRUE(Has(Log, "read none of its answers for 2 s")) << Log;
    // Closed: its sends fail before long.
    EXPECT_TRUE(LinkTest::WaitUntil(
        [&] { return ::send(Deaf.Fd(), Ask.data(), Ask.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN; },
        6000));
}

TEST(Gateway, APipeliningClientCannotStarveTheOthers)
{
    // Each answer 5 ms late: 255 requests queued ahead would take 1.3 s.
    Line L;
    ASSERT_TRUE(L.Start({}, {"--fault", "late=5", "--fault-every"}));
    Client Flood, Other;
    ASSERT_TRUE(Flood.Connect(L.Port));
    ASSERT_TRUE(Other.Connect(L.Port));
    // Holding-register reads (the working speed): never answered from a cache.
    Bytes Burst;
    for (uint16_t T = 0; T < 255; ++T) {
        const Bytes One = Mbap(T, 1, {0x03, 0x00, 0x0C, 0x00, 0x02});
        Burst.insert(Burst.end(), One.begin(), One.end());
    }
    ASSERT_TRUE(Flood.Send(Burst));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto Asked = Clock::now();
    const Bytes Answer = Other.Ask(Mbap(9, 1, {0x03, 0x00, 0x0C, 0x00, 0x02}), 2000);
    EXPECT_EQ(Function(Answer), 0x03);
    EXPECT_LT(MsSince(Asked), 200);
    // The flood is served too, in order, each with its transaction id (some
    // may have waited past the queue deadline and got 0x0B).
    int Answered = 0;
    for (uint16_t T = 0; T < 255; ++T) {
        const Bytes A = Flood.Receive(3000);
        if (Transaction(A) != T)
            break;
        ++Answered;
    }
    EXPECT_EQ(Answered, 255);
}

TEST(Gateway, APortHangUpIsSurvived)
{
    Line L;
    ASSERT_TRUE(L.Start({"--baud", "115200"}));
    Client C;
    ASSERT_TRUE(C.Connect(L.Port));
    ASSERT_TRUE(IsStatus(C.Ask(ReadInputs(1, 1, 0, 9))));
    L.Control("line hangup 800");
    // The next request is lost with the port; then 0x0B while it is gone,
    // and answers again once it is back, on the same connection.
    int Gone = 0;
    bool Back = false;
    const auto End = Clock::now() + std::chrono::seconds(6);
    for (uint16_t T = 2; Clock::now() < End && !Back; ++T) {
        const Bytes A = C.Ask(ReadInputs(T, 1, 0, 9), 2000);
        ASSERT_FALSE(C.Closed()) << "the gateway closed its client";
        ASSERT_EQ(Transaction(A), T);
        if (IsStatus(A) && Gone > 0)
            Back = true;
        else if (ExceptionCode(A) == 0x0B)
            ++Gone;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GT(Gone, 0);
    EXPECT_TRUE(Back);
    const std::string Log = L.LogUntil("is back", 2000);
    EXPECT_TRUE(Has(Log, "the port " + L.Sim.Link + " is gone")) << Log;
    EXPECT_TRUE(Has(Log, "the port " + L.Sim.Link + " is back")) << Log;
    EXPECT_TRUE(L.Gateway.Running());
}

} // namespace
