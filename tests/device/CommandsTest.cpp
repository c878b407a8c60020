#include <gtest/gtest.h>

#include "device/Commands.h"
#include "tests/support/VelmorDouble.h"

namespace VD = VelmorDouble;

class CommandsTest : public ::testing::Test {
protected:
    void SetUp() override { VD::Reset(); }
};

TEST_F(CommandsTest, SettersPassArgumentsUnchangedAndInOrder)
{
    Commands::SetMode(2, 1);
    Commands::SetIw(-7);
    Commands::SetIa(300);
    Commands::SetIh(0);
    Commands::SetVm(50);
    Commands::SetVw(2147483647);
    Commands::SetAw(-2147483647 - 1);
    Commands::SetLim(1, 3, 5);
    Commands::SetCtrl(0x13);
    Commands::SetNc(0);
    Commands::StartD(-1);
    Commands::StartN(1234);
    Commands::StartdN(-10);
    Commands::Home(1);
    Commands::Stop();
    Commands::SavePar();
    std::vector<std::string> Want = {
        "VLM_SetMode(2,1)", "VLM_SetIw(-7)", "VLM_SetIa(300)", "VLM_SetIh(0)", "VLM_SetVm(50)",
        "VLM_SetVw(2147483647)", "VLM_SetAw(-2147483648)", "VLM_SetLim(1,3,5)", "VLM_SetCtrl(19)",
        "VLM_SetNc(0)", "VLM_StartD(-1)", "VLM_StartN(1234)", "VLM_StartdN(-10)", "VLM_Home(1)",
        "VLM_Stop()", "VLM_SavePar()"};
    EXPECT_EQ(VD::Log(), Want);
}

TEST_F(CommandsTest, ReadsReturnWhatTheLibraryWrote)
{
    VD::SetRead("VLM_GetNc", -123456);
    VD::SetRead("VLM_GetNb", 5000);
    VD::SetRead("VLM_GetVc", -150);
    VD::SetRead("VLM_GetLim", 5);
    VD::SetRead("VLM_GetStat", 4);
    EXPECT_EQ(Commands::GetNc(), -123456);
    EXPECT_EQ(Commands::GetNb(), 5000);
    EXPECT_EQ(Commands::GetVc(), -150);
    EXPECT_EQ(Commands::GetLim(), 5);
    EXPECT_EQ(Commands::GetStat(), 4);
}

TEST_F(CommandsTest, GetAdcScalesTenthsToVolts)
{
    VD::QueueRead("VLM_GetAdc", 123);
    VD::QueueRead("VLM_GetAdc", 0);
    VD::QueueRead("VLM_GetAdc", -45);
    EXPECT_DOUBLE_EQ(Commands::GetAdc(), 12.3);
    EXPECT_EQ(Commands::GetAdc(), 0.0);
    EXPECT_DOUBLE_EQ(Commands::GetAdc(), -4.5);
}

TEST_F(CommandsTest, FailureRaisesWithTheLibraryTextRightAfterTheFailedCall)
{
    VD::Fail("VLM_SetVw", "Speed out of range");
    try {
        Commands::SetVw(99999);
        FAIL() << "no exception";
    } catch (const EHardwareException& E) {
        EXPECT_EQ(E.Message(), "Speed out of range");
        EXPECT_EQ(E.HelpContext(), 0);
    }
    EXPECT_EQ(VD::Log(), (std::vector<std::string>{"VLM_SetVw(99999)", "VLM_GetLastError()"}));
}

TEST_F(CommandsTest, NullOrEmptyErrorTextGivesAnEmptyMessage)
{
    VD::Fail("VLM_Stop", nullptr);
    VD::Fail("VLM_SavePar", "");
    for (auto Call : {&Commands::Stop, &Commands::SavePar}) {
        try {
            Call();
            FAIL() << "no exception";
        } catch (const EHardwareException& E) {
            EXPECT_EQ(E.Message(), "");
        }
    }
}

TEST_F(CommandsTest, FailedReadReturnsNothing)
{
    VD::SetRead("VLM_GetNc", 42);
    VD::Fail("VLM_GetNc", "Link lost");
    int32_t Got = -1;
    EXPECT_THROW(Got = Commands::GetNc(), EHardwareException);
    EXPECT_EQ(Got, -1);
    EXPECT_EQ(Commands::GetNc(), 42) << "a one-time failure is used up by one call";
}

TEST_F(CommandsTest, StateTexts)
{
    const char* Want[] = {"Stopped", "Operation done", "Limit reached", "Rotating...",
                          "Positioning...", "Encoder positioning...", "Searching home..."};
    for (int32_t Code = 0; Code <= 6; ++Code) {
        VD::SetRead("VLM_GetStat", Code);
        EXPECT_EQ(Commands::GetStateText(), Want[Code]);
    }
    for (int32_t Code : {7, -1, 2147483647, -2147483647 - 1}) {
        VD::SetRead("VLM_GetStat", Code);
        EXPECT_EQ(Commands::GetStateText(), "Unknown state") << Code;
    }
}

TEST_F(CommandsTest, FailingGetStatInsideGetStateTextRaises)
{
    VD::Fail("VLM_GetStat", "No answer");
    std::string Text = "untouched";
    try {
        Text = Commands::GetStateText();
        FAIL();
    } catch (const EHardwareException& E) {
        EXPECT_EQ(E.Message(), "No answer");
    }
    EXPECT_EQ(Text, "untouched");
}

TEST(HardwareException, CopyKeepsMessageAndHelpContext)
{
    EHardwareException A("text", 7);
    EHardwareException B = A;
    EXPECT_EQ(B.Message(), "text");
    EXPECT_EQ(B.HelpContext(), 7);
    const Exception& Base = B;
    EXPECT_STREQ(Base.what(), "text");
}
