#pragma once

#include <QDialog>

// The About window (placeholder until it lands).
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* Owner = nullptr);
};

extern TAboutForm* AboutForm;
