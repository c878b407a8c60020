// The device library's C functions over one virtual controller. Each is a
// plain hand-over to the member of the same name (sim/Controller.h).
#include "device/velmor.h"

#include "sim/Controller.h"

namespace {

// Built at the first call, from the environment (state and control paths).
Sim::VirtualController& Device()
{
    static Sim::VirtualController Instance;
    return Instance;
}

VLM_BOOL B(bool Ok) { return Ok ? 1 : 0; }

} // namespace

extern "C" {

VLM_BOOL VLM_OpenDevice(void) { return B(Device().OpenDevice()); }
VLM_BOOL VLM_CloseDevice(void) { return B(Device().CloseDevice()); }
VLM_BOOL VLM_GetInfo(char** text) { return B(Device().GetInfo(text)); }
VLM_BOOL VLM_GetLastError(char** text) { return B(Device().GetLastError(text)); }

VLM_BOOL VLM_SetMode(int32_t step, int32_t decay) { return B(Device().SetMode(step, decay)); }
VLM_BOOL VLM_SetIw(int32_t current) { return B(Device().SetIw(current)); }
VLM_BOOL VLM_SetIa(int32_t current) { return B(Device().SetIa(current)); }
VLM_BOOL VLM_SetIh(int32_t current) { return B(Device().SetIh(current)); }
VLM_BOOL VLM_SetVm(int32_t speed) { return B(Device().SetVm(speed)); }
VLM_BOOL VLM_SetVw(int32_t speed) { return B(Device().SetVw(speed)); }
VLM_BOOL VLM_SetAw(int32_t acceleration) { return B(Device().SetAw(acceleration)); }
VLM_BOOL VLM_SetLim(int32_t backward, int32_t forward, int32_t home)
{
    return B(Device().SetLim(backward, forward, home));
}
VLM_BOOL VLM_SetCtrl(int32_t word) { return B(Device().SetCtrl(word)); }
VLM_BOOL VLM_SetNc(int32_t coordinate) { return B(Device().SetNc(coordinate)); }

VLM_BOOL VLM_StartD(int32_t dir) { return B(Device().StartD(dir)); }
VLM_BOOL VLM_StartN(int32_t n) { return B(Device().StartN(n)); }
VLM_BOOL VLM_StartdN(int32_t dn) { return B(Device().StartdN(dn)); }
VLM_BOOL VLM_Home(int32_t dir) { return B(Device().Home(dir)); }
VLM_BOOL VLM_Stop(void) { return B(Device().Stop()); }
VLM_BOOL VLM_SavePar(void) { return B(Device().SavePar()); }

VLM_BOOL VLM_GetStat(int32_t* state) { return B(Device().GetStat(state)); }
VLM_BOOL VLM_GetNc(int32_t* coordinate) { return B(Device().GetNc(coordinate)); }
VLM_BOOL VLM_GetNb(int32_t* coordinate) { return B(Device().GetNb(coordinate)); }
VLM_BOOL VLM_GetVc(int32_t* speed) { return B(Device().GetVc(speed)); }
VLM_BOOL VLM_GetLim(int32_t* word) { return B(Device().GetLim(word)); }
VLM_BOOL VLM_GetAdc(int32_t* reading) { return B(Device().GetAdc(reading)); }

} // extern "C"
