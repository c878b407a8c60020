#include "controls/Floatedit.h"

#include <QApplication>
#include <QPalette>

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLocale>

#include "platform/Guard.h"

namespace {

constexpr uint16_t VK_RETURN = 13;

// The regional decimal separator, as UTF-8.
std::string DecimalSeparator() { return QLocale().decimalPoint().toStdString(); }

uint8_t ClampToByte(int V) { return static_cast<uint8_t>(V < 0 ? 0 : (V > 255 ? 255 : V)); }

// Focus moves that are not moves between the window's controls: the window
// being activated or deactivated (a message box, another program) and a
// popup menu opening.
bool IsControlFocusChange(const QFocusEvent* E)
{
    return E->reason() != Qt::ActiveWindowFocusReason && E->reason() != Qt::PopupFocusReason;
}

template <class E, class... Args>
void Raise(const E& Event, Args&&... A)
{
    // A copy, so that a handler may reassign the event while it runs.
    if (Event) {
        E Copy = Event;
        Copy(std::forward<Args>(A)...);
    }
}

} // namespace

TFloatEdit::TFloatEdit(QWidget* Owner) : QLineEdit(Owner)
{
    // The fields start as declared: ffFixed, Precision 5, Digits 5, range
    // check on, [0, 10], Value 0, visible. A line edit keeps the height its
    // window gives it, and the focus steps are the overridden focus events.
    UpdateText();
    ShowSelection(false);
}

void TFloatEdit::ShowSelection(bool Show)
{
    // Like a classic edit control, the field keeps its selection while it
    // has no focus but does not draw it: only the focused field highlights.
    QPalette P = QApplication::palette(this);
    if (!Show) {
        for (auto Group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            P.setColor(Group, QPalette::Highlight, P.color(Group, QPalette::Base));
            P.setColor(Group, QPalette::HighlightedText, P.color(Group, QPalette::Text));
        }
    }
    setPalette(P);
}

TFloatEdit::~TFloatEdit() = default;

void TFloatEdit::SetFormat(TFloatFormat F)
{
    FFormat = F;
    UpdateText();
}

void TFloatEdit::SetDigits(uint8_t D)
{
    FDigits = D;
    UpdateText();
}

void TFloatEdit::SetPrec(uint8_t P)
{
    FPrecision = P;
    UpdateText();
}

void TFloatEdit::SetMinValue(double V)
{
    FMinValue = V;
    CheckValue();
    UpdateText();
}

void TFloatEdit::SetMaxValue(double V)
{
    FMaxValue = V;
    CheckValue();
    UpdateText();
}

void TFloatEdit::SetValue(double X)
{
    if (X == FValue)
        return;
    SetValueAnyway(X);
}

void TFloatEdit::SetValueVisible(bool V)
{
    FValueVisible = V;
    UpdateText();
}

// A format number outside the enumeration is ignored.
void TFloatEdit::SetFormatProp(int F)
{
    if (F >= ffGeneral && F <= ffCurrency)
        SetFormat(static_cast<TFloatFormat>(F));
}

// Values outside 0..255 are taken as the nearest end of that range.
void TFloatEdit::SetDigitsProp(int D) { SetDigits(ClampToByte(D)); }
void TFloatEdit::SetPrecisionProp(int P) { SetPrec(ClampToByte(P)); }

bool TFloatEdit::IsValidValue(double X)
{
    if (FMinMaxCheck)
        return FMinValue <= X && X <= FMaxValue;
    bool Valid = true;
    Raise(FOnValidateValue, this, X, Valid);
    return Valid;
}

void TFloatEdit::CheckValue()
{
    if (IsValidValue(FValue))
        return;
    if (FOnOutOfBounds) {
        Raise(FOnOutOfBounds, this);
        return;
    }
    if (FMinMaxCheck) {
        FValue = FValue > FMaxValue ? FMaxValue : FMinValue;
        Raise(FOnChanged, this);
    }
}

void TFloatEdit::SetValueAnyway(double X)
{
    FValue = X;
    CheckValue();
    Raise(FOnChanged, this);
    UpdateText();
    repaint();
    selectAll();
    if (!hasFocus())
        HideTextCursor();
}

// A line edit whose selection changes shows its text cursor when the style
// draws it over a selection, also without the focus; the field shows none
// unless it has the focus. The line edit's own focus-out step hides it (with
// the window's reason, so the selection stays).
void TFloatEdit::HideTextCursor()
{
    QFocusEvent Out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QLineEdit::focusOutEvent(&Out);
}

QString TFloatEdit::FormattedValue() const
{
    return QString::fromStdString(FloatToText(FValue, FFormat, FPrecision, FDigits, DecimalSeparator()));
}

void TFloatEdit::UpdateText()
{
    QLineEdit::setText(FValueVisible ? FormattedValue() : QString());
    update();
}

void TFloatEdit::SetValueStr(const QString& S)
{
    const QString Shown = FormattedValue();
    double Candidate = FValue;
    if (S != Shown) {
        const std::string Text = S.toStdString();
        double Converted = 0;
        // The overflow error of a number beyond the range of a double passes
        // to the caller from here, before anything has changed.
        if (TextToFloat(Text, DecimalSeparator(), Converted)) {
            Candidate = Converted;
        } else {
            bool Handled = false;
            Raise(FOnError, this, "'" + Text + "' is not a valid floating point value", Handled);
            // Unhandled: take Value afresh, as the handler may have set it.
            if (!Handled)
                Candidate = FValue;
        }
    }
    SetValueAnyway(Candidate);
}

void TFloatEdit::KeyDown(uint16_t& Key, TShiftState Shift)
{
    Raise(FOnKeyDown, this, Key, Shift);
    if (Key == VK_RETURN) {
        SetValueStr(text());
        Raise(FOnEnterPress, this);
    }
}

void TFloatEdit::MyOnEnter(QObject*)
{
    selectAll();
    Raise(FOnEnter, this);
}

void TFloatEdit::MyOnExit(QObject*)
{
    SetValueStr(text());
    UpdateText();
    Raise(FOnExit, this);
}

uint16_t TFloatEdit::VirtualKeyOf(int QtKey, Qt::KeyboardModifiers Modifiers)
{
    if (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9)
        return static_cast<uint16_t>((Modifiers & Qt::KeypadModifier ? 0x60 : 0x30) + (QtKey - Qt::Key_0));
    if (QtKey >= Qt::Key_F1 && QtKey <= Qt::Key_F24)
        return static_cast<uint16_t>(0x70 + (QtKey - Qt::Key_F1));
    switch (QtKey) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09; // Shift+Tab is the Tab key
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    default: return 0;
    }
}

void TFloatEdit::keyPressEvent(QKeyEvent* Event)
{
    const uint16_t Original = VirtualKeyOf(Event->key(), Event->modifiers());
    uint16_t Key = Original;
    Guarded([&] { KeyDown(Key, Event->modifiers()); });
    if (Original != 0 && Key == 0)
        return;
    QLineEdit::keyPressEvent(Event);
}

void TFloatEdit::focusInEvent(QFocusEvent* Event)
{
    QLineEdit::focusInEvent(Event);
    ShowSelection(true);
    const bool Returning = FFocusKept && !IsControlFocusChange(Event);
    FFocusKept = false;
    if (!Returning)
        Guarded([&] { MyOnEnter(this); });
}

void TFloatEdit::focusOutEvent(QFocusEvent* Event)
{
    QLineEdit::focusOutEvent(Event);
    ShowSelection(false);
    if (!IsControlFocusChange(Event)) {
        FFocusKept = true;
        return;
    }
    FFocusKept = false;
    Guarded([&] { MyOnExit(this); });
}
