// The real libvelmor.so reads its link setting again at each open made while
// no link is up: the panel's link dialog puts it on velmor-sim's
// pseudo-terminal without a restart. One process a test (the library's state
// is the process's).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <climits>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "application/Application.h"
#include "device/velmor.h"
#include "tests/linkclient/ChildProcess.h"
#include "tests/support/TestSupport.h"
#include "ui/DeviceLibrary.h"
#include "ui/LinkForm.h"
#include "ui/Vlm_main.h"

namespace fs = std::filesystem;

namespace {

std::string Text(VLM_BOOL (*Call)(char**))
{
    char* T = nullptr;
    Call(&T);
    return T ? T : "(null)";
}

std::string Slurp(const fs::path& P)
{
    std::ifstream In(P);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
}

class FrontRead : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    fs::path Root, File;
    LinkTest::LineSim Sim;

    void SetUp() override
    {
        Root = Dir.path().toStdString();
        File = Root / "config" / "velmor" / "link.conf";
        unsetenv("VELMOR_LINK");
        setenv("XDG_CONFIG_HOME", (Root / "config").c_str(), 1);
        setenv("VELMOR_SIM_STATE", (Root / "state.ini").c_str(), 1);
        setenv("VELMOR_SIM_CONTROL", (Root / "control").c_str(), 1);
        ASSERT_TRUE(Sim.Start()) << "velmor-sim did not come up";
    }

    void WriteFile(const std::string& Line)
    {
        fs::create_directories(File.parent_path());
        std::ofstream(File) << Line << "\n";
    }

    // Opens, retrying a few times: the line's deadlines are short and the
    // machine may be busy.
    static bool Open()
    {
        for (int Try = 0; Try < 20; ++Try) {
            if (VLM_OpenDevice())
                return true;
            VLM_CloseDevice();
        }
        return false;
    }
};

TEST_F(FrontRead, EachOpenWhileNoLinkIsUpReadsTheSettingAgain)
{
    const std::string Virtual = "Virtual controller VLM-1 (simulated)";
    ASSERT_TRUE(VLM_OpenDevice());
    EXPECT_EQ(Text(VLM_GetInfo), Virtual);
    ASSERT_TRUE(VLM_SetNc(0));
    ASSERT_TRUE(VLM_StartdN(40));
    EXPECT_TRUE(VLM_CloseDevice());

    WriteFile("serial:" + Sim.Link + "?adress=1");
    for (int Try = 0; Try < 2; ++Try) {
        EXPECT_FALSE(VLM_OpenDevice());
        EXPECT_EQ(Text(VLM_GetLastError), "Link setting in " + File.string() +
                                              ": unknown option \"adress\" (known: baud, address, timeout, parity, stopbits, trace) (read "
                                              "\"serial:" + Sim.Link + "?adress=1\")");
    }
    int32_t V = 0;
    EXPECT_FALSE(VLM_GetNc(&V));
    EXPECT_TRUE(VLM_CloseDevice());

    WriteFile("serial:" + Sim.Link + "?timeout=300");
    ASSERT_TRUE(Open()) << Text(VLM_GetLastError);
    EXPECT_EQ(Text(VLM_GetInfo), "RTU " + Sim.Link + " 115200 #1: " + Virtual);

    // While the link is up a changed setting waits for the next connection.
    WriteFile("virtual");
    EXPECT_TRUE(VLM_OpenDevice());
    EXPECT_EQ(Text(VLM_GetInfo), "RTU " + Sim.Link + " 115200 #1: " + Virtual);
    VLM_CloseDevice();

    // Back on the in-process controller: the same one, which kept its
    // coordinate over the visit to the line.
    ASSERT_TRUE(VLM_OpenDevice());
    EXPECT_EQ(Text(VLM_GetInfo), Virtual);
    ASSERT_TRUE(LinkTest::WaitUntil([&] { return VLM_GetNc(&V) && V == 40; }, 5000)) << V;

    // $VELMOR_LINK wins over the file, again from the next open on.
    VLM_CloseDevice();
    setenv("VELMOR_LINK", ("serial:" + Sim.Link + "?timeout=300&address=1").c_str(), 1);
    ASSERT_TRUE(Open()) << Text(VLM_GetLastError);
    EXPECT_EQ(Text(VLM_GetInfo), "RTU " + Sim.Link + " 115200 #1: " + Virtual);
    VLM_CloseDevice();
}

TEST_F(FrontRead, CallsFromTwoThreadsEachRunWhole)
{
    WriteFile("serial:" + Sim.Link + "?timeout=300");
    ASSERT_TRUE(Open()) << Text(VLM_GetLastError);
    // Two threads on one line: each request must have the line to itself,
    // or their frames mix and the answers go astray.
    int Failed[2] = {0, 0};
    auto Reader = [&](int Who) {
        for (int I = 0; I < 150; ++I) {
            int32_t Value = 0;
            if (!(Who ? VLM_GetAdc(&Value) && Value > 200 : VLM_SetNc(0) != 0))
                ++Failed[Who];
        }
    };
    std::thread A(Reader, 0), B(Reader, 1);
    A.join();
    B.join();
    EXPECT_EQ(Failed[0], 0);
    EXPECT_EQ(Failed[1], 0);
    VLM_CloseDevice();
}

TEST_F(FrontRead, TheDialogPutsThePanelOnTheLineWithoutARestart)
{
    EXPECT_TRUE(DeviceLibrary::IsOurs()) << DeviceLibrary::LoadedFile();
    // The adapter under its stable name: a fake by-id folder whose one name
    // points at velmor-sim's pseudo-terminal.
    char Pts[PATH_MAX];
    ASSERT_TRUE(::realpath(Sim.Link.c_str(), Pts));
    TLinkForm::PortFolders = {(Root / "by-id").string(), (Root / "dev").string(), (Root / "sys").string()};
    fs::create_directories(Root / "by-id");
    const std::string Stable = (Root / "by-id" / "usb-Velmor_Sim_RS485-if00-port0").string();
    fs::create_symlink(Pts, Stable);

    Application::SetExeName(Dir.path() + "/velmor");
    TestSupport::Boxes().clear();
    auto W = std::make_unique<TMainForm>();
    W->Timer->stop();
    W->show();
    const QLabel* LinkPanel = W->findChild<QLabel*>(QStringLiteral("StatusPanel0"));
    ASSERT_TRUE(LinkPanel);
    EXPECT_EQ(LinkPanel->toolTip(), QStringLiteral("Link: virtual controller"));
    W->TimerTimer(W->Timer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return W->DeviceIdle(); }, 10000)); // the tick's results
    W->Timer->stop();
    EXPECT_EQ(W->StatusText(0), QStringLiteral(" ON LINE: Virtual controller VLM-1 (simulated)"));
    ASSERT_TRUE(W->mnLinkSetup->isEnabled());

    // The operator picks the adapter, gives the deadline, OK.
    bool Seen = false;
    std::string Refused;
    QTimer Operator;
    Operator.setInterval(10);
    QObject::connect(&Operator, &QTimer::timeout, [&] {
        auto* F = qobject_cast<TLinkForm*>(QApplication::activeModalWidget());
        if (!F)
            return;
        Operator.stop();
        Seen = true;
        F->cbKind->setCurrentIndex(1);
        F->cbPort->setCurrentIndex(F->cbPort->findData(QString::fromStdString(Stable), Qt::EditRole));
        F->edTimeout->setText(QStringLiteral("300"));
        F->Buttons->button(QDialogButtonBox::Ok)->click();
        if (F->isVisible()) {
            Refused = F->lbError->text().toStdString() + " / ports: " + std::to_string(F->cbPort->count());
            F->reject();
        } // not accepted: the test fails below instead of hanging
    });
    Operator.start();
    W->mnLinkSetup->trigger();
    ASSERT_TRUE(Seen);
    EXPECT_EQ(Refused, "");
    EXPECT_EQ(Slurp(File), "serial:" + Stable + "?timeout=300\n");
    EXPECT_EQ(LinkPanel->toolTip().toStdString(), "Link: " + Stable + " at 115200 baud 8E1, address 1 (" + File.string() + ")");

    // Taken down and up again at once; the poll retries if the busy machine
    // made the first probe late.
    const QString Want = QString::fromStdString(" ON LINE: RTU " + Stable + " 115200 #1: Virtual controller VLM-1 (simulated)");
    for (int Tick = 0; Tick < 50 && W->StatusText(0) != Want; ++Tick) {
        QTest::qWait(100);
        W->TimerTimer(W->Timer);
        ASSERT_TRUE(QTest::qWaitFor([&] { return W->DeviceIdle(); }, 10000)); // the tick's results
        W->Timer->stop();
    }
    EXPECT_EQ(W->StatusText(0), Want);
    EXPECT_TRUE(TestSupport::Boxes().empty());

    // Link down: the tooltip names what the next connection reads, a file
    // changed behind the panel's back included.
    W->mnDisconnectClick(W->mnDisconnect);
    {
        std::ofstream(File) << "tcp:127.0.0.1:4001?address=9\n";
    }
    QHelpEvent Hover(QEvent::ToolTip, QPoint(5, 5), LinkPanel->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(const_cast<QLabel*>(LinkPanel), &Hover);
    EXPECT_EQ(LinkPanel->toolTip().toStdString(),
              "Link: gateway 127.0.0.1:4001 (RTU over TCP), address 9 (" + File.string() + ")");
    W->close();
}

} // namespace
