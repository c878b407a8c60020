#pragma once

#include "platform/Exception.h"

// A failed device-library call; the message is the library's own error text.
// Thrown by value, caught by const reference.
class EHardwareException : public Exception {
public:
    using Exception::Exception;
};
