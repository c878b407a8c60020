// velmorctl's command line: the program's own options, the dispatch to the
// command table, and what each failure prints and exits with.
#include <cstdlib>
#include <cstring>
#include <ostream>

#include "device/Commands.h"
#include "device/DeviceText.h"
#include "device/velmor.h"
#include "linksetting/LinkConfig.h"
#include "velmorctl/Commands.h"

#ifndef VELMORCTL_VERSION
#define VELMORCTL_VERSION "unknown"
#endif

namespace VelmorCtl {

using Detail::CommandInfo;

namespace {

int UsageFailure(Context& Ctx, const CommandInfo* C, const std::string& Text)
{
    Ctx.Err << "velmorctl: " << Text << '\n';
    if (C)
        Ctx.Err << "Usage: velmorctl [--link SPEC] [--lock-wait S] " << Detail::UsageLine(*C) << "\n"
                << "Try 'velmorctl " << C->Name << " --help'.\n";
    else
        Detail::PrintUsage(Ctx.Err);
    return ExitUsage;
}

std::string ErrnoText(int Errno) { return Errno ? std::strerror(Errno) : "write error"; }

// The program's version, and the device's text when one answers.
int Version(Context& Ctx)
{
    Ctx.Out << "velmorctl " << VELMORCTL_VERSION << '\n';
    if (VLM_OpenDevice()) {
        char* Text = nullptr;
        if (VLM_GetInfo(&Text))
            Ctx.Out << "device: " << DeviceTextToUtf8(Text) << '\n';
        else
            Ctx.Err << "velmorctl: the device did not give its text: " << Detail::LastErrorText() << '\n';
        VLM_CloseDevice();
    } else {
        Ctx.Err << "velmorctl: no device text: " << Detail::LastErrorText() << '\n';
    }
    return ExitOk;
}

} // namespace

namespace Detail {

Core::Result<CommandLine> ParseCommandLine(const std::vector<std::string>& Args)
{
    CommandLine L;
    bool Ended = false;
    for (size_t I = 0; I < Args.size(); ++I) {
        const std::string& A = Args[I];
        const bool IsLink = A == "--link" || A.rfind("--link=", 0) == 0;
        const bool IsLockWait = A == "--lock-wait" || A.rfind("--lock-wait=", 0) == 0;
        if (!Ended && (IsLink || IsLockWait)) {
            const std::string Name = IsLink ? "--link" : "--lock-wait";
            bool& Have = IsLink ? L.HaveLink : L.HaveLockWait;
            std::string& Value = IsLink ? L.Link : L.LockWait;
            if (Have)
                return Core::Status::Fail(Name + " given twice");
            if (A == Name) {
                if (I + 1 == Args.size())
                    return Core::Status::Fail(Name + (IsLink ? " needs a SPEC" : " needs a value"));
                Value = Args[++I];
            } else {
                Value = A.substr(Name.size() + 1);
            }
            if (IsLink && Value.empty())
                return Core::Status::Fail("--link needs a SPEC");
            Have = true;
            continue;
        }
        if (!Ended && (A == "--help" || A == "-h")) {
            L.Help = true;
            continue;
        }
        if (!Ended && A == "--version") {
            L.ShowVersion = true;
            continue;
        }
        if (A == "--")
            Ended = true;
        L.Rest.push_back(A);
    }
    return L;
}

} // namespace Detail

int Run(const std::vector<std::string>& Args, Context& Ctx)
{
    const Core::Result<Detail::CommandLine> Parsed = Detail::ParseCommandLine(Args);
    if (!Parsed)
        return UsageFailure(Ctx, nullptr, Parsed.Error());
    const std::vector<std::string>& Rest = Parsed->Rest;

    const CommandInfo* C = nullptr;
    if (Rest.empty() || Rest[0] == "help") {
        if (Rest.size() > 1) {
            if (const CommandInfo* H = Detail::FindCommand(Rest[1])) {
                Detail::PrintCommandHelp(Ctx.Out, *H);
                return ExitOk;
            }
            return UsageFailure(Ctx, nullptr, "unknown command '" + Rest[1] + "'");
        }
        if (Parsed->Help || !Rest.empty()) {
            Detail::PrintUsage(Ctx.Out);
            return ExitOk;
        }
        if (!Parsed->ShowVersion)
            return UsageFailure(Ctx, nullptr, "no command given");
    } else {
        C = Detail::FindCommand(Rest[0]);
        if (!C)
            return UsageFailure(Ctx, nullptr, "unknown command '" + Rest[0] + "'");
        if (Parsed->Help) {
            Detail::PrintCommandHelp(Ctx.Out, *C);
            return ExitOk;
        }
        if (Parsed->ShowVersion)
            return UsageFailure(Ctx, C, "--version stands alone");
    }

    try {
        Ctx.LockWait = Parsed->HaveLockWait ? Detail::ParseSeconds("--lock-wait", Parsed->LockWait) : 0;
    } catch (const Detail::UsageError& E) {
        return UsageFailure(Ctx, C, E.what());
    }

    // The link setting is checked before anything is opened, and a
    // malformed one is a usage error naming where it was read. The library
    // reads the setting itself at its first open.
    if (Parsed->HaveLink) {
        if (const Core::Result<Link::LinkConfig> Config = Link::ParseLinkLine(Parsed->Link); !Config)
            return UsageFailure(Ctx, C,
                                "--link: " + Config.Error() + " (read \"" + Link::Printable(Parsed->Link) + "\")");
        setenv("VELMOR_LINK", Parsed->Link.c_str(), 1);
    } else if (!C || std::string(C->Name) != "ports") {
        const Link::LinkSetting S = Link::ReadLinkSetting();
        if (!S.Ok && !C) {
            // --version still gives the program's version.
            Ctx.Out << "velmorctl " << VELMORCTL_VERSION << '\n';
            Ctx.Err << "velmorctl: no device text: " << S.Error << '\n';
            return ExitOk;
        }
        if (!S.Ok)
            return UsageFailure(Ctx, C, S.Error);
    }

    int Code = ExitOk;
    try {
        Code = C ? C->Fn(std::vector<std::string>(Rest.begin() + 1, Rest.end()), Ctx) : Version(Ctx);
        Detail::CheckOutput(Ctx);
    } catch (const Detail::UsageError& E) {
        return UsageFailure(Ctx, C, E.what());
    } catch (const Detail::OpenFailed& E) {
        Ctx.Err << "velmorctl: the device did not open" << (*E.what() ? ": " : "") << E.what() << '\n';
        return ExitOpenFailed;
    } catch (const Detail::OutputFailed& E) {
        Ctx.Err << "velmorctl: cannot write " << E.what() << ": " << ErrnoText(E.Errno) << '\n';
        return Code == ExitOk ? ExitOutput : Code;
    } catch (const EHardwareException& E) {
        Ctx.Err << "velmorctl: " << (E.Message().empty() ? "the device refused the command" : E.Message())
                << '\n';
        Code = ExitRefused;
    } catch (const std::exception& E) {
        Ctx.Err << "velmorctl: " << E.what() << '\n';
        Code = ExitRefused;
    }
    // A stop signal during a command that does not wait: the command's
    // work is done (or failed); the exit code says the signal came.
    if (Code == ExitOk && Ctx.Signal && Ctx.Signal() != 0)
        Code = ExitSignal + Ctx.Signal();
    return Code;
}

} // namespace VelmorCtl
