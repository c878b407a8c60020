#include "ui/About.h"

TAboutForm* AboutForm = nullptr;

TAboutForm::TAboutForm(QWidget* Owner) : QDialog(Owner) {}
