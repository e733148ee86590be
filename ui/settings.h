#ifndef SETTINGS_H
#define SETTINGS_H

#include "link/pjlinksearch.h"
#include "link/presentports.h"
#include "session/commandsets.h"
#include "ui/protocolchoice.h"
#include "ui_settings.h"

#include <QList>

#include <QDialog>

#include <memory>

class QStandardItemModel;

// The small dialog in which the user types the name of the serial port to use, and
// chooses the projector's protocol on it (a command set) and the line's baud rate. Beside
// the ports present it offers the PJLink projectors that a search finds on the networks
// (or on the broadcast addresses LUMIVOX_SEARCH_ON lists), as they answer.
class Settings : public QDialog
{
    Q_OBJECT

public:
    // The line edit completes the names that lister() gives; by default the ports
    // present on this machine. The protocol shown is `protocol`, among the sets there are.
    explicit Settings(QWidget *parent = nullptr, const PortLister &lister = availablePortNames,
                      const ProtocolChoice &protocol = {});
    ~Settings() override;

    QString portName() const;
    // The set chosen (empty for the program's own) and the rate (0 for the set's usual one).
    ProtocolChoice protocolChoice() const;
    bool isApplied() const;

private slots:
    void on_cancelSettings_clicked();
    void on_applySettings_clicked();

private:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showRates(int setIndex, int baud);
    void showPortKind(const QString &name);
    void searchProjectors();
    void offerProjector(const PjlinkSearch::Projector &projector);

    Ui_SettingsClass ui;
    bool applied = false;
    QList<CommandSets::Entry> sets; // as the set choice lists them
    QStandardItemModel *ports = nullptr; // what the port name completes to
    std::unique_ptr<PjlinkSearch> search;
};

#endif // SETTINGS_H
