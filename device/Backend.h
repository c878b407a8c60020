#pragma once

#include <string>

#include "device/Operations.h"

// What the device library's front hands a call over to: one member per
// operation of device/Operations.h, with its name and parameters, returning
// the call's truth value and, on failure, leaving the text GetLastError
// hands out. The in-process virtual controller (sim/) and the line client
// (link/) are the two.
namespace Device {

class Backend {
public:
    virtual ~Backend() = default;

#define VELMOR_DECLARE_OPERATION(Name, Params, Args) virtual bool Name Params = 0;
    VELMOR_OPERATIONS(VELMOR_DECLARE_OPERATION)
#undef VELMOR_DECLARE_OPERATION

    // True while the link to the controller is open.
    virtual bool IsOpen() const = 0;

protected:
    // Hands Text out through To, for the caller to read and never free;
    // false without a place for it.
    static bool HandOut(const std::string& Text, char** To)
    {
        if (!To)
            return false;
        *To = const_cast<char*>(Text.c_str());
        return true;
    }
};

} // namespace Device

// Declares a backend's members for every operation, in its class body.
#define VELMOR_OVERRIDE_OPERATION(Name, Params, Args) bool Name Params override;
#define VELMOR_BACKEND_OPERATIONS VELMOR_OPERATIONS(VELMOR_OVERRIDE_OPERATION)
