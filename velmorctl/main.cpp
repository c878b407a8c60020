// velmorctl: the Velmor controller from scripts and terminals.
#include <unistd.h>

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
    VelmorCtl::InstallSignalHandlers();
    // Standard output through a buffer that keeps why a write failed, so a
    // full disk or a closed pipe is said as such and ends with its own code.
    VelmorCtl::FdStreamBuf OutBuf(STDOUT_FILENO);
    std::ostream Out(&OutBuf);
    VelmorCtl::Context Ctx = VelmorCtl::SystemContext(Out, std::cerr);
    Ctx.OutErrno = [&OutBuf] { return OutBuf.Error(); };
    const int Code = VelmorCtl::Run(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), Ctx);
    Out.flush();
    return Code;
}
