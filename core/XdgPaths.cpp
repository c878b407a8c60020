#include "core/XdgPaths.h"

#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace Core {

namespace {

bool Given(const char* S) { return S && *S; }

std::string Join(const std::string& Dir, const std::string& Name)
{
    return Dir.back() == '/' ? Dir + Name : Dir + "/" + Name;
}

} // namespace

std::string XdgPath(const char* XdgHome, const char* Home, const char* HomeDefault, const std::string& Name)
{
    if (Given(XdgHome) && XdgHome[0] == '/')
        return Join(XdgHome, Name);
    if (Given(Home))
        return Join(Join(Home, HomeDefault), Name);
    return {};
}

const char* UserHome()
{
    const char* Home = std::getenv("HOME");
    if (!Given(Home)) {
        if (const passwd* Pw = ::getpwuid(::getuid()))
            Home = Pw->pw_dir;
    }
    return Home;
}

} // namespace Core
