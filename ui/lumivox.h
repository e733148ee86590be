#ifndef LUMIVOX_H
#define LUMIVOX_H

#include "session/projectorsession.h"
#include "ui/protocolchoice.h"
#include "ui_lumivox.h"

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QTimer>

#include <optional>

class QAbstractButton;

// The main window: the projector's remote control. It shows its ProjectorSession (the
// port, the polling and the replies live there) and turns clicks into its commands.
class Lumivox : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr char kStartPort[] = "COM1";

    // The window opens startPort at once, speaking the protocol chosen for this run, else
    // the one the settings keep (see ProtocolChoice).
    explicit Lumivox(QWidget *parent = nullptr, Qt::WindowFlags flags = {},
                     const std::optional<ProtocolChoice> &forThisRun = std::nullopt,
                     const QString &startPort = QLatin1String(kStartPort));
    ~Lumivox() override;

    // The projector link, as the session runs it: a serial port, a bridge's port or a
    // PJLink projector on the network. openPort() is true once the port is open; a network
    // name's outcome comes at a later tick, logged as Apply logs it.
    bool openPort(const QString &name, QString *reason = nullptr);
    void closePort();
    // What arrived on the port, up to count bytes, never waiting: what the tick reads.
    quint32 readBytes(char *buffer, quint32 count);
    // Sends a command text as one frame, as a button does; a reply line is handled as
    // the tick handles the ones it reads.
    void sendCommand(const char *text, unsigned length);
    void handleReply(const QString &line);

    // Closes the window without the power-off question and without sending anything:
    // for a request to end the program that no user is there to answer.
    void closeQuietly();
    // Ends the program at once, as the system asks it to (a logout, kill, Ctrl+C): the
    // window closes quietly and every event loop ends, an open box's too.
    void endProgram();

    // Says in the log who holds the port that could not be opened, when another Lumivox
    // does ("window" or "service"), if that port is still the one asked for.
    void showHolder(const QString &portName, const QString &holder);

    ProjectorSession &session() { return projector; }
    const ProjectorSession &session() const { return projector; }
    // Whether closing will ask about the lamp.
    bool isLampOn() const { return projector.isLampOn(); }

signals:
    // Applying a port failed; someone who can ask may say who holds it (showHolder()).
    void openFailed(const QString &portName);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_info_clicked();
    void on_connectionStatus_clicked();
    void on_clearLog_clicked();
    void on_freeze_clicked();
    void on_company_clicked();
    void on_compositeVideo_clicked();
    void on_searchVideo_clicked();
    void on_zoom_clicked();
    void on_colorTemperature_clicked();
    void on_hdmi_clicked();
    void on_dvi_clicked();
    void on_sVideo_clicked();
    void on_analogRGB_clicked();
    void on_eKey_clicked();
    void on_contrast_clicked();
    void on_brightness_clicked();
    void on_aspect16_9_clicked();
    void on_aspect4_3_clicked();
    void on_resolution_clicked();
    void on_keystoneDown_clicked();
    void on_keystoneUpp_clicked();
    void on_hide_clicked();
    void on_keystone_clicked();
    void on_powerOff_clicked();
    void on_ok_clicked();
    void on_left_clicked();
    void on_down_clicked();
    void on_right_clicked();
    void on_up_clicked();
    void on_menu_clicked();
    void on_queryModel_clicked();
    void on_queryLampTime_clicked();
    void on_startProjector_clicked();
    void OnTimer();
    void OnAbout();

private:
    void log(const QString &text);
    void logOpenFailure(const QString &firstLine, const QString &reason);
    void showContact();
    void showNoContact();
    void showLamp(bool on);
    void showNeutral();
    void echoReply(const QString &line);
    void echoFrame(const QByteArray &text);
    void askAboutWriteFailure();
    void applyFinished(bool opened, const QString &reason);
    // A projector on the network (PJLink): its password, the commands it can take, the
    // power state it tells, and the close that waits for its answer to Power Off.
    void askForPassword();
    void showAvailability();
    void showPower(ProjectorSession::Power power);
    void closeWhenAnswered();
    void finishClosing();
    // The session speaks the choice's set from the next opening; one that does not read
    // (any more) leaves the program's own protocol, said in the log.
    void useProtocol(const ProtocolChoice &choice);

    ProtocolChoice protocolChoice; // as the settings dialog shows it

    QTimer timer;
    ProjectorSession projector;
    Ui_LumivoxClass ui;
    qint32 pendingHeight = 0;

    // Loaded once (the contact icon at the first contact): the no-contact icon is set
    // again at every tick.
    QIcon contactIcon;
    QIcon noContactIcon;
    // Set by closeQuietly(): the close asks nothing.
    bool quietClose = false;
    // An Apply of a bridge's name whose outcome is still to be logged.
    bool applyPending = false;

    // Each command's button, with the tooltip the form gives it.
    struct CommandButton
    {
        commands::Command id;
        QAbstractButton *button;
        QString toolTip;
    };
    QList<CommandButton> commandButtons;
};

#endif // LUMIVOX_H
