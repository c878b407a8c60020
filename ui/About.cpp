#include "ui/About.h"

#include <QByteArray>
#include <QFile>
#include <QFont>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QShowEvent>
#include <QWindow>
#include <QPushButton>

#include <cstdint>
#include <memory>
#include <new>

#include "application/Application.h"
#include "platform/Guard.h"
#include "platform/VersionInfo.h"

TAboutForm* AboutForm = nullptr;

static void InitAboutResources()
{
    Q_INIT_RESOURCE(about);
}

TAboutForm::TAboutForm(QWidget* Owner) : QDialog(Owner)
{
    static const bool ResourcesReady = (InitAboutResources(), true);
    (void)ResourcesReady;

    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("Velmor"));
    // Single fixed border; only the system menu and the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(424, 204);
    setSizeGripEnabled(false);

    QFont Font(QStringLiteral("Liberation Sans"));
    Font.setPixelSize(11);
    setFont(Font);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(1);
    Panel1->setGeometry(0, 0, 424, 204);
    Panel1->setAutoFillBackground(true);
    QPalette White = Panel1->palette();
    White.setColor(QPalette::Window, Qt::white);
    Panel1->setPalette(White);

    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QPixmap(QStringLiteral(":/about/picture.png")));
    Image1->move(16, 62);
    Image1->resize(388, 71);
    if (!Image1->pixmap().isNull())
        Image1->resize(Image1->pixmap().size());

    Image2 = new QLabel(Panel1);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setPixmap(QPixmap(QStringLiteral(":/about/icon.png")));
    Image2->move(32, 15);
    Image2->resize(32, 32);
    if (!Image2->pixmap().isNull())
        Image2->resize(Image2->pixmap().size());

    Label1 = new QLabel(QStringLiteral("Velmor Stepper Motor Controller Control Software"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(84, 24);
    Label1->adjustSize();

    Button1 = new QPushButton(QStringLiteral("OK"), Panel1);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(176, 168, 75, 25);
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([&] { done(1); }); });

    Label3 = new QLabel(
        QStringLiteral("Device uses Orvel lab Kwill serial protocol over RS-485 phisical transport level."), Panel1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->move(19, 136);
    Label3->adjustSize();

    Label2 = new QLabel(QStringLiteral("Version "), Panel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    QFont Bold = Font;
    Bold.setBold(true);
    Label2->setFont(Bold);
    Label2->move(160, 40);
    Label2->adjustSize();

    // The button is the one control that takes the focus: first in tab order.
    Button1->setFocus();

    installEventFilter(this);
    for (QWidget* Child : findChildren<QWidget*>())
        Child->installEventFilter(this);

    Guarded([&] { FormCreate(this); });
}

TAboutForm::~TAboutForm()
{
    if (AboutForm == this)
        AboutForm = nullptr;
}

// The version text: the "FileVersion" string of the first translation of
// the executable's version block, appended to "Version ". Any missing piece
// leaves the label as it is, without a message.
void TAboutForm::showEvent(QShowEvent* Event)
{
    QDialog::showEvent(Event);
    // The frame a window manager puts around this window is not known before
    // it shows; the owner's, which it has, stands in for it. The window is
    // placed by its client area, the one position every platform takes
    // alike: the frame's place plus the owner's border and title bar.
    if (!Event->spontaneous() && parentWidget() && windowHandle()) {
        const QWidget* Owner = parentWidget()->window();
        const QRect OwnerFrame = Owner->frameGeometry();
        const QPoint Border = Owner->geometry().topLeft() - OwnerFrame.topLeft();
        const QSize Frame = size() + (OwnerFrame.size() - Owner->size());
        windowHandle()->setPosition(OwnerFrame.x() + (OwnerFrame.width() - Frame.width()) / 2 + Border.x(),
                                    OwnerFrame.y() + (OwnerFrame.height() - Frame.height()) / 2 + Border.y());
    }
}

void TAboutForm::FormCreate(QObject* /*Sender*/)
{
    const std::string Path = QFile::encodeName(Application::ExeName()).toStdString();
    uint32_t Handle = 0;
    const uint32_t Size = VersionInfo::GetFileVersionInfoSize(Path, &Handle);
    if (Size == 0)
        return;
    // The block's memory is released when this routine ends, on every path.
    std::unique_ptr<uint8_t[]> Block(new (std::nothrow) uint8_t[Size]);
    if (!Block)
        return;
    if (!VersionInfo::GetFileVersionInfo(Path, Handle, Size, Block.get()))
        return;

    const void* Value = nullptr;
    uint32_t Length = 0;
    if (!VersionInfo::VerQueryValue(Block.get(), "\\VarFileInfo\\Translation", &Value, &Length) || Length < 4)
        return;
    const auto* Entry = static_cast<const uint8_t*>(Value);
    const uint16_t Language = static_cast<uint16_t>(Entry[0] | Entry[1] << 8);
    const uint16_t CodePage = static_cast<uint16_t>(Entry[2] | Entry[3] << 8);

    const std::string SubBlock =
        "\\StringFileInfo\\" + VersionInfo::TranslationName(Language, CodePage) + "\\FileVersion";
    if (!VersionInfo::VerQueryValue(Block.get(), SubBlock, &Value, &Length))
        return;
    // The text ends at its zero, and never past the value the block holds.
    const char* Text = static_cast<const char*>(Value);
    Label2->setText(Label2->text() + QString::fromUtf8(Text, static_cast<qsizetype>(qstrnlen(Text, Length))));
    Label2->adjustSize();
}

// Escape ends the window with result 1, as OK does; the key is then spent
// (Key becomes 0) so that no control sees it. Other keys pass unchanged.
void TAboutForm::FormKeyPress(QObject* /*Sender*/, char& Key)
{
    if (Key == 27) {
        done(1);
        Key = 0;
    }
}

// The window is freed rather than hidden, and the global forgets it.
void TAboutForm::FormClose(QObject* /*Sender*/, TCloseAction& Action)
{
    Action = caFree;
    AboutForm = nullptr;
}

void TAboutForm::done(int Result)
{
    TCloseAction Action = caHide;
    Guarded([&] { FormClose(this, Action); });
    QDialog::done(Result);
    if (Action == caFree)
        deleteLater();
}

void TAboutForm::reject()
{
    done(2);
}

bool TAboutForm::eventFilter(QObject* Watched, QEvent* Event)
{
    if (Event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(Watched, Event);
    // A key goes first to the focused control, then up through its parents
    // while they leave it: the window looks at it once, at the first stop.
    const bool Passing = Event == FPreviewed && Watched == FPreviewedParent;
    FPreviewed = Event;
    FPreviewedParent = Watched->isWidgetType() ? static_cast<QWidget*>(Watched)->parentWidget() : nullptr;
    if (Passing)
        return QDialog::eventFilter(Watched, Event);
    bool Spent = false;
    Guarded([&] {
        auto* KeyEvent = static_cast<QKeyEvent*>(Event);
        char Key = 0;
        if (KeyEvent->key() == Qt::Key_Escape) {
            Key = 27;
        } else {
            const QString Text = KeyEvent->text();
            if (Text.size() != 1 || Text[0].unicode() > 0xFF)
                return; // no character: no key press for the window
            Key = static_cast<char>(Text[0].unicode());
        }
        const char Original = Key;
        FormKeyPress(Watched, Key);
        Spent = Key == 0 && Original != 0;
    });
    return Spent;
}
