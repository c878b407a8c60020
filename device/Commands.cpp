#include "device/Commands.h"

#include "core/DeviceState.h"
#include "device/DeviceText.h"

namespace Commands {

void RaiseHardwareError()
{
    char* Text = nullptr;
    VLM_GetLastError(&Text);
    throw EHardwareException(DeviceTextToUtf8(Text), 0);
}

namespace {
inline void Check(VLM_BOOL Ok)
{
    if (!Ok)
        RaiseHardwareError();
}

template <VLM_BOOL (*Read)(int32_t*)>
int32_t Reading()
{
    int32_t Value = 0;
    Check(Read(&Value));
    return Value;
}
} // namespace

#define VELMOR_DEFINE_COMMAND(Name, Params, Args) \
    void Name Params { Check(VLM_##Name Args); }
VELMOR_COMMAND_OPERATIONS(VELMOR_DEFINE_COMMAND)
#undef VELMOR_DEFINE_COMMAND

double GetAdc() { return Reading<VLM_GetAdc>() * 0.1; }
int32_t GetNc() { return Reading<VLM_GetNc>(); }
int32_t GetNb() { return Reading<VLM_GetNb>(); }
int32_t GetVc() { return Reading<VLM_GetVc>(); }
int32_t GetLim() { return Reading<VLM_GetLim>(); }
int32_t GetStat() { return Reading<VLM_GetStat>(); }

const char* StateText(int32_t Code) { return Core::StateText(Code); }

std::string GetStateText() { return StateText(GetStat()); }

} // namespace Commands
