// The main window's turn to a tool window and back.
#include "download/NXYoutubeControlller.h"
#include "platform/NotificationCenter.h"
#include "record/DNSRWindowController.h"
#include "record/NXCameraRecorderController.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"

#include <QWindow>

void NXAppController::turnToToolWindow(
    QWidget* window, NXAppPluginProtocol* tool, const QString& willClose, const void* sender)
{
    // A window shown again without a position of the program's own is placed
    // anew by the window manager, wherever it likes; the person's place is
    // kept by giving it back, which a QWidget would not pass on unchanged.
    const QRect placed = geometry();
    NotificationCenter::defaultCenter().addObserver(
        willClose, sender, window, [this, window, tool, placed](const Notification&) {
            if (QWindow* handle = windowHandle())
                handle->setGeometry(placed);
            show();
            raise();
            toolWindowDidClose(*tool);
            // Released later: the notification comes from inside its close.
            window->deleteLater();
        });
    hide();
    window->show();
    window->raise();
}

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
    turnToToolWindow(tool, tool, DNSRWindowController::kWillDisappear, nullptr);
    tool->createCaptureRecorder();
}

void NXAppController::finishRecordings()
{
    if (m_screenRecorderController)
        m_screenRecorderController->finishBeforeQuit();
}

DNSRWindowController* NXAppController::screenRecorderController() const
{
    return m_screenRecorderController;
}

void NXAppController::showDownloader()
{
    if (m_youtubeController) {
        m_youtubeController->raise();
        return;
    }
    auto* tool
        = new NXYoutubeControlller(m_setting.downloadSetting(), m_dialogs, m_system, {}, this);
    m_youtubeController = tool;
    turnToToolWindow(tool, tool, NXYoutubeControlller::kWillCloseNotification, tool);
}

NXYoutubeControlller* NXAppController::youtubeController() const
{
    return m_youtubeController;
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
    turnToToolWindow(tool, tool, NXCameraRecorderController::kWillCloseNotification, nullptr);
    tool->getReadyToRecord();
}

NXCameraRecorderController* NXAppController::cameraRecorderController() const
{
    return m_cameraRecorderController;
}
