#ifndef SETTINGS_H
#define SETTINGS_H

#include "ui_settings.h"

#include <QDialog>

// The small dialog in which the user types the name of the serial port to use.
class Settings : public QDialog
{
    Q_OBJECT

public:
    explicit Settings(QWidget *parent = nullptr);
    ~Settings() override;

    QString portName() const;
    bool isApplied() const;

private slots:
    void on_cancelSettings_clicked();
    void on_applySettings_clicked();

private:
    Ui_SettingsClass ui;
    bool applied = false;
};

#endif // SETTINGS_H
