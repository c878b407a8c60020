// "Настройка линии…" on the recording test double: the item is there and
// disabled (the double is not our library), and the dialog itself lists the
// ports of a fake folder, writes the line it shows, writes nothing on Cancel,
// and changes nothing while $VELMOR_LINK is set.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "application/Application.h"
#include "tests/support/Pty.h"
#include "tests/support/VelmorDouble.h"
#include "ui/LinkForm.h"
#include "ui/Vlm_main.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& P)
{
    std::ifstream In(P);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
}

using TestSupport::Pty;

class LinkForm : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    Pty First, Second;
    TLinkForm::TPlaces Places;
    fs::path File;

    void SetUp() override
    {
        ASSERT_FALSE(First.Slave.empty());
        const fs::path Root = Dir.path().toStdString();
        Places.XdgConfigHome = (Root / "config").string();
        Places.Ports.ById = (Root / "by-id").string();
        Places.Ports.Dev = (Root / "dev").string();
        Places.Ports.SysTty = (Root / "sys").string();
        fs::create_directories(Places.Ports.ById);
        fs::create_symlink(First.Slave, fs::path(Places.Ports.ById) / "usb-FTDI_FT232R_USB_UART_A1-if00-port0");
        fs::create_symlink(Second.Slave, fs::path(Places.Ports.ById) / "usb-Silicon_Labs_CP2102N-if00-port0");
        File = Root / "config" / "velmor" / "link.conf";
    }

    void WriteFile(const std::string& Text)
    {
        fs::create_directories(File.parent_path());
        std::ofstream(File) << Text;
    }

    static QPushButton* Ok(TLinkForm& F) { return F.Buttons->button(QDialogButtonBox::Ok); }
    static QPushButton* Cancel(TLinkForm& F) { return F.Buttons->button(QDialogButtonBox::Cancel); }
};

TEST_F(LinkForm, ListsThePortsOfTheFolderAndWritesTheLineItShows)
{
    TLinkForm F(Places);
    EXPECT_EQ(F.cbKind->currentIndex(), 0) << "no file: the virtual controller";
    ASSERT_EQ(F.cbPort->count(), 2);
    const std::string Ftdi = Places.Ports.ById + "/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
    EXPECT_EQ(F.cbPort->itemText(0).toStdString(), Ftdi);
    EXPECT_EQ(F.cbPort->itemData(0, Qt::DisplayRole).toString().toStdString(), Ftdi + " — FTDI FT232R USB UART A1");

    F.cbKind->setCurrentIndex(1);
    EXPECT_TRUE(F.cbPort->isVisibleTo(&F));
    EXPECT_FALSE(F.edHost->isVisibleTo(&F));
    F.cbPort->setCurrentIndex(0);
    F.cbBaud->setCurrentIndex(F.cbBaud->findText(QStringLiteral("9600")));
    F.seAddress->setValue(12);
    std::string Error;
    const std::string Shown = F.ShownLine(Error);
    EXPECT_EQ(Shown, "serial:" + Ftdi + "?baud=9600&address=12") << Error;
    Ok(F)->click();
    EXPECT_TRUE(F.Saved());
    EXPECT_EQ(F.result(), QDialog::Accepted);
    EXPECT_EQ(Slurp(File), Shown + "\n");

    // Opened again, it shows what it wrote; a port typed by hand and a TCP
    // gateway with a deadline are written as shown too.
    TLinkForm Again(Places);
    EXPECT_EQ(Again.cbKind->currentIndex(), 1);
    EXPECT_EQ(Again.cbPort->currentIndex(), 0);
    EXPECT_EQ(Again.cbPort->currentText().toStdString(), Ftdi);
    EXPECT_EQ(Again.cbBaud->currentText(), QStringLiteral("9600"));
    EXPECT_EQ(Again.seAddress->value(), 12);
    Again.cbPort->setEditText(QStringLiteral("/dev/ttyAMA0"));
    EXPECT_EQ(Again.ShownLine(Error), "serial:/dev/ttyAMA0?baud=9600&address=12");
    Again.cbKind->setCurrentIndex(2);
    Again.edHost->setText(QStringLiteral("10.0.0.7"));
    Again.seTcpPort->setValue(4001);
    Again.edTimeout->setText(QStringLiteral("250"));
    Ok(Again)->click();
    EXPECT_EQ(Slurp(File), "tcp:10.0.0.7:4001?address=12&timeout=250\n");
}

TEST_F(LinkForm, CancelAndRefusedInputWriteNothing)
{
    {
        TLinkForm F(Places);
        F.cbKind->setCurrentIndex(1);
        Cancel(F)->click();
        EXPECT_FALSE(F.Saved());
    }
    EXPECT_FALSE(fs::exists(File.parent_path())) << "Cancel made the folder or the file";

    WriteFile("serial:/dev/ttyUSB0?baud=19200\n");
    TLinkForm F(Places);
    F.cbKind->setCurrentIndex(2);
    F.edHost->setText(QStringLiteral("gateway.local")); // names are not looked up
    Ok(F)->click();
    EXPECT_FALSE(F.Saved());
    EXPECT_TRUE(F.lbError->isVisibleTo(&F));
    EXPECT_NE(F.lbError->text().indexOf(QStringLiteral("not a numeric address")), -1) << F.lbError->text().toStdString();
    F.edHost->clear();
    Ok(F)->click();
    EXPECT_EQ(F.lbError->text(), QStringLiteral("Укажите адрес шлюза."));
    Cancel(F)->click();
    EXPECT_EQ(Slurp(File), "serial:/dev/ttyUSB0?baud=19200\n");
}

TEST_F(LinkForm, VelmorLinkMakesItReadOnly)
{
    WriteFile("virtual\n");
    Places.EnvLink = "serial:/dev/ttyACM3?address=5";
    TLinkForm F(Places);
    EXPECT_NE(F.lbNote->text().indexOf(QStringLiteral("VELMOR_LINK=serial:/dev/ttyACM3?address=5")), -1);
    EXPECT_EQ(F.cbKind->currentIndex(), 1) << "it shows the setting in force";
    EXPECT_EQ(F.cbPort->currentText(), QStringLiteral("/dev/ttyACM3"));
    EXPECT_EQ(F.seAddress->value(), 5);
    EXPECT_FALSE(Ok(F)->isEnabled());
    for (QWidget* W : std::initializer_list<QWidget*>{F.cbKind, F.cbPort, F.cbBaud, F.seAddress, F.edTimeout})
        EXPECT_FALSE(W->isEnabled()) << W->objectName().toStdString();
    EXPECT_EQ(Cancel(F)->text(), QStringLiteral("Закрыть"));
    Ok(F)->click();
    emit F.Buttons->accepted();
    EXPECT_FALSE(F.Saved());
    EXPECT_EQ(Slurp(File), "virtual\n");
}

TEST_F(LinkForm, AMalformedFileIsShownWithItsTextAndCanBeReplaced)
{
    WriteFile("serial:/dev/ttyUSB0?adress=1\n");
    TLinkForm F(Places);
    const std::string Note = F.lbNote->text().toStdString();
    EXPECT_NE(Note.find("испорчен"), std::string::npos) << Note;
    EXPECT_NE(Note.find("unknown option \"adress\""), std::string::npos) << Note;
    EXPECT_NE(Note.find(File.string()), std::string::npos) << Note;
    EXPECT_TRUE(Ok(F)->isEnabled());
    EXPECT_EQ(F.cbKind->currentIndex(), 0);
    Ok(F)->click();
    EXPECT_TRUE(F.Saved());
    EXPECT_EQ(Slurp(File), "virtual\n");
}

TEST_F(LinkForm, OkWithNothingChangedWritesTheSettingBackWhole)
{
    // What the dialog has a field for and what it has none for (the trace)
    // survive an OK: a gateway of either kind, each serial framing.
    for (const char* Line : {"modbus-tcp:10.0.0.7:5020?unit=3&timeout=80",
                             "tcp:[::1]:4001?baud=19200&address=7",
                             "serial:/dev/ttyUSB0?parity=none&stopbits=1&trace=/tmp/line.trace",
                             "serial:/dev/ttyUSB0?baud=9600&parity=odd&stopbits=2", "serial:/dev/ttyUSB0?parity=none"}) {
        WriteFile(std::string(Line) + "\n");
        TLinkForm F(Places);
        EXPECT_EQ(F.cbFraming->isVisibleTo(&F), std::string(Line).rfind("serial:", 0) == 0) << Line;
        Ok(F)->click();
        EXPECT_TRUE(F.Saved()) << Line << ": " << F.lbError->text().toStdString();
        EXPECT_EQ(Slurp(File), std::string(Line) + "\n");
    }
    TLinkForm F(Places);
    F.cbFraming->setCurrentIndex(F.cbFraming->findText(QStringLiteral("8E1")));
    std::string Error;
    EXPECT_EQ(F.ShownLine(Error), "serial:/dev/ttyUSB0");
}

TEST(LinkMenu, TheItemStandsAboveConnectAndIsDisabledOnALibraryNotOurs)
{
    VelmorDouble::Reset();
    QTemporaryDir Dir;
    Application::SetExeName(Dir.path() + "/velmor");
    auto W = std::make_unique<TMainForm>();
    W->Timer->stop();
    const QList<QAction*> Items = W->mnPort->actions();
    ASSERT_EQ(Items.size(), 5);
    EXPECT_EQ(Items[0], W->mnLinkSetup);
    EXPECT_EQ(Items[1], W->mnConnect);
    EXPECT_EQ(Items[2], W->mnDisconnect);
    EXPECT_TRUE(Items[3]->isSeparator());
    EXPECT_EQ(Items[4], W->mnExit);
    EXPECT_EQ(W->mnLinkSetup->text(), QStringLiteral("Настройка линии…"));
    EXPECT_FALSE(W->mnLinkSetup->shortcut().isEmpty());
    for (QAction* Other : {W->mnConnect, W->mnDisconnect, W->mnExit, W->mnAbout})
        EXPECT_NE(W->mnLinkSetup->shortcut(), Other->shortcut());
    EXPECT_FALSE(W->mnLinkSetup->isEnabled());
    const QLabel* LinkPanel = W->findChild<QLabel*>(QStringLiteral("StatusPanel0"));
    ASSERT_TRUE(LinkPanel);
    EXPECT_EQ(LinkPanel->text(), QStringLiteral(" OFF LINE "));
    EXPECT_NE(LinkPanel->toolTip().indexOf(QStringLiteral("not Velmor's own")), -1)
        << LinkPanel->toolTip().toStdString();
    // A disabled item does nothing, not even through its shortcut's action.
    VelmorDouble::ClearCalls();
    W->mnLinkSetup->trigger();
    EXPECT_TRUE(VelmorDouble::Calls().empty());
    W->close();
}

} // namespace
