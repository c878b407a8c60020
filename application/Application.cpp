#include "application/Application.h"

#include <QApplication>
#include <QCoreApplication>
#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>

#include <memory>
#include <QWidget>

#include "platform/Exception.h"
#include "platform/Guard.h"

namespace Application {

namespace {
QString GTitle;
QString GExeName;
MessageBoxHook GHook;
MessageBoxDetailHook GDetailHook;
MessageBoxDetailSourceHook GDetailSourceHook;

QMessageBox::Icon IconOf(int Flags)
{
    switch (Flags & 0xF0) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

// What the detail area says while the text is on its way, and when the
// text came empty.
const char* const WaitingText = "Reading the reason\u2026";
const char* const NoText = "No reason was given.";

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

    QMessageBox Box(IconOf(Flags), Caption, Text, QMessageBox::Ok, QApplication::activeWindow());
    if (!Detail.isEmpty())
        Box.setDetailedText(Detail);
    Box.exec();
    return IDOK;
}

int MessageBox(const QString& Text, const QString& Caption, int Flags, DetailSource Details)
{
    ModalScope Modal;
    if (GDetailHook)
        GDetailHook(QString());
    if (GDetailSourceHook)
        GDetailSourceHook(Details);
    if (GHook)
        return GHook(Text, Caption, Flags);

    QMessageBox Box(IconOf(Flags), Caption, Text, QMessageBox::Ok, QApplication::activeWindow());
    if (Details) {
        // The box's own details button and area, with the text read only
        // when the button is first pressed.
        Box.setDetailedText(QString::fromUtf8(WaitingText));
        QAbstractButton* Ok = Box.button(QMessageBox::Ok);
        QAbstractButton* Show = nullptr;
        for (QAbstractButton* B : Box.buttons())
            if (B != Ok && Box.buttonRole(B) == QMessageBox::ActionRole)
                Show = B;
        if (Show) {
            QPointer<QMessageBox> Shown(&Box);
            auto Asked = std::make_shared<bool>(false);
            QObject::connect(Show, &QAbstractButton::clicked, &Box, [Shown, Asked, Details] {
                if (*Asked)
                    return;
                *Asked = true;
                Guarded([&] {
                    Details([Shown](const QString& Reason) {
                        // A box closed meanwhile has nobody to show it to.
                        if (Shown)
                            Shown->setDetailedText(Reason.isEmpty() ? QString::fromUtf8(NoText) : Reason);
                    });
                });
            });
        }
    }
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
void SetMessageBoxDetailSourceHook(MessageBoxDetailSourceHook Hook) { GDetailSourceHook = std::move(Hook); }
void SetExeName(const QString& Path) { GExeName = Path; }

} // namespace Application
