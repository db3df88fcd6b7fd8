// The main window's turn to a tool window and back.
#include "platform/NotificationCenter.h"
#include "record/DNSRWindowController.h"
#include "record/NXCameraRecorderController.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"

void NXAppController::showScreenRecorder()
{
    if (m_screenRecorderController) {
        m_screenRecorderController->raise();
        return;
    }
    // A child window of ours, so it goes with the main window at the latest.
    auto* tool = new DNSRWindowController(
        m_setting.screenRecordSetting(), m_defaults, m_dialogs, m_system, {}, this);
    m_screenRecorderController = tool;
    NotificationCenter::defaultCenter().addObserver(
        DNSRWindowController::kWillDisappear, nullptr, tool, [this, tool](const Notification&) {
            show();
            raise();
            toolWindowDidClose(*tool);
            // Released later: the notification comes from inside its close.
            tool->deleteLater();
        });
    hide();
    tool->show();
    tool->raise();
    tool->createCaptureRecorder();
}

DNSRWindowController* NXAppController::screenRecorderController() const
{
    return m_screenRecorderController;
}

void NXAppController::showCameraRecorder()
{
    showCameraRecorder(NXCameraDeviceSource {});
}

void NXAppController::showCameraRecorder(const NXCameraDeviceSource& devices)
{
    if (m_cameraRecorderController) {
        m_cameraRecorderController->raise();
        return;
    }
    auto* tool = new NXCameraRecorderController(
        m_setting.cameraSetting(), m_dialogs, m_system, devices, this);
    m_cameraRecorderController = tool;
    NotificationCenter::defaultCenter().addObserver(
        NXCameraRecorderController::kWillCloseNotification, nullptr, tool,
        [this, tool](const Notification&) {
            show();
            raise();
            toolWindowDidClose(*tool);
            tool->deleteLater();
        });
    hide();
    tool->show();
    tool->raise();
    tool->getReadyToRecord();
}

NXCameraRecorderController* NXAppController::cameraRecorderController() const
{
    return m_cameraRecorderController;
}
