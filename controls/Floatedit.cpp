#include "controls/Floatedit.h"

#include <QKeyEvent>
#include <QLocale>

#include "platform/Guard.h"

// Interim implementation; replaced by the exact one.
TFloatEdit::TFloatEdit(QWidget* Owner) : QLineEdit(Owner) { UpdateText(); }
TFloatEdit::~TFloatEdit() = default;

void TFloatEdit::SetFormat(TFloatFormat F) { FFormat = F; UpdateText(); }
void TFloatEdit::SetDigits(uint8_t D) { FDigits = D; UpdateText(); }
void TFloatEdit::SetPrec(uint8_t P) { FPrecision = P; UpdateText(); }
void TFloatEdit::SetMinValue(double V) { FMinValue = V; CheckValue(); UpdateText(); }
void TFloatEdit::SetMaxValue(double V) { FMaxValue = V; CheckValue(); UpdateText(); }
void TFloatEdit::SetValue(double X) { if (X != FValue) SetValueAnyway(X); }
void TFloatEdit::SetValueVisible(bool V) { FValueVisible = V; UpdateText(); }
void TFloatEdit::SetFormatProp(int F) { SetFormat(static_cast<TFloatFormat>(F)); }
void TFloatEdit::SetDigitsProp(int D) { SetDigits(static_cast<uint8_t>(D)); }
void TFloatEdit::SetPrecisionProp(int P) { SetPrec(static_cast<uint8_t>(P)); }

bool TFloatEdit::IsValidValue(double X) { return !FMinMaxCheck || (FMinValue <= X && X <= FMaxValue); }
void TFloatEdit::CheckValue()
{
    if (IsValidValue(FValue)) return;
    FValue = FValue > FMaxValue ? FMaxValue : FMinValue;
    if (FOnChanged) FOnChanged(this);
}
void TFloatEdit::SetValueAnyway(double X)
{
    FValue = X;
    CheckValue();
    if (FOnChanged) FOnChanged(this);
    UpdateText();
    selectAll();
}
void TFloatEdit::UpdateText()
{
    QLineEdit::setText(FValueVisible ? QString::fromStdString(FloatToText(FValue, FFormat, FPrecision, FDigits, QLocale().decimalPoint().toStdString())) : QString());
}
void TFloatEdit::SetValueStr(const QString& S)
{
    double C = FValue;
    double R;
    if (TextToFloat(S.toStdString(), ".", R)) C = R;
    SetValueAnyway(C);
}
void TFloatEdit::KeyDown(uint16_t& Key, TShiftState Shift)
{
    if (FOnKeyDown) FOnKeyDown(this, Key, Shift);
    if (Key == 13) { SetValueStr(text()); if (FOnEnterPress) FOnEnterPress(this); }
}
void TFloatEdit::MyOnEnter(QObject*) { selectAll(); if (FOnEnter) FOnEnter(this); }
void TFloatEdit::MyOnExit(QObject*) { SetValueStr(text()); UpdateText(); if (FOnExit) FOnExit(this); }
void TFloatEdit::keyPressEvent(QKeyEvent* E)
{
    uint16_t Key = (E->key() == Qt::Key_Return || E->key() == Qt::Key_Enter) ? 13 : 0;
    Guarded([&] { KeyDown(Key, E->modifiers()); });
    QLineEdit::keyPressEvent(E);
}
void TFloatEdit::focusInEvent(QFocusEvent* E) { QLineEdit::focusInEvent(E); Guarded([&] { MyOnEnter(this); }); }
void TFloatEdit::focusOutEvent(QFocusEvent* E) { QLineEdit::focusOutEvent(E); Guarded([&] { MyOnExit(this); }); }
