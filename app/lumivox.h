#ifndef LUMIVOX_H
#define LUMIVOX_H

#include "portwatch.h"
#include "protocol.h"
#include "ui_lumivox.h"

#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <QTimer>

#include <memory>

class NetworkPort;
class PortDevice;

class Lumivox : public QMainWindow
{
    Q_OBJECT

public:
    explicit Lumivox(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~Lumivox() override;

    // The projector link: a serial port or a bridge's port on the network (PortDevice).
    // The port is open exactly while port() is not null.
    bool openPort(const QString &name, QString *reason = nullptr);
    void closePort();
    quint32 readBytes(char *buffer, quint32 count);
    void sendCommand(const char *text, unsigned length);
    PortDevice *port() const { return m_port.get(); }

    void handleReply(const QString &line);

    // What the command's button does once the user has confirmed it: the power
    // commands turn the panel neutral, then the command is sent.
    void runCommand(protocol::Command id);

    // Closes the window without the power-off question and without sending anything:
    // for a request to end the program that no user is there to answer.
    void closeQuietly();
    // Ends the program at once, as the system asks it to (a logout, kill, Ctrl+C): the
    // window closes quietly and every event loop ends, an open box's too.
    void endProgram();

    // Read-only views of the window's state, for the close handling's callers and tests.
    const Ui_LumivoxClass &form() const { return ui; }
    bool isLampOn() const { return lampOn; }
    quint32 noContactTicks() const { return noContactCount; }
    qint32 pendingWindowHeight() const { return pendingHeight; }
    const QString &pendingReply() const { return replyBuffer; }

signals:
    // Every reply line, after the window has handled it.
    void replyHandled(const QString &line);

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
    static constexpr quint32 kNoContact = 50; // no-contact counter value meaning "no contact"
    static constexpr qint32 kPollThreshold = 30;

    void log(const QString &text);
    void logOpenFailure(const QString &firstLine, const QString &reason);
    void sendKey(const char *command);
    // The reply buffer holds a complete line: contact, and what the line means.
    void lineReceived();
    void scheduleDeviceGone();
    void deviceGone();
    void reopenVanishedPort();
    PortWatch::Probe bridgeProbe();

    QTimer timer;
    std::unique_ptr<PortDevice> m_port;
    QString replyBuffer;
    quint32 noContactCount = 50;
    Ui_LumivoxClass ui;
    bool lampOn = false;
    qint32 pendingHeight = 0;

    // Loaded once (the contact icon at the first contact): the no-contact icon is set
    // again at every tick.
    QIcon contactIcon;
    QIcon noContactIcon;
    // Ticks since the last lamp poll; 50 makes the first tick poll at once.
    qint32 pollCount = 50;
    // Nesting depth of open send-failure boxes: the lamp poll waits for them.
    int sendFailureBoxes = 0;
    // Set once the device has vanished, until the port is closed for it.
    bool goneClosePending = false;
    // A port that vanished is looked for again under its name until the same device is
    // back or the user chooses a port.
    PortWatch replug;
    // A connection to a vanished bridge being made for the watch, ticks apart, never
    // waited for; the watch's reopening takes it over once it stands.
    std::unique_ptr<NetworkPort> reconnecting;
    // Set by closeQuietly(): the close asks nothing, and a frame being written stops.
    bool quietClose = false;
};

#endif // LUMIVOX_H
