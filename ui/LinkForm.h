#pragma once

#include <QDialog>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "device/velmor.h"
#include "linksetting/LinkConfig.h"
#include "linksetting/SerialPorts.h"

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QWidget;

// "Настройка линии": the modal dialog that edits the link the device library
// reads (linksetting/LinkConfig.h). It shows the setting in force, and on OK writes
// the line linksetting/LinkFormat gives for what it shows into link.conf; Cancel
// writes nothing. While $VELMOR_LINK is set the file does not count: the
// dialog says so and changes nothing. A malformed file is shown with its
// text and what is wrong with it, its fields as far as they can be read; OK
// writes only once the operator has changed something. A port path typed in
// that does not exist is named as such at the first OK, written at the second.
//
// "Найти" scans the line shown for controllers (addresses 1..247) on a
// worker thread, with a progress bar and a cancel, and offers the addresses
// found, each with its identification, beside the address field.
class TLinkFormScan;
class TLinkForm : public QDialog {
    Q_OBJECT
    friend class TLinkFormScan;

public:
    // The bus scan of our library's own interface (VLMS_Scan of
    // libvelmor/velmor_session.h), reached by name: the panel links only the
    // 26 functions, so any device library still drops in.
    using TScanFoundFn = void (*)(void* User, int32_t Address, const char* Info);
    using TScanProgressFn = VLM_BOOL (*)(void* User, int32_t Done, int32_t Total);
    using TScanFn = VLM_BOOL (*)(const char* Link, const int32_t* Addresses, int32_t Count, TScanFoundFn Found,
                                 TScanProgressFn Progress, void* User, char* Error, size_t ErrorSize);
    // VLMS_Scan of the device library in this process when it is ours (it
    // carries our mark); else none.
    static TScanFn LibraryScan();

    // Where the dialog reads and writes, and where it looks for ports.
    struct TPlaces {
        std::string EnvLink;       // the value of $VELMOR_LINK; empty: unset
        std::string XdgConfigHome; // the values the file's place follows
        std::string Home;
        Link::SerialPortFolders Ports;
        TScanFn Scan = nullptr; // none: no "Найти"
        // link.conf's path; empty when there is no home folder.
        std::string FilePath() const;
        // This process's environment and folders.
        static TPlaces FromEnvironment();
    };
    // The ports' folders the panel's dialog uses (tests point them elsewhere).
    static Link::SerialPortFolders PortFolders;

    TLinkForm(const TPlaces& Places, QWidget* Parent = nullptr);
    // A scan under way is cancelled and its thread waited for (one probe).
    ~TLinkForm() override;

    // The line the dialog shows, or empty with Error when what it shows
    // cannot be a setting.
    std::string ShownLine(std::string& Error) const;
    // True once OK has written the file.
    bool Saved() const { return FSaved; }

    QComboBox* cbKind = nullptr;
    QComboBox* cbPort = nullptr;
    QComboBox* cbBaud = nullptr;
    QComboBox* cbFraming = nullptr;
    QSpinBox* seAddress = nullptr;
    QLineEdit* edTimeout = nullptr;
    QLineEdit* edHost = nullptr;
    QSpinBox* seTcpPort = nullptr;
    QLabel* lbNote = nullptr;
    QLabel* lbError = nullptr;
    QDialogButtonBox* Buttons = nullptr;
    // The scan: its button ("Найти", "Остановить" while it runs), the
    // addresses found (item data: the address), the progress and its text.
    QPushButton* btScan = nullptr;
    QComboBox* cbFound = nullptr;
    QProgressBar* pbScan = nullptr;
    QLabel* lbScan = nullptr;
    bool Scanning() const { return static_cast<bool>(FScan); }

private:
    void Show(const Link::LinkConfig& Config);
    void KindChanged();
    void Accept();
    void Touched();
    void ScanClick();
    void StopScan();
    void ScanFound(int Address, const QString& Info);
    void ScanProgress(int Done, int Total);
    void ScanEnded(bool Ran, const QString& Error);
    void EnableFields();

    TPlaces FPlaces;
    // The trace file of the setting shown: the dialog has no field for it
    // and writes it back as it was.
    std::string FTracePath;
    bool FReadOnly = false;
    bool FSaved = false;
    // A malformed file: nothing is written until the operator changes
    // something (FTouched).
    bool FMalformed = false;
    bool FTouched = false;
    // The port path as read, and a missing one already named at an OK.
    std::string FReadPath;
    std::string FWarnedPath;
    class QFormLayout* FForm = nullptr;
    QWidget* FAddressRow = nullptr;
    std::unique_ptr<TLinkFormScan> FScan;
};
