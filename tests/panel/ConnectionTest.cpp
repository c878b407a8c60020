#include "tests/panel/PanelFixture.h"

using ConnectionTest = PanelTest;


TEST_F(ConnectionTest, CreationTouchesOnlyCloseAndTheFirstTickConnects)
{
    Create();
    EXPECT_EQ(Log(), (Strings{"VLM_CloseDevice()"}));
    EXPECT_EQ(W->StatusText(0), " OFF LINE ");
    EXPECT_TRUE(W->mnConnect->isEnabled());
    EXPECT_FALSE(W->mnDisconnect->isEnabled());
    EXPECT_TRUE(W->FKeepConnected);

    ClearCalls();
    VD::SetInfoText("VLM-1 #42");
    Tick();
    EXPECT_EQ(Log(), Then({"VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_GetInfo()"}, AllParameters));
    EXPECT_EQ(W->StatusText(0), " ON LINE: VLM-1 #42");
    EXPECT_FALSE(W->mnConnect->isEnabled());
    EXPECT_TRUE(W->mnDisconnect->isEnabled());
}

TEST_F(ConnectionTest, InfoThatSetsNoTextShowsAnEmptyDeviceText)
{
    Create();
    VD::SetInfoText(nullptr);
    VD::SetInfoResult(false);
    Tick();
    EXPECT_TRUE(W->FConnected);
    EXPECT_EQ(W->StatusText(0), " ON LINE: ");
}

TEST_F(ConnectionTest, ConnectCommandWithNoDeviceWarnsAndThePollBringsTheLinkUpLater)
{
    CreateWithNoDevice();
    ClearCalls();
    W->mnConnect->trigger();
    ExpectNoDeviceWarning();
    EXPECT_TRUE(W->mnConnect->isEnabled());
    EXPECT_FALSE(W->mnDisconnect->isEnabled());

    // Every tick tries once, silently: close, open, close.
    ClearCalls();
    Tick();
    EXPECT_EQ(Log(), (Strings{"VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_CloseDevice()"}));
    VD::SetOpenResult(true);
    ClearCalls();
    Tick();
    EXPECT_EQ(Log(), Then({"VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_GetInfo()"}, AllParameters));
    EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(ConnectionTest, ConnectCommandWhileConnectedReopensAndResends)
{
    CreateConnected();
    W->mnConnectClick(nullptr);
    EXPECT_EQ(Log(), Then({"VLM_Stop()", "VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_GetInfo()"}, AllParameters));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ConnectionTest, DisconnectCommandStopsTheMotorAndThePollStopsRetrying)
{
    CreateConnected();
    W->btStartR->click();
    W->mnDisconnect->trigger();
    EXPECT_EQ(Log(), (Strings{"VLM_StartD(1)", "VLM_Stop()", "VLM_CloseDevice()"}));
    EXPECT_FALSE(W->FKeepConnected);
    EXPECT_EQ(W->StatusText(0), " OFF LINE ");
    ClearCalls();
    Tick();
    EXPECT_EQ(Log(), (Strings{"VLM_CloseDevice()"}));
}

TEST_F(ConnectionTest, DisabledMenuItemsDoNothing)
{
    CreateConnected();
    W->mnConnect->trigger(); // disabled while the link is up
    EXPECT_TRUE(Log().empty());
}

TEST_F(ConnectionTest, ConnectAndDisconnectNeverRaiseOnDeviceFailures)
{
    CreateConnected();
    VD::FailAll("Link lost");
    W->Disconnect();
    EXPECT_FALSE(W->FConnected);
    W->Connect();
    EXPECT_FALSE(W->FConnected);
    EXPECT_EQ(W->StatusText(0), " OFF LINE ");
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(ConnectionTest, DeviceTextsInWindows1251ShowAsCyrillicOnOneLine)
{
    Create();
    VD::SetInfoText("\xCF\xF0\xE8\xE2\xEE\xE4\n#1\t(COM3)"); // "Привод", a newline, a tab
    Tick();
    EXPECT_EQ(W->StatusText(0), " ON LINE: Привод #1 (COM3)");

    VD::Fail("VLM_StartD", "\xCD\xE5\xF2 \xF1\xE2\xFF\xE7\xE8"); // "Нет связи"
    W->btStartR->click();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].Text, "Нет связи.");
}

TEST_F(ConnectionTest, ConnectCommandWantsTheLinkBeforeItsWarningWaits)
{
    CreateWithNoDevice();
    bool ConnectedInsideTheBox = false;
    Application::SetMessageBoxHook([&](const QString&, const QString&, int) {
        VD::SetOpenResult(true);
        ClearCalls();
        Tick(); // the poll keeps running while the box waits
        ConnectedInsideTheBox = W->FConnected;
        return int(Application::IDOK);
    });
    W->mnConnect->trigger();
    Settle();
    TestSupport::RecordMessageBoxes();
    EXPECT_TRUE(ConnectedInsideTheBox);
    EXPECT_EQ(Log(), Then({"VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_GetInfo()"}, AllParameters));
}
