#include "ui/LinkForm.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIcon>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "core/SerialSpeeds.h"
#include "linksetting/LinkFormat.h"
#include "platform/Guard.h"

Link::SerialPortFolders TLinkForm::PortFolders;

namespace {

// The kinds in the order of the list.
enum KindIndex { KindVirtual = 0, KindSerial = 1, KindTcp = 2, KindModbusTcp = 3 };

bool Gateway(int Kind) { return Kind == KindTcp || Kind == KindModbusTcp; }

// A serial line's framings, the Modbus standard's first.
struct Framing {
    Link::Parity Parity;
    int StopBits;
};
constexpr Framing Framings[] = {{Link::Parity::Even, 1}, {Link::Parity::Odd, 1}, {Link::Parity::None, 2},
                                {Link::Parity::None, 1}, {Link::Parity::Even, 2}, {Link::Parity::Odd, 2}};

// A port in the list: its path with what it is ("/dev/ttyUSB0 — FTDI
// FT232R"), while the edit line above the list takes the path alone.
class TPortItem : public QStandardItem {
public:
    TPortItem(const Link::SerialPort& Port) : QStandardItem(QString::fromStdString(Port.Path))
    {
        FShown = QString::fromStdString(Port.Path);
        if (!Port.Description.empty())
            FShown += QStringLiteral(" — ") + QString::fromStdString(Port.Description);
    }
    QVariant data(int Role) const override
    {
        return Role == Qt::DisplayRole ? QVariant(FShown) : QStandardItem::data(Role);
    }

private:
    QString FShown;
};

// Reads link.conf for LinkSettingFrom: errno values as it expects.
int ReadFile(const std::string& Path, std::string& Text)
{
    errno = 0;
    std::ifstream In(Path, std::ios::binary);
    if (!In)
        return errno ? errno : EIO;
    std::ostringstream All;
    All << In.rdbuf();
    Text = All.str();
    return Text.size() > 4096 ? EFBIG : 0;
}

const char* Given(const std::string& S) { return S.empty() ? nullptr : S.c_str(); }

} // namespace

TLinkForm::TPlaces TLinkForm::TPlaces::FromEnvironment()
{
    TPlaces P;
    auto Env = [](const char* Name) {
        const char* V = std::getenv(Name);
        return std::string(V ? V : "");
    };
    P.EnvLink = Env("VELMOR_LINK");
    P.XdgConfigHome = Env("XDG_CONFIG_HOME");
    P.Home = Env("HOME");
    P.Ports = PortFolders;
    return P;
}

std::string TLinkForm::TPlaces::FilePath() const
{
    return Link::LinkFilePath(Given(XdgConfigHome), Given(Home));
}

TLinkForm::TLinkForm(const TPlaces& Places, QWidget* Parent) : QDialog(Parent), FPlaces(Places)
{
    setObjectName(QStringLiteral("LinkForm"));
    setWindowTitle(QStringLiteral("Настройка линии"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    // The panel's font: a window does not take it from its parent by itself.
    if (Parent)
        setFont(Parent->font());

    cbKind = new QComboBox(this);
    cbKind->setObjectName(QStringLiteral("cbKind"));
    cbKind->addItems({QStringLiteral("Виртуальный контроллер"), QStringLiteral("Последовательный порт"),
                      QStringLiteral("Шлюз TCP (RTU поверх TCP)"), QStringLiteral("Шлюз Modbus TCP")});

    cbPort = new QComboBox(this);
    cbPort->setObjectName(QStringLiteral("cbPort"));
    cbPort->setEditable(true);
    cbPort->setInsertPolicy(QComboBox::NoInsert);
    cbPort->setMinimumContentsLength(28);
    auto* Ports = new QStandardItemModel(cbPort);
    for (const Link::SerialPort& P : Link::ListSerialPorts(FPlaces.Ports))
        if (!P.Device.empty())
            Ports->appendRow(new TPortItem(P));
    cbPort->setModel(Ports);

    edHost = new QLineEdit(this);
    edHost->setObjectName(QStringLiteral("edHost"));
    edHost->setPlaceholderText(QStringLiteral("127.0.0.1"));
    seTcpPort = new QSpinBox(this);
    seTcpPort->setObjectName(QStringLiteral("seTcpPort"));
    seTcpPort->setRange(1, 65535);
    seTcpPort->setValue(4001);

    cbBaud = new QComboBox(this);
    cbBaud->setObjectName(QStringLiteral("cbBaud"));
    for (int Baud : Core::SerialSpeeds)
        cbBaud->addItem(QString::number(Baud), Baud);

    cbFraming = new QComboBox(this);
    cbFraming->setObjectName(QStringLiteral("cbFraming"));
    for (const Framing& F : Framings)
        cbFraming->addItem(QString::fromLatin1(Link::FramingName(F.Parity, F.StopBits)));
    cbFraming->setToolTip(QStringLiteral("8 бит данных, чётность (E — чёт, O — нечёт, N — нет) и число "
                                         "стоп-битов; 8E1 — стандарт Modbus"));

    seAddress = new QSpinBox(this);
    seAddress->setObjectName(QStringLiteral("seAddress"));
    seAddress->setRange(1, 247);

    edTimeout = new QLineEdit(this);
    edTimeout->setObjectName(QStringLiteral("edTimeout"));
    edTimeout->setPlaceholderText(QStringLiteral("автоматически"));
    edTimeout->setValidator(new QIntValidator(1, 10000, edTimeout));

    FForm = new QFormLayout;
    FForm->addRow(QStringLiteral("Связь:"), cbKind);
    FForm->addRow(QStringLiteral("Порт:"), cbPort);
    FForm->addRow(QStringLiteral("Адрес шлюза:"), edHost);
    FForm->addRow(QStringLiteral("Порт TCP:"), seTcpPort);
    FForm->addRow(QStringLiteral("Скорость линии, бод:"), cbBaud);
    FForm->addRow(QStringLiteral("Формат байта:"), cbFraming);
    FForm->addRow(QStringLiteral("Адрес контроллера:"), seAddress);
    FForm->addRow(QStringLiteral("Ожидание ответа, мс:"), edTimeout);

    lbNote = new QLabel(this);
    lbNote->setObjectName(QStringLiteral("lbNote"));
    lbNote->setWordWrap(true);
    lbNote->setTextFormat(Qt::PlainText);
    lbError = new QLabel(this);
    lbError->setObjectName(QStringLiteral("lbError"));
    lbError->setWordWrap(true);
    lbError->setTextFormat(Qt::PlainText);
    lbError->setStyleSheet(QStringLiteral("color: #b00000"));
    lbError->hide();

    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    // Plain buttons, as in the panel's other windows.
    for (QAbstractButton* B : Buttons->buttons())
        B->setIcon(QIcon());

    auto* All = new QVBoxLayout(this);
    All->addLayout(FForm);
    All->addWidget(lbNote);
    All->addWidget(lbError);
    All->addWidget(Buttons);
    All->setSizeConstraint(QLayout::SetFixedSize);

    connect(cbKind, &QComboBox::currentIndexChanged, this, [this] { Guarded([&] { KindChanged(); }); });
    connect(Buttons, &QDialogButtonBox::accepted, this, [this] { Guarded([&] { Accept(); }); });
    connect(Buttons, &QDialogButtonBox::rejected, this, [this] { Guarded([&] { reject(); }); });

    // What is in force now.
    const std::string Path = FPlaces.FilePath();
    const Link::LinkSetting Setting =
        Link::LinkSettingFrom(Given(FPlaces.EnvLink), Given(FPlaces.XdgConfigHome), Given(FPlaces.Home), ReadFile);
    FReadOnly = !FPlaces.EnvLink.empty();
    QString Note;
    if (FReadOnly) {
        Note = QStringLiteral("Линию задаёт переменная окружения VELMOR_LINK=%1; файл link.conf не "
                              "действует, пока она задана, и здесь линию не изменить.")
                   .arg(QString::fromStdString(Link::Printable(FPlaces.EnvLink)));
        if (!Setting.Ok)
            Note += QStringLiteral("\n") + QString::fromStdString(Setting.Error);
    } else if (Path.empty()) {
        Note = QStringLiteral("Не найдена домашняя папка: записать файл линии некуда.");
    } else if (!Setting.Ok) {
        Note = QStringLiteral("Файл %1 испорчен: %2\nOK заменит его показанной здесь линией.")
                   .arg(QString::fromStdString(Path), QString::fromStdString(Setting.Error));
    } else {
        Note = QStringLiteral("Линия записывается в файл %1.").arg(QString::fromStdString(Path));
    }
    lbNote->setText(Note);
    Show(Setting.Ok ? Setting.Config : Link::LinkConfig());

    if (FReadOnly || Path.empty()) {
        for (QWidget* W : std::initializer_list<QWidget*>{cbKind, cbPort, edHost, seTcpPort, cbBaud, cbFraming, seAddress, edTimeout})
            W->setEnabled(false);
        Buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
        Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Закрыть"));
    }
}

void TLinkForm::Show(const Link::LinkConfig& C)
{
    const int Kind = C.Type == Link::LinkConfig::Kind::Serial      ? KindSerial
                     : C.Type == Link::LinkConfig::Kind::Tcp       ? KindTcp
                     : C.Type == Link::LinkConfig::Kind::ModbusTcp ? KindModbusTcp
                                                                   : KindVirtual;
    cbKind->setCurrentIndex(Kind);
    FTracePath = C.TracePath;
    for (int I = 0; I < static_cast<int>(std::size(Framings)); ++I)
        if (Framings[I].Parity == C.Parity && Framings[I].StopBits == C.StopBits)
            cbFraming->setCurrentIndex(I);
    if (C.Type == Link::LinkConfig::Kind::Serial) {
        const int Found = cbPort->findData(QString::fromStdString(C.Path), Qt::EditRole);
        if (Found >= 0)
            cbPort->setCurrentIndex(Found);
        else
            cbPort->setEditText(QString::fromStdString(C.Path));
    }
    if (Link::ThroughGateway(C)) {
        edHost->setText(QString::fromStdString(C.Host));
        seTcpPort->setValue(C.Port);
    }
    cbBaud->setCurrentIndex(cbBaud->findData(C.Baud));
    seAddress->setValue(C.Address);
    edTimeout->setText(C.TimeoutMs > 0 ? QString::number(C.TimeoutMs) : QString());
    KindChanged();
}

void TLinkForm::KindChanged()
{
    const int Kind = cbKind->currentIndex();
    FForm->setRowVisible(cbPort, Kind == KindSerial);
    FForm->setRowVisible(edHost, Gateway(Kind));
    FForm->setRowVisible(seTcpPort, Gateway(Kind));
    FForm->setRowVisible(cbFraming, Kind == KindSerial);
    for (QWidget* W : std::initializer_list<QWidget*>{cbBaud, seAddress, edTimeout})
        FForm->setRowVisible(W, Kind != KindVirtual);
}

std::string TLinkForm::ShownLine(std::string& Error) const
{
    Link::LinkConfig C;
    const int Kind = cbKind->currentIndex();
    if (Kind == KindSerial) {
        C.Type = Link::LinkConfig::Kind::Serial;
        C.Path = cbPort->currentText().trimmed().toStdString();
        if (C.Path.empty()) {
            Error = "Укажите порт.";
            return {};
        }
        const Framing& F = Framings[std::max(0, cbFraming->currentIndex())];
        C.Parity = F.Parity;
        C.StopBits = F.StopBits;
    } else if (Gateway(Kind)) {
        C.Type = Kind == KindTcp ? Link::LinkConfig::Kind::Tcp : Link::LinkConfig::Kind::ModbusTcp;
        C.Host = edHost->text().trimmed().toStdString();
        if (C.Host.size() > 2 && C.Host.front() == '[' && C.Host.back() == ']')
            C.Host = C.Host.substr(1, C.Host.size() - 2);
        if (C.Host.empty()) {
            Error = "Укажите адрес шлюза.";
            return {};
        }
        C.Port = seTcpPort->value();
    }
    if (Kind != KindVirtual) {
        C.TracePath = FTracePath;
        C.Baud = cbBaud->currentData().toInt();
        C.Address = seAddress->value();
        if (!edTimeout->text().isEmpty()) {
            bool Number = false;
            C.TimeoutMs = edTimeout->text().toInt(&Number);
            if (!Number || C.TimeoutMs < 1 || C.TimeoutMs > 10000) {
                Error = "Ожидание ответа: от 1 до 10000 мс, или пусто (автоматически).";
                return {};
            }
        }
    }
    const Core::Result<std::string> Line = Link::LinkLineFor(C);
    if (!Line) {
        Error = "Такую линию не записать: " + Line.Error();
        return {};
    }
    return *Line;
}

void TLinkForm::Accept()
{
    if (FReadOnly)
        return;
    std::string Error;
    const std::string Line = ShownLine(Error);
    if (!Line.empty())
        if (const Core::Status Saved = Link::SaveLinkFile(FPlaces.FilePath(), Line); !Saved)
            Error = "Файл линии не записан: " + Saved.Text();
    if (!Error.empty()) {
        lbError->setText(QString::fromStdString(Error));
        lbError->show();
        return;
    }
    FSaved = true;
    accept();
}
