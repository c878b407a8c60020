// First cut of the virtual controller behind the device library interface.
// A later model replaces the motion here; the exported functions stay.
#include "device/velmor.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>

namespace {

struct Model {
    bool Open = false;
    int32_t Vw = 100;
    int32_t Nc = 0;
    int32_t Target = 0;
    int32_t Dir = 0;
    int32_t State = 0;
    bool Positioning = false;
    std::chrono::steady_clock::time_point Last = std::chrono::steady_clock::now();
    const char* Error = "";

    void Advance()
    {
        auto Now = std::chrono::steady_clock::now();
        double Dt = std::chrono::duration<double>(Now - Last).count();
        Last = Now;
        if (Dir == 0)
            return;
        int64_t Step = static_cast<int64_t>(Vw * Dt);
        int64_t Next = Nc + Dir * Step;
        if (Positioning && ((Dir > 0 && Next >= Target) || (Dir < 0 && Next <= Target))) {
            Next = Target;
            Dir = 0;
            State = 1;
            Positioning = false;
        }
        Nc = static_cast<int32_t>(Next);
    }
};

Model M;

VLM_BOOL Fail(const char* Text)
{
    M.Error = Text;
    return 0;
}

VLM_BOOL NeedOpen()
{
    M.Advance();
    return M.Open ? 1 : Fail("Device is not open");
}

char GInfo[] = "Virtual controller";

} // namespace

extern "C" {

VLM_BOOL VLM_OpenDevice(void) { M.Open = true; M.Advance(); return 1; }
VLM_BOOL VLM_CloseDevice(void) { M.Open = false; return 1; }
VLM_BOOL VLM_GetInfo(char** text) { if (text) *text = GInfo; return 1; }
VLM_BOOL VLM_GetLastError(char** text) { if (text) *text = const_cast<char*>(M.Error); return 1; }

VLM_BOOL VLM_SetMode(int32_t, int32_t) { return NeedOpen(); }
VLM_BOOL VLM_SetIw(int32_t) { return NeedOpen(); }
VLM_BOOL VLM_SetIa(int32_t) { return NeedOpen(); }
VLM_BOOL VLM_SetIh(int32_t) { return NeedOpen(); }
VLM_BOOL VLM_SetVm(int32_t) { return NeedOpen(); }
VLM_BOOL VLM_SetVw(int32_t v) { if (!NeedOpen()) return 0; M.Vw = v; return 1; }
VLM_BOOL VLM_SetAw(int32_t) { return NeedOpen(); }
VLM_BOOL VLM_SetLim(int32_t, int32_t, int32_t) { return NeedOpen(); }
VLM_BOOL VLM_SetCtrl(int32_t) { return NeedOpen(); }
VLM_BOOL VLM_SetNc(int32_t n) { if (!NeedOpen()) return 0; M.Nc = n; return 1; }

VLM_BOOL VLM_StartD(int32_t dir)
{
    if (!NeedOpen()) return 0;
    M.Dir = dir > 0 ? 1 : dir < 0 ? -1 : 0;
    M.Positioning = false;
    M.State = M.Dir ? 3 : 0;
    return 1;
}
VLM_BOOL VLM_StartN(int32_t n)
{
    if (!NeedOpen()) return 0;
    M.Target = n;
    M.Dir = n > M.Nc ? 1 : n < M.Nc ? -1 : 0;
    M.Positioning = M.Dir != 0;
    M.State = M.Dir ? 4 : 1;
    return 1;
}
VLM_BOOL VLM_StartdN(int32_t dn) { return VLM_StartN(static_cast<int32_t>(M.Nc + static_cast<int64_t>(dn))); }
VLM_BOOL VLM_Home(int32_t dir) { if (!NeedOpen()) return 0; M.Dir = dir > 0 ? 1 : -1; M.State = 6; return 1; }
VLM_BOOL VLM_Stop(void) { if (!NeedOpen()) return 0; M.Dir = 0; M.State = 0; return 1; }
VLM_BOOL VLM_SavePar(void) { return NeedOpen(); }

VLM_BOOL VLM_GetStat(int32_t* v) { if (!NeedOpen()) return 0; *v = M.State; return 1; }
VLM_BOOL VLM_GetNc(int32_t* v) { if (!NeedOpen()) return 0; *v = M.Nc; return 1; }
VLM_BOOL VLM_GetNb(int32_t* v) { if (!NeedOpen()) return 0; *v = 0; return 1; }
VLM_BOOL VLM_GetVc(int32_t* v) { if (!NeedOpen()) return 0; *v = M.Dir * M.Vw; return 1; }
VLM_BOOL VLM_GetLim(int32_t* v) { if (!NeedOpen()) return 0; *v = 0; return 1; }
VLM_BOOL VLM_GetAdc(int32_t* v) { if (!NeedOpen()) return 0; *v = 240; return 1; }

} // extern "C"
