#pragma once

#include <QDialog>

class QEvent;
class QShowEvent;
class QFrame;
class QLabel;
class QPushButton;

// The About window: names the program and the controller, shows a picture
// and the program's file version, read from the executable's version block
// each time a window is created. Shown modally by the main window's About
// command; it destroys itself when it closes and clears AboutForm.
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* Owner = nullptr);
    ~TAboutForm() override;

    // What closing does with the window.
    enum TCloseAction { caNone, caHide, caFree, caMinimize };

    // Components, in declaration order.
    QFrame* Panel1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Button1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;

    // Handlers.
    void FormCreate(QObject* Sender);
    void FormKeyPress(QObject* Sender, char& Key);
    void FormClose(QObject* Sender, TCloseAction& Action);

    // Every way of ending the window comes here: OK (1), Escape (1), the
    // close box and the system menu (2, through reject()).
    void done(int Result) override;
    void reject() override;

protected:
    // Key preview: the window sees key presses before the focused control.
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    // Centred over the owner window, window frames included.
    void showEvent(QShowEvent* Event) override;

private:
    // The key press last looked at and the control it goes on to if its
    // receiver leaves it (compared, never followed).
    const QEvent* FPreviewed = nullptr;
    const QObject* FPreviewedParent = nullptr;
};

extern TAboutForm* AboutForm;
