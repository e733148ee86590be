#include "settings.h"

#include <QCompleter>

Settings::Settings(QWidget *parent, const PortLister &lister)
    : QDialog(parent)
{
    ui.setupUi(this);
    applied = false;
    auto *completer = new QCompleter(lister(), this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    ui.comPort->setCompleter(completer);
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
