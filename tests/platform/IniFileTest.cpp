// The settings file rules on text in memory.
#include <gtest/gtest.h>

#include <climits>

#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "tests/support/FirstRunFile.h"

namespace {

TIniFile FromText(const std::string& Text)
{
    TIniFile Ini("/nonexistent-folder-of-the-tests/velmor.ini");
    Ini.SetText(Text);
    return Ini;
}

TEST(IniFileRead, TrimsLinesKeysAndValues)
{
    TIniFile Ini = FromText(" \t[ I ]\x01\r\n"
                            "  Iw   =   500 \t\r\n"
                            "\tIa=\x02 300\x7F\n"
                            "Ih = 0x1F4\r"
                            "Hold\t=2\n");
    EXPECT_EQ(Ini.ReadInteger("I", "Iw", 0), 500);
    EXPECT_EQ(Ini.ReadInteger("I", "Ia", 0), 300);
    EXPECT_EQ(Ini.ReadInteger("I", "Ih", 0), 500);
    EXPECT_TRUE(Ini.ReadBool("I", "Hold", false));
    EXPECT_EQ(Ini.ReadString("I", "Iw", "?"), "500");
}

TEST(IniFileRead, SkipsCommentsEmptyLinesAndLinesBeforeTheFirstSection)
{
    TIniFile Ini = FromText("Left=1\r\n"
                            "[General]\r\n"
                            "\r\n"
                            "   \r\n"
                            ";Top=5\r\n"
                            "  ; Vmax=7\r\n"
                            "Top=260\r\n");
    EXPECT_FALSE(Ini.ValueExists("General", "Left"));
    EXPECT_EQ(Ini.ReadInteger("General", "Left", -1), -1);
    EXPECT_EQ(Ini.ReadInteger("General", "Top", -1), 260);
    EXPECT_EQ(Ini.ReadInteger("General", "Vmax", -1), -1);
    EXPECT_EQ(Ini.ReadInteger("General", "; Vmax", -1), -1);
}

TEST(IniFileRead, FirstSectionAndFirstKeyWin)
{
    TIniFile Ini = FromText("[V]\nVm=1\nVm=2\n[A]\nAw=5\n[V]\nVm=3\nVw=4\n");
    EXPECT_EQ(Ini.ReadInteger("V", "Vm", 0), 1);
    // Only the first "[V]" is searched, so Vw in the second one is not found.
    EXPECT_EQ(Ini.ReadInteger("V", "Vw", 99), 99);
}

TEST(IniFileRead, NamesMatchRegardlessOfLetterCase)
{
    TIniFile Ini = FromText("[general]\nLEFT=10\n[GENERAL]\nTop=20\n");
    EXPECT_EQ(Ini.ReadInteger("General", "Left", 0), 10);
    EXPECT_EQ(Ini.ReadInteger("General", "Top", 0), 0); // second section of the same name
}

TEST(IniFileRead, LineWithoutEqualsSignMatchesNoKey)
{
    TIniFile Ini = FromText("[I]\nIw\nIw 7\nIw=8\n");
    EXPECT_EQ(Ini.ReadInteger("I", "Iw", 0), 8);
    EXPECT_EQ(Ini.ReadInteger("I", "Iw 7", 0), 0);
}

TEST(IniFileRead, ValueIsSplitAtTheFirstEqualsSign)
{
    TIniFile Ini = FromText("[S]\nK = a = b\n");
    EXPECT_EQ(Ini.ReadString("S", "K", ""), "a = b");
    EXPECT_EQ(Ini.ReadInteger("S", "K", 42), 42);
}

TEST(IniFileRead, UnclosedBracketIsAPlainLineAndEmptyBracketsOpenASection)
{
    TIniFile Ini = FromText("[A]\n[B\nx=1\n[]\ny=2\n");
    // "[B" opens nothing: x still belongs to A.
    EXPECT_EQ(Ini.ReadInteger("A", "x", 0), 1);
    EXPECT_EQ(Ini.ReadInteger("B", "x", 0), 0);
    EXPECT_EQ(Ini.ReadInteger("", "y", 0), 2);
    EXPECT_EQ(Ini.Text(), "[A]\r\n[B\r\nx=1\r\n\r\n[]\r\ny=2\r\n\r\n");
}

TEST(IniFileRead, IntegerTexts)
{
    struct {
        const char* Text;
        bool Valid;
        int32_t Value;
    } Cases[] = {
        {"0", true, 0},
        {"500", true, 500},
        {"-5", true, -5},
        {"+7", true, 7},
        {"007", true, 7},
        {"2147483647", true, INT32_MAX},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999999", false, 0},
        {"0x1F4", true, 500},
        {"0X1f4", true, 500},
        {"0x0", true, 0},
        {"0x7FFFFFFF", true, INT32_MAX},
        // Hexadecimal is a 32-bit pattern.
        {"0x80000000", true, INT32_MIN},
        {"0xFFFFFFFF", true, -1},
        {"0x00000000000000FF", true, 255},
        {"0x100000000", false, 0},
        {"0x", false, 0},
        {"0xG", false, 0},
        {"0x1F4 ", false, 0},
        {"-0x10", false, 0},
        {"0x-1", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {"abc", false, 0},
        {"12a", false, 0},
        {"1 2", false, 0},
        {"1.5", false, 0},
        {"--1", false, 0},
    };
    for (const auto& C : Cases) {
        int32_t V = 12345;
        EXPECT_EQ(TIniFile::ParseInteger(C.Text, V), C.Valid) << C.Text;
        if (C.Valid)
            EXPECT_EQ(V, C.Value) << C.Text;
        else
            EXPECT_EQ(V, 12345) << C.Text;
    }
}

TEST(IniFileRead, InvalidOrMissingIntegersGiveTheDefault)
{
    TIniFile Ini = FromText("[I]\nIw=letters\nIa=\nIh=-5\n");
    EXPECT_EQ(Ini.ReadInteger("I", "Iw", 200), 200);
    EXPECT_EQ(Ini.ReadInteger("I", "Ia", 300), 300);
    EXPECT_EQ(Ini.ReadInteger("I", "Ih", 100), -5);
    EXPECT_EQ(Ini.ReadInteger("I", "Missing", 77), 77);
    EXPECT_EQ(Ini.ReadInteger("Nowhere", "Iw", 78), 78);
}

TEST(IniFileRead, BooleansReadAsIntegers)
{
    TIniFile Ini = FromText("[B]\nTwo=2\nZero=0\nMinus=-1\nHex=0x10\nWord=yes\n");
    EXPECT_TRUE(Ini.ReadBool("B", "Two", false));
    EXPECT_FALSE(Ini.ReadBool("B", "Zero", true));
    EXPECT_TRUE(Ini.ReadBool("B", "Minus", false));
    EXPECT_TRUE(Ini.ReadBool("B", "Hex", false));
    EXPECT_TRUE(Ini.ReadBool("B", "Word", true));
    EXPECT_FALSE(Ini.ReadBool("B", "Word", false));
    EXPECT_TRUE(Ini.ReadBool("B", "Missing", true));
}

TEST(IniFileWrite, ReplacesInPlaceAppendsKeysToTheirSectionAndSectionsAtTheEnd)
{
    TIniFile Ini = FromText("[General]\nLeft=1\nTop=2\n[I]\nIw=3\n");
    Ini.WriteInteger("General", "Left", -600);
    Ini.WriteInteger("General", "Vmax", 4000);
    Ini.WriteBool("Adc", "Show", true);
    Ini.WriteBool("I", "Hold", false);
    EXPECT_EQ(Ini.Text(),
              "[General]\r\nLeft=-600\r\nTop=2\r\nVmax=4000\r\n\r\n"
              "[I]\r\nIw=3\r\nHold=0\r\n\r\n"
              "[Adc]\r\nShow=1\r\n\r\n");
}

TEST(IniFileWrite, KeepsUnknownEntriesAndDropsCommentsAndStrayLines)
{
    TIniFile Ini = FromText("stray=1\r\n"
                            "; comment\r\n"
                            "[Mine]\r\n"
                            "Extra = hand made \r\n"
                            "  free text\r\n"
                            "[I]\r\n"
                            "; old value\r\n"
                            "iw = 150\r\n");
    Ini.WriteInteger("I", "Iw", 150);
    EXPECT_EQ(Ini.Text(), "[Mine]\r\nExtra=hand made\r\nfree text\r\n\r\n[I]\r\nIw=150\r\n\r\n");
}

TEST(IniFileWrite, WritesIntoTheFirstOfDuplicateSections)
{
    TIniFile Ini = FromText("[V]\nVm=1\n[V]\nVw=2\n");
    Ini.WriteInteger("V", "Vw", 9);
    EXPECT_EQ(Ini.Text(), "[V]\r\nVm=1\r\nVw=9\r\n\r\n[V]\r\nVw=2\r\n\r\n");
    EXPECT_EQ(Ini.ReadInteger("V", "Vw", 0), 9);
}

TEST(IniFileWrite, RejectsNamesThatWouldNotReadBack)
{
    TIniFile Ini = FromText("");
    EXPECT_THROW(Ini.WriteInteger("S", "a=b", 1), Exception);
    EXPECT_THROW(Ini.WriteInteger("S", ";k", 1), Exception);
    EXPECT_THROW(Ini.WriteInteger("S", " k", 1), Exception);
    EXPECT_THROW(Ini.WriteInteger("S\r\n[T]", "k", 1), Exception);
    EXPECT_EQ(Ini.Text(), "");
}

// The twenty keys of the settings in the program's order, with the values of
// a first run.
void WriteFirstRunSettings(TIniFile& Ini)
{
    Ini.WriteInteger("General", "Left", 600);
    Ini.WriteInteger("General", "Top", 260);
    Ini.WriteInteger("Mode", "Microstep", 0);
    Ini.WriteInteger("Mode", "Decay", 0);
    Ini.WriteInteger("I", "Iw", 200);
    Ini.WriteInteger("I", "Ia", 300);
    Ini.WriteInteger("I", "Ih", 100);
    Ini.WriteBool("I", "Hold", false);
    Ini.WriteInteger("N", "Nr", 0);
    Ini.WriteBool("N", "Relative", false);
    Ini.WriteInteger("General", "Vmax", 4000);
    Ini.WriteInteger("V", "Vm", 50);
    Ini.WriteInteger("V", "Vw", 100);
    Ini.WriteInteger("A", "Aw", 100);
    Ini.WriteBool("Adc", "Show", false);
    Ini.WriteInteger("Limits", "R", 0);
    Ini.WriteInteger("Limits", "L", 0);
    Ini.WriteInteger("Limits", "Home", 0);
    Ini.WriteBool("Limits", "HomeDir", true);
    Ini.WriteInteger("Control", "Mode", 32);
}

TEST(IniFileWrite, FirstRunFileByteForByte)
{
    TIniFile Ini("/nonexistent-folder-of-the-tests/velmor.ini");
    WriteFirstRunSettings(Ini);
    EXPECT_EQ(Ini.Text(), FirstRunFile);

    // Saving again over its own output changes nothing.
    TIniFile Again = FromText(FirstRunFile);
    WriteFirstRunSettings(Again);
    EXPECT_EQ(Again.Text(), FirstRunFile);
}

TEST(IniFileWrite, TextReadsBackAsTheSameValues)
{
    const std::string Messy = "x\n[ A ]\n k = 1 \n[B\n=5\n[a]\nk=2\n[]\n z=0x10\n";
    TIniFile First = FromText(Messy);
    TIniFile Second = FromText(First.Text());
    EXPECT_EQ(Second.Text(), First.Text());
    EXPECT_EQ(Second.ReadInteger("a", "K", 0), 1);
    EXPECT_EQ(Second.ReadInteger("A", "", 0), 5);
    EXPECT_EQ(Second.ReadInteger("", "z", 0), 16);
}

TEST(ChangeFileExt, ReplacesOnlyTheNamesExtension)
{
    EXPECT_EQ(ChangeFileExt("/opt/velmor/bin/velmor", ".ini"), "/opt/velmor/bin/velmor.ini");
    EXPECT_EQ(ChangeFileExt("/opt/v1.2/velmor", ".ini"), "/opt/v1.2/velmor.ini");
    EXPECT_EQ(ChangeFileExt("/opt/velmor.exe", ".ini"), "/opt/velmor.ini");
    EXPECT_EQ(ChangeFileExt("velmor.tar.gz", ".ini"), "velmor.tar.ini");
}

} // namespace
