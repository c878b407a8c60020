#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

namespace TestSupport {

// Makes a fresh folder /tmp/<Prefix>-XXXXXX and names it in Dir; a folder
// that cannot be made fails the test. The fixture removes it.
inline void MakeTempFolder(const std::string& Prefix, std::string& Dir)
{
    std::string Template = "/tmp/" + Prefix + "-XXXXXX";
    ASSERT_NE(mkdtemp(Template.data()), nullptr);
    Dir = Template;
}

} // namespace TestSupport
