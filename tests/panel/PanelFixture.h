#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "app/Application.h"
#include "tests/support/TestSupport.h"
#include "tests/support/VelmorDouble.h"
#include "ui/Vlm_main.h"

namespace VD = VelmorDouble;
using Strings = std::vector<std::string>;

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
    }

    void Tick()
    {
        W->TimerTimer(W->Timer);
        W->Timer->stop();
    }

    // Created, and connected by the first tick; the calls so far forgotten.
    void CreateConnected()
    {
        Create();
        Tick();
        ASSERT_TRUE(W->FConnected);
        VD::ClearCalls();
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

    static std::vector<std::string> Log() { return VD::Log(); }
};
