#pragma once

// What the line tests with real programs share: a text search, a link line
// that must parse, a program run to its end, a null-modem pair of
// pseudo-terminals and a port's settings as stty prints them.

#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "linksetting/LinkConfig.h"
#include "tests/linkclient/ChildProcess.h"

namespace LinkTest {

inline bool Has(const std::string& Text, const std::string& Part) { return Text.find(Part) != std::string::npos; }

inline Link::LinkConfig Parse(const std::string& Line)
{
    const Core::Result<Link::LinkConfig> C = Link::ParseLinkLine(Line);
    EXPECT_TRUE(C) << Line << ": " << C.Error();
    return C ? *C : Link::LinkConfig();
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

// A socat pair of pseudo-terminals joined back to back: what one end sends
// the other receives, as a null-modem cable between two serial ports.
struct SocatPair {
    std::string Folder = MakeTempFolder();
    std::string A = Folder + "/a", B = Folder + "/b";
    ChildProcess Process;
    bool Start()
    {
        return Process.Start("/usr/bin/socat", {"pty,raw,echo=0,link=" + A, "pty,raw,echo=0,link=" + B}) &&
               WaitUntil([&] { return ::access(A.c_str(), F_OK) == 0 && ::access(B.c_str(), F_OK) == 0; }, 5000);
    }
};

// The settings of a port as stty -a prints them.
inline std::string Stty(const std::string& Port)
{
    int Status = 0;
    return RunTool({"/bin/stty", "-F", Port, "-a"}, Status);
}

// Whether the word (as stty prints it, "cstopb" or "-cstopb") stands alone.
inline bool Flag(const std::string& Settings, const std::string& Word)
{
    std::istringstream In(Settings);
    std::string W;
    while (In >> W)
        if (W == Word)
            return true;
    return false;
}

} // namespace LinkTest
