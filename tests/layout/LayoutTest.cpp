// The main window as the operator meets it: every control under its name
// and kind, the design values the behaviour builds on, the fixed frame, the
// keyboard (tab order and menu shortcuts), the controls that only display,
// and captions that fit their controls without overlapping.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "application/Application.h"
#include "controls/FloatFormat.h"
#include "controls/Floatedit.h"
#include "tests/support/VelmorDouble.h"
#include "ui/Vlm_main.h"

// Readable failure messages.
inline void PrintTo(const QString& S, std::ostream* Os) { *Os << '"' << S.toStdString() << '"'; }
inline void PrintTo(const QStringList& L, std::ostream* Os) { *Os << '{' << L.join(QStringLiteral(", ")).toStdString() << '}'; }

namespace {

class LayoutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        VelmorDouble::Reset();
        Application::SetExeName(Dir.filePath(QStringLiteral("velmor")));
        Form = std::make_unique<TMainForm>();
    }
    void TearDown() override
    {
        Form.reset();
        Application::SetExeName(QString());
    }

    // Shows the window and makes it the active one, as shortcuts and focus
    // need.
    void ShowActive()
    {
        // Under X without a window manager nobody hands out the focus:
        // making it the application's active window is what widgets,
        // focus and shortcuts go by.
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
        QApplication::setActiveWindow(Form.get());
        ASSERT_TRUE(QTest::qWaitFor([&] { return Form->isActiveWindow(); }));
    }

    QTemporaryDir Dir;
    std::unique_ptr<TMainForm> Form;
};

// The window description alone, without the program's start-up: the state
// the designer left, before the settings file and the device change it.
struct DesignWindow {
    DesignWindow() { Ui.setupUi(&Window); }
    QMainWindow Window;
    Ui::TMainForm Ui;
};

QString NameOfFocus()
{
    QWidget* W = QApplication::focusWidget();
    if (!W)
        return QStringLiteral("<none>");
    // The notebook takes the focus through its tab bar.
    if (qobject_cast<QTabBar*>(W) && W->parentWidget())
        return W->parentWidget()->objectName();
    return W->objectName();
}

} // namespace

TEST_F(LayoutTest, EveryNamedObjectExistsWithItsKind)
{
    struct Entry {
        const char* Name;
        const char* Kind;
    };
    const std::vector<Entry> Table = {
        {"PageControl", "QTabWidget"}, {"TabSheet1", "QWidget"}, {"TabSheet2", "QWidget"}, {"TabSheet3", "QWidget"},
        {"StatusBar", "QStatusBar"}, {"MainMenu1", "QMenuBar"}, {"Timer", "QTimer"},
        {"GroupBox5", "QGroupBox"}, {"GroupBox6", "QGroupBox"}, {"GroupBox11", "QGroupBox"},
        {"GroupBox7", "QGroupBox"}, {"GroupBox1", "QGroupBox"}, {"GroupBox12", "QGroupBox"},
        {"GroupBox2", "QGroupBox"}, {"GroupBox3", "QGroupBox"}, {"GroupBox8", "QGroupBox"},
        {"cbSM", "QComboBox"}, {"cbFM", "QComboBox"}, {"cbCntrl", "QComboBox"},
        {"feCw", "TFloatEdit"}, {"feCa", "TFloatEdit"}, {"feCh", "TFloatEdit"}, {"feNc", "TFloatEdit"},
        {"feNr", "TFloatEdit"}, {"feVw", "TFloatEdit"}, {"feAw", "TFloatEdit"}, {"feVm", "TFloatEdit"},
        {"feVmax", "TFloatEdit"}, {"feAdc", "TFloatEdit"}, {"feHome", "TFloatEdit"}, {"feVc", "TFloatEdit"},
        {"cbHold", "QCheckBox"}, {"cbRelN", "QCheckBox"}, {"cbLimL", "QCheckBox"}, {"cbHome", "QCheckBox"},
        {"cbLimR", "QCheckBox"}, {"cbHi", "QCheckBox"}, {"cbDbnc", "QCheckBox"}, {"cbAdc", "QCheckBox"},
        {"cbLimEnR", "QCheckBox"}, {"cbLimNoR", "QCheckBox"}, {"cbLimStR", "QCheckBox"},
        {"cbLimEnL", "QCheckBox"}, {"cbLimNoL", "QCheckBox"}, {"cbLimStL", "QCheckBox"},
        {"cbHomeEn", "QCheckBox"}, {"cbHomeNo", "QCheckBox"}, {"cbHomeSt", "QCheckBox"}, {"cbHomeDir", "QCheckBox"},
        {"btClrNc", "QPushButton"}, {"btStartN", "QPushButton"}, {"btStart0", "QPushButton"},
        {"btHome", "QPushButton"}, {"btStartL", "QPushButton"}, {"btStop", "QPushButton"},
        {"btStartR", "QPushButton"}, {"btEEPROM", "QPushButton"},
        {"sbVw", "QScrollBar"}, {"pbVc", "QProgressBar"}, {"Label14", "QLabel"},
        {"mnPort", "QMenu"}, {"mnHelp", "QMenu"}, {"mnConnect", "QAction"}, {"mnDisconnect", "QAction"},
        {"N2", "QAction"}, {"mnExit", "QAction"}, {"mnAbout", "QAction"}, {"mnPlot", "QAction"},
    };
    for (const Entry& E : Table) {
        const QList<QObject*> Found = Form->findChildren<QObject*>(QString::fromLatin1(E.Name));
        ASSERT_EQ(Found.size(), 1) << E.Name;
        EXPECT_TRUE(Found.front()->inherits(E.Kind)) << E.Name << " is a " << Found.front()->metaObject()->className();
    }
    EXPECT_TRUE(Form->N2->isSeparator());
    EXPECT_EQ(Form->Label14->parent(), Form->GroupBox8);
    EXPECT_EQ(Form->Label14->text(), QStringLiteral("Координата:"));

    // The pages in their order, the menus in theirs.
    EXPECT_EQ(Form->PageControl->count(), 3);
    EXPECT_EQ(Form->PageControl->widget(0), Form->TabSheet1);
    EXPECT_EQ(Form->PageControl->widget(1), Form->TabSheet2);
    EXPECT_EQ(Form->PageControl->widget(2), Form->TabSheet3);
    EXPECT_EQ(Form->MainMenu1->actions(),
              (QList<QAction*>{Form->mnPort->menuAction(), Form->mnPlot, Form->mnHelp->menuAction()}));
    EXPECT_EQ(Form->mnPlot->text(), "&График");
    EXPECT_EQ(Form->mnPlot->menu(), nullptr);
    EXPECT_EQ(Form->mnPort->actions(),
              (QList<QAction*>{Form->mnLinkSetup, Form->mnConnect, Form->mnDisconnect, Form->N2, Form->mnExit}));
    EXPECT_EQ(Form->mnHelp->actions(), (QList<QAction*>{Form->mnAbout}));
    EXPECT_EQ(Form->menuBar(), Form->MainMenu1);
    EXPECT_EQ(Form->statusBar(), Form->StatusBar);
}

TEST(LayoutDesign, NumericFieldsHaveTheirRangesAndDesignValues)
{
    DesignWindow D;
    struct Entry {
        TFloatEdit* Field;
        double Min, Max;
        int Digits, Precision;
        double Value;
        bool Visible, ReadOnly, Enabled;
    };
    const auto& U = D.Ui;
    const std::vector<Entry> Table = {
        {U.feCw, -0.01, 2000, 0, 5, 2000, true, false, true},
        {U.feCa, -0.01, 2000, 0, 5, 0, true, false, true},
        {U.feCh, -0.01, 2000, 0, 5, 0, true, false, true},
        {U.feNc, -2000000000, 2000000000, 0, 10, 0, true, true, true},
        {U.feNr, -2000000000, 2000000000, 0, 10, 0, true, false, true},
        {U.feVw, -0.1, 30000, 0, 5, 0, true, false, true},
        {U.feAw, -0.1, 40000, 0, 5, 0, true, false, true},
        {U.feVm, 1, 30000, 0, 5, 1, true, false, true},
        {U.feVmax, 1, 30000, 0, 5, 1, true, false, true},
        {U.feAdc, -0.1, 40, 1, 3, 0, true, true, true},
        {U.feHome, -2000000000, 2000000000, 0, 10, 0, false, true, true},
        {U.feVc, -30000, 30000, 0, 5, 0, true, false, false},
    };
    for (const Entry& E : Table) {
        SCOPED_TRACE(E.Field->objectName().toStdString());
        EXPECT_EQ(E.Field->Format(), ffFixed);
        EXPECT_TRUE(E.Field->MinMaxCheck());
        EXPECT_DOUBLE_EQ(E.Field->MinValue(), E.Min);
        EXPECT_DOUBLE_EQ(E.Field->MaxValue(), E.Max);
        EXPECT_EQ(E.Field->Digits(), E.Digits);
        EXPECT_EQ(E.Field->Precision(), E.Precision);
        EXPECT_DOUBLE_EQ(E.Field->Value(), E.Value);
        EXPECT_EQ(E.Field->ValueVisible(), E.Visible);
        EXPECT_EQ(E.Field->isReadOnly(), E.ReadOnly);
        EXPECT_EQ(E.Field->isEnabled(), E.Enabled);
    }
    // A hidden value shows an empty box.
    EXPECT_TRUE(U.feHome->text().isEmpty());
}

TEST(LayoutDesign, ListsBarsAndBoxesStartAsDesigned)
{
    DesignWindow D;
    const auto& U = D.Ui;
    struct Entry {
        QComboBox* List;
        QStringList Items;
    };
    const std::vector<Entry> Lists = {
        {U.cbSM, {QStringLiteral("Full Step (FS)"), QStringLiteral("Half Step (HS)")}},
        {U.cbFM, {QStringLiteral("Slow Decay"), QStringLiteral("Fast Decay")}},
        {U.cbCntrl,
         {QStringLiteral("Выключено"), QStringLiteral("Назад, вперед, вкл."),
          QStringLiteral("Назад, вперед, вкл. (Vmin)"), QStringLiteral("Шаг, направление, вкл."),
          QStringLiteral("Шаг назад, шаг вперед, вкл."), QStringLiteral("Медл., быстрее, вкл. вперед."),
          QStringLiteral("Медл., быстрее, вкл. назад."), QStringLiteral("Назад, вперед, стоп")}},
    };
    for (const Entry& E : Lists) {
        SCOPED_TRACE(E.List->objectName().toStdString());
        QStringList Items;
        for (int I = 0; I < E.List->count(); ++I)
            Items << E.List->itemText(I);
        // The index is what the behaviour sends: the order matters.
        EXPECT_EQ(Items, E.Items);
        EXPECT_EQ(E.List->currentIndex(), -1);
        EXPECT_FALSE(E.List->isEditable());
    }

    EXPECT_EQ(U.sbVw->orientation(), Qt::Horizontal);
    EXPECT_EQ(U.sbVw->minimum(), 0);
    EXPECT_EQ(U.sbVw->maximum(), 30000);
    EXPECT_EQ(U.sbVw->singleStep(), 100);
    EXPECT_EQ(U.sbVw->pageStep(), 100);
    EXPECT_EQ(U.sbVw->value(), 0);
    EXPECT_EQ(U.pbVc->minimum(), 0);
    EXPECT_EQ(U.pbVc->maximum(), 30000);
    EXPECT_EQ(U.pbVc->value(), 0);
    EXPECT_FALSE(U.pbVc->isTextVisible());
    EXPECT_EQ(U.PageControl->currentIndex(), 0);

    // Every box unchecked; only the three lamps greyed; the caption stands on
    // the left of the box exactly where the box says so.
    const QList<QCheckBox*> Boxes = D.Window.findChildren<QCheckBox*>();
    EXPECT_EQ(Boxes.size(), 18);
    for (QCheckBox* B : Boxes) {
        SCOPED_TRACE(B->objectName().toStdString());
        EXPECT_FALSE(B->isChecked());
        const bool Lamp = B == U.cbLimL || B == U.cbHome || B == U.cbLimR;
        EXPECT_EQ(B->isEnabled(), !Lamp);
        const bool CaptionLeft = B == U.cbHold || B == U.cbRelN || B == U.cbLimR;
        EXPECT_EQ(B->layoutDirection(), CaptionLeft ? Qt::RightToLeft : Qt::LeftToRight);
    }
    EXPECT_TRUE(U.mnConnect->isEnabled());
    EXPECT_TRUE(U.mnDisconnect->isEnabled());
}

TEST_F(LayoutTest, WindowHasAFixedFrameWithoutMaximise)
{
    const Qt::WindowFlags Flags = Form->windowFlags();
    EXPECT_FALSE(Flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(Flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(Flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(Flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_EQ(Form->minimumSize(), Form->maximumSize());
    EXPECT_EQ(Form->width(), 505);
    EXPECT_FALSE(Form->StatusBar->isSizeGripEnabled());
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Stepper Motor Controller Velmor"));
    EXPECT_FALSE(Form->windowIcon().isNull());
    EXPECT_FALSE(Form->mnExit->icon().isNull());
    EXPECT_FALSE(Form->mnAbout->icon().isNull());
    EXPECT_TRUE(Form->mnConnect->icon().isNull());
    ASSERT_NE(Form->Timer, nullptr);
    EXPECT_EQ(Form->Timer->parent(), Form.get());
    EXPECT_EQ(Form->Timer->interval(), 100);

    ShowActive();
    // The client area under the menu bar is 505 by 448: the notebook and the
    // strip in 429, the status bar in the last 19.
    EXPECT_EQ(Form->height(), Form->MainMenu1->height() + 448);
    EXPECT_EQ(Form->centralWidget()->geometry(), QRect(0, Form->MainMenu1->height(), 505, 429));
    EXPECT_EQ(Form->StatusBar->geometry(), QRect(0, Form->MainMenu1->height() + 429, 505, 19));
    EXPECT_EQ(Form->PageControl->geometry(), QRect(0, 0, 505, 377));

    // Asking for another size changes nothing.
    const QSize Fixed = Form->size();
    Form->resize(800, 600);
    EXPECT_EQ(Form->size(), Fixed);
    Form->setGeometry(QRect(Form->pos(), QSize(300, 200)));
    EXPECT_EQ(Form->size(), Fixed);
}

TEST_F(LayoutTest, TabWalksEachPageInItsOrder)
{
    ShowActive();
    const QStringList Strip = {QStringLiteral("btStartL"), QStringLiteral("btStop"), QStringLiteral("btStartR"),
                               QStringLiteral("btEEPROM"), QStringLiteral("PageControl")};
    const std::vector<QStringList> Pages = {
        QStringList{"cbSM", "feCw", "feCa", "feCh", "cbHold", "cbFM", "feNc", "feNr", "cbRelN", "btClrNc",
                    "btStartN", "btStart0", "feVw", "feAw", "sbVw"},
        QStringList{"feVm", "cbAdc", "feAdc", "cbCntrl", "cbHi", "cbDbnc", "feVmax"},
        QStringList{"cbLimEnR", "cbLimNoR", "cbLimStR", "cbLimEnL", "cbLimNoL", "cbLimStL", "cbHomeEn",
                    "cbHomeNo", "btHome", "cbHomeSt", "cbHomeDir", "feHome"},
    };
    for (int Page = 0; Page < 3; ++Page) {
        SCOPED_TRACE(Page);
        Form->PageControl->setCurrentIndex(Page);
        // Only the order is under test: the boxes that depend on another
        // one may be greyed just now.
        for (QWidget* W : Form->PageControl->widget(Page)->findChildren<QWidget*>())
            if (W->focusPolicy() != Qt::NoFocus)
                W->setEnabled(true);
        Form->PageControl->tabBar()->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(NameOfFocus(), QStringLiteral("PageControl"));
        const QStringList Expected = Pages[static_cast<size_t>(Page)] + Strip;
        QStringList Walked;
        for (int I = 0; I < Expected.size(); ++I) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            Walked << NameOfFocus();
        }
        EXPECT_EQ(Walked, Expected);
        // And back again with Shift+Tab.
        QStringList Back;
        for (int I = 0; I < Expected.size(); ++I) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            Back << NameOfFocus();
        }
        QStringList Reverse = QStringList{"PageControl"} + Expected;
        Reverse.removeLast();
        std::reverse(Reverse.begin(), Reverse.end());
        EXPECT_EQ(Back, Reverse);
    }
    // The greyed displays never take the focus.
    for (QWidget* W : std::initializer_list<QWidget*>{Form->feVc, Form->pbVc, Form->cbLimL, Form->cbHome, Form->cbLimR})
        EXPECT_EQ(W->focusPolicy(), Qt::NoFocus) << W->objectName().toStdString();
}

TEST_F(LayoutTest, ShortcutsFireFromAnywhereOnlyWhileTheirItemIsEnabled)
{
    ShowActive();
    struct Entry {
        QAction* Item;
        Qt::Key Key;
        Qt::KeyboardModifiers Modifiers;
    };
    const std::vector<Entry> Table = {
        {Form->mnLinkSetup, Qt::Key_L, Qt::AltModifier},
        {Form->mnConnect, Qt::Key_P, Qt::AltModifier},
        {Form->mnDisconnect, Qt::Key_D, Qt::AltModifier},
        {Form->mnExit, Qt::Key_X, Qt::AltModifier},
        {Form->mnAbout, Qt::Key_F1, Qt::NoModifier},
        {Form->mnPlot, Qt::Key_T, Qt::AltModifier},
    };
    // Only the shortcut is under test here: what the items do is not.
    for (const Entry& E : Table)
        QObject::disconnect(E.Item, &QAction::triggered, nullptr, nullptr);

    // From a field on the second page, and from the notebook's tab bar.
    Form->PageControl->setCurrentIndex(1);
    const std::vector<QWidget*> Origins = {Form->feVm, Form->PageControl->tabBar()};
    for (const Entry& E : Table) {
        SCOPED_TRACE(E.Item->objectName().toStdString());
        QSignalSpy Spy(E.Item, &QAction::triggered);
        E.Item->setEnabled(true);
        for (QWidget* Origin : Origins) {
            Origin->setFocus();
            QTest::keyClick(Origin, E.Key, E.Modifiers);
        }
        EXPECT_EQ(Spy.count(), 2);
        E.Item->setEnabled(false);
        QTest::keyClick(Form->feVm, E.Key, E.Modifiers);
        EXPECT_EQ(Spy.count(), 2);
        E.Item->setEnabled(true);
    }
}

TEST_F(LayoutTest, DisplaysAndListsTakeNoTypedText)
{
    ShowActive();
    // Read-only fields keep their text and value whatever is typed or entered.
    Form->PageControl->setCurrentIndex(0);
    for (TFloatEdit* F : {Form->feNc, Form->feAdc, Form->feHome}) {
        SCOPED_TRACE(F->objectName().toStdString());
        Form->PageControl->setCurrentIndex(F == Form->feNc ? 0 : F == Form->feAdc ? 1 : 2);
        F->setFocus();
        const QString Text = F->text();
        const double Value = F->Value();
        QTest::keyClicks(F, QStringLiteral("1234"));
        QTest::keyClick(F, Qt::Key_Backspace);
        QTest::keyClick(F, Qt::Key_Return);
        EXPECT_EQ(F->text(), Text);
        EXPECT_DOUBLE_EQ(F->Value(), Value);
    }

    // The greyed speed readout and lamps ignore the keyboard and the mouse.
    Form->PageControl->setCurrentIndex(0);
    const QString Speed = Form->feVc->text();
    QTest::keyClicks(Form->feVc, QStringLiteral("77"));
    EXPECT_EQ(Form->feVc->text(), Speed);
    for (QCheckBox* Lamp : {Form->cbLimL, Form->cbHome, Form->cbLimR}) {
        const bool Checked = Lamp->isChecked();
        QTest::mouseClick(Lamp, Qt::LeftButton);
        QTest::keyClick(Lamp, Qt::Key_Space);
        EXPECT_EQ(Lamp->isChecked(), Checked) << Lamp->objectName().toStdString();
    }

    // The lists are pick-only: typed text never becomes an entry.
    for (QComboBox* List : {Form->cbSM, Form->cbFM, Form->cbCntrl}) {
        SCOPED_TRACE(List->objectName().toStdString());
        Form->PageControl->setCurrentIndex(List == Form->cbCntrl ? 1 : 0);
        List->setFocus();
        const int Count = List->count();
        QTest::keyClicks(List, QStringLiteral("qwerty"));
        QTest::keyClick(List, Qt::Key_Return);
        EXPECT_FALSE(List->isEditable());
        EXPECT_EQ(List->lineEdit(), nullptr);
        EXPECT_EQ(List->count(), Count);
        EXPECT_EQ(List->findText(QStringLiteral("qwerty")), -1);
    }
}

TEST_F(LayoutTest, StatusPanelsShowTheirLongestTexts)
{
    ShowActive();
    const QList<QLabel*> Panels = Form->StatusBar->findChildren<QLabel*>();
    ASSERT_EQ(Panels.size(), 2);
    const QString Link = QStringLiteral(" ON LINE: Virtual controller VLM-1 (simulated)");
    const QString State = QStringLiteral("Encoder positioning...");
    Form->SetStatusText(0, Link);
    Form->SetStatusText(1, State);
    QApplication::processEvents();
    EXPECT_EQ(Form->StatusText(0), Link);
    EXPECT_EQ(Form->StatusText(1), State);
    QLabel* LinkPanel = Form->StatusBar->findChild<QLabel*>(QStringLiteral("StatusPanel0"));
    QLabel* StatePanel = Form->StatusBar->findChild<QLabel*>(QStringLiteral("StatusPanel1"));
    ASSERT_TRUE(LinkPanel && StatePanel);
    EXPECT_LT(LinkPanel->x(), StatePanel->x());
    for (QLabel* P : {LinkPanel, StatePanel}) {
        SCOPED_TRACE(P->objectName().toStdString());
        EXPECT_LE(P->sizeHint().width(), P->width());
        EXPECT_LE(P->geometry().right(), Form->StatusBar->width() - 1);
        EXPECT_EQ(P->textFormat(), Qt::PlainText);
    }
    // The short link text still leaves panel 0 at its full width.
    Form->SetStatusText(0, QStringLiteral(" OFF LINE "));
    QApplication::processEvents();
    EXPECT_GE(LinkPanel->width(), 150);

    // There are only two panels.
    Form->SetStatusText(2, QStringLiteral("x"));
    Form->SetStatusText(-1, QStringLiteral("x"));
    EXPECT_TRUE(Form->StatusText(2).isEmpty());
    EXPECT_TRUE(Form->StatusText(-1).isEmpty());
    EXPECT_EQ(Form->StatusText(1), State);
}

TEST_F(LayoutTest, EveryCaptionFitsAndNoControlsOverlap)
{
    ShowActive();
    // Lay out every page once.
    for (int Page = 0; Page < 3; ++Page) {
        Form->PageControl->setCurrentIndex(Page);
        QApplication::processEvents();
    }
    const QFont WindowFont = Form->font();
    EXPECT_EQ(WindowFont.pixelSize(), 11);
    EXPECT_EQ(Form->mnPort->font().pixelSize(), 11);
    EXPECT_EQ(Form->StatusBar->font().pixelSize(), 11);
    EXPECT_EQ(Form->feVc->font().pixelSize(), 16);
    EXPECT_TRUE(Form->feVc->font().bold());

    std::vector<QWidget*> Parents = {Form->centralWidget(), Form->TabSheet1, Form->TabSheet2, Form->TabSheet3};
    for (QGroupBox* G : Form->findChildren<QGroupBox*>())
        Parents.push_back(G);
    int Checked = 0;
    for (QWidget* Parent : Parents) {
        SCOPED_TRACE(Parent->objectName().toStdString());
        QRect Room = Parent->rect();
        if (auto* G = qobject_cast<QGroupBox*>(Parent)) {
            Room = G->contentsRect();
            EXPECT_LE(G->minimumSizeHint().width(), G->width()) << "group caption";
        }
        const QList<QWidget*> Children = Parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (int I = 0; I < Children.size(); ++I) {
            QWidget* C = Children[I];
            SCOPED_TRACE(C->objectName().toStdString());
            EXPECT_TRUE(Room.contains(C->geometry())) << "outside its parent";
            for (int J = I + 1; J < Children.size(); ++J)
                EXPECT_FALSE(C->geometry().intersects(Children[J]->geometry()))
                    << "overlaps " << Children[J]->objectName().toStdString();
            const QFontMetrics M = C->fontMetrics();
            if (qobject_cast<QLabel*>(C) || qobject_cast<QCheckBox*>(C) || qobject_cast<QComboBox*>(C)) {
                EXPECT_LE(C->sizeHint().width(), C->width());
                EXPECT_LE(C->sizeHint().height(), C->height());
                ++Checked;
            } else if (auto* B = qobject_cast<QPushButton*>(C)) {
                const int Margin = B->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, B);
                EXPECT_LE(M.horizontalAdvance(B->text()) + 2 * Margin, B->width());
                EXPECT_LE(M.height() + 4, B->height());
                ++Checked;
            } else if (auto* F = qobject_cast<TFloatEdit*>(C)) {
                // The widest text the field can show: its range ends.
                for (double V : {F->MinValue(), F->MaxValue()}) {
                    const QString Text = QString::fromStdString(
                        FloatToText(V, F->Format(), F->Precision(), F->Digits(), "."));
                    EXPECT_LE(M.horizontalAdvance(Text) + 8, F->width()) << Text.toStdString();
                }
                EXPECT_LE(M.height() + 4, F->height());
                ++Checked;
            }
        }
    }
    // 22 labels, 18 check boxes, 3 lists, 8 buttons and 12 fields.
    EXPECT_EQ(Checked, 63);
}
