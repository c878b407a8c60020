// The real panel on libvelmor.so's serial line to the real velmor-sim, offscreen.
// A relay of this test sits on the line: the panel's port is a pseudo-terminal
// of the relay, which passes bytes both ways to velmor-sim's pseudo-terminal
// and notes every write request the panel sends. When velmor-sim goes away the
// relay hangs up the panel's port, as an unplugged adapter would, and plugs
// it in again when velmor-sim is back. The test runs the poll ticks itself,
// a tick interval apart.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "application/Application.h"
#include "link/Registers.h"
#include "link/RtuFrame.h"
#include "tests/linkclient/ChildProcess.h"
#include "tests/support/TestSupport.h"
#include "ui/Vlm_main.h"

namespace {

void MakeRaw(int Fd)
{
    struct termios T;
    if (::tcgetattr(Fd, &T) == 0) {
        ::cfmakeraw(&T);
        ::tcsetattr(Fd, TCSANOW, &T);
    }
}

class Relay {
public:
    Relay(std::string PanelSide, std::string SimSide) : FPanelSide(std::move(PanelSide)), FSimSide(std::move(SimSide))
    {
        FThread = std::thread([this] { Run(); });
    }
    ~Relay()
    {
        FQuit = true;
        FThread.join();
        Unplug();
    }

    // The 0x10 requests the panel sent since the last call: start address
    // and register values.
    std::vector<Link::Request> TakeWrites()
    {
        std::lock_guard<std::mutex> Lock(FMutex);
        return std::move(FWrites);
    }

private:
    void Plug()
    {
        FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0)
            return Unplug();
        const std::string Slave = ::ptsname(FMaster);
        // Held open so that the master never sees a hang-up between the
        // panel's close and its next open.
        FHold = ::open(Slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        MakeRaw(FHold);
        const std::string Temp = FPanelSide + ".new";
        ::unlink(Temp.c_str());
        if (::symlink(Slave.c_str(), Temp.c_str()) != 0 || ::rename(Temp.c_str(), FPanelSide.c_str()) != 0)
            Unplug();
    }

    void Unplug()
    {
        ::unlink(FPanelSide.c_str());
        for (int* Fd : {&FMaster, &FHold, &FSim}) {
            if (*Fd >= 0)
                ::close(*Fd);
            *Fd = -1;
        }
        FPending.clear();
    }

    void Note(const uint8_t* Data, size_t Size)
    {
        FPending.insert(FPending.end(), Data, Data + Size);
        while (!FPending.empty()) {
            Link::ParsedRequest P = Link::ParseRequest(FPending.data(), FPending.size());
            if (P.Status == Link::RequestStatus::Incomplete)
                return;
            if (P.Status == Link::RequestStatus::Ok && P.Req.Function == Link::WriteMultiple) {
                std::lock_guard<std::mutex> Lock(FMutex);
                FWrites.push_back(P.Req);
            }
            FPending.erase(FPending.begin(), FPending.begin() + static_cast<long>(std::max<size_t>(P.Used, 1)));
        }
    }

    static bool Pass(int From, int To, std::function<void(const uint8_t*, size_t)> Seen = {})
    {
        uint8_t Buffer[512];
        ssize_t N = ::read(From, Buffer, sizeof Buffer);
        if (N < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        if (N <= 0)
            return false;
        if (Seen)
            Seen(Buffer, static_cast<size_t>(N));
        for (ssize_t Done = 0; Done < N;) {
            ssize_t W = ::write(To, Buffer + Done, static_cast<size_t>(N - Done));
            if (W < 0 && (errno == EAGAIN || errno == EINTR)) {
                struct pollfd P = {To, POLLOUT, 0};
                ::poll(&P, 1, 10);
                continue;
            }
            if (W <= 0)
                return false;
            Done += W;
        }
        return true;
    }

    void Run()
    {
        while (!FQuit) {
            if (FSim < 0) {
                FSim = ::open(FSimSide.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
                if (FSim < 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    continue;
                }
                MakeRaw(FSim);
                Plug();
                continue;
            }
            struct pollfd P[2] = {{FMaster, POLLIN, 0}, {FSim, POLLIN, 0}};
            if (::poll(P, 2, 5) <= 0)
                continue;
            bool Up = true;
            if (P[0].revents & POLLIN)
                Up = Pass(FMaster, FSim, [this](const uint8_t* D, size_t S) { Note(D, S); });
            if (Up && (P[1].revents & (POLLIN | POLLHUP | POLLERR)))
                Up = Pass(FSim, FMaster);
            if (!Up)
                Unplug();
        }
    }

    std::string FPanelSide, FSimSide;
    int FMaster = -1, FHold = -1, FSim = -1;
    std::vector<uint8_t> FPending;
    std::mutex FMutex;
    std::vector<Link::Request> FWrites;
    std::atomic<bool> FQuit{false};
    std::thread FThread;
};

class LineEndToEnd : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    LinkTest::LineSim Sim;
    std::unique_ptr<Relay> Line;
    std::unique_ptr<TMainForm> W;

    void SetUp() override
    {
        ASSERT_TRUE(Sim.Start()) << "velmor-sim did not come up";
        // One port path for every test of this process, so that a test's
        // link does not depend on whether the one before closed its link.
        static const std::string Port = LinkTest::MakeTempFolder() + "/adapter";
        Line = std::make_unique<Relay>(Port, Sim.Link);
        // A generous deadline: the relay's thread shares a busy machine.
        setenv("VELMOR_LINK", ("serial:" + Port + "?timeout=300").c_str(), 1);
        Application::SetExeName(Dir.path() + "/velmor");
        TestSupport::Boxes().clear();
        W = std::make_unique<TMainForm>();
        W->Timer->stop();
        W->show();
        ASSERT_TRUE(TickUntil([&] { return OnLine(); }, 50));
        EXPECT_EQ(W->StatusText(0).toStdString(),
                  " ON LINE: RTU " + Port + " 115200 #1: Virtual controller VLM-1 (simulated)");
    }

    void TearDown() override
    {
        if (W)
            W->close();
        W.reset();
        Line.reset();
    }

    bool OnLine() const { return W->StatusText(0).startsWith(" ON LINE: "); }

    // Until what the window handed to its device thread has come back.
    void Settle()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return W->DeviceIdle(); }, 10000));
    }

    // One poll tick as the timer runs it, a tick interval after the last,
    // through to its results on the window.
    void Tick()
    {
        QTest::qWait(100);
        W->TimerTimer(W->Timer);
        Settle();
        W->Timer->stop();
    }

    template <class Cond> bool TickUntil(Cond Done, int MaxTicks)
    {
        for (int I = 0; I < MaxTicks; ++I) {
            Tick();
            if (Done())
                return true;
        }
        return false;
    }

    static void Type(TFloatEdit* Field, const QString& Text)
    {
        Field->selectAll();
        QTest::keyClicks(Field, Text);
        QTest::keyClick(Field, Qt::Key_Return);
    }
};

TEST_F(LineEndToEnd, GoToReachesItsTargetOverTheLine)
{
    Type(W->feVm, "1000");
    Type(W->feVw, "4000");
    Type(W->feAw, "40000");
    Type(W->feNr, "3000");
    W->btStartN->click();
    EXPECT_TRUE(TickUntil([&] { return W->StatusText(1) == "Operation done" && W->feNc->Value() == 3000; }, 40))
        << W->StatusText(1).toStdString() << " at " << W->feNc->Value();
    EXPECT_EQ(W->feVc->Value(), 0);
    EXPECT_TRUE(TestSupport::Boxes().empty());
}

TEST_F(LineEndToEnd, LostControllerGoesOffLineAndGetsEveryParameterBack)
{
    Type(W->feCw, "1200");
    Type(W->feVm, "700");
    Type(W->feVw, "2500");
    Type(W->feAw, "9000");
    Settle();
    ASSERT_TRUE(TestSupport::Boxes().empty());

    Sim.Process.Stop();
    Tick();
    Tick();
    EXPECT_EQ(W->StatusText(0), " OFF LINE ") << "within two ticks";
    EXPECT_FALSE(W->FConnected);
    Line->TakeWrites();

    ASSERT_TRUE(Sim.Start()) << "velmor-sim did not come back";
    ASSERT_TRUE(TickUntil([&] { return OnLine(); }, 50));
    const std::vector<Link::Request> Sent = Line->TakeWrites();
    const uint16_t Order[] = {Link::Holding::Step, Link::Holding::Ih, Link::Holding::Ia,
                              Link::Holding::Iw,   Link::Holding::Vm, Link::Holding::Vw,
                              Link::Holding::Aw,   Link::Holding::LimBackward, Link::Holding::Ctrl};
    ASSERT_EQ(Sent.size(), 9u) << "every parameter, nothing else";
    for (size_t I = 0; I < 9; ++I)
        EXPECT_EQ(Sent[I].Start, Order[I]) << "write " << I;
    auto Value = [&](size_t I) { return Sent[I].Values.size() == 2 ? Link::GetInt32(Sent[I].Values.data()) : -1; };
    EXPECT_EQ(Value(3), 1200);
    EXPECT_EQ(Value(4), 700);
    EXPECT_EQ(Value(5), 2500);
    EXPECT_EQ(Value(6), 9000);
    EXPECT_EQ(Sent[7].Values.size(), 6u) << "the three limit words in one request";
    EXPECT_TRUE(TestSupport::Boxes().empty()) << "the poll says nothing to the operator";
}

} // namespace
