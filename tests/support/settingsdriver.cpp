#include "settingsdriver.h"

#include "probe/windowform.h"
#include "ui/lumivox.h"
#include "ui/settings.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace testsupport {

namespace {
constexpr int kProbeInterval = 10; // ms between looks for the dialog
constexpr int kDialogBound = 5000; // ms after which a dialog left open is closed
} // namespace

bool runSettings(Lumivox &window, const DialogAction &action)
{
    bool shown = false;
    // Owns the pending looks: none may outlive this call and its captured locals.
    QObject guard;
    std::function<void()> probe = [&] {
        auto *dialog = qobject_cast<Settings *>(QApplication::activeModalWidget());
        if (!dialog) {
            QTimer::singleShot(kProbeInterval, &guard, probe);
            return;
        }
        shown = true;
        // A test whose action leaves the dialog open fails instead of hanging.
        QTimer::singleShot(kDialogBound, dialog, &QDialog::reject);
        action(dialog);
    };
    QTimer::singleShot(0, &guard, probe);
    testsupport::WindowForm(window).connectionStatus->click();
    return shown;
}

QLineEdit *nameEdit(Settings *dialog)
{
    return dialog->findChild<QLineEdit *>(QStringLiteral("comPort"));
}

QPushButton *dialogButton(Settings *dialog, const char *name)
{
    return dialog->findChild<QPushButton *>(QString::fromLatin1(name));
}

void typeName(Settings *dialog, const QString &name)
{
    QLineEdit *edit = nameEdit(dialog);
    edit->selectAll();
    if (name.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    else
        QTest::keyClicks(edit, name);
}

void applyName(Settings *dialog, const QString &name)
{
    typeName(dialog, name);
    dialogButton(dialog, "applySettings")->click();
}

} // namespace testsupport
