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

void Lumivox::runCommand(protocol::Command id)
{
    // Neutral until the projector reports its lamp again.
    if (id == protocol::Command::PowerOn || id == protocol::Command::PowerOff)
        ui.on_off_groupBox->setColor(protocol::neutralColor());
    sendKey(protocol::command(id).text);
}

void Lumivox::on_freeze_clicked()
{
    runCommand(protocol::Command::Freeze);
}

void Lumivox::on_company_clicked()
{
    runCommand(protocol::Command::Company);
}

void Lumivox::on_compositeVideo_clicked()
{
    runCommand(protocol::Command::Composite);
}

void Lumivox::on_searchVideo_clicked()
{
    runCommand(protocol::Command::SearchAuto);
}

void Lumivox::on_zoom_clicked()
{
    runCommand(protocol::Command::Zoom);
}

void Lumivox::on_colorTemperature_clicked()
{
    runCommand(protocol::Command::ColorTemperature);
}

void Lumivox::on_hdmi_clicked()
{
    runCommand(protocol::Command::Hdmi);
}

void Lumivox::on_dvi_clicked()
{
    runCommand(protocol::Command::Dvi);
}

void Lumivox::on_sVideo_clicked()
{
    runCommand(protocol::Command::SVideo);
}

void Lumivox::on_analogRGB_clicked()
{
    runCommand(protocol::Command::Vga);
}

void Lumivox::on_eKey_clicked()
{
    runCommand(protocol::Command::EKey);
}

void Lumivox::on_contrast_clicked()
{
    runCommand(protocol::Command::Contrast);
}

void Lumivox::on_brightness_clicked()
{
    runCommand(protocol::Command::Brightness);
}

void Lumivox::on_aspect16_9_clicked()
{
    runCommand(protocol::Command::Aspect16To9);
}

void Lumivox::on_aspect4_3_clicked()
{
    runCommand(protocol::Command::Aspect4To3);
}

void Lumivox::on_resolution_clicked()
{
    runCommand(protocol::Command::Resolution);
}

void Lumivox::on_keystoneDown_clicked()
{
    runCommand(protocol::Command::KeystoneDown);
}

void Lumivox::on_keystoneUpp_clicked()
{
    runCommand(protocol::Command::KeystoneUp);
}

void Lumivox::on_hide_clicked()
{
    runCommand(protocol::Command::ShowHide);
}

void Lumivox::on_keystone_clicked()
{
    runCommand(protocol::Command::KeystoneMenu);
}

void Lumivox::on_ok_clicked()
{
    runCommand(protocol::Command::Ok);
}

void Lumivox::on_left_clicked()
{
    runCommand(protocol::Command::Left);
}

void Lumivox::on_down_clicked()
{
    runCommand(protocol::Command::Down);
}

void Lumivox::on_right_clicked()
{
    runCommand(protocol::Command::Right);
}

void Lumivox::on_up_clicked()
{
    runCommand(protocol::Command::Up);
}

void Lumivox::on_menu_clicked()
{
    runCommand(protocol::Command::Menu);
}

void Lumivox::on_queryModel_clicked()
{
    runCommand(protocol::Command::Model);
}

void Lumivox::on_queryLampTime_clicked()
{
    runCommand(protocol::Command::LampTime);
}

void Lumivox::on_startProjector_clicked()
{
    runCommand(protocol::Command::PowerOn);
}

void Lumivox::on_powerOff_clicked()
{
    if (QMessageBox::question(this, tr("Turn off"), tr("Turn the projector off?"),
                              QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    runCommand(protocol::Command::PowerOff);
}

void Lumivox::closeEvent(QCloseEvent *event)
{
    if (!quietClose && lampOn
        && QMessageBox::question(this, tr("Projector is on!"),
                                 tr("The projectorn is On.\nDo you want to turn it off?"),
                                 QMessageBox::Yes | QMessageBox::No)
            == QMessageBox::Yes) {
        runCommand(protocol::Command::PowerOff);
        QThread::msleep(kPowerOffPause);
    }
    // The window always closes; the question only decides about the projector.
    event->accept();
}
