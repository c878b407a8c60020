#pragma once

#include <QDialog>

#include <string>

#include "linksetting/LinkConfig.h"
#include "linksetting/SerialPorts.h"

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QWidget;

// "Настройка линии": the modal dialog that edits the link the device library
// reads (linksetting/LinkConfig.h). It shows the setting in force, and on OK writes
// the line linksetting/LinkFormat gives for what it shows into link.conf; Cancel
// writes nothing. While $VELMOR_LINK is set the file does not count: the
// dialog says so and changes nothing. A malformed file is shown with its
// text, and OK replaces it.
class TLinkForm : public QDialog {
    Q_OBJECT

public:
    // Where the dialog reads and writes, and where it looks for ports.
    struct TPlaces {
        std::string EnvLink;       // the value of $VELMOR_LINK; empty: unset
        std::string XdgConfigHome; // the values the file's place follows
        std::string Home;
        Link::SerialPortFolders Ports;
        // link.conf's path; empty when there is no home folder.
        std::string FilePath() const;
        // This process's environment and folders.
        static TPlaces FromEnvironment();
    };
    // The ports' folders the panel's dialog uses (tests point them elsewhere).
    static Link::SerialPortFolders PortFolders;

    TLinkForm(const TPlaces& Places, QWidget* Parent = nullptr);

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

private:
    void Show(const Link::LinkConfig& Config);
    void KindChanged();
    void Accept();

    TPlaces FPlaces;
    // The trace file of the setting shown: the dialog has no field for it
    // and writes it back as it was.
    std::string FTracePath;
    bool FReadOnly = false;
    bool FSaved = false;
    class QFormLayout* FForm = nullptr;
};
