// The real panel on libvelmor.so with a serial link to a port that is not
// there: the connect command's warning and the off-line tooltip carry the
// library's own reason.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include "application/Application.h"
#include "tests/support/TestSupport.h"
#include "ui/Vlm_main.h"

namespace {

TEST(OffLine, AMissingPortIsNamedInTheWarningAndInTheTooltip)
{
    QTemporaryDir Dir;
    setenv("VELMOR_LINK", "serial:/dev/velmor-no-such-adapter?baud=9600", 1);
    Application::SetExeName(Dir.path() + "/velmor");
    TestSupport::Boxes().clear();
    auto W = std::make_unique<TMainForm>();
    W->Timer->stop();
    W->show();
    const auto Idle = [&] { return QTest::qWaitFor([&] { return W->DeviceIdle(); }, 10000); };
    ASSERT_TRUE(Idle());

    W->mnConnect->trigger();
    ASSERT_TRUE(Idle());
    ASSERT_EQ(TestSupport::Boxes().size(), 1u);
    EXPECT_EQ(TestSupport::Boxes()[0].Text, "Устройство не найдено.");
    EXPECT_EQ(W->StatusText(0), " OFF LINE ");
    // The reason is offered, not read: only the details button reads it.
    ASSERT_TRUE(TestSupport::Boxes()[0].Details);
    EXPECT_EQ(TestSupport::Boxes()[0].Detail, "");
    ASSERT_TRUE(TestSupport::PressDetails(0));
    ASSERT_TRUE(QTest::qWaitFor([] { return TestSupport::Boxes()[0].Delivered > 0; }, 10000));
    ASSERT_TRUE(Idle());
    EXPECT_EQ(TestSupport::Boxes()[0].Delivered, 1);
    EXPECT_EQ(TestSupport::Boxes()[0].Detail.toStdString(),
              "Cannot open the port /dev/velmor-no-such-adapter: no such port (is the adapter plugged in?)");

    // The poll keeps trying; the tooltip, as it is about to show, says why.
    W->TimerTimer(W->Timer);
    ASSERT_TRUE(Idle());
    W->Timer->stop();
    auto* LinkPanel = W->findChild<QLabel*>(QStringLiteral("StatusPanel0"));
    ASSERT_TRUE(LinkPanel);
    QHelpEvent Hover(QEvent::ToolTip, QPoint(5, 5), LinkPanel->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(LinkPanel, &Hover);
    ASSERT_TRUE(Idle());
    EXPECT_TRUE(LinkPanel->toolTip().startsWith("Link: /dev/velmor-no-such-adapter at 9600 baud"))
        << LinkPanel->toolTip().toStdString();
    EXPECT_TRUE(LinkPanel->toolTip().endsWith(
        "\nOFF LINE: Cannot open the port /dev/velmor-no-such-adapter: no such port (is the adapter plugged in?)"))
        << LinkPanel->toolTip().toStdString();
    EXPECT_EQ(TestSupport::Boxes().size(), 1u) << "the poll says nothing to the operator";
    W->close();
}

} // namespace
