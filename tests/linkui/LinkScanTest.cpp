// "Найти" in the link dialog, on a scan function of the test's own in place
// of the library's: the scan runs off the GUI thread on the line shown, its
// progress and finds reach the dialog, a pick sets the address, the cancel
// stops it midway, a failure is said, and a dialog closed mid-scan ends it.
// On a library that is not ours there is no scan.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/Pty.h"
#include "ui/LinkForm.h"

namespace {

// What the fake scan saw and how it behaves.
struct FakeScan {
    std::mutex Lock;
    std::string Link;
    std::thread::id Thread;
    bool AddressesGiven = false;
    std::atomic<int> Probed{0};
    std::atomic<int> DelayMs{0};
    std::atomic<bool> Fail{false};
    // Closed: the scan waits at address 10 until the test opens it (10 s at
    // most), so a cancel lands at a known place.
    std::atomic<bool> Gate{true};
};
FakeScan* Fake = nullptr;

// A line with controllers at 3 and 7: one probe per address 1..247, each
// reported, stopping when the progress callback says so.
VLM_BOOL Scan(const char* Link, const int32_t* Addresses, int32_t Count, TLinkForm::TScanFoundFn Found,
              TLinkForm::TScanProgressFn Progress, void* User, char* Error, size_t ErrorSize)
{
    {
        std::lock_guard<std::mutex> L(Fake->Lock);
        Fake->Link = Link ? Link : "";
        Fake->Thread = std::this_thread::get_id();
        Fake->AddressesGiven = Addresses != nullptr || Count != 0;
    }
    if (Fake->Fail) {
        std::snprintf(Error, ErrorSize, "Cannot open the port: busy, opened exclusively by another program");
        return 0;
    }
    for (int32_t A = 1; A <= 247; ++A) {
        ++Fake->Probed;
        std::this_thread::sleep_for(std::chrono::milliseconds(Fake->DelayMs));
        for (int Waited = 0; A == 10 && !Fake->Gate && Waited < 10000; ++Waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (A == 3)
            Found(User, 3, "VLM-1 virtual controller #3");
        if (A == 7)
            Found(User, 7, "VLM-1 virtual controller #7");
        if (!Progress(User, A, 247))
            return 1;
    }
    return 1;
}

class LinkScan : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    TestSupport::Pty Port;
    FakeScan State;
    TLinkForm::TPlaces Places;

    void SetUp() override
    {
        Fake = &State;
        Places.XdgConfigHome = Dir.path().toStdString() + "/config";
        Places.Ports.ById = Dir.path().toStdString() + "/none";
        Places.Ports.Dev = Dir.path().toStdString() + "/none";
        Places.Ports.SysTty = Dir.path().toStdString() + "/none";
        Places.Scan = &Scan;
    }
    void TearDown() override { Fake = nullptr; }

    // A dialog on a serial line at 19200 baud, 8N1.
    void OnSerial(TLinkForm& F)
    {
        F.cbKind->setCurrentIndex(1);
        F.cbPort->setEditText(QString::fromStdString(Port.Slave));
        F.cbBaud->setCurrentIndex(F.cbBaud->findText(QStringLiteral("19200")));
        F.cbFraming->setCurrentIndex(F.cbFraming->findText(QStringLiteral("8N1")));
    }
    static bool Ended(TLinkForm& F) { return QTest::qWaitFor([&F] { return !F.Scanning(); }, 10000); }
    static QPushButton* Ok(TLinkForm& F) { return F.Buttons->button(QDialogButtonBox::Ok); }
};

TEST_F(LinkScan, FindsTheControllersOfTheLineShownOffTheGuiThread)
{
    TLinkForm F(Places);
    EXPECT_EQ(F.btScan->text(), QStringLiteral("Найти"));
    EXPECT_TRUE(F.btScan->isEnabled());
    EXPECT_FALSE(F.btScan->isVisibleTo(&F)) << "the virtual controller has no line to scan";
    OnSerial(F);
    EXPECT_TRUE(F.btScan->isVisibleTo(&F));
    F.seAddress->setValue(12);

    State.DelayMs = 1;
    F.btScan->click();
    EXPECT_TRUE(F.Scanning());
    EXPECT_TRUE(F.pbScan->isVisibleTo(&F));
    EXPECT_EQ(F.btScan->text(), QStringLiteral("Остановить"));
    EXPECT_FALSE(Ok(F)->isEnabled()) << "no OK while the line is scanned";
    EXPECT_FALSE(F.cbPort->isEnabled());
    ASSERT_TRUE(Ended(F));

    {
        std::lock_guard<std::mutex> L(State.Lock);
        EXPECT_EQ(State.Link, "serial:" + Port.Slave + "?baud=19200&parity=none&stopbits=1&address=12");
        EXPECT_NE(State.Thread, std::this_thread::get_id());
        EXPECT_FALSE(State.AddressesGiven) << "all of 1..247";
    }
    EXPECT_EQ(State.Probed, 247);
    EXPECT_FALSE(F.pbScan->isVisibleTo(&F));
    EXPECT_EQ(F.btScan->text(), QStringLiteral("Найти"));
    EXPECT_TRUE(Ok(F)->isEnabled());
    EXPECT_TRUE(F.cbPort->isEnabled());
    ASSERT_EQ(F.cbFound->count(), 2);
    EXPECT_TRUE(F.cbFound->isVisibleTo(&F));
    EXPECT_EQ(F.cbFound->itemText(0), QStringLiteral("3 — VLM-1 virtual controller #3"));
    EXPECT_EQ(F.cbFound->itemText(1), QStringLiteral("7 — VLM-1 virtual controller #7"));
    EXPECT_NE(F.lbScan->text().indexOf(QStringLiteral("Найдено контроллеров: 2")), -1)
        << F.lbScan->text().toStdString();
    // Found is offered, not chosen: the address changes with the pick.
    EXPECT_EQ(F.seAddress->value(), 12);
    F.cbFound->setCurrentIndex(1);
    emit F.cbFound->activated(1);
    EXPECT_EQ(F.seAddress->value(), 7);
    std::string Error;
    EXPECT_EQ(F.ShownLine(Error), "serial:" + Port.Slave + "?baud=19200&parity=none&stopbits=1&address=7");

    // Another line: what was found on this one goes.
    F.cbKind->setCurrentIndex(3);
    EXPECT_EQ(F.cbFound->count(), 0);
}

TEST_F(LinkScan, TheCancelStopsItMidwayAndAFailureIsSaid)
{
    TLinkForm F(Places);
    OnSerial(F);
    State.Gate = false;
    F.btScan->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return State.Probed >= 10; }, 10000));
    F.btScan->click(); // "Остановить", while the scan is at address 10
    State.Gate = true;
    ASSERT_TRUE(Ended(F));
    EXPECT_EQ(State.Probed, 10) << "no request after the cancel";
    EXPECT_EQ(F.cbFound->count(), 2) << "3 and 7 were found before the cancel";
    EXPECT_NE(F.lbScan->text().indexOf(QStringLiteral("остановлен")), -1) << F.lbScan->text().toStdString();
    EXPECT_EQ(F.btScan->text(), QStringLiteral("Найти"));

    State.Fail = true;
    F.btScan->click();
    ASSERT_TRUE(Ended(F));
    EXPECT_NE(F.lbScan->text().indexOf(QStringLiteral("Поиск не удался: Cannot open the port: busy")), -1)
        << F.lbScan->text().toStdString();
    EXPECT_EQ(F.cbFound->count(), 0);

    // A line the dialog cannot write is not scanned.
    State.Fail = false;
    State.Probed = 0;
    F.cbPort->setEditText(QString());
    F.btScan->click();
    EXPECT_FALSE(F.Scanning());
    EXPECT_EQ(F.lbError->text(), QStringLiteral("Укажите порт."));
    EXPECT_EQ(State.Probed, 0);
}

TEST_F(LinkScan, ClosingTheDialogEndsTheScanAndWritesNothing)
{
    State.Gate = false;
    std::thread Opener;
    {
        TLinkForm F(Places);
        OnSerial(F);
        F.btScan->click();
        const bool AtTen = QTest::qWaitFor([&] { return State.Probed >= 10; }, 10000);
        EXPECT_TRUE(AtTen);
        F.Buttons->button(QDialogButtonBox::Cancel)->click();
        EXPECT_FALSE(F.Saved());
        // The scan goes on to its next progress report, then sees the cancel.
        Opener = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            State.Gate = true;
        });
    } // destroyed with the scan under way: it is stopped and waited for
    Opener.join();
    EXPECT_EQ(State.Probed, 10);
    QTest::qWait(50);
    EXPECT_EQ(State.Probed, 10) << "the scan went on after the dialog";
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Places.FilePath())));
}

TEST_F(LinkScan, NoScanWithoutOneOrWhileTheLinkIsFixed)
{
    Places.Scan = nullptr;
    TLinkForm F(Places);
    OnSerial(F);
    EXPECT_FALSE(F.btScan->isEnabled());
    F.btScan->click();
    EXPECT_FALSE(F.Scanning());

    Places.Scan = &Scan;
    Places.EnvLink = "serial:/dev/ttyUSB0";
    TLinkForm Fixed(Places);
    EXPECT_FALSE(Fixed.btScan->isEnabled());
}

} // namespace
