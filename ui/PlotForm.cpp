#include "ui/PlotForm.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <sstream>

#include "application/Application.h"
#include "application/Bind.h"
#include "device/Commands.h"
#include "platform/Exception.h"
#include "platform/Guard.h"
#include "platform/IniFile.h"
#include "plot/CsvExport.h"
#include "settings/PlotSettings.h"
#include "settings/SettingsPath.h"
#include "ui/PlotView.h"
#include "ui/WindowPlacement.h"

namespace {

std::string SettingsFileName()
{
    return SettingsFilePath(QFile::encodeName(Application::ExeName()).toStdString());
}

QPushButton* Button(const QString& Text, const QString& Tip, QWidget* Parent)
{
    auto* B = new QPushButton(Text, Parent);
    B->setToolTip(Tip);
    B->setAccessibleDescription(Tip);
    B->setAutoDefault(false);
    return B;
}

} // namespace

TPlotForm::TPlotForm(QWidget* Parent) : QWidget(Parent, Qt::Window)
{
    setObjectName(QStringLiteral("PlotForm"));
    setWindowTitle(QStringLiteral("График"));
    setAccessibleName(QStringLiteral("График"));
    // The panel's end is the main window's close alone.
    setAttribute(Qt::WA_QuitOnClose, false);

    View = new TPlotView(FHistory, this);
    btPause = Button(QStringLiteral("Пауза"), QStringLiteral("Остановить график; показания продолжают записываться"),
                     this);
    btPause->setCheckable(true);
    btWhole = Button(QStringLiteral("Вся история"), QStringLiteral("Показать последние 10 минут целиком"), this);
    btClear = Button(QStringLiteral("Очистить"), QStringLiteral("Стереть записанные показания"), this);
    btCsvVisible = Button(QStringLiteral("CSV: видимое…"), QStringLiteral("Сохранить видимый участок в файл CSV"), this);
    btCsvAll = Button(QStringLiteral("CSV: всё…"), QStringLiteral("Сохранить всю историю в файл CSV"), this);
    btPng = Button(QStringLiteral("PNG…"), QStringLiteral("Сохранить изображение графика в файл PNG"), this);
    lbCursor = new QLabel(this);
    lbCursor->setAccessibleName(QStringLiteral("Показания под курсором"));
    lbCursor->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbCursor->setMinimumWidth(200);

    auto* Buttons = new QHBoxLayout;
    for (QPushButton* B : {btPause, btWhole, btClear})
        Buttons->addWidget(B);
    Buttons->addSpacing(16);
    for (QPushButton* B : {btCsvVisible, btCsvAll, btPng})
        Buttons->addWidget(B);
    Buttons->addStretch(1);
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(6, 6, 6, 6);
    Layout->addLayout(Buttons);
    Layout->addWidget(View, 1);
    Layout->addWidget(lbCursor);
    resize(960, 560);

    Bind(btPause, &QPushButton::clicked, this, &TPlotForm::btPauseClick);
    Bind(btWhole, &QPushButton::clicked, this, &TPlotForm::btWholeClick);
    Bind(btClear, &QPushButton::clicked, this, &TPlotForm::btClearClick);
    Bind(btCsvVisible, &QPushButton::clicked, this, &TPlotForm::btCsvVisibleClick);
    Bind(btCsvAll, &QPushButton::clicked, this, &TPlotForm::btCsvAllClick);
    Bind(btPng, &QPushButton::clicked, this, &TPlotForm::btPngClick);
    connect(View, &TPlotView::PausedChanged, this, [this](bool Paused) { ShowPaused(Paused); });
    connect(View, &TPlotView::ReadoutChanged, lbCursor, &QLabel::setText);
}

TPlotForm::~TPlotForm()
{
    // The panel ends with the plot open: its place is kept all the same.
    if (FPlaced && isVisible())
        Guarded([&] { SavePlacement(); });
}

void TPlotForm::AddSample(const Core::PollSample& S)
{
    if (FHistory.Add(S))
        View->HistoryChanged();
}

void TPlotForm::ShowPaused(bool Paused)
{
    btPause->setChecked(Paused);
    btPause->setText(Paused ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
}

void TPlotForm::btPauseClick(QObject*) { View->SetPaused(btPause->isChecked()); }

void TPlotForm::btWholeClick(QObject*)
{
    if (FHistory.Empty())
        return;
    const int64_t Newest = FHistory.Newest().SteadyUs + 1;
    View->SetSpanUs(Newest - FHistory.Oldest().SteadyUs);
    if (View->Paused())
        View->ShowUntil(Newest);
}

void TPlotForm::btClearClick(QObject*)
{
    FHistory.Clear();
    View->HistoryChanged(true);
}

bool TPlotForm::ExportCsv(const QString& Path, bool Whole, QString& Error)
{
    std::ostringstream Text;
    if (Whole)
        Plot::WriteCsv(Text, FHistory, INT64_MIN, INT64_MAX, Commands::StateText);
    else
        Plot::WriteCsv(Text, FHistory, View->ViewFromUs(), View->ViewToUs() - 1, Commands::StateText);
    const std::string Bytes = Text.str();
    QSaveFile File(Path);
    if (!File.open(QIODevice::WriteOnly) ||
        File.write(Bytes.data(), static_cast<qint64>(Bytes.size())) != static_cast<qint64>(Bytes.size()) ||
        !File.commit()) {
        Error = QStringLiteral("Не удалось записать файл %1: %2").arg(Path, File.errorString());
        return false;
    }
    return true;
}

bool TPlotForm::ExportPng(const QString& Path, QString& Error)
{
    QImage Image(View->size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    {
        QPainter P(&Image);
        View->Render(P, Image.size());
    }
    QSaveFile File(Path);
    if (!File.open(QIODevice::WriteOnly) || !Image.save(&File, "PNG") || !File.commit()) {
        Error = QStringLiteral("Не удалось записать файл %1: %2").arg(Path, File.errorString());
        return false;
    }
    return true;
}

void TPlotForm::ShowError(const QString& Text)
{
    Application::MessageBox(Text, QStringLiteral("Error"), Application::MB_ICONERROR | Application::MB_OK);
}

void TPlotForm::AskAndExportCsv(bool Whole)
{
    QString Path;
    {
        ModalScope Modal;
        Path = QFileDialog::getSaveFileName(this,
                                            Whole ? QStringLiteral("Сохранить всю историю")
                                                  : QStringLiteral("Сохранить видимый участок"),
                                            QStringLiteral("velmor-plot.csv"), QStringLiteral("CSV (*.csv)"));
    }
    QString Error;
    if (!Path.isEmpty() && !ExportCsv(Path, Whole, Error))
        ShowError(Error);
}

void TPlotForm::btCsvVisibleClick(QObject*) { AskAndExportCsv(false); }

void TPlotForm::btCsvAllClick(QObject*) { AskAndExportCsv(true); }

void TPlotForm::btPngClick(QObject*)
{
    QString Path;
    {
        ModalScope Modal;
        Path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить изображение"),
                                            QStringLiteral("velmor-plot.png"), QStringLiteral("PNG (*.png)"));
    }
    QString Error;
    if (!Path.isEmpty() && !ExportPng(Path, Error))
        ShowError(Error);
}

void TPlotForm::LoadPlacement()
{
    PlotSettings::TPlacement P;
    try {
        P = PlotSettings::Read(TIniFile(SettingsFileName()));
    } catch (const Exception&) {
        // An unreadable file is the main window's to report; the plot takes
        // its designed place.
    }
    QVector<QRect> Screens;
    for (const QScreen* S : QGuiApplication::screens())
        Screens.append(S->availableGeometry());
    QPoint Pos;
    if (P.Stored) {
        resize(P.Width, P.Height);
        const int TitleHeight = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
        Pos = Screens.isEmpty() ? QPoint(P.Left, P.Top)
                                : ReachablePosition(QPoint(P.Left, P.Top), size() + QSize(0, TitleHeight),
                                                    TitleHeight, Screens);
    } else if (QWidget* Main = parentWidget()) {
        // Beside the panel, to its right, as far as its screen allows.
        const QScreen* Screen = Main->screen();
        const QRect Room = Screen ? Screen->availableGeometry() : QRect();
        Pos = Main->frameGeometry().topRight() + QPoint(8, 0);
        if (Room.isValid()) {
            resize(size().boundedTo(Room.size() - QSize(16, 48)));
            Pos.setX(std::max(Room.left(), std::min(Pos.x(), Room.right() - width() - 8)));
            Pos.setY(std::max(Room.top(), std::min(Pos.y(), Room.bottom() - height() - 40)));
        }
    }
    move(Pos);
    FPlaced = true;
}

void TPlotForm::SavePlacement()
{
    PlotSettings::TPlacement P;
    P.Left = pos().x();
    P.Top = pos().y();
    P.Width = width();
    P.Height = height();
    try {
        TIniFile Ini(SettingsFileName());
        PlotSettings::Write(Ini, P);
        Ini.UpdateFile();
    } catch (const Exception&) {
        // The plot's place is not worth a message box at close; the stored
        // settings are untouched.
    }
}

void TPlotForm::closeEvent(QCloseEvent* Event)
{
    Guarded([&] {
        if (FPlaced)
            SavePlacement();
    });
    QWidget::closeEvent(Event);
}
