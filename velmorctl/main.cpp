// velmorctl: the Velmor controller from scripts and terminals.
#include <iostream>

#include "settings/SettingsPath.h"
#include "velmorctl/Ctl.h"

int main(int argc, char** argv)
{
#ifdef VELMOR_INSTALLED_LAYOUT
    // Installed beside the installed panel, whose settings live in the
    // user's configuration folder: apply-settings reads that file.
    SetSettingsLocation(TSettingsLocation::UserConfig);
#endif
    VelmorCtl::InstallInterruptHandlers();
    VelmorCtl::Context Ctx = VelmorCtl::SystemContext(std::cout, std::cerr);
    const int Code = VelmorCtl::Run(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), Ctx);
    std::cout.flush();
    return Code;
}
