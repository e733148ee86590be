#ifndef SETTINGSDRIVER_H
#define SETTINGSDRIVER_H

#include <QString>

#include <functional>

class Lumivox;
class QLineEdit;
class QPushButton;
class Settings;

namespace testsupport {

using DialogAction = std::function<void(Settings *)>;

// Clicks the window's connection button and, once the settings dialog shows, runs the
// action on it; returns when the dialog has closed. False if no dialog appeared.
bool runSettings(Lumivox &window, const DialogAction &action);

// The dialog's port name field.
QLineEdit *nameEdit(Settings *dialog);

// The dialog's button of that object name ("applySettings", "cancelSettings").
QPushButton *dialogButton(Settings *dialog, const char *name);

// Replaces the port name by typing, as a user would; an empty name is erased.
void typeName(Settings *dialog, const QString &name);

// Types the name and clicks Apply.
void applyName(Settings *dialog, const QString &name);

} // namespace testsupport

#endif // SETTINGSDRIVER_H
