#include <gtest/gtest.h>

#include "device/DeviceText.h"

TEST(DeviceText, Utf8StaysAndOtherBytesAreWindows1251)
{
    EXPECT_EQ(DeviceTextToUtf8(nullptr), "");
    EXPECT_EQ(DeviceTextToUtf8("Timeout"), "Timeout");
    EXPECT_EQ(DeviceTextToUtf8("Ошибка №5"), "Ошибка №5");
    // "Ошибка №5" in Windows-1251.
    EXPECT_EQ(DeviceTextToUtf8("\xCE\xF8\xE8\xE1\xEA\xE0 \xB9\x35"), "Ошибка №5");
    EXPECT_EQ(DeviceTextToUtf8("\xA8\xB8\x80\x98\xFF"), "ЁёЂ\xEF\xBF\xBDя");
}

TEST(DeviceText, MalformedUtf8IsNotTakenAsUtf8)
{
    for (const char* Bad : {"\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE0\x9F\xBF", "ab\xD0", "\xD0\xD0"})
        EXPECT_FALSE(IsValidUtf8(Bad)) << Bad;
    for (const char* Good : {"", "\xD0\x81", "\xEF\xBF\xBD", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"})
        EXPECT_TRUE(IsValidUtf8(Good)) << Good;
    // A lone lead byte at the end: every byte read as Windows-1251.
    EXPECT_EQ(DeviceTextToUtf8("ab\xD0"), "abР");
}
