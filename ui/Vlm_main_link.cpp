// The link the device library reads: the menu item "Настройка линии…" with
// its dialog, and the link panel's tooltip that names the link.
#include "ui/Vlm_main.h"

#include <QEvent>
#include <QLabel>

#include <cstdlib>

#include "application/Bind.h"
#include "linksetting/LinkConfig.h"
#include "linksetting/LinkFormat.h"
#include "platform/Guard.h"
#include "ui/DeviceLibrary.h"
#include "ui/LinkForm.h"

namespace {

// While the link is down the tooltip names what the next connection will
// read, read again when it is about to show, and why the link is down, as
// the library says it then.
class TLinkTipRefresh : public QObject {
public:
    TLinkTipRefresh(TMainForm* Form) : QObject(Form), FForm(Form) {}

protected:
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (Event->type() == QEvent::ToolTip && !FForm->FConnected) {
            FForm->ShowLinkTip();
            Guarded([&] { FForm->AskWhyOffLine(); });
        }
        return false;
    }

private:
    TMainForm* FForm;
};

} // namespace

void TMainForm::SetupLinkMenu()
{
    // Only our library reads the link setting; a library dropped in its
    // place has a link of its own, which the dialog would not change.
    mnLinkSetup->setEnabled(DeviceLibrary::IsOurs());
    Bind(mnLinkSetup, &QAction::triggered, this, &TMainForm::mnLinkSetupClick);
    FStatusPanels[0]->installEventFilter(new TLinkTipRefresh(this));
    ShowLinkTip();
}

namespace {

QString LinkDescription()
{
    if (!DeviceLibrary::IsOurs())
        return QStringLiteral("Link: set by the device library in use, which is not Velmor's own");
    const Link::LinkSetting S = Link::ReadLinkSetting();
    if (!S.Ok)
        return QString::fromStdString(S.Error);
    QString Tip = QStringLiteral("Link: ") + QString::fromStdString(Link::DescribeLink(S.Config));
    if (!S.Source.empty())
        Tip += QStringLiteral(" (") + QString::fromStdString(S.Source) + QStringLiteral(")");
    return Tip;
}

} // namespace

QString TMainForm::LinkTip() const
{
    // On line: the controller's text whole (the panel may show it cut),
    // then the link. Off line: the link, then why it is down.
    if (FConnected)
        return StatusText(0).trimmed() + QLatin1Char('\n') + LinkDescription();
    QString Tip = LinkDescription();
    if (!FLastFailure.isEmpty())
        Tip += QStringLiteral("\nOFF LINE: ") + FLastFailure;
    return Tip;
}

void TMainForm::ShowLinkTip()
{
    if (FStatusPanels[0])
        FStatusPanels[0]->setToolTip(LinkTip());
}

void TMainForm::mnLinkSetupClick(QObject*)
{
    TLinkForm Form(TLinkForm::TPlaces::FromEnvironment(), this);
    {
        ModalScope Modal;
        Form.exec();
    }
    if (!Form.Saved())
        return;
    ShowLinkTip();
    // The new link is used at once: down and up again, as the Connect
    // command takes it.
    if (FKeepConnected) {
        Disconnect();
        Connect();
    }
}
