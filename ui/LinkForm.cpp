#include "ui/LinkForm.h"

#include <QColor>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIcon>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "core/SerialSpeeds.h"
#include "core/Text.h"
#include "linksetting/LinkFormat.h"
#include "platform/Guard.h"
#include "ui/DeviceLibrary.h"

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
    TPortItem(const Link::SerialPort& Port) : QStandardItem(QString::fromStdString(Port.Path)), FNoHardware(Port.NoHardware)
    {
        FShown = QString::fromStdString(Port.Path);
        if (Port.NoHardware)
            FShown += QStringLiteral(" — нет устройства (имя без порта)");
        else if (!Port.Description.empty())
            FShown += QStringLiteral(" — ") + QString::fromStdString(Port.Description);
    }
    QVariant data(int Role) const override
    {
        if (Role == Qt::DisplayRole)
            return FShown;
        if (Role == Qt::ForegroundRole && FNoHardware)
            return QColor(Qt::gray);
        return QStandardItem::data(Role);
    }
    bool NoHardware() const { return FNoHardware; }

private:
    QString FShown;
    bool FNoHardware;
};

// The one setting line of link.conf's text (the first that is not blank or
// a comment), as the file holds it.
std::string SettingLine(const std::string& Text)
{
    std::istringstream In(Text);
    for (std::string Line; std::getline(In, Line);) {
        const std::string T = Core::Trim(Line);
        if (!T.empty() && T[0] != '#')
            return T;
    }
    return {};
}

// As much of a malformed setting as can be read: its kind and place when
// they parse, and each option that parses with them. Nothing readable: the
// default.
Link::LinkConfig Readable(const std::string& Line)
{
    const size_t Query = Line.find('?');
    std::string Kept = Line.substr(0, Query);
    const Core::Result<Link::LinkConfig> Base = Link::ParseLinkLine(Kept);
    if (!Base)
        return {};
    Link::LinkConfig Best = *Base;
    if (Query == std::string::npos)
        return Best;
    std::istringstream Options(Line.substr(Query + 1));
    bool First = true;
    for (std::string Option; std::getline(Options, Option, '&');) {
        const std::string Tried = Kept + (First ? "?" : "&") + Option;
        if (const Core::Result<Link::LinkConfig> More = Link::ParseLinkLine(Tried)) {
            Kept = Tried;
            Best = *More;
            First = false;
        }
    }
    return Best;
}

bool Exists(const std::string& Path)
{
    struct stat St;
    return ::stat(Path.c_str(), &St) == 0;
}

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

// One scan under way: the worker thread and what it shares with the dialog.
// The library calls back on the worker; each result goes to the dialog as a
// queued call, so the widgets are touched on the GUI thread only.
class TLinkFormScan {
public:
    TLinkFormScan(TLinkForm* Form, TLinkForm::TScanFn Scan, const std::string& Link) : FForm(Form)
    {
        FThread = std::thread([this, Scan, Link] {
            char Error[512] = {};
            const bool Ran = Scan(Link.c_str(), nullptr, 0, &TLinkFormScan::Found, &TLinkFormScan::Progress, this,
                                  Error, sizeof Error) != 0;
            Error[sizeof Error - 1] = 0;
            const QString Text = QString::fromUtf8(Error);
            QMetaObject::invokeMethod(FForm, [F = FForm, Ran, Text] { F->ScanEnded(Ran, Text); },
                                      Qt::QueuedConnection);
        });
    }
    ~TLinkFormScan()
    {
        FCancel = true;
        if (FThread.joinable())
            FThread.join();
    }
    void Cancel() { FCancel = true; }
    bool Cancelled() const { return FCancel; }

private:
    static void Found(void* User, int32_t Address, const char* Info)
    {
        auto* S = static_cast<TLinkFormScan*>(User);
        const QString Text = QString::fromUtf8(Info ? Info : "");
        const int A = Address;
        QMetaObject::invokeMethod(S->FForm, [F = S->FForm, A, Text] { F->ScanFound(A, Text); },
                                  Qt::QueuedConnection);
    }
    static VLM_BOOL Progress(void* User, int32_t Done, int32_t Total)
    {
        auto* S = static_cast<TLinkFormScan*>(User);
        const int D = Done, T = Total;
        QMetaObject::invokeMethod(S->FForm, [F = S->FForm, D, T] { F->ScanProgress(D, T); }, Qt::QueuedConnection);
        return S->FCancel ? 0 : 1;
    }

    QPointer<TLinkForm> FForm;
    std::atomic<bool> FCancel{false};
    std::thread FThread;
};

TLinkForm::TScanFn TLinkForm::LibraryScan()
{
    if (!DeviceLibrary::IsOurs())
        return nullptr;
    const std::string File = DeviceLibrary::LoadedFile();
    // The library is loaded already: this only finds its handle.
    void* Handle = ::dlopen(File.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!Handle)
        return nullptr;
    auto* Scan = reinterpret_cast<TScanFn>(::dlsym(Handle, "VLMS_Scan"));
    ::dlclose(Handle);
    return Scan;
}

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
    P.Scan = LibraryScan();
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
    // A name with no port behind it is never offered first.
    if (Ports->rowCount() > 0 && static_cast<TPortItem*>(Ports->item(0))->NoHardware())
        cbPort->setCurrentIndex(-1);

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
    cbFound = new QComboBox(this);
    cbFound->setObjectName(QStringLiteral("cbFound"));
    cbFound->setToolTip(QStringLiteral("Контроллеры, ответившие при поиске"));
    cbFound->setMinimumContentsLength(20);
    cbFound->hide();
    btScan = new QPushButton(QStringLiteral("Найти"), this);
    btScan->setObjectName(QStringLiteral("btScan"));
    btScan->setAutoDefault(false);
    btScan->setToolTip(FPlaces.Scan ? QStringLiteral("Опросить адреса 1–247 на показанной линии")
                                    : QStringLiteral("Поиск есть только в библиотеке Velmor"));
    btScan->setEnabled(FPlaces.Scan != nullptr);
    // Wide enough for "Остановить", so the row does not jump when it starts.
    btScan->setMinimumWidth(btScan->fontMetrics().horizontalAdvance(QStringLiteral("Остановить")) +
                            btScan->sizeHint().width() - btScan->fontMetrics().horizontalAdvance(btScan->text()));
    FAddressRow = new QWidget(this);
    auto* AddressLayout = new QHBoxLayout(FAddressRow);
    AddressLayout->setContentsMargins(0, 0, 0, 0);
    AddressLayout->addWidget(seAddress);
    AddressLayout->addWidget(cbFound, 1);
    AddressLayout->addWidget(btScan);
    AddressLayout->addStretch();
    pbScan = new QProgressBar(this);
    pbScan->setObjectName(QStringLiteral("pbScan"));
    pbScan->setRange(0, 247);
    pbScan->setFormat(QStringLiteral("%v из %m"));
    pbScan->hide();
    lbScan = new QLabel(this);
    lbScan->setObjectName(QStringLiteral("lbScan"));
    lbScan->setWordWrap(true);
    lbScan->setTextFormat(Qt::PlainText);
    lbScan->hide();

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
    FForm->addRow(QStringLiteral("Адрес контроллера:"), FAddressRow);
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
    All->addWidget(pbScan);
    All->addWidget(lbScan);
    All->addWidget(lbNote);
    All->addWidget(lbError);
    All->addWidget(Buttons);
    All->setSizeConstraint(QLayout::SetFixedSize);

    connect(cbKind, &QComboBox::currentIndexChanged, this, [this] { Guarded([&] { KindChanged(); }); });
    connect(Buttons, &QDialogButtonBox::accepted, this, [this] { Guarded([&] { Accept(); }); });
    connect(Buttons, &QDialogButtonBox::rejected, this, [this] { Guarded([&] { StopScan(); reject(); }); });
    connect(btScan, &QPushButton::clicked, this, [this] { Guarded([&] { ScanClick(); }); });
    connect(cbFound, &QComboBox::activated, this, [this](int Index) {
        Guarded([&] {
            if (Index >= 0)
                seAddress->setValue(cbFound->itemData(Index).toInt());
        });
    });

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
        Note = QStringLiteral("Файл %1 испорчен: %2\nПоля показывают то, что в нём удалось прочесть. "
                              "Файл не изменится, пока вы не исправите линию здесь: тогда OK запишет её.")
                   .arg(QString::fromStdString(Path), QString::fromStdString(Setting.Error));
        FMalformed = true;
    } else {
        Note = QStringLiteral("Линия записывается в файл %1.").arg(QString::fromStdString(Path));
    }
    lbNote->setText(Note);
    Link::LinkConfig Shown = Setting.Ok ? Setting.Config : Link::LinkConfig();
    if (FMalformed) {
        std::string Text;
        if (ReadFile(Path, Text) == 0)
            Shown = Readable(SettingLine(Text));
    }
    if (Shown.Type == Link::LinkConfig::Kind::Serial)
        FReadPath = Shown.Path;
    Show(Shown);

    // From here on, every change is the operator's.
    for (QComboBox* C : {cbKind, cbBaud, cbFraming})
        connect(C, &QComboBox::currentIndexChanged, this, [this] { Guarded([&] { Touched(); }); });
    connect(cbPort, &QComboBox::currentTextChanged, this, [this] { Guarded([&] { Touched(); }); });
    for (QSpinBox* B : {seAddress, seTcpPort})
        connect(B, &QSpinBox::valueChanged, this, [this] { Guarded([&] { Touched(); }); });
    for (QLineEdit* E : {edTimeout, edHost})
        connect(E, &QLineEdit::textChanged, this, [this] { Guarded([&] { Touched(); }); });

    if (FReadOnly || Path.empty()) {
        for (QWidget* W : std::initializer_list<QWidget*>{cbKind, cbPort, edHost, seTcpPort, cbBaud, cbFraming, seAddress, edTimeout})
            W->setEnabled(false);
        Buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
        Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Закрыть"));
        btScan->setEnabled(false);
    }
    EnableFields();
}

TLinkForm::~TLinkForm() = default;

void TLinkForm::Touched()
{
    FTouched = true;
    EnableFields();
}

// OK: not on a setting the dialog cannot change, not on a malformed file
// the operator has not touched, not while a scan runs; the link's fields
// stay still while a scan runs on them.
void TLinkForm::EnableFields()
{
    if (FReadOnly || FPlaces.FilePath().empty())
        return;
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(!Scanning() && (!FMalformed || FTouched));
    for (QWidget* W : std::initializer_list<QWidget*>{cbKind, cbPort, edHost, seTcpPort, cbBaud, cbFraming})
        W->setEnabled(!Scanning());
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
    for (QWidget* W : std::initializer_list<QWidget*>{cbBaud, FAddressRow, edTimeout})
        FForm->setRowVisible(W, Kind != KindVirtual);
    // Addresses found on another line are not this one's.
    if (!Scanning()) {
        cbFound->clear();
        cbFound->hide();
        lbScan->hide();
    }
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
    if (FReadOnly || Scanning() || (FMalformed && !FTouched))
        return;
    std::string Error;
    const std::string Line = ShownLine(Error);
    // A port typed in that is not there: said once, so the link in use is
    // not given up for it unawares; a second OK writes it (an adapter to be
    // plugged in later).
    if (!Line.empty() && cbKind->currentIndex() == KindSerial) {
        const std::string Port = cbPort->currentText().trimmed().toStdString();
        if (Port != FReadPath && !Exists(Port) && Port != FWarnedPath) {
            FWarnedPath = Port;
            lbError->setText(QStringLiteral("Порта %1 нет (адаптер не подключён?): на этой линии панель не "
                                            "найдёт контроллер, пока его нет. OK ещё раз запишет её как есть.")
                                 .arg(QString::fromStdString(Port)));
            lbError->show();
            return;
        }
    }
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

void TLinkForm::ScanClick()
{
    if (Scanning()) {
        StopScan();
        return;
    }
    if (!FPlaces.Scan)
        return;
    std::string Error;
    const std::string Line = ShownLine(Error);
    if (Line.empty()) {
        lbError->setText(QString::fromStdString(Error));
        lbError->show();
        return;
    }
    lbError->hide();
    cbFound->clear();
    cbFound->hide();
    lbScan->setText(QStringLiteral("Поиск контроллеров…"));
    lbScan->show();
    pbScan->setValue(0);
    pbScan->show();
    btScan->setText(QStringLiteral("Остановить"));
    FScan = std::make_unique<TLinkFormScan>(this, FPlaces.Scan, Line);
    EnableFields();
}

void TLinkForm::StopScan()
{
    if (FScan)
        FScan->Cancel();
}

void TLinkForm::ScanFound(int Address, const QString& Info)
{
    if (!FScan)
        return;
    cbFound->addItem(Info.isEmpty() ? QString::number(Address) : QString::number(Address) + QStringLiteral(" — ") + Info,
                     Address);
    cbFound->setCurrentIndex(-1);
    cbFound->setPlaceholderText(QStringLiteral("найдено: %1").arg(cbFound->count()));
    cbFound->show();
}

void TLinkForm::ScanProgress(int Done, int Total)
{
    if (!FScan || Total <= 0)
        return;
    pbScan->setMaximum(Total);
    pbScan->setValue(std::min(Done, Total));
}

void TLinkForm::ScanEnded(bool Ran, const QString& Error)
{
    if (!FScan)
        return;
    const bool Cancelled = FScan->Cancelled();
    FScan.reset(); // its thread has ended or is ending: joined here
    btScan->setText(QStringLiteral("Найти"));
    pbScan->hide();
    const int Found = cbFound->count();
    if (!Ran)
        lbScan->setText(QStringLiteral("Поиск не удался: ") + Error);
    else if (Found == 0)
        lbScan->setText(Cancelled ? QStringLiteral("Поиск остановлен; контроллеров не найдено.")
                                  : QStringLiteral("На линии не ответил ни один контроллер (адреса 1–247)."));
    else
        lbScan->setText((Cancelled ? QStringLiteral("Поиск остановлен; найдено: %1. ")
                                   : QStringLiteral("Найдено контроллеров: %1. "))
                            .arg(Found) +
                        QStringLiteral("Выберите адрес в списке."));
    lbScan->show();
    EnableFields();
}
