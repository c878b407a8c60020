#pragma once

#include <exception>
#include <string>

// The general exception of the program: a message text and a help-context
// number. Every exception the panel raises itself derives from it.
class Exception : public std::exception {
public:
    explicit Exception(std::string Msg, int HelpContext = 0)
        : FMessage(std::move(Msg)), FHelpContext(HelpContext) {}

    const std::string& Message() const noexcept { return FMessage; }
    int HelpContext() const noexcept { return FHelpContext; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
    int FHelpContext;
};

// The text the standard exception display shows for a message: a "." is
// appended when the message is not empty and its last character's code is
// greater than that of "." (so "...!" and "...." stay as they are).
std::string ExceptionDisplayText(const std::string& Msg);
