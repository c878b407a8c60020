// velmorctl's command line: the program's own options, the dispatch to the
// command table, and what each failure prints and exits with.
#include <cstdlib>
#include <cstring>
#include <ostream>

#include "device/Commands.h"
#include "device/DeviceText.h"
#include "device/velmor.h"
#include "linksetting/LinkConfig.h"
#include "linksetting/LinkFormat.h"
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
        Ctx.Err << "Usage: velmorctl " << Detail::OwnOptions(*C) << Detail::UsageLine(*C) << "\n"
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

// The link line of this run with --address and --watchdog set in it: the
// --link given, else the link setting ($VELMOR_LINK, else link.conf).
Core::Result<std::string> ComposeLink(const Detail::CommandLine& L)
{
    std::string Line = L.Link;
    if (!L.HaveLink) {
        const char* Env = std::getenv("VELMOR_LINK");
        if (Env && *Env) {
            Line = Env;
        } else {
            const Link::LinkSetting S = Link::ReadLinkSetting();
            if (!S.Ok)
                return Core::Status::Fail(S.Error);
            const Core::Result<std::string> Written = Link::LinkLineFor(S.Config);
            if (!Written)
                return Core::Status::Fail("the link setting cannot take --address or --watchdog: " +
                                          Written.Error());
            Line = *Written;
        }
    }
    if (const Core::Result<Link::LinkConfig> Config = Link::ParseLinkLine(Line); !Config)
        return Core::Status::Fail((L.HaveLink ? "--link: " : "the link setting: ") + Config.Error() + " (read \"" +
                                  Link::Printable(Line) + "\")");
    else if (Config->Type == Link::LinkConfig::Kind::Virtual && L.HaveAddress)
        return Core::Status::Fail("--address: the in-process virtual controller is no line with addresses "
                                  "(give a line with --link)");
    int32_t Number = 0;
    if (L.HaveAddress) {
        if (!Detail::ParseWhole(L.Address, Number) || Number < 1 || Number > 247)
            return Core::Status::Fail("--address must be a whole number from 1 to 247, not '" + L.Address + "'");
        Line = Detail::WithLinkOption(Line, "address", std::to_string(Number));
    }
    if (L.HaveWatchdog) {
        if (!Detail::ParseWhole(L.Watchdog, Number) || Number < 0 || Number > 65535)
            return Core::Status::Fail("--watchdog must be a whole number of milliseconds from 0 (off) to 65535, "
                                      "not '" + L.Watchdog + "'");
        Line = Detail::WithLinkOption(Line, "watchdog", std::to_string(Number));
    }
    if (const Core::Result<Link::LinkConfig> Config = Link::ParseLinkLine(Line); !Config)
        return Core::Status::Fail(std::string(L.HaveWatchdog ? "--watchdog" : "--address") + ": " + Config.Error() +
                                  " (the link \"" + Link::Printable(Line) + "\")");
    return Line;
}

} // namespace

namespace Detail {

std::string WithLinkOption(const std::string& Line, const std::string& Key, const std::string& Value)
{
    const size_t Q = Line.find('?');
    std::string Result = Line.substr(0, Q);
    std::vector<std::string> Kept;
    if (Q != std::string::npos) {
        const std::string Options = Line.substr(Q + 1);
        size_t From = 0;
        for (;;) {
            const size_t Amp = Options.find('&', From);
            const std::string Pair = Options.substr(From, Amp == std::string::npos ? std::string::npos : Amp - From);
            const std::string Name = Pair.substr(0, Pair.find('='));
            const bool Same = Name == Key || (Key == "address" && Name == "unit");
            if (!Same && !Pair.empty())
                Kept.push_back(Pair);
            if (Amp == std::string::npos)
                break;
            From = Amp + 1;
        }
    }
    Kept.push_back(Key + "=" + Value);
    for (size_t I = 0; I < Kept.size(); ++I)
        Result += (I ? "&" : "?") + Kept[I];
    return Result;
}

Core::Result<CommandLine> ParseCommandLine(const std::vector<std::string>& Args)
{
    CommandLine L;
    bool Ended = false;
    for (size_t I = 0; I < Args.size(); ++I) {
        const std::string& A = Args[I];
        // The program's own options, each taking a value.
        const struct {
            const char* Name;
            bool& Have;
            std::string& Value;
        } Own[] = {{"--link", L.HaveLink, L.Link},
                   {"--lock-wait", L.HaveLockWait, L.LockWait},
                   {"--address", L.HaveAddress, L.Address},
                   {"--watchdog", L.HaveWatchdog, L.Watchdog}};
        bool Taken = false;
        for (const auto& O : Own) {
            const std::string Name = O.Name;
            if (Ended || !(A == Name || A.rfind(Name + "=", 0) == 0))
                continue;
            const bool IsLink = Name == "--link";
            if (O.Have)
                return Core::Status::Fail(Name + " given twice");
            if (A == Name) {
                if (I + 1 == Args.size())
                    return Core::Status::Fail(Name + (IsLink ? " needs a SPEC" : " needs a value"));
                O.Value = Args[++I];
            } else {
                O.Value = A.substr(Name.size() + 1);
            }
            if (IsLink && O.Value.empty())
                return Core::Status::Fail("--link needs a SPEC");
            O.Have = true;
            Taken = true;
            break;
        }
        if (Taken)
            continue;
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
    const Core::Result<Detail::CommandLine> ParsedLine = Detail::ParseCommandLine(Args);
    if (!ParsedLine)
        return UsageFailure(Ctx, nullptr, ParsedLine.Error());
    const Detail::CommandLine* Parsed = &*ParsedLine;
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

    // --address and --watchdog are options of the link: the line in force
    // (--link, else the link setting) with them set becomes this run's
    // --link.
    Detail::CommandLine Line = *Parsed;
    if (C && std::string(C->Name) == "scan" && (Line.HaveAddress || Line.HaveWatchdog))
        return UsageFailure(Ctx, C, "scan probes every address and writes nothing: it takes no --address or --watchdog");
    if (Line.HaveAddress || Line.HaveWatchdog) {
        const Core::Result<std::string> Composed = ComposeLink(Line);
        if (!Composed)
            return UsageFailure(Ctx, C, Composed.Error());
        Line.Link = *Composed;
        Line.HaveLink = true;
    }
    Parsed = &Line;

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
    } catch (const Detail::LinkLostError& E) {
        Ctx.Err << "velmorctl: the link was lost while reading the parameters: " << E.what() << '\n';
        return ExitLinkLost;
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
