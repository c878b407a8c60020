// The About window: its version text, its ways of closing, and the main
// window's About command run twice.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>

#include <filesystem>
#include <functional>

#include <unistd.h>

#include "application/Application.h"
#include "platform/VersionInfo.h"
#include "tests/platform/ElfImage.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSupport.h"
#include "ui/About.h"

using namespace VersionInfo;
namespace fs = std::filesystem;

namespace {

class About : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestSupport::MakeTempFolder("velmor-about", Dir);
        TestSupport::Boxes().clear();
    }
    void TearDown() override
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delete AboutForm;
        AboutForm = nullptr;
        Application::SetExeName(QString());
        fs::remove_all(Dir);
    }

    // A program file whose version block has these translations and string
    // tables.
    QString Program(const std::string& Name, const std::vector<std::pair<uint16_t, uint16_t>>& Translations,
                    const std::vector<TStringTable>& Tables)
    {
        TVersionData D;
        D.Translations = Translations;
        D.StringTables = Tables;
        return ProgramWithSection(Name, BuildVersionBlock(D));
    }
    QString ProgramWithSection(const std::string& Name, const std::vector<uint8_t>& Section)
    {
        std::string Path = Dir + "/" + Name;
        std::vector<uint8_t> Code{0xC3};
        EXPECT_TRUE(ElfImage::WriteFile(Path, ElfImage::Build({{".text", Code}, {SectionName, Section}}).Bytes));
        return QString::fromStdString(Path);
    }
    QString VersionShownFor(const QString& Path)
    {
        Application::SetExeName(Path);
        TAboutForm Form;
        return Form.Label2->text();
    }

    // Shows Form modally, runs Action inside its loop, returns the modal
    // result. A window still open after two seconds ends with -99.
    static int RunModal(TAboutForm* Form, std::function<void(TAboutForm*)> Action)
    {
        QTimer::singleShot(0, Form, [Form, Action] { Action(Form); });
        QTimer::singleShot(2000, Form, [Form] { Form->done(-99); });
        return Form->exec();
    }

    std::string Dir;
};

const TStringTable Russian{"041904E3", {{"ProductName", "Velmor"}, {"FileVersion", "2019.1.0.0"}}};

TEST_F(About, ShowsTheFileVersionOfTheFirstTranslation)
{
    EXPECT_EQ(VersionShownFor(Program("ru", {{0x0419, 0x04E3}}, {Russian})), "Version 2019.1.0.0");

    // Only the first translation counts: a file version under the second
    // one is not shown.
    const std::vector<TStringTable> Tables = {{"041904E3", {{"ProductName", "Velmor"}}},
                                              {"040904E4", {{"FileVersion", "5.6"}}}};
    EXPECT_EQ(VersionShownFor(Program("second", {{0x0419, 0x04E3}, {0x0409, 0x04E4}}, Tables)), "Version ");
    EXPECT_EQ(VersionShownFor(Program("swapped", {{0x0409, 0x04E4}, {0x0419, 0x04E3}}, Tables)), "Version 5.6");
    EXPECT_TRUE(TestSupport::Boxes().empty());
}

TEST_F(About, MissingPiecesLeaveVersionAloneWithoutAMessage)
{
    const QString Cases[] = {
        // The test program itself: an executable without the section.
        QCoreApplication::applicationFilePath(),
        Program("no-translations", {}, {Russian}),
        ProgramWithSection("short-table", [] {
            TVersionNode Root{"VS_VERSION_INFO", 0, {}, {}};
            Root.Children.push_back({"VarFileInfo", 1, {}, {{"Translation", 0, {0x19, 0x04}, {}}}});
            return SerializeNode(Root);
        }()),
        ProgramWithSection("garbage", std::vector<uint8_t>(64, 0xFF)),
        QString::fromStdString(Dir + "/missing"),
        QString::fromStdString(Dir),
    };
    for (const QString& Path : Cases)
        EXPECT_EQ(VersionShownFor(Path), "Version ") << Path.toStdString();
    EXPECT_TRUE(TestSupport::Boxes().empty());
}

TEST_F(About, VersionHeldWithoutItsZeroIsReadNoFurtherThanItsLength)
{
    // "FileVersion" marked as binary data, last in the block, with no zero
    // after it: the text ends where the value ends.
    TVersionNode Root{"VS_VERSION_INFO", 0, {}, {}};
    Root.Children.push_back({"VarFileInfo", 1, {}, {{"Translation", 0, {0x19, 0x04, 0xE3, 0x04}, {}}}});
    Root.Children.push_back(
        {"StringFileInfo", 1, {}, {{"041904E3", 1, {}, {{"FileVersion", 0, {'7', '.', '7'}, {}}}}}});
    EXPECT_EQ(VersionShownFor(ProgramWithSection("unterminated", SerializeNode(Root))), "Version 7.7");
}

TEST_F(About, ShowsTheVersionOfThePanelExecutable)
{
    ASSERT_TRUE(fs::exists(VELMOR_EXE));
    EXPECT_EQ(VersionShownFor(QStringLiteral(VELMOR_EXE)), QStringLiteral("Version " VELMOR_PROJECT_VERSION));
}

TEST_F(About, WindowAndComponents)
{
    QWidget Main;
    Main.setGeometry(60, 50, 640, 480); // within the offscreen screen (800 x 600)
    Main.show();
    Application::SetExeName(Program("ru", {{0x0419, 0x04E3}}, {Russian}));
    auto* Form = new TAboutForm(&Main);

    EXPECT_EQ(Form->windowTitle(), "Velmor");
    const Qt::WindowFlags Flags = Form->windowFlags();
    EXPECT_TRUE(Flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(Flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(Flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(Flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(Flags & Qt::WindowContextHelpButtonHint);
    EXPECT_EQ(Form->minimumSize(), QSize(424, 204));
    EXPECT_EQ(Form->maximumSize(), QSize(424, 204));
    EXPECT_EQ(Form->font().family(), "Liberation Sans");
    EXPECT_EQ(Form->font().pixelSize(), 11);

    EXPECT_EQ(Form->Panel1->geometry(), QRect(0, 0, 424, 204));
    EXPECT_EQ(Form->Panel1->frameStyle(), QFrame::Panel | QFrame::Sunken);
    EXPECT_EQ(Form->Panel1->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(Form->Image1->geometry(), QRect(16, 62, 388, 71));
    EXPECT_FALSE(Form->Image1->pixmap().isNull());
    EXPECT_EQ(Form->Image2->geometry(), QRect(32, 15, 32, 32));
    EXPECT_FALSE(Form->Image2->pixmap().isNull());
    EXPECT_EQ(Form->Label1->text(), "Velmor Stepper Motor Controller Control Software");
    EXPECT_EQ(Form->Label1->pos(), QPoint(84, 24));
    EXPECT_EQ(Form->Label2->pos(), QPoint(160, 40));
    EXPECT_TRUE(Form->Label2->font().bold());
    EXPECT_EQ(Form->Label2->font().pixelSize(), 11);
    // The label grows with its text.
    EXPECT_GE(Form->Label2->width(), Form->Label2->fontMetrics().horizontalAdvance(Form->Label2->text()));
    EXPECT_EQ(Form->Label3->text(), "Device uses Orvel lab Kwill serial protocol over RS-485 phisical transport level.");
    EXPECT_EQ(Form->Label3->pos(), QPoint(19, 136));
    EXPECT_EQ(Form->Button1->text(), "OK");
    EXPECT_EQ(Form->Button1->geometry(), QRect(176, 168, 75, 25));

    QWidget* Button = Form->Button1;
    QWidget* Focus = nullptr;
    QPoint Centre;
    int Result = RunModal(Form, [&](TAboutForm* F) {
        Focus = F->focusWidget();
        Centre = F->frameGeometry().center();
        QTest::mouseClick(F->Button1, Qt::LeftButton);
    });
    EXPECT_EQ(Result, 1);
    EXPECT_EQ(Focus, Button);
    EXPECT_LE((Centre - Main.frameGeometry().center()).manhattanLength(), 2)
        << Centre.x() << "," << Centre.y() << " " << Main.frameGeometry().center().x() << ","
        << Main.frameGeometry().center().y();
}

TEST_F(About, AboutCommandTwiceShowsANewWindowWithTheVersionReadAfresh)
{
    QWidget Main;
    const QString Files[] = {Program("one", {{0x0419, 0x04E3}}, {{"041904E3", {{"FileVersion", "1.1"}}}}),
                             Program("two", {{0x0419, 0x04E3}}, {{"041904E3", {{"FileVersion", "2.2"}}}})};
    QPointer<TAboutForm> Windows[2];
    QString Shown[2];
    for (int I = 0; I < 2; ++I) {
        Application::SetExeName(Files[I]);
        // The main window's About command.
        if (!AboutForm)
            AboutForm = new TAboutForm(&Main);
        Windows[I] = AboutForm;
        QTimer::singleShot(0, AboutForm, [&, I] {
            Shown[I] = AboutForm->Label2->text();
            QTest::keyClick(AboutForm->Button1, Qt::Key_Escape);
        });
        AboutForm->exec();
        EXPECT_EQ(AboutForm, nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(Windows[I].isNull()) << "window " << I << " was not destroyed";
    }
    EXPECT_EQ(Shown[0], "Version 1.1");
    EXPECT_EQ(Shown[1], "Version 2.2");
    EXPECT_TRUE(Main.findChildren<TAboutForm*>().isEmpty());
}

TEST_F(About, EscapeFromAnyControlEndsWithOk)
{
    const std::function<QWidget*(TAboutForm*)> Targets[] = {
        [](TAboutForm* F) { return F->focusWidget(); },
        [](TAboutForm* F) { return static_cast<QWidget*>(F->Button1); },
        [](TAboutForm* F) { return static_cast<QWidget*>(F->Panel1); },
        [](TAboutForm* F) { return static_cast<QWidget*>(F->Label1); },
        [](TAboutForm* F) { return static_cast<QWidget*>(F->Label2); },
        [](TAboutForm* F) { return static_cast<QWidget*>(F->Label3); },
        [](TAboutForm* F) { return static_cast<QWidget*>(F->Image1); },
        [](TAboutForm* F) { return static_cast<QWidget*>(F->Image2); },
        [](TAboutForm* F) { return static_cast<QWidget*>(F); },
    };
    QWidget Main;
    int Index = 0;
    for (const auto& Target : Targets) {
        AboutForm = new TAboutForm(&Main);
        QPointer<TAboutForm> Form = AboutForm;
        int Result = RunModal(AboutForm, [&](TAboutForm* F) {
            QWidget* W = Target(F);
            ASSERT_NE(W, nullptr);
            QTest::keyClick(W, Qt::Key_Escape);
        });
        EXPECT_EQ(Result, 1) << "target " << Index;
        EXPECT_EQ(AboutForm, nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(Form.isNull());
        ++Index;
    }
}

TEST_F(About, OtherKeysDoNotCloseTheWindow)
{
    AboutForm = new TAboutForm;
    bool StillOpen = false;
    int Result = RunModal(AboutForm, [&](TAboutForm* F) {
        QTest::keyClick(F->Button1, Qt::Key_A);
        QTest::keyClick(F->Label1, Qt::Key_Q, Qt::AltModifier);
        QTest::keyClick(F, Qt::Key_Left);
        StillOpen = F->isVisible() && AboutForm == F;
        F->Button1->click();
    });
    EXPECT_TRUE(StillOpen);
    EXPECT_EQ(Result, 1);
}

TEST_F(About, CloseBoxEndsWithCancel)
{
    AboutForm = new TAboutForm;
    QPointer<TAboutForm> Form = AboutForm;
    int Result = RunModal(AboutForm, [](TAboutForm* F) { F->close(); });
    EXPECT_EQ(Result, 2);
    EXPECT_EQ(AboutForm, nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Form.isNull());
}

TEST_F(About, DestroyedWithItsOwnerClearsTheGlobal)
{
    auto* Main = new QWidget;
    AboutForm = new TAboutForm(Main);
    delete Main;
    EXPECT_EQ(AboutForm, nullptr);
}

} // namespace

TEST_F(About, ShownCentredOverItsOwnerFramesIncluded)
{
    QWidget Main;
    Main.setGeometry(137, 211, 505, 467);
    Main.show();
    auto* Window = new TAboutForm(&Main);
    QPoint Centre;
    QTimer::singleShot(0, Window, [&] {
        Centre = Window->frameGeometry().center();
        QTest::keyClick(Window->Button1, Qt::Key_Escape);
    });
    Window->exec();
    EXPECT_LE((Centre - Main.frameGeometry().center()).manhattanLength(), 2) << Centre.x() << "," << Centre.y();
}
