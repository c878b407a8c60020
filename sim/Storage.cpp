#include "sim/Storage.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "core/SmallFile.h"
#include "core/XdgPaths.h"

namespace Sim {

namespace {

const char* const StateName = "virtual-controller.ini";
const char* const ControlName = "virtual-controller.control";
// A stored parameter file is a few hundred bytes.
constexpr std::streamsize MaxStateText = 16 * 1024;

bool Given(const char* S) { return S && *S; }

} // namespace

std::string StatePathFrom(const char* Override, const char* XdgStateHome, const char* Home)
{
    if (Given(Override))
        return Override;
    return Core::XdgStatePath(XdgStateHome, Home, std::string("velmor/") + StateName);
}

std::string ControlPathFrom(const char* Override, const std::string& StatePath)
{
    if (Given(Override))
        return Override;
    if (StatePath.empty())
        return {};
    std::string Dir = Core::FolderOf(StatePath);
    if (Dir.empty())
        return ControlName;
    return Core::JoinPath(Dir, ControlName);
}

std::string DefaultStatePath()
{
    return StatePathFrom(std::getenv("VELMOR_SIM_STATE"), std::getenv("XDG_STATE_HOME"), Core::UserHome());
}

std::string DefaultControlPath(const std::string& StatePath)
{
    return ControlPathFrom(std::getenv("VELMOR_SIM_CONTROL"), StatePath);
}

std::string StatePathAt(const std::string& StatePath, int Address)
{
    if (StatePath.empty())
        return StatePath;
    const size_t Slash = StatePath.rfind('/');
    const size_t Name = Slash == std::string::npos ? 0 : Slash + 1;
    size_t Dot = StatePath.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (Dot == std::string::npos || Dot <= Name)
        Dot = StatePath.size();
    return StatePath.substr(0, Dot) + "-" + std::to_string(Address) + StatePath.substr(Dot);
}

bool LoadParameters(const std::string& Path, Parameters& Out)
{
    if (Path.empty())
        return false;
    std::ifstream In(Path, std::ios::binary);
    if (!In)
        return false;
    std::string Text(static_cast<size_t>(MaxStateText) + 1, '\0');
    In.read(&Text[0], MaxStateText + 1);
    if (In.bad() || In.gcount() > MaxStateText)
        return false;
    Text.resize(static_cast<size_t>(In.gcount()));
    return ParseParameters(Text, Out);
}

Core::Status SaveParameters(const std::string& Path, const Parameters& P)
{
    if (Path.empty())
        return Core::Status::Fail("Cannot store the parameters: no home folder to keep them in");
    if (const Core::Status Made = Core::MakeFolders(Core::FolderOf(Path)); !Made)
        return Core::Status::Fail("Cannot store the parameters: " + Made.Text());
    const Core::Status Saved = Core::ReplaceFile(Path, FormatParameters(P));
    if (!Saved)
        return Core::Status::Fail("Cannot store the parameters in " + Path + ": " + std::strerror(Saved.Code()));
    return {};
}

} // namespace Sim
