// velmorctl: the Velmor controller from scripts and terminals.
#include <iostream>

#include "velmorctl/Ctl.h"

int main(int argc, char** argv)
{
    VelmorCtl::InstallInterruptHandlers();
    VelmorCtl::Context Ctx = VelmorCtl::SystemContext(std::cout, std::cerr);
    const int Code = VelmorCtl::Run(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), Ctx);
    std::cout.flush();
    return Code;
}
