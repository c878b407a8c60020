#include <QApplication>

#include "application/Application.h"
#include "app/CommandLine.h"
#include "app/Signals.h"
#include "platform/Guard.h"
#include "settings/SettingsPath.h"
#include "ui/Vlm_main.h"

int main(int argc, char** argv)
{
    // --help and --version are answered before Qt starts: no display needed.
    if (const int Answered = HandleCommandLine(argc, argv); Answered >= 0)
        return Answered;

    // The panel takes no notice of its command line: Qt sees only the
    // program name, so no option can change what it does.
    int QtArgc = 1;
    char* QtArgv[] = {argc > 0 ? argv[0] : const_cast<char*>("velmor"), nullptr};
    QApplication App(QtArgc, QtArgv);

#ifdef VELMOR_INSTALLED_LAYOUT
    // This build of the panel is the one installed into a system folder,
    // which is not the operator's to write: its settings live in the user's
    // configuration folder. The panel of the build folder keeps them beside
    // itself.
    SetSettingsLocation(TSettingsLocation::UserConfig);
#endif

    Application::Initialize();
    Application::SetTitle(QStringLiteral("Velmor"));

    TMainForm* Window = nullptr;
    Guarded([&] { Window = new TMainForm(); });
    if (Window) {
        EndOfRun::Install(App, [Window] { Window->close(); });
        Window->show();
        App.exec();
        delete Window;
    }
    return 0;
}
