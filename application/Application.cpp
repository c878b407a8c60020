#include "application/Application.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QWidget>

#include "platform/Exception.h"
#include "platform/Guard.h"

namespace Application {

namespace {
QString GTitle;
QString GExeName;
MessageBoxHook GHook;
MessageBoxDetailHook GDetailHook;

void Display(std::exception_ptr E) { ShowException(E); }
} // namespace

void Initialize() { SetExceptionDisplay(&Display); }

void SetTitle(const QString& Title)
{
    GTitle = Title;
    QCoreApplication::setApplicationName(Title);
}

QString Title() { return GTitle; }

int MessageBox(const QString& Text, const QString& Caption, int Flags, const QString& Detail)
{
    // A modal loop: handlers and ticks run inside it as outermost calls.
    ModalScope Modal;
    if (GDetailHook)
        GDetailHook(Detail);
    if (GHook)
        return GHook(Text, Caption, Flags);

    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    switch (Flags & 0xF0) {
    case MB_ICONERROR: Icon = QMessageBox::Critical; break;
    case MB_ICONQUESTION: Icon = QMessageBox::Question; break;
    case MB_ICONWARNING: Icon = QMessageBox::Warning; break;
    case MB_ICONINFORMATION: Icon = QMessageBox::Information; break;
    default: break;
    }
    QMessageBox Box(Icon, Caption, Text, QMessageBox::Ok, QApplication::activeWindow());
    if (!Detail.isEmpty())
        Box.setDetailedText(Detail);
    Box.exec();
    return IDOK;
}

void ShowException(std::exception_ptr E)
{
    QString Text;
    try {
        std::rethrow_exception(E);
    } catch (const Exception& Ex) {
        Text = QString::fromStdString(ExceptionDisplayText(Ex.Message()));
    } catch (const std::exception& Ex) {
        Text = QString::fromStdString(ExceptionDisplayText(Ex.what()));
    } catch (...) {
        Text = QStringLiteral("Unknown exception.");
    }
    MessageBox(Text, GTitle, MB_ICONERROR | MB_OK);
}

QString ExeName()
{
    if (!GExeName.isEmpty())
        return GExeName;
    return QCoreApplication::applicationFilePath();
}

void SetMessageBoxHook(MessageBoxHook Hook) { GHook = std::move(Hook); }
void SetMessageBoxDetailHook(MessageBoxDetailHook Hook) { GDetailHook = std::move(Hook); }
void SetExeName(const QString& Path) { GExeName = Path; }

} // namespace Application
