// set and apply-settings: drive parameters from the command line or from a
// panel settings file.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <memory>
#include <ostream>

#include "core/DeviceState.h"
#include "core/ParameterWords.h"
#include "device/Commands.h"
#include "linksetting/LinkConfig.h"
#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "settings/PanelSettings.h"
#include "settings/SettingsPath.h"
#include "velmorctl/Internal.h"

namespace VelmorCtl {
namespace Detail {

namespace {

using PanelSettings::DeviceParameters;

// The sends of a parameter set, in the order the panel sends them after a
// connection; each call is printed once it has been accepted.
struct Sender {
    std::ostream& Out;

    void Mode(int32_t Step, int32_t Decay)
    {
        Commands::SetMode(Step, Decay);
        Line(Out, "VLM_SetMode(%d,%d)", Step, Decay);
    }
    void One(void (*Send)(int32_t), const char* Name, int32_t V)
    {
        Send(V);
        Line(Out, "%s(%d)", Name, V);
    }
    void Lim(int32_t Backward, int32_t Forward, int32_t Home)
    {
        Commands::SetLim(Backward, Forward, Home);
        Line(Out, "VLM_SetLim(%d,%d,%d)", Backward, Forward, Home);
    }
};

const std::string Keys[] = {"step", "decay", "iw", "ia", "ih", "vm", "vw", "aw", "limits", "control"};
const char* const SetKeys = "step, decay, iw, ia, ih, vm, vw, aw, limits, control";

// A numeric key's value within the whole numbers of its panel field.
int32_t FieldValue(const std::string& Key, const std::string& Text, PanelSettings::Entry E)
{
    int32_t V = 0;
    if (!ParseWhole(Text, V))
        throw UsageError{Key + ": '" + Text + "' is not a whole number"};
    const PanelSettings::FieldRange R = PanelSettings::RangeOf(E);
    const double Lo = std::ceil(R.Min), Hi = std::floor(R.Max);
    if (V < Lo || V > Hi)
        throw UsageError{Key + "=" + Text + " is outside the panel's range " + std::to_string(static_cast<long>(Lo)) +
                         ".." + std::to_string(static_cast<long>(Hi)) + "; nothing sent"};
    return V;
}

int32_t InputWord(const std::string& Text)
{
    int32_t W = 0;
    if (!ParseWord(Text, W) || W < 0 || W > Core::InputWordBits)
        throw UsageError{"limits: '" + Text +
                         "' is not a limit word 0..7 (1 enabled, 2 normally closed, 4 stop without ramp)"};
    return W;
}

} // namespace

int Set(const std::vector<std::string>& Args, Context& Ctx)
{
    const ParsedArgs P = ParseArgs(Args, {});
    if (P.Positional.empty())
        throw UsageError{"no KEY=VALUE given"};
    std::map<std::string, std::string> Given;
    for (const std::string& A : P.Positional) {
        const size_t Eq = A.find('=');
        if (Eq == std::string::npos)
            throw UsageError{"'" + A + "' is not KEY=VALUE"};
        const std::string Key = A.substr(0, Eq);
        if (std::find(std::begin(Keys), std::end(Keys), Key) == std::end(Keys))
            throw UsageError{"unknown key '" + Key + "' (keys: " + SetKeys + ")"};
        if (!Given.emplace(Key, A.substr(Eq + 1)).second)
            throw UsageError{"key '" + Key + "' given twice"};
    }
    const auto Has = [&](const char* Key) { return Given.count(Key) != 0; };
    if (Has("step") != Has("decay"))
        throw UsageError{"step and decay go together (one VLM_SetMode call): give both"};

    // Every value is checked before anything is sent.
    DeviceParameters D{};
    if (Has("step")) {
        const std::string& S = Given["step"];
        if (S != "full" && S != "half")
            throw UsageError{"step is 'full' or 'half', not '" + S + "'"};
        D.Step = ParameterWords::StepModeValue(S == "full" ? 0 : 1);
        const std::string& F = Given["decay"];
        if (F != "slow" && F != "fast")
            throw UsageError{"decay is 'slow' or 'fast', not '" + F + "'"};
        D.Decay = F == "slow" ? 0 : 1;
    }
    const std::pair<const char*, PanelSettings::Entry> Numbers[] = {
        {"ih", PanelSettings::Ih}, {"ia", PanelSettings::Ia}, {"iw", PanelSettings::Iw},
        {"vm", PanelSettings::Vm}, {"vw", PanelSettings::Vw}, {"aw", PanelSettings::Aw}};
    int32_t Value[6] = {};
    for (int I = 0; I < 6; ++I)
        if (Has(Numbers[I].first))
            Value[I] = FieldValue(Numbers[I].first, Given[Numbers[I].first], Numbers[I].second);
    if (Has("limits")) {
        const std::string& L = Given["limits"];
        const size_t C1 = L.find(','), C2 = C1 == std::string::npos ? C1 : L.find(',', C1 + 1);
        if (C2 == std::string::npos || L.find(',', C2 + 1) != std::string::npos)
            throw UsageError{"limits takes three words: BACKWARD,FORWARD,HOME"};
        D.LimBackward = InputWord(L.substr(0, C1));
        D.LimForward = InputWord(L.substr(C1 + 1, C2 - C1 - 1));
        D.LimHome = InputWord(L.substr(C2 + 1));
    }
    if (Has("control")) {
        const std::string& C = Given["control"];
        if (!ParseWord(C, D.Control) || D.Control < 0 || (D.Control & ~Core::ControlWordBits) != 0 ||
            (D.Control & Core::ControlModeMask) > Core::ControlMaxMode)
            throw UsageError{"control: '" + C +
                             "' is not a control word (mode 0..7, +16 inputs active high, +32 debouncing)"};
    }

    Session Device(Ctx);
    Sender S{Ctx.Out};
    if (Has("step"))
        S.Mode(D.Step, D.Decay);
    void (*const Sends[6])(int32_t) = {Commands::SetIh, Commands::SetIa, Commands::SetIw,
                                       Commands::SetVm, Commands::SetVw, Commands::SetAw};
    const char* const Names[6] = {"VLM_SetIh", "VLM_SetIa", "VLM_SetIw", "VLM_SetVm", "VLM_SetVw", "VLM_SetAw"};
    for (int I = 0; I < 6; ++I)
        if (Has(Numbers[I].first))
            S.One(Sends[I], Names[I], Value[I]);
    if (Has("limits"))
        S.Lim(D.LimBackward, D.LimForward, D.LimHome);
    if (Has("control"))
        S.One(Commands::SetCtrl, "VLM_SetCtrl", D.Control);
    return ExitOk;
}

int ApplySettings(const std::vector<std::string>& Args, Context& Ctx)
{
    const ParsedArgs P = ParseArgs(Args, {{"--strict", false}, {"--verify", false}, {"--diff", false}});
    ExpectPositionals(P, 0, 1);
    if (P.Has("--verify") && P.Has("--diff"))
        throw UsageError{"--verify and --diff go separately: --diff sends nothing"};
    const std::string Path =
        P.Positional.empty() ? PanelSettingsFileBeside(Ctx.ExePath) : P.Positional[0];
    struct stat St {};
    if (::stat(Path.c_str(), &St) != 0)
        throw UsageError{"no settings file at '" + Path + "'"};
    if (!S_ISREG(St.st_mode))
        throw UsageError{"'" + Path + "' is not a settings file"};
    PanelSettings::Values V{};
    try {
        const TIniFile Ini(Path);
        // The panel reads any file, taking defaults for what it lacks; a
        // file with none of its keys is the wrong file, not a bare one, and
        // sending the defaults from it would overwrite the drive's settings.
        const PanelSettings::Values Defaults = PanelSettings::Defaults();
        int Known = 0;
        std::string Malformed;
        for (int E = 0; E < PanelSettings::EntryCount; ++E) {
            const PanelSettings::EntryInfo& I = PanelSettings::Info(static_cast<PanelSettings::Entry>(E));
            if (!Ini.ValueExists(I.Section, I.Key))
                continue;
            ++Known;
            const std::string Text = Ini.ReadString(I.Section, I.Key, "");
            int32_t Value = 0;
            if (!TIniFile::ParseInteger(Text, Value)) {
                Ctx.Err << "velmorctl: " << Path << ": [" << I.Section << "] " << I.Key << "=" << Link::Printable(Text)
                        << " is not a whole number; the panel uses the default " << Defaults[E] << '\n';
                Malformed += Malformed.empty() ? "" : ", ";
                Malformed += std::string("[") + I.Section + "] " + I.Key;
            }
        }
        if (Known == 0)
            throw UsageError{"'" + Path +
                             "' holds none of the panel's settings (no [Section] with one of its keys); "
                             "nothing sent"};
        if (!Malformed.empty() && P.Has("--strict"))
            throw UsageError{"--strict: '" + Path + "' has malformed values (" + Malformed + "); nothing sent"};
        V = PanelSettings::Read(Ini, Defaults);
    } catch (const Exception& E) {
        throw UsageError{"cannot read '" + Path + "': " + E.Message()};
    }
    const DeviceParameters D = PanelSettings::ConnectionParameters(V);

    if (P.Has("--diff")) {
        // What the file would change, read from the controller; nothing is
        // sent.
        const std::vector<Difference> Diff = Differences(ReadHeldParameters(Ctx), D);
        Ctx.Out << "file: " << Path << '\n';
        for (const Difference& X : Diff)
            Line(Ctx.Out, "%s: %d -> %d", X.Name, X.Held, X.Wanted);
        Line(Ctx.Out, "%zu of 12 parameters would change; nothing sent", Diff.size());
        return ExitOk;
    }

    {
        Session Device(Ctx);
        Ctx.Out << "file: " << Path << '\n';
        Sender S{Ctx.Out};
        S.Mode(D.Step, D.Decay);
        S.One(Commands::SetIh, "VLM_SetIh", D.Ih);
        S.One(Commands::SetIa, "VLM_SetIa", D.Ia);
        S.One(Commands::SetIw, "VLM_SetIw", D.Iw);
        S.One(Commands::SetVm, "VLM_SetVm", D.Vm);
        S.One(Commands::SetVw, "VLM_SetVw", D.Vw);
        S.One(Commands::SetAw, "VLM_SetAw", D.Aw);
        S.Lim(D.LimBackward, D.LimForward, D.LimHome);
        S.One(Commands::SetCtrl, "VLM_SetCtrl", D.Control);
    }
    if (P.Has("--verify")) {
        // Read back once the sends are done and the device closed: what
        // the controller holds, not what it was told.
        CheckOutput(Ctx);
        const std::vector<Difference> Diff = Differences(ReadHeldParameters(Ctx), D);
        if (!Diff.empty()) {
            for (const Difference& X : Diff)
                Ctx.Err << "velmorctl: --verify: " << X.Name << " was sent as " << X.Wanted
                        << ", the controller holds " << X.Held << '\n';
            return ExitRefused;
        }
        Ctx.Out << "verified: the controller holds every value sent\n";
    }
    return ExitOk;
}

namespace {

// The file's values from what the controller holds, over Base (the file's
// own values, or the first run's): the maximum speed raised to the working
// speed when it is below it, the holding current on when one is held. Names
// each value the file cannot carry back in Lost.
PanelSettings::Values FromHeld(const DeviceParameters& H, PanelSettings::Values V, std::vector<Difference>& Lost)
{
    using namespace PanelSettings;
    V[Microstep] = H.Step == 1 ? 0 : H.Step == 2 ? 1 : H.Step;
    V[Decay] = H.Decay;
    V[Iw] = H.Iw;
    V[Ia] = H.Ia;
    V[Hold] = H.Ih != 0;
    if (H.Ih != 0)
        V[Ih] = H.Ih;
    V[Vm] = H.Vm;
    V[Vw] = H.Vw;
    if (V[Vmax] < H.Vw)
        V[Vmax] = H.Vw;
    V[Aw] = H.Aw;
    V[LimL] = H.LimBackward;
    V[LimR] = H.LimForward;
    V[LimHome] = H.LimHome;
    V[ControlMode] = H.Control;
    // The file is right when the panel would send exactly what is held.
    Lost = Differences(ConnectionParameters(V), H);
    return V;
}

} // namespace

int GetSettings(const std::vector<std::string>& Args, Context& Ctx)
{
    const ParsedArgs P = ParseArgs(Args, {});
    ExpectPositionals(P, 0, 1);
    const std::string Path = P.Positional.empty() ? "" : P.Positional[0];
    // A file that is there keeps what is not a parameter (the window's
    // place, the target field...); one that is not the panel's is not
    // overwritten.
    std::unique_ptr<TIniFile> Ini;
    PanelSettings::Values Base = PanelSettings::Defaults();
    try {
        // For standard output, a file that cannot exist: an empty start.
        Ini = std::make_unique<TIniFile>(Path.empty() ? "/dev/null/velmor.ini" : Path);
        if (!Path.empty()) {
            struct stat St {};
            if (::stat(Path.c_str(), &St) == 0 && !S_ISREG(St.st_mode))
                throw UsageError{"'" + Path + "' is not a settings file"};
            bool Known = false;
            for (int E = 0; E < PanelSettings::EntryCount; ++E) {
                const PanelSettings::EntryInfo& I = PanelSettings::Info(static_cast<PanelSettings::Entry>(E));
                Known = Known || Ini->ValueExists(I.Section, I.Key);
            }
            if (!Known && !Ini->Text().empty())
                throw UsageError{"'" + Path + "' holds none of the panel's settings; not overwritten"};
            Base = PanelSettings::Read(*Ini, Base);
        }
    } catch (const Exception& E) {
        throw UsageError{"cannot read '" + Path + "': " + E.Message()};
    }

    const DeviceParameters Held = ReadHeldParameters(Ctx);
    std::vector<Difference> Lost;
    const PanelSettings::Values V = FromHeld(Held, Base, Lost);
    // Only the parameters' entries: a fresh file leaves the window's place
    // and the other fields to the panel's own defaults.
    for (const PanelSettings::Entry E :
         {PanelSettings::Microstep, PanelSettings::Decay, PanelSettings::Iw, PanelSettings::Ia, PanelSettings::Ih,
          PanelSettings::Hold, PanelSettings::Vmax, PanelSettings::Vm, PanelSettings::Vw, PanelSettings::Aw,
          PanelSettings::LimR, PanelSettings::LimL, PanelSettings::LimHome, PanelSettings::ControlMode}) {
        const PanelSettings::EntryInfo& I = PanelSettings::Info(E);
        if (I.Type == PanelSettings::EntryType::Boolean)
            Ini->WriteBool(I.Section, I.Key, V[E] != 0);
        else
            Ini->WriteInteger(I.Section, I.Key, V[E]);
    }
    if (Path.empty()) {
        Ctx.Out << Ini->Text();
    } else {
        try {
            Ini->UpdateFile();
        } catch (const Exception& E) {
            throw OutputFailed{"the settings file '" + Path + "' (" + E.Message() + ")", 0};
        }
        Ctx.Out << "file: " << Path << '\n';
    }
    for (const Difference& X : Lost)
        Ctx.Err << "velmorctl: the settings file cannot hold " << X.Name << "=" << X.Wanted << " (apply-settings would send "
                << X.Held << ")\n";
    return Lost.empty() ? ExitOk : ExitRefused;
}

} // namespace Detail
} // namespace VelmorCtl
