#include "platform/Exception.h"

std::string ExceptionDisplayText(const std::string& Msg)
{
    if (!Msg.empty() && static_cast<unsigned char>(Msg.back()) > static_cast<unsigned char>('.'))
        return Msg + ".";
    return Msg;
}
