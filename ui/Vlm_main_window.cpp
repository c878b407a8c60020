// What the window description cannot hold: the window's fixed frame, its
// fonts in pixel sizes, the icons, the two status-bar panels and the poll
// timer.
#include "ui/Vlm_main.h"

#include <QComboBox>
#include <QFont>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

// The icons live in a static library: their resource must be registered by
// hand before the first use (outside any namespace, as the macro requires).
static void InitResources()
{
    static const bool Done = [] {
        Q_INIT_RESOURCE(velmor);
        return true;
    }();
    (void)Done;
}

namespace {

// The client area under the menu bar: the notebook and the strip above the
// status bar.
constexpr int ClientWidth = 505;
constexpr int ClientHeight = 448;
constexpr int StatusBarHeight = 19;
// The link panel is at least this wide; the state panel is as wide as its
// longest text and a little more.
constexpr int LinkPanelWidth = 150;
constexpr int StatePanelSlack = 8;

// The wheel and the notebook as the classic controls have them. A scroll bar
// takes no wheel input; a closed list takes it only while it has the focus,
// and the wheel never gives it the focus; the notebook's tabs take none. A
// page change moves the focus to the tabs first, so the focus never lands in
// a field of the new page (whose next exit would send a value nobody
// touched): a click on a tab takes the focus as it does, and so does the
// keyboard's page switching.
class TInputRules : public QObject {
public:
    TInputRules(QObject* Parent, QWidget* Tabs, QTabWidget* Notebook, QScrollBar* Bar,
                std::initializer_list<QComboBox*> Lists)
        : QObject(Parent), FTabs(Tabs), FNotebook(Notebook)
    {
        FTabs->setFocusPolicy(Qt::StrongFocus);
        FTabs->installEventFilter(this);
        FNotebook->installEventFilter(this);
        Bar->installEventFilter(this);
        for (QComboBox* List : Lists) {
            List->setFocusPolicy(Qt::StrongFocus);
            List->installEventFilter(this);
        }
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (Event->type() == QEvent::Wheel) {
            if (auto* List = qobject_cast<QComboBox*>(Watched))
                return !List->hasFocus();
            return Watched != FNotebook;
        }
        if (Event->type() == QEvent::KeyPress && Watched == FNotebook) {
            const auto* Key = static_cast<QKeyEvent*>(Event);
            const bool PageKey = Key->key() == Qt::Key_Tab || Key->key() == Qt::Key_Backtab ||
                                 Key->key() == Qt::Key_PageUp || Key->key() == Qt::Key_PageDown;
            if (PageKey && (Key->modifiers() & Qt::ControlModifier))
                FTabs->setFocus(Qt::TabFocusReason);
        }
        return false;
    }

private:
    QWidget* FTabs;
    QTabWidget* FNotebook;
};

// The link panel: its text in full is the panel's text (StatusText), but
// what fits is shown, cut at the front of the device text, so the end of it,
// the controller's own identification, stays whole while a long link name
// before it gives way (the tooltip names the link). It asks for no more than
// its minimum width: the state panel beside it keeps its own.
class TLinkPanel : public QLabel {
public:
    using QLabel::QLabel;

    void SetFullText(const QString& Text)
    {
        FFull = Text;
        Fit();
    }
    const QString& FullText() const { return FFull; }

    QSize sizeHint() const override { return QSize(minimumWidth(), QLabel::sizeHint().height()); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void resizeEvent(QResizeEvent* Event) override
    {
        QLabel::resizeEvent(Event);
        Fit();
    }

private:
    void Fit()
    {
        const QFontMetrics M(font());
        const int Room = contentsRect().width() - indent() - 2;
        QString Shown = FFull;
        if (M.horizontalAdvance(FFull) > Room) {
            static const QString OnLine = QStringLiteral(" ON LINE: ");
            const QString Head = FFull.startsWith(OnLine) ? OnLine : QString();
            Shown = Head + M.elidedText(FFull.mid(Head.size()), Qt::ElideLeft,
                                        std::max(0, Room - M.horizontalAdvance(Head)));
        }
        if (text() != Shown)
            setText(Shown);
    }

    QString FFull;
};

} // namespace

// The window font: 11 pixels for everything, menus and status bar
// included (popup menus are windows of their own and do not inherit it).
QFont TMainForm::WindowFont()
{
    QFont Font(QStringLiteral("Liberation Sans"));
    Font.setPixelSize(11);
    return Font;
}

void TMainForm::SetupWindow()
{
    InitResources();

    const QFont WindowFont = TMainForm::WindowFont();
    setFont(WindowFont);
    MainMenu1->setFont(WindowFont);
    mnPort->setFont(WindowFont);
    mnHelp->setFont(WindowFont);
    StatusBar->setFont(WindowFont);

    QFont SpeedFont(WindowFont);
    SpeedFont.setPixelSize(16);
    SpeedFont.setBold(true);
    feVc->setFont(SpeedFont);

    // The raised "2" of the acceleration unit.
    QFont SuperscriptFont(WindowFont);
    SuperscriptFont.setPixelSize(9);
    Label16->setFont(SuperscriptFont);

    // A single fixed frame: system menu, minimise and close, no maximise.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    QIcon AppIcon;
    AppIcon.addFile(QStringLiteral(":/velmor/velmor32.png"), QSize(32, 32));
    AppIcon.addFile(QStringLiteral(":/velmor/velmor16.png"), QSize(16, 16));
    setWindowIcon(AppIcon);
    mnExit->setIcon(QIcon(QStringLiteral(":/velmor/exit16.png")));
    mnAbout->setIcon(QIcon(QStringLiteral(":/velmor/about16.png")));

    // Status bar: two sunken text panels, both empty at first.
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setFixedHeight(StatusBarHeight);
    StatusBar->setContentsMargins(0, 0, 0, 0);
    for (int I = 0; I < 2; ++I) {
        QLabel* Panel = I == 0 ? new TLinkPanel(StatusBar) : new QLabel(StatusBar);
        Panel->setObjectName(QStringLiteral("StatusPanel%1").arg(I));
        Panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        Panel->setIndent(2);
        Panel->setTextFormat(Qt::PlainText);
        FStatusPanels[I] = Panel;
    }
    // The link panel takes what the state panel, as wide as its longest
    // text, leaves.
    FStatusPanels[0]->setMinimumWidth(LinkPanelWidth);
    FStatusPanels[1]->setText(QStringLiteral("Encoder positioning..."));
    FStatusPanels[1]->setFixedWidth(FStatusPanels[1]->sizeHint().width() + StatePanelSlack);
    FStatusPanels[1]->clear();
    StatusBar->addWidget(FStatusPanels[0], 1);
    StatusBar->addWidget(FStatusPanels[1]);

    SetupLinkMenu();
    SetupPlotMenu();

    new TInputRules(this, PageControl->tabBar(), PageControl, sbVw, {cbSM, cbFM, cbCntrl});

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(100);

    // Fixed size: the client area plus whatever the menu bar needs here.
    int MenuHeight = MainMenu1->heightForWidth(ClientWidth);
    if (MenuHeight < 0)
        MenuHeight = MainMenu1->sizeHint().height();
    setFixedSize(ClientWidth, MenuHeight + ClientHeight);
    move(600, 260);
}

// Panels outside 0 and 1 do not exist: reading one gives an empty text,
// writing one does nothing.
QString TMainForm::StatusText(int Panel) const
{
    if (Panel == 0 && FStatusPanels[0])
        return static_cast<const TLinkPanel*>(FStatusPanels[0])->FullText();
    return Panel == 1 && FStatusPanels[1] ? FStatusPanels[1]->text() : QString();
}

void TMainForm::SetStatusText(int Panel, const QString& Text)
{
    if (Panel >= 0 && Panel < 2 && FStatusPanels[Panel]) {
        // One line: a control character from the device shows as a blank.
        QString Line = Text;
        for (QChar& C : Line)
            if (C.category() == QChar::Other_Control || C.category() == QChar::Separator_Line ||
                C.category() == QChar::Separator_Paragraph)
                C = QLatin1Char(' ');
        const bool Changed = StatusText(Panel) != Line;
        if (Panel == 0)
            static_cast<TLinkPanel*>(FStatusPanels[0])->SetFullText(Line);
        else
            FStatusPanels[1]->setText(Line);
        // The link came up or went down: the tooltip names the link now.
        if (Panel == 0 && Changed)
            ShowLinkTip();
    }
}
