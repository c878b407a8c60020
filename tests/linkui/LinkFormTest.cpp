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

TEST_F(LinkForm, AMalformedFileIsShownAsItStandsAndWrittenOnlyAfterAChange)
{
    // A typo in one option: the rest of the line is shown, not the virtual
    // controller, and what is wrong is said.
    WriteFile("# the bench line\nserial:/dev/ttyUSB0?adress=1&baud=9600\n");
    {
        TLinkForm F(Places);
        const std::string Note = F.lbNote->text().toStdString();
        EXPECT_NE(Note.find("испорчен"), std::string::npos) << Note;
        EXPECT_NE(Note.find("unknown option \"adress\""), std::string::npos) << Note;
        EXPECT_NE(Note.find(File.string()), std::string::npos) << Note;
        EXPECT_NE(Note.find("serial:/dev/ttyUSB0?adress=1&baud=9600"), std::string::npos) << "the line as it stands";
        EXPECT_EQ(F.cbKind->currentIndex(), 1);
        EXPECT_EQ(F.cbPort->currentText(), QStringLiteral("/dev/ttyUSB0"));
        EXPECT_EQ(F.cbBaud->currentText(), QStringLiteral("9600"));
        // OK without a change writes nothing, however it is reached.
        EXPECT_FALSE(Ok(F)->isEnabled());
        Ok(F)->click();
        emit F.Buttons->accepted();
        EXPECT_FALSE(F.Saved());
        Cancel(F)->click();
        EXPECT_FALSE(F.Saved());
    }
    EXPECT_EQ(Slurp(File), "# the bench line\nserial:/dev/ttyUSB0?adress=1&baud=9600\n");

    // A speed the line cannot have: the port stays; a change, then OK,
    // writes the line shown (the port as read needs no second OK).
    WriteFile("serial:/dev/ttyUSB0?baud=12345&address=4\n");
    {
        TLinkForm F(Places);
        EXPECT_NE(F.lbNote->text().indexOf(QStringLiteral("baud 12345")), -1) << F.lbNote->text().toStdString();
        EXPECT_EQ(F.cbPort->currentText(), QStringLiteral("/dev/ttyUSB0"));
        EXPECT_EQ(F.seAddress->value(), 4);
        EXPECT_FALSE(Ok(F)->isEnabled());
        F.cbBaud->setCurrentIndex(F.cbBaud->findText(QStringLiteral("19200")));
        EXPECT_TRUE(Ok(F)->isEnabled());
        Ok(F)->click();
        EXPECT_TRUE(F.Saved()) << F.lbError->text().toStdString();
    }
    EXPECT_EQ(Slurp(File), "serial:/dev/ttyUSB0?baud=19200&address=4\n");

    // Nothing readable at all: the default is shown, and still not written.
    WriteFile("bogus\n");
    TLinkForm F(Places);
    EXPECT_EQ(F.cbKind->currentIndex(), 0);
    EXPECT_FALSE(Ok(F)->isEnabled());
    emit F.Buttons->accepted();
    EXPECT_EQ(Slurp(File), "bogus\n");
    F.cbKind->setCurrentIndex(1);
    F.cbKind->setCurrentIndex(0);
    Ok(F)->click();
    EXPECT_TRUE(F.Saved());
    EXPECT_EQ(Slurp(File), "virtual\n");
}

TEST_F(LinkForm, APortTypedInThatIsNotThereIsNamedBeforeItIsWritten)
{
    WriteFile("serial:" + First.Slave + "?baud=9600\n");
    TLinkForm F(Places);
    const std::string Gone = Dir.path().toStdString() + "/dev/ttyUSB7";
    F.cbPort->setEditText(QString::fromStdString(Gone));
    Ok(F)->click();
    EXPECT_FALSE(F.Saved());
    EXPECT_TRUE(F.lbError->isVisibleTo(&F));
    EXPECT_NE(F.lbError->text().indexOf(QString::fromStdString(Gone)), -1) << F.lbError->text().toStdString();
    EXPECT_EQ(Slurp(File), "serial:" + First.Slave + "?baud=9600\n") << "the working link is kept";
    // Said once; the second OK writes it (an adapter to be plugged in).
    Ok(F)->click();
    EXPECT_TRUE(F.Saved());
    EXPECT_EQ(Slurp(File), "serial:" + Gone + "?baud=9600\n");

    // A port that is there is written at once.
    TLinkForm Again(Places);
    Again.cbPort->setEditText(QString::fromStdString(Second.Slave));
    Ok(Again)->click();
    EXPECT_TRUE(Again.Saved());
    EXPECT_EQ(Slurp(File), "serial:" + Second.Slave + "?baud=9600\n");
}

TEST_F(LinkForm, ANameWithNoPortBehindItIsLastMarkedAndNeverOfferedFirst)
{
    // ttyS0: the kernel's name with no UART (sysfs type 0); ttyS1 a UART.
    Pty NoUart, Uart;
    const fs::path Dev = Places.Ports.Dev, Sys = Places.Ports.SysTty;
    fs::create_directories(Dev);
    fs::create_symlink(NoUart.Slave, Dev / "ttyS0");
    fs::create_symlink(Uart.Slave, Dev / "ttyS1");
    fs::create_directories(Sys / "ttyS0");
    fs::create_directories(Sys / "ttyS1");
    std::ofstream(Sys / "ttyS0" / "type") << "0\n";
    std::ofstream(Sys / "ttyS1" / "type") << "4\n";
    {
        TLinkForm F(Places);
        ASSERT_EQ(F.cbPort->count(), 4);
        EXPECT_EQ(F.cbPort->itemText(2).toStdString(), (Dev / "ttyS1").string());
        EXPECT_EQ(F.cbPort->itemText(3).toStdString(), (Dev / "ttyS0").string());
        EXPECT_NE(F.cbPort->itemData(3, Qt::DisplayRole).toString().indexOf(QStringLiteral("нет устройства")), -1);
        EXPECT_EQ(F.cbPort->itemData(2, Qt::DisplayRole).toString().indexOf(QStringLiteral("нет устройства")), -1);
        EXPECT_EQ(F.cbPort->currentIndex(), 0);
    }
    // Only the name without a port: nothing is chosen for the operator.
    fs::remove_all(Places.Ports.ById);
    fs::remove(Dev / "ttyS1");
    TLinkForm F(Places);
    ASSERT_EQ(F.cbPort->count(), 1);
    EXPECT_EQ(F.cbPort->currentIndex(), -1);
    F.cbKind->setCurrentIndex(1);
    std::string Error;
    EXPECT_EQ(F.ShownLine(Error), "");
    EXPECT_EQ(Error, "Укажите порт.");
    // Named by the setting, it is shown as the setting stands.
    WriteFile("serial:" + (Dev / "ttyS0").string() + "\n");
    TLinkForm Named(Places);
    EXPECT_EQ(Named.cbPort->currentIndex(), 0);
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
    // Nor is the scan looked for in a library that is not ours.
    EXPECT_EQ(TLinkForm::LibraryScan(), nullptr);
    EXPECT_EQ(TLinkForm::TPlaces::FromEnvironment().Scan, nullptr);
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
