// libvelmor.so's front with a malformed link setting: every open fails with
// the text saying what is wrong and where it was read; the other calls fail
// as on a closed device, and a close stays harmless. The setting stays
// malformed for the whole program, so it holds this one case only.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "device/velmor.h"

namespace {

std::string LastError()
{
    char* Text = nullptr;
    EXPECT_TRUE(VLM_GetLastError(&Text));
    return Text ? Text : "(null)";
}

TEST(LinkFront, MalformedSettingFailsEveryOpenWithItsText)
{
    setenv("VELMOR_LINK", "serial:/dev/ttyUSB0?adress=1", 1);
    EXPECT_TRUE(VLM_CloseDevice());
    for (int Try = 0; Try < 2; ++Try) {
        EXPECT_FALSE(VLM_OpenDevice());
        EXPECT_EQ(LastError(), "Link setting in $VELMOR_LINK: unknown option \"adress\" (known: baud, address, "
                               "timeout, parity, stopbits, trace, watchdog) (read \"serial:/dev/ttyUSB0?adress=1\")");
    }
    int32_t V = 0;
    EXPECT_FALSE(VLM_GetNc(&V));
    EXPECT_EQ(LastError(), "Device is not open");
    EXPECT_TRUE(VLM_CloseDevice());
}

} // namespace
