#include "settings.h"

Settings::Settings(QWidget *parent)
    : QDialog(parent)
{
    ui.setupUi(this);
    applied = false;
}

Settings::~Settings() = default;

QString Settings::portName() const
{
    return ui.comPort->text();
}

bool Settings::isApplied() const
{
    return applied;
}

void Settings::on_cancelSettings_clicked()
{
    applied = false;
    close();
}

void Settings::on_applySettings_clicked()
{
    applied = true;
    close();
}
