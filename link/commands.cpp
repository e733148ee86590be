// The command buttons of the main window and the power-off question on closing.

#include "lumivox.h"
#include "protocol.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QThread>

namespace {
// Time for the power-off frame to leave the wire before the port is closed.
constexpr unsigned long kPowerOffPause = 2000; // ms
} // namespace

void Lumivox::sendKey(const char *command)
{
    sendCommand(command, unsigned(qstrlen(command)));
}

void Lumivox::on_freeze_clicked()
{
    sendKey(protocol::kFreeze);
}

void Lumivox::on_company_clicked()
{
    sendKey(protocol::kCompany);
}

void Lumivox::on_compositeVideo_clicked()
{
    sendKey(protocol::kComposite);
}

void Lumivox::on_searchVideo_clicked()
{
    sendKey(protocol::kSearchSource);
}

void Lumivox::on_zoom_clicked()
{
    sendKey(protocol::kZoom);
}

void Lumivox::on_colorTemperature_clicked()
{
    sendKey(protocol::kColorTemperature);
}

void Lumivox::on_hdmi_clicked()
{
    sendKey(protocol::kHdmi);
}

void Lumivox::on_dvi_clicked()
{
    sendKey(protocol::kDvi);
}

void Lumivox::on_sVideo_clicked()
{
    sendKey(protocol::kSVideo);
}

void Lumivox::on_analogRGB_clicked()
{
    sendKey(protocol::kAnalogRgb);
}

void Lumivox::on_eKey_clicked()
{
    sendKey(protocol::kEKey);
}

void Lumivox::on_contrast_clicked()
{
    sendKey(protocol::kContrast);
}

void Lumivox::on_brightness_clicked()
{
    sendKey(protocol::kBrightness);
}

void Lumivox::on_aspect16_9_clicked()
{
    sendKey(protocol::kAspect16To9);
}

void Lumivox::on_aspect4_3_clicked()
{
    sendKey(protocol::kAspect4To3);
}

void Lumivox::on_resolution_clicked()
{
    sendKey(protocol::kResolution);
}

void Lumivox::on_keystoneDown_clicked()
{
    sendKey(protocol::kKeystoneDown);
}

void Lumivox::on_keystoneUpp_clicked()
{
    sendKey(protocol::kKeystoneUp);
}

void Lumivox::on_hide_clicked()
{
    sendKey(protocol::kHide);
}

void Lumivox::on_keystone_clicked()
{
    sendKey(protocol::kKeystoneMenu);
}

void Lumivox::on_ok_clicked()
{
    sendKey(protocol::kOk);
}

void Lumivox::on_left_clicked()
{
    sendKey(protocol::kLeft);
}

void Lumivox::on_down_clicked()
{
    sendKey(protocol::kDown);
}

void Lumivox::on_right_clicked()
{
    sendKey(protocol::kRight);
}

void Lumivox::on_up_clicked()
{
    sendKey(protocol::kUp);
}

void Lumivox::on_menu_clicked()
{
    sendKey(protocol::kMenu);
}

void Lumivox::on_queryModel_clicked()
{
    sendKey(protocol::kQueryModel);
}

void Lumivox::on_queryLampTime_clicked()
{
    sendKey(protocol::kLampTime);
}

void Lumivox::on_startProjector_clicked()
{
    // Neutral until the projector reports its lamp again.
    ui.on_off_groupBox->setColor(protocol::neutralColor());
    sendKey(protocol::kPowerOn);
}

void Lumivox::on_powerOff_clicked()
{
    if (QMessageBox::question(this, tr("Turn off"), tr("Turn the projector off?"),
                              QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    ui.on_off_groupBox->setColor(protocol::neutralColor());
    sendKey(protocol::kPowerOff);
}

void Lumivox::closeEvent(QCloseEvent *event)
{
    if (!quietClose && lampOn
        && QMessageBox::question(this, tr("Projector is on!"),
                                 tr("The projectorn is On.\nDo you want to turn it off?"),
                                 QMessageBox::Yes | QMessageBox::No)
            == QMessageBox::Yes) {
        ui.on_off_groupBox->setColor(protocol::neutralColor());
        sendKey(protocol::kPowerOff);
        QThread::msleep(kPowerOffPause);
    }
    // The window always closes; the question only decides about the projector.
    event->accept();
}
