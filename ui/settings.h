#ifndef SETTINGS_H
#define SETTINGS_H

#include "link/presentports.h"
#include "ui_settings.h"

#include <QDialog>

// The small dialog in which the user types the name of the serial port to use.
class Settings : public QDialog
{
    Q_OBJECT

public:
    // The line edit completes the names that lister() gives; by default the ports
    // present on this machine.
    explicit Settings(QWidget *parent = nullptr, const PortLister &lister = availablePortNames);
    ~Settings() override;

    QString portName() const;
    bool isApplied() const;

private slots:
    void on_cancelSettings_clicked();
    void on_applySettings_clicked();

private:
    bool eventFilter(QObject *watched, QEvent *event) override;

    Ui_SettingsClass ui;
    bool applied = false;
};

#endif // SETTINGS_H
