#include "ui/lumivox.h"

#include "link/characters.h"
#include "link/commands.h"
#include "link/pjlink.h"
#include "link/portdevice.h"
#include "link/portname.h"
#include "session/commandsets.h"
#include "ui/panelcolors.h"
#include "ui/settings.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>

namespace {
constexpr int kTickInterval = 100; // ms between two ticks of OnTimer()
constexpr int kStartHeight = 200; // window height asked for at the first tick
constexpr int kInfoHideExtra = 10; // shrink beyond the panel's own height when hiding it
// A room PC left running for weeks must not pile up millions of log lines.
constexpr int kMaxLogLines = 10000;
// Lines dropped at once when the log reaches its cap: dropping the oldest line for
// each new one would lay the whole view out again at every line.
constexpr int kLogTrimBatch = 500;
// Time for the power-off frame to leave the wire before the port is closed.
constexpr unsigned long kPowerOffPause = 2000; // ms

// `setName` is the command set's name, empty for a projector that speaks PJLink.
QString unavailableText(ProjectorProtocol::Availability availability, const QString &setName)
{
    using A = ProjectorProtocol::Availability;
    switch (availability) {
    case A::NoMeaning:
        if (!setName.isEmpty())
            return Lumivox::tr("Not available: %1 has no such command").arg(setName);
        return Lumivox::tr("Not available: PJLink, the projector's network control, has no "
                           "such command");
    case A::NeedsClass2:
        return Lumivox::tr("Not available: only a projector of PJLink class 2 has this command");
    case A::InputsUnknown:
        return Lumivox::tr("Not available: the projector has not listed its inputs (some list "
                           "them only once they are on)");
    case A::NoSuchInput:
        return Lumivox::tr("Not available: the projector has no such input");
    case A::Available:
        break;
    }
    return {};
}
} // namespace

Lumivox::Lumivox(QWidget *parent, Qt::WindowFlags flags,
                 const std::optional<ProtocolChoice> &forThisRun, const QString &startPort)
    : QMainWindow(parent, flags)
{
    ui.setupUi(this);
    // The form starts with the no-contact icon: the same image, not decoded again.
    noContactIcon = ui.connectionStatus->icon();
    // Nobody undoes a log line, and the history would grow without bound.
    ui.textEdit->document()->setUndoRedoEnabled(false);
    connect(ui.actionAbout, &QAction::triggered, this, &Lumivox::OnAbout);

    // What the session says, shown; a failed byte is asked about here, in a box.
    projector.setAskOnWriteFailure(true);
    connect(&projector, &ProjectorSession::contactGained, this, &Lumivox::showContact);
    connect(&projector, &ProjectorSession::lampReported, this, &Lumivox::showLamp);
    connect(&projector, &ProjectorSession::powerChanging, this, &Lumivox::showNeutral);
    // The session's lines are plain; the log's lines end as the form's text box takes them.
    connect(&projector, &ProjectorSession::message, this,
            [this](const QString &text) { log(text + QLatin1Char('\r')); });
    connect(&projector, &ProjectorSession::replyHandled, this, &Lumivox::echoReply);
    connect(&projector, &ProjectorSession::frameWritten, this, &Lumivox::echoFrame);
    connect(&projector, &ProjectorSession::writeFailed, this, &Lumivox::askAboutWriteFailure);
    connect(&projector, &ProjectorSession::openFinished, this, &Lumivox::applyFinished);
    connect(&projector, &ProjectorSession::passwordWanted, this, &Lumivox::askForPassword);
    connect(&projector, &ProjectorSession::availabilityChanged, this, &Lumivox::showAvailability);
    connect(&projector, &ProjectorSession::powerReported, this, &Lumivox::showPower);

    using C = commands::Command;
    const std::pair<C, QAbstractButton *> buttons[] = {
        {C::PowerOn, ui.startProjector},
        {C::PowerOff, ui.powerOff},
        {C::Vga, ui.analogRGB},
        {C::Hdmi, ui.hdmi},
        {C::Dvi, ui.dvi},
        {C::SVideo, ui.sVideo},
        {C::Composite, ui.compositeVideo},
        {C::SearchAuto, ui.searchVideo},
        {C::Brightness, ui.brightness},
        {C::Contrast, ui.contrast},
        {C::ColorTemperature, ui.colorTemperature},
        {C::Freeze, ui.freeze},
        {C::ShowHide, ui.hide},
        {C::Zoom, ui.zoom},
        {C::Aspect16To9, ui.aspect16_9},
        {C::Aspect4To3, ui.aspect4_3},
        {C::KeystoneUp, ui.keystoneUpp},
        {C::KeystoneDown, ui.keystoneDown},
        {C::KeystoneMenu, ui.keystone},
        {C::Menu, ui.menu},
        {C::Up, ui.up},
        {C::Down, ui.down},
        {C::Left, ui.left},
        {C::Right, ui.right},
        {C::Ok, ui.ok},
        {C::EKey, ui.eKey},
        {C::LampTime, ui.queryLampTime},
        {C::Model, ui.queryModel},
        {C::Resolution, ui.resolution},
        {C::Company, ui.company},
    };
    for (const auto &[id, button] : buttons)
        commandButtons.append({id, button, button->toolTip()});

    pendingHeight = 0;

    useProtocol(forThisRun ? *forThisRun : ProtocolChoice::stored());
    QString reason;
    if (!openPort(startPort, &reason))
        logOpenFailure(tr("Failed to initialize Com port 1!\r"), reason);

    connect(&timer, &QTimer::timeout, this, &Lumivox::OnTimer);
    timer.setInterval(kTickInterval);
    timer.start();

    pendingHeight = kStartHeight;
    ui.infoFrame->setVisible(false);
}

Lumivox::~Lumivox()
{
    closePort();
}

bool Lumivox::openPort(const QString &name, QString *reason)
{
    return projector.openPort(name, reason) == ProjectorSession::OpenResult::Open;
}

void Lumivox::closePort()
{
    applyPending = false;
    projector.closePort();
}

quint32 Lumivox::readBytes(char *buffer, quint32 count)
{
    return projector.readBytes(buffer, count);
}

void Lumivox::sendCommand(const char *text, unsigned length)
{
    projector.sendFrame(QByteArray(text, int(length)));
}

void Lumivox::handleReply(const QString &line)
{
    projector.handleReply(line);
}

void Lumivox::OnTimer()
{
    projector.tick();
    // Set again at every tick without contact, so nothing else can colour the panel
    // meanwhile.
    if (!projector.hasContact())
        showNoContact();
    if (pendingHeight != 0) {
        resize(width(), pendingHeight);
        pendingHeight = 0;
    }
}

void Lumivox::log(const QString &text)
{
    ui.textEdit->insertPlainText(text);
    QTextDocument *document = ui.textEdit->document();
    if (document->blockCount() <= kMaxLogLines)
        return;
    // Past the cap, the oldest lines go in one edit, room for a batch of new ones.
    const int excess = document->blockCount() - (kMaxLogLines - kLogTrimBatch);
    QTextCursor oldest(document);
    oldest.setPosition(document->findBlockByNumber(excess).position(), QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
}

void Lumivox::logOpenFailure(const QString &firstLine, const QString &reason)
{
    log(firstLine);
    log(tr("Communication with projector not possible.\r"));
    if (!reason.isEmpty())
        log(tr("Reason: %1\r").arg(reason));
}

void Lumivox::showContact()
{
    // Decoded at the first contact rather than during start-up.
    if (contactIcon.isNull())
        contactIcon = QIcon(QPixmap(QStringLiteral(":/Lumivox/Resources/connect.png")));
    ui.connectionStatus->setIcon(contactIcon);
    ui.connectionStatus->setToolTip(tr("Contact"));
}

void Lumivox::showNoContact()
{
    ui.on_off_groupBox->setColor(panelcolors::neutral());
    ui.connectionStatus->setIcon(noContactIcon);
    ui.connectionStatus->setToolTip(tr("No Contact"));
}

void Lumivox::showLamp(bool on)
{
    ui.on_off_groupBox->setColor(on ? panelcolors::lampOn() : panelcolors::lampOff());
}

void Lumivox::showNeutral()
{
    ui.on_off_groupBox->setColor(panelcolors::neutral());
}

void Lumivox::echoReply(const QString &line)
{
    if (ui.debugCheckBox->isChecked())
        log(QStringLiteral("-> ") + characters::logLineText(line) + QLatin1Char('\r'));
    ui.textEdit->ensureCursorVisible();
}

void Lumivox::echoFrame(const QByteArray &text)
{
    if (ui.debugCheckBox->isChecked())
        log(QStringLiteral("<- ") + QString::fromLatin1(text) + QLatin1Char('\n'));
}

void Lumivox::askAboutWriteFailure()
{
    // The session waits for the answer: the rest of the frame follows the box.
    QMessageBox::warning(this, tr("Error!"), QStringLiteral("Failed to send data to serial port"));
}

void Lumivox::closeQuietly()
{
    quietClose = true;
    projector.stopWriting();
    close();
}

void Lumivox::endProgram()
{
    closeQuietly();
    QCoreApplication::exit(0);
}

void Lumivox::OnAbout()
{
    QMessageBox::information(this, tr("About"),
                             tr("Lumivox\r\nWritten by the Lumivox developers\r\n"
                                "https://lumivox.example"));
}

void Lumivox::on_clearLog_clicked()
{
    ui.textEdit->clear();
}

void Lumivox::on_info_clicked()
{
    if (ui.infoFrame->isVisible()) {
        pendingHeight = height() - ui.infoFrame->height() - kInfoHideExtra;
        ui.infoFrame->hide();
    } else {
        ui.infoFrame->show();
    }
}

void Lumivox::keyPressEvent(QKeyEvent *event)
{
    QAbstractButton *button = nullptr;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        button = ui.ok;
        break;
    case Qt::Key_Left:
        button = ui.left;
        break;
    case Qt::Key_Up:
        button = ui.up;
        break;
    case Qt::Key_Right:
        button = ui.right;
        break;
    case Qt::Key_Down:
        button = ui.down;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    // Shown pressed at once, released and clicked 100 ms later, like a mouse click.
    button->animateClick();
}

void Lumivox::on_connectionStatus_clicked()
{
    Settings settings(this, availablePortNames, protocolChoice);
    settings.exec(); // both buttons close(): the applied flag tells them apart
    if (!settings.isApplied())
        return;
    // Reopened even under the same name: that is how a user retries a port.
    closePort();
    // A choice is kept when the user changed it: one made for this run alone stays so.
    const ProtocolChoice chosen = settings.protocolChoice();
    if (!(chosen == protocolChoice))
        chosen.store();
    useProtocol(chosen);
    QString reason;
    switch (projector.openPort(settings.portName(), &reason)) {
    case ProjectorSession::OpenResult::Open:
        log(tr("Com-port initialized!\r"));
        break;
    case ProjectorSession::OpenResult::Failed:
        logOpenFailure(tr("Failed to initialize Com-port!\r"), reason);
        emit openFailed(settings.portName());
        break;
    case ProjectorSession::OpenResult::Pending:
        // A bridge: the ticks go on while its connection is made, and the outcome is
        // logged when it is known.
        applyPending = true;
        break;
    }
}

void Lumivox::applyFinished(bool opened, const QString &reason)
{
    if (!applyPending)
        return;
    applyPending = false;
    if (opened) {
        log(tr("Com-port initialized!\r"));
    } else {
        logOpenFailure(tr("Failed to initialize Com-port!\r"), reason);
        emit openFailed(projector.portName());
    }
}

void Lumivox::showHolder(const QString &portName, const QString &holder)
{
    if (projector.port() || portName != projector.portName())
        return;
    log(holder == QLatin1String("service") ? QStringLiteral("The Lumivox service holds it.\r")
                                           : QStringLiteral("Another Lumivox window holds it.\r"));
}

void Lumivox::askForPassword()
{
    const QString name = projector.portName();
    bool given = false;
    const QString password = QInputDialog::getText(this, tr("Projector password"),
                                                   tr("%1 asks for its PJLink password:").arg(name),
                                                   QLineEdit::Password, QString(), &given);
    if (!given || password.isEmpty()) {
        log(tr("%1: no password given; apply the name again to give one\r").arg(name));
        return;
    }
    const QString problem = pjlink::passwordProblem(password.toUtf8());
    if (!problem.isEmpty()) {
        log(tr("%1: %2; apply the name again to give another\r").arg(name, problem));
        return;
    }
    projector.setPassword(name, password);
}

void Lumivox::showAvailability()
{
    // The built-in protocol takes every command: the form's buttons, as they are.
    const std::optional<CommandSet> &set = projector.chosenCommandSet();
    const QString setName
        = set && !portname::isPjlinkName(projector.portName()) ? set->name : QString();
    for (const CommandButton &entry : qAsConst(commandButtons)) {
        const ProjectorProtocol::Availability availability = projector.availability(entry.id);
        const bool available = availability == ProjectorProtocol::Availability::Available;
        entry.button->setEnabled(available);
        entry.button->setToolTip(available ? entry.toolTip
                                           : unavailableText(availability, setName));
    }
}

void Lumivox::useProtocol(const ProtocolChoice &choice)
{
    protocolChoice = choice;
    projector.setBaudRate(choice.baud);
    projector.setCommandSet(std::nullopt);
    if (choice.set.isEmpty())
        return;
    CommandSets::Entry entry;
    QString refusal;
    if (CommandSets::lookUp(choice.set, &entry, &refusal)) {
        if (!CommandSets::isBuiltIn(entry))
            projector.setCommandSet(entry.set);
        return;
    }
    // A set's file that no longer reads is left out of the listing: its reader says why.
    QStringList refusals;
    (void)CommandSets::available(&refusals);
    const QString file = choice.set + QLatin1String(CommandSets::kSuffix) + QLatin1Char(':');
    for (const QString &each : qAsConst(refusals))
        if (each.startsWith(file) || each.contains(QLatin1Char('/') + file))
            refusal = each;
    log(tr("Command set %1 not used (%2): the built-in protocol is spoken\r")
            .arg(choice.set, refusal));
}

void Lumivox::showPower(ProjectorSession::Power power)
{
    // On and off colour the panel as the lamp does; warming up and cooling down are neutral.
    if (power == ProjectorSession::Power::Warming || power == ProjectorSession::Power::Cooling)
        showNeutral();
}

void Lumivox::closeWhenAnswered()
{
    // The request may need a connection first: the window closes once the projector has
    // answered it, or after the pause, the event loop going on meanwhile.
    setEnabled(false);
    QTimer::singleShot(kPowerOffPause, this, &Lumivox::finishClosing);
    connect(&projector, &ProjectorSession::commandAnswered, this, [this](commands::Command id) {
        if (id == commands::Command::PowerOff)
            finishClosing();
    });
}

void Lumivox::finishClosing()
{
    if (isVisible())
        closeQuietly();
}

void Lumivox::on_powerOff_clicked()
{
    if (QMessageBox::question(this, tr("Turn off"), tr("Turn the projector off?"),
                              QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    projector.send(commands::Command::PowerOff);
}

void Lumivox::closeEvent(QCloseEvent *event)
{
    if (!quietClose && projector.isLampOn()
        && QMessageBox::question(this, tr("Projector is on!"),
                                 tr("The projectorn is On.\nDo you want to turn it off?"),
                                 QMessageBox::Yes | QMessageBox::No)
            == QMessageBox::Yes) {
        projector.send(commands::Command::PowerOff);
        if (projector.answersEveryCommand()) {
            closeWhenAnswered();
            event->ignore();
            return;
        }
        QThread::msleep(kPowerOffPause);
    }
    // The window always closes; the question only decides about the projector.
    event->accept();
}

void Lumivox::on_freeze_clicked()
{
    projector.send(commands::Command::Freeze);
}

void Lumivox::on_company_clicked()
{
    projector.send(commands::Command::Company);
}

void Lumivox::on_compositeVideo_clicked()
{
    projector.send(commands::Command::Composite);
}

void Lumivox::on_searchVideo_clicked()
{
    projector.send(commands::Command::SearchAuto);
}

void Lumivox::on_zoom_clicked()
{
    projector.send(commands::Command::Zoom);
}

void Lumivox::on_colorTemperature_clicked()
{
    projector.send(commands::Command::ColorTemperature);
}

void Lumivox::on_hdmi_clicked()
{
    projector.send(commands::Command::Hdmi);
}

void Lumivox::on_dvi_clicked()
{
    projector.send(commands::Command::Dvi);
}

void Lumivox::on_sVideo_clicked()
{
    projector.send(commands::Command::SVideo);
}

void Lumivox::on_analogRGB_clicked()
{
    projector.send(commands::Command::Vga);
}

void Lumivox::on_eKey_clicked()
{
    projector.send(commands::Command::EKey);
}

void Lumivox::on_contrast_clicked()
{
    projector.send(commands::Command::Contrast);
}

void Lumivox::on_brightness_clicked()
{
    projector.send(commands::Command::Brightness);
}

void Lumivox::on_aspect16_9_clicked()
{
    projector.send(commands::Command::Aspect16To9);
}

void Lumivox::on_aspect4_3_clicked()
{
    projector.send(commands::Command::Aspect4To3);
}

void Lumivox::on_resolution_clicked()
{
    projector.send(commands::Command::Resolution);
}

void Lumivox::on_keystoneDown_clicked()
{
    projector.send(commands::Command::KeystoneDown);
}

void Lumivox::on_keystoneUpp_clicked()
{
    projector.send(commands::Command::KeystoneUp);
}

void Lumivox::on_hide_clicked()
{
    projector.send(commands::Command::ShowHide);
}

void Lumivox::on_keystone_clicked()
{
    projector.send(commands::Command::KeystoneMenu);
}

void Lumivox::on_ok_clicked()
{
    projector.send(commands::Command::Ok);
}

void Lumivox::on_left_clicked()
{
    projector.send(commands::Command::Left);
}

void Lumivox::on_down_clicked()
{
    projector.send(commands::Command::Down);
}

void Lumivox::on_right_clicked()
{
    projector.send(commands::Command::Right);
}

void Lumivox::on_up_clicked()
{
    projector.send(commands::Command::Up);
}

void Lumivox::on_menu_clicked()
{
    projector.send(commands::Command::Menu);
}

void Lumivox::on_queryModel_clicked()
{
    projector.send(commands::Command::Model);
}

void Lumivox::on_queryLampTime_clicked()
{
    projector.send(commands::Command::LampTime);
}

void Lumivox::on_startProjector_clicked()
{
    projector.send(commands::Command::PowerOn);
}
