#include "ui/settings.h"

#include "link/portname.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QIntValidator>
#include <QKeyEvent>
#include <QStandardItemModel>

#include <algorithm>

namespace {
constexpr int kMaxTypedBaud = 4000000; // beyond any serial adapter's rate
// The port name an entry of the completion stands for; what it shows may say more.
constexpr int kPortRole = Qt::UserRole;
// The broadcast addresses the search goes to, comma-separated, in place of the host's
// networks.
constexpr char kSearchVariable[] = "LUMIVOX_SEARCH_ON";

// A set as the choice names it: its own name and its maker's.
QString setLabel(const CommandSets::Entry &entry)
{
    if (entry.set.maker.isEmpty())
        return entry.set.name;
    return Settings::tr("%1 (%2)").arg(entry.set.name, entry.set.maker);
}
} // namespace

Settings::Settings(QWidget *parent, const PortLister &lister, const ProtocolChoice &protocol)
    : QDialog(parent)
{
    ui.setupUi(this);
    applied = false;

    // The program's own protocol first, then the sets there are; a set's file named for
    // this run only, after them.
    sets = CommandSets::available();
    std::stable_partition(sets.begin(), sets.end(), &CommandSets::isBuiltIn);
    int current = 0;
    for (int i = 0; i < sets.size(); ++i) {
        const CommandSets::Entry &entry = sets.at(i);
        const bool own = CommandSets::isBuiltIn(entry);
        // The program's own is what an empty choice means.
        ui.commandSet->addItem(setLabel(entry), own ? QString() : entry.name);
        if (!protocol.set.isEmpty() && entry.name == protocol.set)
            current = i;
    }
    CommandSets::Entry file;
    QString refusal;
    if (current == 0 && !protocol.set.isEmpty() && ui.commandSet->findData(protocol.set) < 0
        && CommandSets::lookUp(protocol.set, &file, &refusal) && !CommandSets::isBuiltIn(file)) {
        sets.append(file);
        ui.commandSet->addItem(setLabel(file), protocol.set);
        current = int(sets.size()) - 1;
    }
    ui.commandSet->setCurrentIndex(current);
    ui.baudRate->setValidator(new QIntValidator(1, kMaxTypedBaud, this));
    showRates(current, protocol.baud);
    connect(ui.commandSet, &QComboBox::currentIndexChanged, this,
            [this](int index) { showRates(index, 0); });
    connect(ui.comPort, &QLineEdit::textChanged, this, &Settings::showPortKind);
    showPortKind(ui.comPort->text());
    ports = new QStandardItemModel(this);
    for (const QString &name : lister()) {
        auto *item = new QStandardItem(name);
        item->setData(name, kPortRole);
        ports->appendRow(item);
    }
    auto *completer = new QCompleter(ports, this);
    completer->setCompletionRole(kPortRole);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    ui.comPort->setCompleter(completer);
    // Creating the list now puts the completer's own filter on it before ours, so ours
    // sees the keys first.
    QAbstractItemView *list = completer->popup();
    list->installEventFilter(this);
    // A name picked from the list with the mouse is applied at once, like Return.
    connect(list, &QAbstractItemView::clicked, this, [this](const QModelIndex &index) {
        ui.comPort->setText(index.data(kPortRole).toString());
        ui.applySettings->click();
    });
    // Typing replaces the proposed name instead of appending to it.
    ui.comPort->selectAll();
    searchProjectors();
}

Settings::~Settings() = default;

QString Settings::portName() const
{
    return ui.comPort->text();
}

ProtocolChoice Settings::protocolChoice() const
{
    ProtocolChoice choice;
    choice.set = ui.commandSet->currentData().toString();
    bool number = false;
    const int baud = ui.baudRate->currentText().toInt(&number);
    const QList<int> rates = sets.value(ui.commandSet->currentIndex()).set.line.bauds;
    // The usual rate is kept as "the usual one", which follows the set.
    choice.baud = number && baud > 0 && baud != rates.value(0) ? baud : 0;
    return choice;
}

void Settings::showRates(int setIndex, int baud)
{
    const QList<int> rates = sets.value(setIndex).set.line.bauds;
    ui.baudRate->clear();
    for (const int rate : rates)
        ui.baudRate->addItem(QString::number(rate));
    if (baud > 0 && !rates.contains(baud))
        ui.baudRate->setEditText(QString::number(baud));
    else if (baud > 0)
        ui.baudRate->setCurrentIndex(int(rates.indexOf(baud)));
}

void Settings::showPortKind(const QString &name)
{
    // A projector on the network speaks PJLink, on no serial line.
    const bool serial = !portname::isPjlinkName(name);
    ui.commandSet->setEnabled(serial);
    ui.baudRate->setEnabled(serial);
}

void Settings::searchProjectors()
{
    QList<QHostAddress> targets;
    const QString given = QString::fromLocal8Bit(qgetenv(kSearchVariable));
    for (const QString &text : given.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QHostAddress address(text.trimmed());
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            targets.append(address);
    }
    if (!given.isEmpty() && targets.isEmpty())
        return;
    // Without the port (another program holds it alone) the dialog offers what is present.
    search = std::make_unique<PjlinkSearch>();
    connect(search.get(), &PjlinkSearch::projectorFound, this, &Settings::offerProjector);
    if (!search->start(targets))
        search.reset();
}

void Settings::offerProjector(const PjlinkSearch::Projector &projector)
{
    const QString name = projector.portName();
    QStringList details;
    if (!projector.name.isEmpty())
        details.append(projector.name);
    const QString model = (projector.maker + QLatin1Char(' ') + projector.model).trimmed();
    if (!model.isEmpty())
        details.append(model);
    const QString shown
        = details.isEmpty() ? name : tr("%1 (%2)").arg(name, details.join(QStringLiteral(", ")));
    const QModelIndexList known
        = ports->match(ports->index(0, 0), kPortRole, name, 1, Qt::MatchExactly);
    if (!known.isEmpty()) {
        ports->setData(known.constFirst(), shown, Qt::DisplayRole);
        return;
    }
    auto *item = new QStandardItem(shown);
    item->setData(name, kPortRole);
    ports->appendRow(item);
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
