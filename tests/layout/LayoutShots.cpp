// Shows the main window and saves a picture of each page and of both menus:
//   velmor_layout_shots <output folder>
// The settings file goes to a temporary folder, so a run leaves no trace
// beside the program.
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "application/Application.h"
#include "platform/Guard.h"
#include "ui/Vlm_main.h"

namespace {

bool Save(const QPixmap& Picture, const QDir& Out, const QString& Name)
{
    const QString Path = Out.filePath(Name);
    if (!Picture.save(Path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(Path));
        return false;
    }
    std::printf("%s\n", qPrintable(Path));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argc > 0 ? argv[0] : "velmor_layout_shots");
        return 2;
    }
    int QtArgc = 1;
    QApplication App(QtArgc, argv);
    Application::Initialize();
    Application::SetTitle(QStringLiteral("Velmor"));
    QTemporaryDir Settings;
    if (!Settings.isValid())
        return 1;
    Application::SetExeName(Settings.filePath(QStringLiteral("velmor")));

    const QDir Out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(Out.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    TMainForm* Form = nullptr;
    Guarded([&] { Form = new TMainForm(); });
    if (!Form)
        return 1;
    Form->show();
    if (!QTest::qWaitForWindowExposed(Form))
        return 1;
    QTest::qWait(300); // a few poll ticks: the status bar fills in

    bool Ok = true;
    const char* Names[] = {"page1.png", "page2.png", "page3.png"};
    for (int Page = 0; Page < 3; ++Page) {
        Form->PageControl->setCurrentIndex(Page);
        QTest::qWait(250);
        Ok = Save(Form->grab(), Out, QString::fromLatin1(Names[Page])) && Ok;
    }
    Form->PageControl->setCurrentIndex(0);
    for (QMenu* Menu : {Form->mnPort, Form->mnHelp}) {
        Menu->popup(Form->mapToGlobal(QPoint(0, Form->MainMenu1->height())));
        QTest::qWait(150);
        Ok = Save(Menu->grab(), Out, Menu->objectName() + QStringLiteral(".png")) && Ok;
        Menu->hide();
    }
    delete Form;
    return Ok ? 0 : 1;
}
