#include "libvelmor/VirtualShare.h"

#include <algorithm>
#include <iterator>


namespace Velmor {

namespace {

// How many shares have the model's link open; under the model's lock.
int OpenShares = 0;

} // namespace

std::mutex& ModelLock()
{
    static std::mutex* Lock = new std::mutex; // outlives a session freed at exit
    return *Lock;
}

Sim::VirtualController& Model()
{
    // Made at the first use (under the lock), kept for the life of the
    // process and past it: a session freed at exit may still close it.
    static Sim::VirtualController* The = nullptr;
    if (!The)
        The = new Sim::VirtualController();
    return *The;
}

VirtualShare::~VirtualShare()
{
    std::lock_guard<std::mutex> Hold(ModelLock());
    if (FOpen && --OpenShares == 0)
        Model().CloseDevice();
}

template <class Fn> bool VirtualShare::Call(Fn Do, bool NeedOpen)
{
    std::lock_guard<std::mutex> Hold(ModelLock());
    // Another session has the model open; this one is closed.
    if (NeedOpen && !FOpen && OpenShares > 0) {
        FLastError = Sim::VirtualController::NotOpenText;
        return false;
    }
    if (Do(Model()))
        return true;
    FLastError = Model().LastError();
    return false;
}

bool VirtualShare::OpenDevice()
{
    std::lock_guard<std::mutex> Hold(ModelLock());
    if (FAddress != 1) {
        FLastError = "VLM_OpenDevice: no answer from the controller at address " + std::to_string(FAddress) +
                     " (the virtual controller answers at address 1 only)";
        return false;
    }
    if (!Model().OpenDevice()) {
        FLastError = Model().LastError();
        return false;
    }
    if (!FOpen) {
        FOpen = true;
        ++OpenShares;
    }
    return true;
}

bool VirtualShare::CloseDevice()
{
    std::lock_guard<std::mutex> Hold(ModelLock());
    // The others keep the model's link open.
    if ((FOpen && OpenShares > 1) || (!FOpen && OpenShares > 0)) {
        if (FOpen) {
            FOpen = false;
            --OpenShares;
        }
        return true;
    }
    if (!Model().CloseDevice()) {
        FLastError = Model().LastError();
        return false;
    }
    if (FOpen) {
        FOpen = false;
        --OpenShares;
    }
    return true;
}

bool VirtualShare::ReadParameters(int32_t* Out)
{
    std::lock_guard<std::mutex> Hold(ModelLock());
    Sim::VirtualController& M = Model();
    if (!M.LinkUp())
        FLastError = Sim::VirtualController::LinkDownText;
    else if (!FOpen)
        FLastError = Sim::VirtualController::NotOpenText;
    else if (!Out)
        FLastError = "VLMS_ReadParameters: no place for the result (null pointer)";
    else {
        const Sim::Parameters& P = M.Params();
        const int32_t Values[] = {P.Step, P.Decay, P.Iw, P.Ia, P.Ih, P.Vm,
                                  P.Vw, P.Aw, P.LimBackward, P.LimForward, P.LimHome, P.Ctrl};
        std::copy(std::begin(Values), std::end(Values), Out);
        return true;
    }
    return false;
}

bool VirtualShare::GetLastError(char** Text) { return HandOut(FLastError, Text); }

#define VELMOR_SHARE_OPERATION(Name, Params, Args)                                                                  \
    bool VirtualShare::Name Params                                                                                  \
    {                                                                                                               \
        return Call([&](Sim::VirtualController& M) { return M.Name Args; });                                        \
    }
VELMOR_DEVICE_OPERATIONS(VELMOR_SHARE_OPERATION)
#undef VELMOR_SHARE_OPERATION

} // namespace Velmor
