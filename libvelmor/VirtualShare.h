#pragma once

#include <mutex>
#include <string>

#include "device/Backend.h"
#include "sim/Controller.h"

// A session's hold on the in-process virtual controller: one model for the
// whole process (made at the first open on "virtual", kept for the life of
// the process, so leaving it for a line and coming back finds it as it was),
// shared by every session on it. Each share has its own open state and its
// own last error; the model's link closes when the last open share closes.
// The model answers at address 1 only: a share at another address opens as
// a controller that does not answer.
namespace Velmor {

class VirtualShare : public Device::Backend {
public:
    explicit VirtualShare(int Address) : FAddress(Address) {}
    ~VirtualShare() override;

    VELMOR_BACKEND_OPERATIONS
    bool IsOpen() const override { return FOpen; }

    // The model's twelve parameters in register order (step, decay, Iw, Ia,
    // Ih, Vm, Vw, Aw, the three limit words, the control word).
    bool ReadParameters(int32_t* Out);

private:
    // Runs Do on the model under its lock and keeps its text on failure.
    template <class Fn> bool Call(Fn Do, bool NeedOpen = true);

    int FAddress;
    bool FOpen = false;
    std::string FLastError;
};

// The model and the lock every call on it takes.
Sim::VirtualController& Model();
std::mutex& ModelLock();

} // namespace Velmor
