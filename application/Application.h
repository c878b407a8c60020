#pragma once

#include <QString>

#include <exception>
#include <functional>

// The application object's services that the windows use: the title, the
// standard exception display, the modal message box and the executable's
// path. The QApplication itself is created by the program entry (or by a
// test's main).
namespace Application {

// Message box flags, with the values of the classic Windows API.
enum : int {
    MB_OK = 0x00,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum : int { IDOK = 1, IDCANCEL = 2 };

// Installs the standard exception display as the guard's display.
void Initialize();

void SetTitle(const QString& Title);
QString Title();

// A modal message box: text, caption, icon and button flags, and a detailed
// text behind the box's "Show Details..." button (none when empty). Returns
// the button pressed (IDOK).
int MessageBox(const QString& Text, const QString& Caption, int Flags, const QString& Detail = QString());

// Hands a box's detailed text over once it is known (on the GUI thread).
using DetailDelivery = std::function<void(const QString& Text)>;
// Finds a box's detailed text on demand: called on the GUI thread, once,
// when the operator first presses "Show Details...", and calls the delivery
// it is given when the text comes (at once or later; never waiting for it).
using DetailSource = std::function<void(DetailDelivery Deliver)>;

// A modal message box as above whose detailed text is read only when the
// operator asks to see it: until the text comes the detail area says so.
int MessageBox(const QString& Text, const QString& Caption, int Flags, DetailSource Details);

// The standard exception display: a modal box captioned with the title,
// showing the message (with "." appended where the rule says), error icon,
// one OK. Exceptions outside the std::exception family show a fixed text.
void ShowException(std::exception_ptr E);

// Full path of the running executable.
QString ExeName();

// Seams for tests: a hook that takes the place of every message box, and an
// executable path of their choosing. An empty hook or path restores the
// real behaviour.
using MessageBoxHook = std::function<int(const QString& Text, const QString& Caption, int Flags)>;
void SetMessageBoxHook(MessageBoxHook Hook);
// Called with each box's detailed text (empty for none) just before the box
// or its hook.
using MessageBoxDetailHook = std::function<void(const QString& Detail)>;
void SetMessageBoxDetailHook(MessageBoxDetailHook Hook);
// Called with each box's detail source (empty for a box without one) just
// before the box or its hook: a test presses "Show Details..." by calling it.
using MessageBoxDetailSourceHook = std::function<void(const DetailSource& Details)>;
void SetMessageBoxDetailSourceHook(MessageBoxDetailSourceHook Hook);
void SetExeName(const QString& Path);

} // namespace Application
