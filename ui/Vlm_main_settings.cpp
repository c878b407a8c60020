// The settings file: each entry of the table (settings/PanelSettings) loaded
// into its control at start and saved from it at close.
#include "ui/Vlm_main.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

#include <cstdio>
#include <exception>
#include <optional>

#include "application/Application.h"
#include "core/ParameterWords.h"
#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "settings/PanelSettings.h"
#include "settings/SettingsPath.h"
#include "ui/MainFormControls.h"
#include "ui/WindowPlacement.h"

using ParameterWords::Trunc;
namespace PS = PanelSettings;

namespace {

std::string SettingsFileName()
{
    return SettingsFilePath(QFile::encodeName(Application::ExeName()).toStdString());
}

void ShowSettingsError(const Exception& E)
{
    Application::MessageBox(QString::fromStdString(E.Message()), QStringLiteral("Error"),
                            Application::MB_ICONERROR | Application::MB_OK);
}

} // namespace

// Where each entry's value goes when loaded and comes from when saved, in
// table order.
const TMainForm::TEntryBinding* TMainForm::EntryBindings()
{
    static const TEntryBinding Bindings[PS::EntryCount] = {
        /* Left */ {[](TMainForm& F, int32_t V) { F.move(V, F.y()); },
                    [](const TMainForm& F) { return F.NormalPosition().x(); }},
        /* Top */ {[](TMainForm& F, int32_t V) { F.move(F.x(), V); },
                   [](const TMainForm& F) { return F.NormalPosition().y(); }},
        /* Microstep */ {[](TMainForm& F, int32_t V) { F.cbSM->setCurrentIndex(V); },
                         [](const TMainForm& F) { return F.cbSM->currentIndex(); }},
        /* Decay */ {[](TMainForm& F, int32_t V) { F.cbFM->setCurrentIndex(V); },
                     [](const TMainForm& F) { return F.cbFM->currentIndex(); }},
        /* Iw */ {[](TMainForm& F, int32_t V) { F.feCw->SetValue(V); },
                  [](const TMainForm& F) { return Trunc(F.feCw->Value()); }},
        /* Ia */ {[](TMainForm& F, int32_t V) { F.feCa->SetValue(V); },
                  [](const TMainForm& F) { return Trunc(F.feCa->Value()); }},
        /* Ih */ {[](TMainForm& F, int32_t V) { F.feCh->SetValue(V); },
                  [](const TMainForm& F) { return Trunc(F.feCh->Value()); }},
        /* Hold */ {[](TMainForm& F, int32_t V) { SetChecked(F.cbHold, V != 0); },
                    [](const TMainForm& F) { return int32_t(F.cbHold->isChecked()); }},
        /* Nr */ {[](TMainForm& F, int32_t V) { F.feNr->SetValue(V); },
                  [](const TMainForm& F) { return Trunc(F.feNr->Value()); }},
        /* Relative */ {[](TMainForm& F, int32_t V) { SetChecked(F.cbRelN, V != 0); },
                        [](const TMainForm& F) { return int32_t(F.cbRelN->isChecked()); }},
        /* Vmax */ {[](TMainForm& F, int32_t V) { F.feVmax->SetValue(V); F.ApplyMaxSpeed(); },
                    [](const TMainForm& F) { return Trunc(F.feVmax->Value()); }},
        /* Vm */ {[](TMainForm& F, int32_t V) { F.feVm->SetValue(V); },
                  [](const TMainForm& F) { return Trunc(F.feVm->Value()); }},
        /* Vw */ {[](TMainForm& F, int32_t V) { F.feVw->SetValue(V); },
                  [](const TMainForm& F) { return Trunc(F.feVw->Value()); }},
        /* Aw */ {[](TMainForm& F, int32_t V) { F.feAw->SetValue(V); },
                  [](const TMainForm& F) { return Trunc(F.feAw->Value()); }},
        /* AdcShow */ {[](TMainForm& F, int32_t V) { SetChecked(F.cbAdc, V != 0); },
                       [](const TMainForm& F) { return int32_t(F.cbAdc->isChecked()); }},
        /* LimR */ {[](TMainForm& F, int32_t V) { F.FLimR = V; },
                    [](const TMainForm& F) { return F.FLimR; }},
        /* LimL */ {[](TMainForm& F, int32_t V) { F.FLimL = V; },
                    [](const TMainForm& F) { return F.FLimL; }},
        /* LimHome */ {[](TMainForm& F, int32_t V) { F.FHome = V; },
                       [](const TMainForm& F) { return F.FHome; }},
        /* HomeDir */ {[](TMainForm& F, int32_t V) { SetChecked(F.cbHomeDir, V != 0); },
                       [](const TMainForm& F) { return int32_t(F.cbHomeDir->isChecked()); }},
        /* ControlMode */ {[](TMainForm& F, int32_t V) { F.FCntrl = V; },
                           [](const TMainForm& F) { return F.FCntrl; }},
    };
    return Bindings;
}

void TMainForm::LoadSettings()
{
    PS::Values Defaults = PS::Defaults();
    Defaults[PS::Left] = x();
    Defaults[PS::Top] = y();
    PS::Values Values = Defaults;
    // A file that cannot be read must not leave the panel dead: say so and go
    // on with the defaults. The file stays as it is.
    try {
        Values = PS::Read(TIniFile(SettingsFileName()), Defaults);
    } catch (const EFileTooLarge& E) {
        ShowSettingsError(E);
    } catch (const Exception&) {
        Application::ShowException(std::current_exception());
    }
    for (int E = 0; E < PS::EntryCount; ++E)
        EntryBindings()[E].Load(*this, Values[E]);
    // A stored position that hides the title bar on every screen is brought
    // back onto the nearest screen.
    QVector<QRect> Screens;
    for (const QScreen* S : QGuiApplication::screens())
        Screens.append(S->geometry());
    const int TitleHeight = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    move(ReachablePosition(pos(), size() + QSize(0, TitleHeight), TitleHeight, Screens));
    // The stored position is the normal one, also if the window is first
    // shown minimised.
    FNormalPos = pos();
}

void TMainForm::SaveSettings()
{
    const std::string FileName = SettingsFileName();
    std::string MovedAside;
    try {
        PS::Values Values{};
        for (int E = 0; E < PS::EntryCount; ++E)
            Values[E] = EntryBindings()[E].Save(*this);
        std::optional<TIniFile> Ini;
        try {
            Ini.emplace(FileName);
        } catch (const EFileTooLarge& E) {
            // Too large to be a settings file: it is kept aside, and this
            // run's settings are saved in its place.
            const std::string Backup = FileName + ".bak";
            if (std::rename(FileName.c_str(), Backup.c_str()) != 0)
                throw;
            MovedAside = E.Message() + ". It was moved to " + Backup + " and this run's settings were saved";
            Ini.emplace(FileName);
        }
        PS::Write(*Ini, Values);
        Ini->UpdateFile();
    } catch (const Exception& E) {
        // The settings of this run are lost, the stored ones are not.
        ShowSettingsError(E);
        return;
    }
    if (!MovedAside.empty())
        ShowSettingsError(Exception(MovedAside));
}
