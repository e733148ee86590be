#include "ui/settings.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>

Settings::Settings(QWidget *parent, const PortLister &lister)
    : QDialog(parent)
{
    ui.setupUi(this);
    applied = false;
    auto *completer = new QCompleter(lister(), this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    ui.comPort->setCompleter(completer);
    // Creating the list now puts the completer's own filter on it before ours, so ours
    // sees the keys first.
    QAbstractItemView *list = completer->popup();
    list->installEventFilter(this);
    // A name picked from the list with the mouse is applied at once, like Return.
    connect(list, &QAbstractItemView::clicked, this, [this](const QModelIndex &index) {
        ui.comPort->setText(index.data().toString());
        ui.applySettings->click();
    });
    // Typing replaces the proposed name instead of appending to it.
    ui.comPort->selectAll();
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

bool Settings::eventFilter(QObject *watched, QEvent *event)
{
    // The completion list would swallow Return and Escape just to close itself; close it
    // and hand the key on, so that one press acts as it does without the list. An entry
    // chosen with the arrow keys is already in the field.
    QAbstractItemView *list = ui.comPort->completer()->popup();
    if (watched == list && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter
            || key->matches(QKeySequence::Cancel)) {
            list->hide();
            QCoreApplication::sendEvent(ui.comPort, event);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
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
