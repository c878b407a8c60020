#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "application/Application.h"
#include "tests/support/TestSupport.h"
#include "tests/support/VelmorDouble.h"
#include "ui/Vlm_main.h"

namespace VD = VelmorDouble;
using Strings = std::vector<std::string>;

// The parameters a connection sends, in their order.
inline const Strings AllParameters = {
    "VLM_SetMode(1,0)", "VLM_SetIh(0)", "VLM_SetIa(300)", "VLM_SetIw(200)", "VLM_SetVm(50)",
    "VLM_SetVw(100)", "VLM_SetAw(100)", "VLM_SetLim(0,0,0)", "VLM_SetCtrl(32)"};

// The calls of A, then those of B.
inline Strings Then(Strings A, const Strings& B)
{
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

// The real main window on the recording test double, with its settings file
// in a folder of its own.
class PanelTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    std::unique_ptr<TMainForm> W;

    void SetUp() override
    {
        VD::Reset();
        TestSupport::Boxes().clear();
        Application::SetExeName(Dir.path() + "/velmor");
    }

    void TearDown() override
    {
        if (W)
            W->Timer->stop();
        W.reset();
        Application::SetExeName(QString());
    }

    // Creates the window (FormCreate runs) with the poll timer held still:
    // the tests run ticks themselves.
    void Create()
    {
        W = std::make_unique<TMainForm>();
        W->Timer->stop();
        Settle();
    }

    // Runs the event loop until what the window handed to its device
    // thread has come back and been shown (10 s at most).
    void Settle()
    {
        if (!W)
            return;
        QElapsedTimer T;
        T.start();
        while (!W->DeviceIdle() && T.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ASSERT_TRUE(W->DeviceIdle()) << "the device thread did not answer within 10 s";
    }

    // One tick of the poll, through to its results on the window.
    void Tick()
    {
        W->TimerTimer(W->Timer);
        Settle();
        W->Timer->stop();
    }

    // Created, and connected by the first tick; the calls so far forgotten.
    void CreateConnected()
    {
        Create();
        Tick();
        ASSERT_TRUE(W->FConnected);
        ClearCalls();
    }

    // Created, then disconnected by the operator, with no device to find.
    void CreateWithNoDevice()
    {
        Create();
        W->mnDisconnectClick(nullptr);
        VD::SetOpenResult(false);
    }

    // The connect command's failed attempt: close, open, close and nothing
    // more, its one warning that no device was found, with the library's
    // reason offered behind its details button (not read until pressed), and
    // the panel off line.
    void ExpectNoDeviceWarning()
    {
        EXPECT_EQ(Log(), (Strings{"VLM_CloseDevice()", "VLM_OpenDevice()", "VLM_CloseDevice()"}));
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Boxes()[0].Text, "Устройство не найдено.");
        EXPECT_EQ(Boxes()[0].Caption, "Warning");
        EXPECT_EQ(Boxes()[0].Flags, 0x30);
        EXPECT_TRUE(Boxes()[0].Details) << "the box offers the reason";
        EXPECT_EQ(Boxes()[0].Delivered, 0);
        EXPECT_EQ(Boxes()[0].Detail, "");
        EXPECT_EQ(W->StatusText(0), " OFF LINE ");
    }

    // The operator presses the warning's details button: exactly one call,
    // the library's last error, and its text in the box.
    void ExpectDetailsShow(const char* Reason)
    {
        ClearCalls();
        ASSERT_TRUE(TestSupport::PressDetails(0));
        EXPECT_EQ(Log(), (Strings{"VLM_GetLastError()"}));
        EXPECT_EQ(Boxes()[0].Delivered, 1);
        EXPECT_EQ(Boxes()[0].Detail, Reason);
    }

    // The operator's pick of a list item.
    static void Pick(QComboBox* List, int Index)
    {
        List->setCurrentIndex(Index);
        emit List->activated(Index);
    }

    // The operator types a text into a field and presses Enter.
    static void Type(TFloatEdit* Field, const QString& Text)
    {
        Field->selectAll();
        QTest::keyClicks(Field, Text);
        QTest::keyClick(Field, Qt::Key_Return);
    }

    // The calls so far, once the device thread has made what it was asked.
    std::vector<std::string> Log()
    {
        Settle();
        return VD::Log();
    }

    // The calls of one name so far, once the device thread has made them.
    std::vector<VD::Call> CallsOf(const std::string& Name)
    {
        Settle();
        return VD::CallsOf(Name);
    }

    // Forgets the calls so far, once the device thread has made them.
    void ClearCalls()
    {
        Settle();
        VD::ClearCalls();
    }

    // The boxes shown so far, once the device thread's results are in.
    std::vector<TestSupport::ShownBox>& Boxes()
    {
        Settle();
        return TestSupport::Boxes();
    }
};
