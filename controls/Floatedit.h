#pragma once

#include <QLineEdit>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "controls/FloatFormat.h"

class QObject;

// Event types of the numeric field. Each is a bound method: an object and
// one of its member functions (or a callable bound to one). An empty event
// is unassigned and is not raised. Every event passes the control itself as
// the sender.
using TNotifyEvent = std::function<void(QObject* Sender)>;
using TValidateValueEvent = std::function<void(QObject* Sender, double Value, bool& Valid)>;
using TErrorEvent = std::function<void(QObject* Sender, const std::string& Msg, bool& Handled)>;
using TShiftState = Qt::KeyboardModifiers;
using TKeyEvent = std::function<void(QObject* Sender, uint16_t& Key, TShiftState Shift)>;

// Binds a member function of an object as an event handler.
template <class T, class... Args>
std::function<void(QObject*, Args...)> BindEvent(T* Object, void (T::*Method)(QObject*, Args...))
{
    return [Object, Method](QObject* Sender, Args... A) { (Object->*Method)(Sender, std::forward<Args>(A)...); };
}

// The single-line numeric field of the panel. It holds a double Value, shows
// it formatted as its text, keeps it within [MinValue, MaxValue], takes typed
// text only when the operator presses Enter or leaves the field, and reports
// every committed or programmatic change through OnChanged. The text belongs
// to the control: it always derives from Value.
class TFloatEdit : public QLineEdit {
    Q_OBJECT
    // Design-time properties, in the order a window description applies them.
    Q_PROPERTY(int Format READ FormatProp WRITE SetFormatProp)
    Q_PROPERTY(int Digits READ DigitsProp WRITE SetDigitsProp)
    Q_PROPERTY(int Precision READ PrecisionProp WRITE SetPrecisionProp)
    Q_PROPERTY(bool MinMaxCheck READ MinMaxCheck WRITE SetMinMaxCheck)
    Q_PROPERTY(double MinValue READ MinValue WRITE SetMinValue)
    Q_PROPERTY(double MaxValue READ MaxValue WRITE SetMaxValue)
    Q_PROPERTY(double Value READ Value WRITE SetValue)
    Q_PROPERTY(bool ValueVisible READ ValueVisible WRITE SetValueVisible)
    // The text is read-only through the meta-object too: setProperty("text")
    // fails and leaves the text alone.
    Q_PROPERTY(QString text READ text)

public:
    explicit TFloatEdit(QWidget* Owner = nullptr);
    ~TFloatEdit() override;

    TFloatFormat Format() const { return FFormat; }
    void SetFormat(TFloatFormat F);
    uint8_t Digits() const { return FDigits; }
    void SetDigits(uint8_t D);
    uint8_t Precision() const { return FPrecision; }
    void SetPrec(uint8_t P);
    bool MinMaxCheck() const { return FMinMaxCheck; }
    void SetMinMaxCheck(bool C) { FMinMaxCheck = C; }
    double MinValue() const { return FMinValue; }
    void SetMinValue(double V);
    double MaxValue() const { return FMaxValue; }
    void SetMaxValue(double V);
    double Value() const { return FValue; }
    void SetValue(double X);
    bool ValueVisible() const { return FValueVisible; }
    void SetValueVisible(bool V);

    // Events (plain stores).
    const TNotifyEvent& OnChanged() const { return FOnChanged; }
    void SetOnChanged(TNotifyEvent E) { FOnChanged = std::move(E); }
    const TErrorEvent& OnError() const { return FOnError; }
    void SetOnError(TErrorEvent E) { FOnError = std::move(E); }
    const TValidateValueEvent& OnValidateValue() const { return FOnValidateValue; }
    void SetOnValidateValue(TValidateValueEvent E) { FOnValidateValue = std::move(E); }
    const TNotifyEvent& OnOutOfBounds() const { return FOnOutOfBounds; }
    void SetOnOutOfBounds(TNotifyEvent E) { FOnOutOfBounds = std::move(E); }
    const TNotifyEvent& OnExit() const { return FOnExit; }
    void SetOnExit(TNotifyEvent E) { FOnExit = std::move(E); }
    const TNotifyEvent& OnEnter() const { return FOnEnter; }
    void SetOnEnter(TNotifyEvent E) { FOnEnter = std::move(E); }
    const TNotifyEvent& OnEnterPress() const { return FOnEnterPress; }
    void SetOnEnterPress(TNotifyEvent E) { FOnEnterPress = std::move(E); }
    // The base control's key-down event, raised before the field's own key step.
    const TKeyEvent& OnKeyDown() const { return FOnKeyDown; }
    void SetOnKeyDown(TKeyEvent E) { FOnKeyDown = std::move(E); }

    // With the range check on: MinValue <= X <= MaxValue (a NaN fails);
    // with it off: what OnValidateValue leaves in Valid (true without it).
    bool IsValidValue(double X);
    // An invalid Value raises OnOutOfBounds if assigned; otherwise, with the
    // range check on, it is clamped (to MaxValue when above it, else to
    // MinValue) and OnChanged is raised. The text is not refreshed here.
    void CheckValue();
    // Value := X, CheckValue, OnChanged, refresh and repaint, select all.
    void SetValueAnyway(double X);
    // Hides the text cursor of a field that does not have the focus.
    void HideTextCursor();
    // The text becomes the formatted Value, or empty while ValueVisible is false.
    void UpdateText();
    // Commits a text as the operator's entry. A text that does not convert
    // goes to OnError; a number beyond the range of a double throws
    // Exception("Floating point overflow") and leaves Value and the text.
    void SetValueStr(const QString& S);
    // The key-down step: Key is a virtual-key code (13 is Enter).
    virtual void KeyDown(uint16_t& Key, TShiftState Shift);
    void MyOnEnter(QObject* Sender);
    void MyOnExit(QObject* Sender);

    // The virtual-key code OnKeyDown gets for a Qt key event. Only keys
    // whose code does not depend on the keyboard layout have one: Enter 13,
    // Escape 27, Tab 9, Backspace 8, Space 32, PageUp, PageDown, End, Home
    // and the arrows 33 to 40, Insert 45, Delete 46, the top row's digits
    // '0' to '9' (unshifted), the keypad's digits 96 to 105, F1 to F24 112
    // to 135. Every other key (letters, punctuation, the keypad's operators,
    // modifiers) gives 0 on every layout; it still types, and a handler
    // cannot swallow it.
    static uint16_t VirtualKeyOf(int QtKey, Qt::KeyboardModifiers Modifiers);

protected:
    // Each runs the field's own step behind Guarded(): an exception goes to
    // the standard exception display, never into Qt. A key whose code the
    // OnKeyDown handler sets to 0 is swallowed; any other goes on to the
    // line edit, so typing works. Focus moves caused by the window's
    // (de)activation or by a popup menu are not moves between controls:
    // losing the focus that way does not commit, and getting it back that
    // way does not enter the field again.
    void keyPressEvent(QKeyEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;

private:
    // The text is the control's own; it is written only from Value. Whatever
    // would write it, cut it short or mask it is closed to callers.
    using QLineEdit::setText;
    using QLineEdit::clear;
    using QLineEdit::insert;
    using QLineEdit::setMaxLength;
    using QLineEdit::setInputMask;
    using QLineEdit::setValidator;
    using QLineEdit::setEchoMode;

    // Set while the field lost the focus only because its window did (or a
    // popup opened): getting it back that way is not entering the field.
    bool FFocusKept = false;

    // Value formatted with Format, Precision and Digits and the regional
    // decimal separator.
    QString FormattedValue() const;

    void ShowSelection(bool Show);

    int FormatProp() const { return static_cast<int>(FFormat); }
    void SetFormatProp(int F);
    int DigitsProp() const { return FDigits; }
    void SetDigitsProp(int D);
    int PrecisionProp() const { return FPrecision; }
    void SetPrecisionProp(int P);

    bool FMinMaxCheck = true;
    uint8_t FPrecision = 5;
    uint8_t FDigits = 5;
    TNotifyEvent FOnChanged;
    TErrorEvent FOnError;
    double FMinValue = 0;
    double FValue = 0;
    double FMaxValue = 10;
    TFloatFormat FFormat = ffFixed;
    bool FValueVisible = true;
    TValidateValueEvent FOnValidateValue;
    TNotifyEvent FOnOutOfBounds;
    TNotifyEvent FOnExit;
    TNotifyEvent FOnEnter;
    TNotifyEvent FOnEnterPress;
    TKeyEvent FOnKeyDown;
};
