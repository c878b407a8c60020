// The documents a new user reads, against the README:
// - every link form and option the README's link setting names appears in
//   velmor(1), velmor-sim(1), the user guide, velmor --help, velmorctl --help
//   (its --link part), velmor-sim --help and the Python Controller's
//   docstring, so a new option documented in the README is demanded there too;
// - every example of velmor, velmorctl (and each command's) and velmor-sim
//   --help runs as written in a shell, with recording stand-ins for the
//   programs: the link reaches the program whole (an unquoted '&' cuts it),
//   parses, and velmor-sim's options are its own.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "linesim/Options.h"
#include "linksetting/LinkConfig.h"

namespace fs = std::filesystem;

namespace {

std::string Source(const std::string& Relative) { return std::string(VELMOR_SOURCE_DIR) + "/" + Relative; }

std::string ReadFile(const std::string& Path)
{
    std::ifstream In(Path, std::ios::binary);
    std::ostringstream All;
    All << In.rdbuf();
    return All.str();
}

struct Ran {
    int Code = -1;
    std::string Out;
};

// Runs Argv with Env added to this environment; its standard output, within
// 30 s (then it is killed).
Ran RunProgram(const std::vector<std::string>& Argv, const std::map<std::string, std::string>& Env = {})
{
    Ran R;
    int Pipe[2];
    if (pipe2(Pipe, O_CLOEXEC) != 0)
        return R;
    const pid_t Child = fork();
    if (Child == 0) {
        dup2(Pipe[1], 1);
        const int Null = open("/dev/null", O_RDWR);
        dup2(Null, 0);
        for (const auto& [Name, Value] : Env)
            setenv(Name.c_str(), Value.c_str(), 1);
        std::vector<char*> Args;
        for (const std::string& A : Argv)
            Args.push_back(const_cast<char*>(A.c_str()));
        Args.push_back(nullptr);
        execv(Args[0], Args.data());
        _exit(127);
    }
    close(Pipe[1]);
    const auto End = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        const auto Left =
            std::chrono::duration_cast<std::chrono::milliseconds>(End - std::chrono::steady_clock::now()).count();
        pollfd P{Pipe[0], POLLIN, 0};
        if (Left <= 0 || poll(&P, 1, static_cast<int>(Left)) <= 0) {
            kill(Child, SIGKILL);
            break;
        }
        char B[4096];
        const ssize_t N = read(Pipe[0], B, sizeof B);
        if (N <= 0)
            break;
        R.Out.append(B, static_cast<size_t>(N));
    }
    close(Pipe[0]);
    int Status = 0;
    waitpid(Child, &Status, 0);
    R.Code = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
    return R;
}

std::string Help(const std::vector<std::string>& Argv)
{
    const Ran R = RunProgram(Argv, {{"LC_ALL", "C.UTF-8"}});
    EXPECT_EQ(R.Code, 0) << Argv[0];
    return R.Out;
}

// A manual page as a reader sees its words: the font macros' arguments
// joined as troff joins them, escapes of '-' and fonts taken out.
std::string RoffText(const std::string& Page)
{
    std::istringstream In(Page);
    std::string Line, Text;
    while (std::getline(In, Line)) {
        if (Line.size() > 2 && Line[0] == '.') {
            const std::string Macro = Line.substr(1, Line.find(' ') == std::string::npos ? std::string::npos
                                                                                          : Line.find(' ') - 1);
            const bool Alternating = Macro.size() == 2 && std::string("BIR").find(Macro[0]) != std::string::npos &&
                                     std::string("BIR").find(Macro[1]) != std::string::npos;
            if (Macro == "B" || Macro == "I" || Alternating) {
                // The arguments: words, or "quoted words".
                std::vector<std::string> Args;
                std::string Rest = Line.substr(Macro.size() + 1);
                size_t I = 0;
                while (I < Rest.size()) {
                    while (I < Rest.size() && Rest[I] == ' ')
                        ++I;
                    if (I >= Rest.size())
                        break;
                    std::string Arg;
                    if (Rest[I] == '"') {
                        const size_t Close = Rest.find('"', I + 1);
                        Arg = Rest.substr(I + 1, Close == std::string::npos ? std::string::npos : Close - I - 1);
                        I = Close == std::string::npos ? Rest.size() : Close + 1;
                    } else {
                        const size_t Space = Rest.find(' ', I);
                        Arg = Rest.substr(I, Space == std::string::npos ? std::string::npos : Space - I);
                        I = Space == std::string::npos ? Rest.size() : Space;
                    }
                    Args.push_back(Arg);
                }
                std::string Joined;
                for (size_t A = 0; A < Args.size(); ++A)
                    Joined += (A && !Alternating ? " " : "") + Args[A];
                Line = Joined;
            } else {
                continue; // .TP, .PP, .SH...: no words of the text
            }
        }
        Text += Line + "\n";
    }
    Text = std::regex_replace(Text, std::regex(R"(\\f[BIRP])"), "");
    Text = std::regex_replace(Text, std::regex(R"(\\-)"), "-");
    Text = std::regex_replace(Text, std::regex(R"(\\\(aq)"), "'");
    Text = std::regex_replace(Text, std::regex(R"(\\&)"), "");
    return Text;
}

// What the README's link setting names: its forms ("virtual", "serial:"...),
// its options ("baud", "parity"...) and the programs it sends a reader to.
struct Names {
    std::set<std::string> Forms, Options, Programs;
};

Names ReadmeNames()
{
    const std::string Readme = ReadFile(Source("README.md"));
    const size_t Start = Readme.find("`libvelmor.so` itself reaches a controller");
    EXPECT_NE(Start, std::string::npos) << "the README's paragraph on the link setting moved";
    const size_t End = Readme.find("\n\n", Start);
    const std::string Paragraph = Readme.substr(Start, End - Start);
    Names N;
    const std::regex Span("`([^`]+)`");
    const std::regex Form(R"(^(virtual$|serial:|tcp:|modbus-tcp:))");
    const std::regex Option(R"(^&?([a-z]+)=)");
    for (std::sregex_iterator I(Paragraph.begin(), Paragraph.end(), Span), E; I != E; ++I) {
        const std::string S = (*I)[1];
        std::smatch M;
        if (std::regex_search(S, M, Form)) {
            N.Forms.insert(M[1]);
            const size_t Q = S.find('?');
            if (Q == std::string::npos)
                continue;
            std::istringstream Opts(S.substr(Q + 1));
            for (std::string O; std::getline(Opts, O, '&');)
                if (O.find('=') != std::string::npos)
                    N.Options.insert(O.substr(0, O.find('=')));
        } else if (std::regex_search(S, M, Option)) {
            N.Options.insert(M[1]);
        } else if (S.rfind("velmor-", 0) == 0 && S.find(' ') == std::string::npos) {
            N.Programs.insert(S);
        }
    }
    return N;
}

// Where in Text the names of the README are missing.
std::vector<std::string> Missing(const std::string& Text, const Names& N)
{
    std::vector<std::string> Gone;
    auto Named = [&Text](const std::string& Pattern) { return std::regex_search(Text, std::regex(Pattern)); };
    for (const std::string& F : N.Forms)
        // "tcp:" on its own, not inside "modbus-tcp:"
        if (!Named("(^|[^a-z-])" + F + (F == "virtual" ? "\\b" : "")))
            Gone.push_back(F);
    for (const std::string& O : N.Options)
        if (!Named("(^|[^a-z])" + O + "="))
            Gone.push_back(O + "=");
    for (const std::string& P : N.Programs)
        if (!Named(P))
            Gone.push_back(P);
    return Gone;
}

std::string Join(const std::vector<std::string>& V)
{
    std::string S;
    for (const std::string& X : V)
        S += (S.empty() ? "" : ", ") + X;
    return S;
}

TEST(Docs, TheReadmesLinkSettingIsReadWhole)
{
    const Names N = ReadmeNames();
    // The reading of the README itself: what it names today is found.
    for (const char* F : {"virtual", "serial:", "tcp:", "modbus-tcp:"})
        EXPECT_TRUE(N.Forms.count(F)) << F;
    for (const char* O : {"baud", "parity", "stopbits", "address", "timeout", "trace", "unit", "watchdog"})
        EXPECT_TRUE(N.Options.count(O)) << O;
    EXPECT_TRUE(N.Programs.count("velmor-gateway"));
    // And a page that lacks one is caught.
    EXPECT_EQ(Join(Missing("virtual serial: modbus-tcp: baud= parity= stopbits= address= timeout= trace= unit= watchdog= "
                           "velmor-gateway",
                           N)),
              "tcp:");
}

TEST(Docs, EveryShippedTextNamesEveryLinkFormAndOption)
{
    const Names N = ReadmeNames();
    std::map<std::string, std::string> Texts;
    Texts["velmor(1)"] = RoffText(ReadFile(Source("packaging/velmor.1")));
    Texts["velmor-sim(1)"] = RoffText(ReadFile(Source("packaging/velmor-sim.1")));
    Texts["velmorctl(1)"] = RoffText(ReadFile(Source("packaging/velmorctl.1")));
    Texts["the user guide"] = ReadFile(Source("packaging/user-guide.md"));
    Texts["velmor --help"] = Help({VELMOR_PANEL_PROGRAM, "--help"});
    Texts["velmor-sim --help"] = Help({VELMOR_SIM_PROGRAM, "--help"});
    // velmorctl --help: its option --link, up to the next option.
    const std::string Ctl = Help({VELMOR_CTL_PROGRAM, "--help"});
    const size_t Link = Ctl.find("\n  --link SPEC");
    ASSERT_NE(Link, std::string::npos) << Ctl;
    Texts["velmorctl --help (--link)"] = Ctl.substr(Link, Ctl.find("\n  --", Link + 3) - Link);
    // The Python Controller's docstring.
    const std::string Py = ReadFile(Source("python/velmor/controller.py"));
    const size_t Class = Py.find("\nclass Controller");
    ASSERT_NE(Class, std::string::npos);
    const size_t Open = Py.find("\"\"\"", Class);
    const size_t Close = Py.find("\"\"\"", Open + 3);
    ASSERT_NE(Close, std::string::npos);
    Texts["the Python Controller's docstring"] = Py.substr(Open, Close - Open);

    for (const auto& [Where, Text] : Texts) {
        EXPECT_GT(Text.size(), 200u) << Where;
        EXPECT_EQ(Join(Missing(Text, N)), "") << Where << " does not name these, which the README does";
    }
}

// One command line of an example, as a program got it.
struct Call {
    std::string Program;
    std::vector<std::string> Args;
    bool LinkSet = false;
    std::string Link; // $VELMOR_LINK
};

// A folder with stand-ins for our programs that record their arguments and
// $VELMOR_LINK, and a home with the virtual controller's folder.
class Examples : public ::testing::Test {
protected:
    void SetUp() override
    {
        char Template[] = "/tmp/velmor-docs-XXXXXX";
        ASSERT_NE(mkdtemp(Template), nullptr);
        Dir = Template;
        fs::create_directories(Dir + "/bin");
        fs::create_directories(Dir + "/home/.local/state/velmor");
        for (const char* P : {"velmor", "velmorctl", "velmor-sim", "velmor-gateway"}) {
            const std::string Path = Dir + "/bin/" + P;
            std::ofstream(Path) << "#!/bin/sh\n"
                                   "{ printf '%s' \"${0##*/}\"\n"
                                   "  for a in \"$@\"; do printf '\\037%s' \"$a\"; done\n"
                                   "  printf '\\036%s%s\\n' \"${VELMOR_LINK+set:}\" \"${VELMOR_LINK-}\"\n"
                                   "} >> \"$VELMOR_DOCS_RECORD\"\n";
            chmod(Path.c_str(), 0755);
        }
    }
    void TearDown() override { fs::remove_all(Dir); }

    // Runs Line in bash as a user would type it (waiting for what it puts
    // in the background); the calls of our programs it made.
    std::vector<Call> Calls(const std::string& Line, int& Code)
    {
        const std::string Record = Dir + "/record";
        fs::remove(Record);
        const Ran R = RunProgram({"/bin/bash", "-c", "cd \"$HOME\" && " + Line + "\nwait"},
                          {{"PATH", Dir + "/bin:/usr/bin:/bin"},
                           {"HOME", Dir + "/home"},
                           {"XDG_STATE_HOME", ""},
                           {"XDG_CONFIG_HOME", ""},
                           {"VELMOR_DOCS_RECORD", Record}});
        Code = R.Code;
        std::vector<Call> Got;
        std::istringstream In(ReadFile(Record));
        for (std::string L; std::getline(In, L);) {
            Call C;
            const size_t Env = L.find('\036');
            std::string Env1 = Env == std::string::npos ? "" : L.substr(Env + 1);
            C.LinkSet = Env1.rfind("set:", 0) == 0;
            C.Link = C.LinkSet ? Env1.substr(4) : "";
            std::istringstream Parts(L.substr(0, Env));
            std::getline(Parts, C.Program, '\037');
            for (std::string A; std::getline(Parts, A, '\037');)
                C.Args.push_back(A);
            Got.push_back(C);
        }
        return Got;
    }

    // Every check on one example line of Where.
    void Check(const std::string& Where, const std::string& Line)
    {
        SCOPED_TRACE(Where + ": " + Line);
        int Code = -1;
        const std::vector<Call> Got = Calls(Line, Code);
        EXPECT_EQ(Code, 0);
        const bool Ours = std::regex_search(Line, std::regex(R"(^(VELMOR_LINK=\S+ )?velmor(ctl|-sim|-gateway)?\b)"));
        if (Ours) {
            EXPECT_FALSE(Got.empty()) << "none of our programs ran";
        }
        // The links the programs got, whole and well formed.
        std::vector<std::string> Links;
        for (const Call& C : Got) {
            if (C.LinkSet)
                Links.push_back(C.Link);
            for (size_t I = 0; I + 1 < C.Args.size(); ++I)
                if (C.Args[I] == "--link")
                    Links.push_back(C.Args[I + 1]);
            if (C.Program == "velmor-sim") {
                std::vector<char*> Argv{const_cast<char*>("velmor-sim")};
                for (const std::string& A : C.Args)
                    Argv.push_back(const_cast<char*>(A.c_str()));
                const Core::Result<LineSim::Options> O =
                    LineSim::ParseOptions(static_cast<int>(Argv.size()), Argv.data());
                EXPECT_TRUE(O.Ok()) << O.Why().Text();
            }
        }
        if (Line.find("VELMOR_LINK=") != std::string::npos) {
            bool Set = false;
            for (const Call& C : Got)
                Set = Set || C.LinkSet;
            EXPECT_TRUE(Set) << "the program started without $VELMOR_LINK";
        }
        for (const std::string& L : Links) {
            const Core::Result<Link::LinkConfig> Parsed = Link::ParseLinkLine(L);
            EXPECT_TRUE(Parsed.Ok()) << L << ": " << Parsed.Why().Text();
        }
        // Each option written after an '&' reached a link.
        const std::regex After(R"(&([a-z]+)=)");
        for (std::sregex_iterator I(Line.begin(), Line.end(), After), E; I != E; ++I) {
            bool Reached = false;
            for (const std::string& L : Links)
                Reached = Reached || L.find("&" + (*I)[1].str() + "=") != std::string::npos;
            EXPECT_TRUE(Reached) << (*I)[1] << "= never reached a program";
        }
        ++Checked;
    }

    // The example lines of a --help text: the indented lines under a line
    // starting "Example" and ending in ':'; and its link lines (an indented
    // line that is one link setting alone) go to LinkLines.
    static std::vector<std::string> ExampleLines(const std::string& Text, std::vector<std::string>* LinkLines = nullptr)
    {
        std::vector<std::string> Lines;
        std::istringstream In(Text);
        bool In_ = false;
        for (std::string L; std::getline(In, L);) {
            const std::string T = L.substr(std::min(L.find_first_not_of(' '), L.size()));
            if (LinkLines && L.rfind("  ", 0) == 0 && T.find(' ') == std::string::npos &&
                std::regex_search(T, std::regex(R"(^(virtual$|serial:|tcp:|modbus-tcp:))")))
                LinkLines->push_back(T);
            if (T.rfind("Example", 0) == 0 && !T.empty() && T.back() == ':') {
                In_ = true;
                continue;
            }
            if (In_ && L.rfind("  ", 0) == 0 && !T.empty())
                Lines.push_back(T);
            else
                In_ = false;
        }
        return Lines;
    }

    std::string Dir;
    int Checked = 0;
};

TEST_F(Examples, TheHelpExamplesRunAsWritten)
{
    std::vector<std::string> LinkLines;
    const std::vector<std::string> Panel = ExampleLines(Help({VELMOR_PANEL_PROGRAM, "--help"}), &LinkLines);
    EXPECT_GE(Panel.size(), 2u);
    for (const std::string& L : Panel)
        Check("velmor --help", L);
    const std::vector<std::string> Sim = ExampleLines(Help({VELMOR_SIM_PROGRAM, "--help"}));
    EXPECT_GE(Sim.size(), 5u);
    for (const std::string& L : Sim)
        Check("velmor-sim --help", L);
    const std::string Ctl = Help({VELMOR_CTL_PROGRAM, "--help"});
    for (const std::string& L : ExampleLines(Ctl))
        Check("velmorctl --help", L);
    // Each command's own help: the commands are the two-space lines under
    // "Commands:".
    std::istringstream In(Ctl.substr(Ctl.find("Commands:\n") + 10));
    int Commands = 0;
    for (std::string L; std::getline(In, L) && (L.rfind("  ", 0) == 0);) {
        if (L.rfind("    ", 0) == 0)
            continue;
        const std::string Name = L.substr(2, L.find(' ', 2) - 2);
        ++Commands;
        for (const std::string& E : ExampleLines(Help({VELMOR_CTL_PROGRAM, Name, "--help"})))
            Check("velmorctl " + Name + " --help", E);
    }
    EXPECT_GE(Commands, 10);
    EXPECT_GE(Checked, 20) << "the examples were not found";

    // The link lines velmor --help shows are settings that parse.
    EXPECT_GE(LinkLines.size(), 4u);
    for (const std::string& L : LinkLines) {
        const Core::Result<Link::LinkConfig> Parsed = Link::ParseLinkLine(L);
        EXPECT_TRUE(Parsed.Ok()) << L << ": " << Parsed.Why().Text();
    }
}

TEST_F(Examples, AnUnquotedAmpersandIsCaught)
{
    // The check itself: the line the shell cuts at '&' fails it, the quoted
    // one passes.
    ::testing::TestPartResultArray Failures;
    {
        ::testing::ScopedFakeTestPartResultReporter Catch(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &Failures);
        Check("cut", "VELMOR_LINK=modbus-tcp:127.0.0.1:5020?unit=1&baud=115200 velmor");
    }
    EXPECT_GT(Failures.size(), 0);
    Check("quoted", "VELMOR_LINK='modbus-tcp:127.0.0.1:5020?unit=1&baud=115200' velmor");
    Check("option", "velmorctl --link 'serial:/dev/ttyUSB0?baud=9600&parity=none' status");
    ::testing::TestPartResultArray Bad;
    {
        ::testing::ScopedFakeTestPartResultReporter Catch(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &Bad);
        Check("bad option", "velmor-sim --pty /tmp/x --baud fast");
    }
    EXPECT_GT(Bad.size(), 0);
}

} // namespace
