#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <cmath>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "controls/Floatedit.h"
#include "platform/Exception.h"
#include "tests/support/TestSupport.h"

namespace {

// Nothing outside the control can write its text.
template <class T, class = void>
struct CanSetText : std::false_type {};
template <class T>
struct CanSetText<T, std::void_t<decltype(std::declval<T&>().setText(QString()))>> : std::true_type {};
template <class T, class = void>
struct CanClear : std::false_type {};
template <class T>
struct CanClear<T, std::void_t<decltype(std::declval<T&>().clear())>> : std::true_type {};
template <class T, class = void>
struct CanInsert : std::false_type {};
template <class T>
struct CanInsert<T, std::void_t<decltype(std::declval<T&>().insert(QString()))>> : std::true_type {};
static_assert(CanSetText<QLineEdit>::value, "the detector works");
static_assert(!CanSetText<TFloatEdit>::value, "setText is closed");
static_assert(!CanClear<TFloatEdit>::value, "clear is closed");
static_assert(!CanInsert<TFloatEdit>::value, "insert is closed");

// Records what the events of one field report.
struct Recorder {
    TFloatEdit* Field = nullptr;
    std::vector<double> Changed;
    std::vector<std::string> Errors;
    int EnterPress = 0;
    int Enter = 0;
    int Exit = 0;
    std::vector<uint16_t> Keys;
    QObject* LastSender = nullptr;

    void Attach(TFloatEdit& F)
    {
        Field = &F;
        F.SetOnChanged(BindEvent(this, &Recorder::OnChanged));
        F.SetOnEnterPress(BindEvent(this, &Recorder::OnEnterPress));
        F.SetOnEnter(BindEvent(this, &Recorder::OnEnter));
        F.SetOnExit(BindEvent(this, &Recorder::OnExit));
        F.SetOnKeyDown(BindEvent(this, &Recorder::OnKeyDown));
    }
    void OnChanged(QObject* S) { LastSender = S; Changed.push_back(Field->Value()); }
    void OnEnterPress(QObject*) { ++EnterPress; }
    void OnEnter(QObject*) { ++Enter; }
    void OnExit(QObject*) { ++Exit; }
    void OnKeyDown(QObject*, uint16_t& Key, TShiftState) { Keys.push_back(Key); }
};

// Restores the default locale when the test ends.
struct LocaleScope {
    QLocale Saved;
    explicit LocaleScope(const QLocale& L) { QLocale::setDefault(L); }
    ~LocaleScope() { QLocale::setDefault(Saved); }
};

void PressEnter(TFloatEdit& F) { QTest::keyClick(&F, Qt::Key_Return); }

// Types into the field as the operator would, replacing its text.
void Type(TFloatEdit& F, const QString& Text)
{
    QTest::keyClick(&F, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&F, Qt::Key_Delete);
    QTest::keyClicks(&F, Text);
}

// Two fields, A above B, in a window of their own.
struct TwoFields {
    QWidget Window;
    TFloatEdit* A = new TFloatEdit(&Window);
    TFloatEdit* B = new TFloatEdit(&Window);
    TwoFields()
    {
        auto* Layout = new QVBoxLayout(&Window);
        Layout->addWidget(A);
        Layout->addWidget(B);
    }
    // Shows the window; true once it is active.
    bool Show()
    {
        Window.show();
        Window.activateWindow();
        return QTest::qWaitForWindowActive(&Window);
    }
};

} // namespace

TEST(FloatEdit, StartsAtZeroInZeroToTen)
{
    TFloatEdit F;
    EXPECT_EQ(F.text(), "0.00000");
    EXPECT_EQ(F.Value(), 0);
    EXPECT_EQ(F.MinValue(), 0);
    EXPECT_EQ(F.MaxValue(), 10);
    EXPECT_EQ(F.Format(), ffFixed);
    EXPECT_EQ(F.Digits(), 5);
    EXPECT_EQ(F.Precision(), 5);
    EXPECT_TRUE(F.MinMaxCheck());
    EXPECT_TRUE(F.ValueVisible());
}

TEST(FloatEdit, DescriptionOrderConfiguresSilently)
{
    // The window description applies these before any handler is attached.
    TFloatEdit G;
    ASSERT_TRUE(G.setProperty("geometry", QRect(10, 10, 60, 21)));
    ASSERT_TRUE(G.setProperty("Format", int(ffFixed)));
    ASSERT_TRUE(G.setProperty("Digits", 0));
    ASSERT_TRUE(G.setProperty("Precision", 5));
    ASSERT_TRUE(G.setProperty("MinMaxCheck", true));
    ASSERT_TRUE(G.setProperty("MinValue", -0.01));
    ASSERT_TRUE(G.setProperty("MaxValue", 2000.0));
    ASSERT_TRUE(G.setProperty("Value", 2000.0));
    ASSERT_TRUE(G.setProperty("ValueVisible", true));
    EXPECT_EQ(G.Value(), 2000);
    EXPECT_EQ(G.text(), "2000");
    EXPECT_EQ(G.property("Digits").toInt(), 0);
    EXPECT_EQ(G.property("MinValue").toDouble(), -0.01);

    // A MinValue of 1 on a fresh control clamps 0 to 1 with no handler there.
    TFloatEdit H;
    H.setProperty("MinValue", 1.0);
    EXPECT_EQ(H.Value(), 1);
    EXPECT_EQ(H.text(), "1.00000");

    // Out-of-range property values: a byte at most, a known format only.
    H.setProperty("Digits", 300);
    EXPECT_EQ(H.Digits(), 255);
    H.setProperty("Precision", -4);
    EXPECT_EQ(H.Precision(), 0);
    H.setProperty("Format", 9);
    EXPECT_EQ(H.Format(), ffFixed);

    // The text is not writable through the meta-object either.
    EXPECT_FALSE(G.setProperty("text", QStringLiteral("5")));
    EXPECT_EQ(G.text(), "2000");
}

TEST(FloatEdit, ClampRaisesOnChangedTwiceWithClampedValue)
{
    TFloatEdit F;
    Recorder R;
    R.Attach(F);
    F.SetValue(15);
    EXPECT_EQ(R.Changed, (std::vector<double>{10, 10}));
    EXPECT_EQ(R.LastSender, &F);
    EXPECT_EQ(F.text(), "10.00000");
    F.SetValue(-3);
    EXPECT_EQ(R.Changed, (std::vector<double>{10, 10, 0, 0}));

    R.Changed.clear();
    Type(F, "11");
    EXPECT_TRUE(R.Changed.empty()) << "typing alone changes nothing";
    PressEnter(F);
    EXPECT_EQ(R.Changed, (std::vector<double>{10, 10}));
    EXPECT_EQ(F.text(), "10.00000");
    EXPECT_EQ(R.EnterPress, 1);

    R.Changed.clear();
    Type(F, "0");
    PressEnter(F);
    EXPECT_EQ(R.Changed, (std::vector<double>{0})) << "a bound itself is in range";
    EXPECT_EQ(F.selectedText(), F.text()) << "a commit selects the whole text";
}

TEST(FloatEdit, MinimumBelowZeroIsShownByDigits)
{
    TFloatEdit F;
    F.SetDigits(0);
    F.SetMinValue(-0.01);
    F.SetMaxValue(2000);
    F.SetValueStr("-5");
    EXPECT_EQ(F.Value(), -0.01);
    EXPECT_EQ(F.text(), "0");
    F.SetDigits(1);
    F.SetMinValue(-0.1);
    F.SetValueStr("-5");
    EXPECT_EQ(F.Value(), -0.1);
    EXPECT_EQ(F.text(), "-0.1");
}

TEST(FloatEdit, UnchangedTextCommitsAgainAndKeepsFullPrecision)
{
    TFloatEdit F;
    F.SetDigits(2);
    F.SetValue(1.234567);
    Recorder R;
    R.Attach(F);
    ASSERT_EQ(F.text(), "1.23");
    PressEnter(F);
    EXPECT_EQ(R.Changed, (std::vector<double>{1.234567}));
    EXPECT_EQ(F.Value(), 1.234567);
    EXPECT_EQ(R.EnterPress, 1);
    Type(F, "1.23");  // the same text retyped is still the shown value
    PressEnter(F);
    EXPECT_EQ(F.Value(), 1.234567);
    Type(F, "1.230");
    PressEnter(F);
    EXPECT_EQ(F.Value(), 1.23);
    EXPECT_EQ(R.Changed.size(), 3u);
}

TEST(FloatEdit, WritingTheSameValueDoesNothing)
{
    TFloatEdit F;
    F.SetValue(3);
    Recorder R;
    R.Attach(F);
    Type(F, "7");
    F.SetValue(3);
    EXPECT_TRUE(R.Changed.empty());
    EXPECT_EQ(F.text(), "7") << "the typed text stays";
    EXPECT_FALSE(F.hasSelectedText());
    // A real change replaces the typed text.
    F.SetValue(4);
    EXPECT_EQ(F.text(), "4.00000");
    EXPECT_EQ(R.Changed, (std::vector<double>{4}));
}

TEST(FloatEdit, BoundsCheckTheValue)
{
    TFloatEdit F;
    F.SetValue(5);
    Recorder R;
    R.Attach(F);
    F.SetMaxValue(4);
    EXPECT_EQ(R.Changed, (std::vector<double>{4})) << "a moving bound clamps once";
    EXPECT_EQ(F.text(), "4.00000");
    F.SetMinMaxCheck(false);
    F.SetMaxValue(2);
    EXPECT_EQ(F.Value(), 4) << "no check while the range check is off";
    F.SetMinMaxCheck(true);
    EXPECT_EQ(F.Value(), 4) << "turning it on does not check";
    EXPECT_EQ(R.Changed.size(), 1u);
}

TEST(FloatEdit, MinimumAboveMaximumAcceptsNothing)
{
    TFloatEdit F;
    F.SetMaxValue(3);
    Recorder R;
    R.Attach(F);
    F.SetMinValue(5);
    EXPECT_EQ(F.Value(), 5);
    EXPECT_EQ(R.Changed, (std::vector<double>{5}));
    F.SetValue(4);
    EXPECT_EQ(F.Value(), 3);
    F.SetValue(1);
    EXPECT_EQ(F.Value(), 5);
    EXPECT_FALSE(F.IsValidValue(3));
    EXPECT_FALSE(F.IsValidValue(5));
}

TEST(FloatEdit, NaNNeverPassesTheRangeCheck)
{
    TFloatEdit F;
    F.SetValue(5);
    EXPECT_FALSE(F.IsValidValue(std::nan("")));
    F.SetValue(std::nan(""));
    EXPECT_EQ(F.Value(), 0) << "clamped to MinValue";
    F.SetMinMaxCheck(false);
    F.SetValue(std::nan(""));
    EXPECT_TRUE(std::isnan(F.Value()));
    EXPECT_EQ(F.text(), "NAN");
}

TEST(FloatEdit, HooksReplaceTheRangeCheck)
{
    TFloatEdit F;
    Recorder R;
    R.Attach(F);
    int OutOfBounds = 0;
    F.SetOnOutOfBounds([&](QObject*) { ++OutOfBounds; });
    F.SetValue(20);
    EXPECT_EQ(F.Value(), 20) << "OnOutOfBounds takes the place of clamping";
    EXPECT_EQ(OutOfBounds, 1);
    EXPECT_EQ(R.Changed, (std::vector<double>{20}));

    F.SetMinMaxCheck(false);
    F.SetOnOutOfBounds(nullptr);
    std::vector<double> Asked;
    F.SetOnValidateValue([&](QObject*, double V, bool& Valid) { Asked.push_back(V); Valid = V < 100; });
    EXPECT_TRUE(F.IsValidValue(50));
    EXPECT_FALSE(F.IsValidValue(150));
    F.SetValue(150);
    EXPECT_EQ(F.Value(), 150) << "without the range check an invalid value stays";
    EXPECT_EQ(Asked.back(), 150);

    F.SetMinMaxCheck(true);
    Asked.clear();
    F.SetValue(5);
    EXPECT_TRUE(Asked.empty()) << "OnValidateValue is not asked while the range check is on";
}

TEST(FloatEdit, HiddenValueKeepsAnEmptyText)
{
    TFloatEdit F;
    F.SetValue(2);
    Recorder R;
    R.Attach(F);
    F.SetValueVisible(false);
    EXPECT_EQ(F.text(), "");
    PressEnter(F);
    EXPECT_EQ(F.Value(), 2);
    EXPECT_EQ(F.text(), "");
    EXPECT_EQ(R.Changed, (std::vector<double>{2}));
    F.SetValue(3);
    EXPECT_EQ(F.text(), "");
    F.SetValueVisible(true);
    EXPECT_EQ(F.text(), "3.00000");
}

TEST(FloatEdit, TextThatDoesNotConvertGoesToOnError)
{
    TFloatEdit F;
    F.SetValue(2);
    Recorder R;
    R.Attach(F);

    // Without OnError the previous value is shown again.
    Type(F, "abc");
    PressEnter(F);
    EXPECT_EQ(F.Value(), 2);
    EXPECT_EQ(F.text(), "2.00000");

    // Handled left false: the value the handler set is taken.
    std::vector<std::string> Messages;
    F.SetOnError([&](QObject*, const std::string& Msg, bool&) {
        Messages.push_back(Msg);
        F.SetValue(7);
    });
    F.SetValueStr("1..5");
    EXPECT_EQ(Messages, (std::vector<std::string>{"'1..5' is not a valid floating point value"}));
    EXPECT_EQ(F.Value(), 7);

    // Handled set true: the value from before the handler is committed.
    F.SetOnError([&](QObject*, const std::string&, bool& Handled) {
        F.SetValue(9);
        Handled = true;
    });
    F.SetValueStr("");
    EXPECT_EQ(F.Value(), 7);
    EXPECT_EQ(F.text(), "7.00000");
}

TEST(FloatEdit, ReadsTheRegionalSeparator)
{
    LocaleScope German(QLocale(QLocale::German, QLocale::Germany));
    TFloatEdit F;
    F.SetValue(1.5);
    EXPECT_EQ(F.text(), "1,50000");
    Type(F, "2.5");
    PressEnter(F);
    EXPECT_EQ(F.Value(), 1.5);
    EXPECT_EQ(F.text(), "1,50000");
    Type(F, "2,5");
    PressEnter(F);
    EXPECT_EQ(F.Value(), 2.5);
    EXPECT_EQ(F.text(), "2,50000");
}

TEST(FloatEdit, OverflowEndsTheCommitAndKeepsTheTypedText)
{
    TFloatEdit F;
    F.SetMaxValue(1e300);
    F.SetValue(2);
    Recorder R;
    R.Attach(F);
    try {
        F.SetValueStr("1e400");
        ADD_FAILURE() << "no overflow error";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Floating point overflow");
    }
    EXPECT_EQ(F.Value(), 2);
    EXPECT_TRUE(R.Changed.empty());

    // From the keyboard the error reaches the standard exception display.
    TestSupport::Boxes().clear();
    Type(F, "-1e400");
    PressEnter(F);
    ASSERT_EQ(TestSupport::Boxes().size(), 1u);
    EXPECT_EQ(TestSupport::Boxes()[0].Text, "Floating point overflow.");
    EXPECT_EQ(F.Value(), 2);
    EXPECT_EQ(F.text(), "-1e400");
    EXPECT_EQ(R.EnterPress, 0);
    EXPECT_TRUE(R.Changed.empty());

    // Beyond the extended range it is a plain conversion error.
    std::vector<std::string> Messages;
    F.SetOnError([&](QObject*, const std::string& Msg, bool&) { Messages.push_back(Msg); });
    Type(F, "1e5000");
    PressEnter(F);
    EXPECT_EQ(Messages.size(), 1u);
    EXPECT_EQ(F.Value(), 2);
    EXPECT_EQ(F.text(), "2.00000");
    EXPECT_EQ(TestSupport::Boxes().size(), 1u);
}

TEST(FloatEdit, ErrorInOnChangedStopsTheRefresh)
{
    TFloatEdit F;
    F.SetOnChanged([](QObject*) { throw Exception("handler failed"); });
    EXPECT_THROW(F.SetValue(4), Exception);
    EXPECT_EQ(F.Value(), 4);
    EXPECT_EQ(F.text(), "0.00000") << "the refresh after OnChanged was skipped";

    TestSupport::Boxes().clear();
    Type(F, "6");
    PressEnter(F);
    EXPECT_EQ(F.Value(), 6);
    ASSERT_EQ(TestSupport::Boxes().size(), 1u);
    EXPECT_EQ(TestSupport::Boxes()[0].Text, "handler failed.");
}

TEST(FloatEdit, LayoutIndependentKeysReachKeyDownAsVirtualKeyCodes)
{
    TFloatEdit F;
    Recorder R;
    R.Attach(F);
    QTest::keyClick(&F, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(&F, Qt::Key_Escape);
    QTest::keyClick(&F, Qt::Key_5);
    QTest::keyClick(&F, Qt::Key_5, Qt::KeypadModifier);
    QTest::keyClick(&F, Qt::Key_Left);
    QTest::keyClick(&F, Qt::Key_Delete);
    QTest::keyClick(&F, Qt::Key_F5);
    // Letters and punctuation give 0, on a Latin layout as on the Russian
    // one (Qt names a Cyrillic key by its upper-case letter), and still type.
    QTest::keyClick(&F, Qt::Key_A);
    QTest::keyClick(&F, Qt::Key_Period);
    QKeyEvent Ef(QEvent::KeyPress, 0x0424, Qt::NoModifier, QStringLiteral("ф"));
    QApplication::sendEvent(&F, &Ef);
    EXPECT_EQ(R.Keys, (std::vector<uint16_t>{13, 27, '5', 0x65, 37, 46, 0x74, 0, 0, 0}));
    EXPECT_EQ(R.EnterPress, 1);
    EXPECT_EQ(F.text(), QStringLiteral("5a.ф"));
}

TEST(FloatEdit, KeyDownHandlerCanSuppressAKey)
{
    TFloatEdit F;
    Recorder R;
    R.Attach(F);
    F.SetOnKeyDown([](QObject*, uint16_t& Key, TShiftState) {
        if (Key == 13 || Key == '7')
            Key = 0;
    });
    Type(F, "5");
    PressEnter(F);
    EXPECT_TRUE(R.Changed.empty());
    EXPECT_EQ(R.EnterPress, 0);
    EXPECT_EQ(F.Value(), 0);
    QTest::keyClick(&F, Qt::Key_7);
    EXPECT_EQ(F.text(), "5") << "the swallowed key typed nothing";
    QTest::keyClick(&F, Qt::Key_8);
    EXPECT_EQ(F.text(), "58");
    // Turning another key into Enter commits.
    F.SetOnKeyDown([](QObject*, uint16_t& Key, TShiftState) {
        if (Key == 0x71) // F2
            Key = 13;
    });
    Type(F, "8");
    QTest::keyClick(&F, Qt::Key_F2);
    EXPECT_EQ(F.Value(), 8);
    EXPECT_EQ(R.EnterPress, 1);
}

TEST(FloatEdit, FocusSelectsAndLeavingCommits)
{
    TwoFields Pair;
    TFloatEdit *A = Pair.A, *B = Pair.B;
    Recorder R;
    R.Attach(*A);
    ASSERT_TRUE(Pair.Show());

    // The first focus of a shown window counts as entering the field.
    A->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(A->hasFocus());
    EXPECT_EQ(R.Enter, 1);
    EXPECT_EQ(A->selectedText(), "0.00000");

    QTest::keyClicks(A, "3");  // replaces the selection
    EXPECT_EQ(A->text(), "3");
    EXPECT_TRUE(R.Changed.empty());
    B->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(A->Value(), 3);
    EXPECT_EQ(R.Changed, (std::vector<double>{3}));
    EXPECT_EQ(R.Exit, 1);
    EXPECT_EQ(A->text(), "3.00000");

    // Leaving again with the text unchanged commits again.
    A->setFocus(Qt::TabFocusReason);
    B->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(R.Changed, (std::vector<double>{3, 3}));
    EXPECT_EQ(R.Exit, 2);

    // The window losing activation is no move between controls.
    A->setFocus(Qt::TabFocusReason);
    Type(*A, "4");
    const int Entered = R.Enter;
    QFocusEvent Out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(A, &Out);
    EXPECT_EQ(A->Value(), 3);
    EXPECT_EQ(A->text(), "4");
    EXPECT_EQ(R.Exit, 2);
    QFocusEvent In(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(A, &In);
    EXPECT_EQ(R.Enter, Entered) << "coming back to the window does not enter the field again";
    EXPECT_EQ(A->text(), "4");
}

TEST(FloatEdit, OnlyTheFocusedFieldDrawsItsSelection)
{
    TwoFields Pair;
    TFloatEdit *A = Pair.A, *B = Pair.B;
    ASSERT_TRUE(Pair.Show());
    auto Hidden = [](TFloatEdit* F) {
        return F->palette().color(QPalette::Active, QPalette::Highlight) ==
               F->palette().color(QPalette::Active, QPalette::Base);
    };
    A->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(Hidden(A));
    EXPECT_TRUE(Hidden(B));
    B->setFocus(Qt::TabFocusReason);
    // A value written from the program selects the whole text of A, which
    // keeps that selection without showing it.
    A->SetValue(7);
    EXPECT_TRUE(A->hasSelectedText());
    EXPECT_TRUE(Hidden(A));
    EXPECT_FALSE(Hidden(B));
}

TEST(FloatEdit, FocusOutErrorGoesToTheDisplay)
{
    TwoFields Pair;
    TFloatEdit *A = Pair.A, *B = Pair.B;
    A->SetMaxValue(1e308);
    ASSERT_TRUE(Pair.Show());
    A->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(A->hasFocus());
    Type(*A, "5e308");
    TestSupport::Boxes().clear();
    int Exits = 0;
    A->SetOnExit([&](QObject*) { ++Exits; });
    B->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(TestSupport::Boxes().size(), 1u);
    EXPECT_EQ(TestSupport::Boxes()[0].Text, "Floating point overflow.");
    EXPECT_EQ(A->Value(), 0);
    EXPECT_EQ(A->text(), "5e308");
    EXPECT_EQ(Exits, 0) << "the error ended the exit step";
    EXPECT_TRUE(B->hasFocus());
}
