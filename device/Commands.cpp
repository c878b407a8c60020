#include "device/Commands.h"

#include "core/DeviceState.h"
#include "device/DeviceText.h"
#include "device/velmor.h"

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

void SetMode(int32_t Step, int32_t Decay) { Check(VLM_SetMode(Step, Decay)); }
void SetIw(int32_t Current) { Check(VLM_SetIw(Current)); }
void SetIa(int32_t Current) { Check(VLM_SetIa(Current)); }
void SetIh(int32_t Current) { Check(VLM_SetIh(Current)); }
void SetVm(int32_t Speed) { Check(VLM_SetVm(Speed)); }
void SetVw(int32_t Speed) { Check(VLM_SetVw(Speed)); }
void SetAw(int32_t Acceleration) { Check(VLM_SetAw(Acceleration)); }
void SetLim(int32_t Backward, int32_t Forward, int32_t Home) { Check(VLM_SetLim(Backward, Forward, Home)); }
void SetCtrl(int32_t Word) { Check(VLM_SetCtrl(Word)); }
void SetNc(int32_t Coordinate) { Check(VLM_SetNc(Coordinate)); }

void StartD(int32_t Dir) { Check(VLM_StartD(Dir)); }
void StartN(int32_t N) { Check(VLM_StartN(N)); }
void StartdN(int32_t Dn) { Check(VLM_StartdN(Dn)); }
void Home(int32_t Dir) { Check(VLM_Home(Dir)); }
void Stop() { Check(VLM_Stop()); }
void SavePar() { Check(VLM_SavePar()); }

double GetAdc() { return Reading<VLM_GetAdc>() * 0.1; }
int32_t GetNc() { return Reading<VLM_GetNc>(); }
int32_t GetNb() { return Reading<VLM_GetNb>(); }
int32_t GetVc() { return Reading<VLM_GetVc>(); }
int32_t GetLim() { return Reading<VLM_GetLim>(); }
int32_t GetStat() { return Reading<VLM_GetStat>(); }

const char* StateText(int32_t Code)
{
    switch (Code) {
    case Core::StateStopped: return "Stopped";
    case Core::StateDone: return "Operation done";
    case Core::StateLimit: return "Limit reached";
    case Core::StateRotating: return "Rotating...";
    case Core::StatePositioning: return "Positioning...";
    case Core::StateEncoderPositioning: return "Encoder positioning...";
    case Core::StateHoming: return "Searching home...";
    default: return "Unknown state";
    }
}

std::string GetStateText() { return StateText(GetStat()); }

} // namespace Commands
