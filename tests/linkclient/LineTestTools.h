#pragma once

// What the line tests with real programs share: a text search, a link line
// that must parse, and a program run to its end.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/LinkConfig.h"
#include "tests/linkclient/ChildProcess.h"

namespace LinkTest {

inline bool Has(const std::string& Text, const std::string& Part) { return Text.find(Part) != std::string::npos; }

inline Link::LinkConfig Parse(const std::string& Line)
{
    Link::LinkConfig C;
    std::string Error;
    EXPECT_TRUE(Link::ParseLinkLine(Line, C, Error)) << Line << ": " << Error;
    return C;
}

// Runs a command line to its end (within Ms) and gives its standard output
// and standard error; Status is its exit status, -1 when it did not end (or
// a signal ended it).
inline std::string RunTool(const std::vector<std::string>& Args, int& Status, int Ms = 10000)
{
    ChildProcess P;
    // Standard error into standard output, through a shell-less wrapper.
    std::vector<std::string> Wrapped = {"-c", "exec \"$0\" \"$@\" 2>&1"};
    Wrapped.insert(Wrapped.end(), Args.begin(), Args.end());
    Status = -1;
    if (!P.Start("/bin/sh", Wrapped))
        return {};
    std::string Out, Line;
    while (P.ReadLine(Line, Ms))
        Out += Line + "\n";
    if (WaitUntil([&] { return !P.Running(); }, Ms))
        Status = P.ExitStatus();
    return Out;
}

} // namespace LinkTest
