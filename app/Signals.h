#pragma once

#include <functional>

class QApplication;

// The end of the run from outside the window: SIGTERM, SIGHUP and SIGINT (a
// logout, a shutdown, `systemctl --user stop`, Ctrl-C in a terminal) and the
// end of the desktop session close the window as its close box does, so its
// closing runs; after a signal the program then ends with status 0. A second
// signal while the first one's closing runs ends the program at once, with
// that signal's default action.
namespace EndOfRun {

// Close closes the main window (and so runs its closing); it is called on
// the GUI thread, from the event loop, at most once per cause. Call once,
// after the main window exists.
void Install(QApplication& App, std::function<void()> Close);

} // namespace EndOfRun
