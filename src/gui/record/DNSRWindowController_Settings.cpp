// The recorder window's settings sheet and its audio menu.
#include "platform/DNLogger.h"
#include "record/AudioDevice.h"
#include "record/DNSRSettingPanel.h"
#include "record/DNSRWindowController.h"
#include "services/DNScreenRecorderSetting.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

namespace {

constexpr int kPresetCount = 3;

} // namespace

void DNSRWindowController::buildSettingPannel()
{
    m_settingPannel = new DNSRSettingPanel(this);
    DNSRSettingPanel* panel = m_settingPannel;
    connect(panel->sessionPreset, &QComboBox::activated, this, [this](int index) {
        m_setting.setSessionPresetIndex(quint64(index));
        if (m_screenRecorder)
            m_screenRecorder->setSessionPreset(sessionPresetAtIndex(quint64(index)));
    });
    connect(panel->maxframerateSlider, &QSlider::valueChanged, this, [this](int value) {
        m_settingPannel->maxframerateField->setText(QString::number(value));
        m_setting.setMaxFramerate(quint64(value));
    });
    connect(panel->countStepper, &QSpinBox::valueChanged, this, [this](int value) {
        m_setting.setCountDown(quint64(value));
        m_settingPannel->countdownField->setText(QString::number(value));
    });
    connect(panel->captureMouse, &QCheckBox::toggled, this,
        [this](bool on) { m_setting.setCaptureMouse(on); });
    connect(panel->openRecordMovie, &QCheckBox::toggled, this,
        [this](bool on) { m_setting.setOpenRecordMovie(on); });
    connect(panel->audioDevices, &QComboBox::activated, this,
        &DNSRWindowController::onAudioDeviceChanged);
    connect(panel->audioDevices, &DNPopUpButton::willPopUp, this,
        &DNSRWindowController::buildAudioDeviceMenu);
    connect(panel->browseButton, &QPushButton::clicked, this,
        &DNSRWindowController::onBrowseOutputFolder);
}

void DNSRWindowController::onSettingClick()
{
    initializeSettings();
    m_settingPannel->open();
}

void DNSRWindowController::initializeSettings()
{
    DNSRSettingPanel* panel = m_settingPannel;
    panel->sessionPreset->clear();
    panel->sessionPreset->addItems({ tr("Low"), tr("Medium"), tr("High") });
    panel->sessionPreset->setCurrentIndex(
        int(std::min<quint64>(m_setting.sessionPresetIndex(), kPresetCount - 1)));
    buildAudioDeviceMenu();
    const int framerate = int(m_setting.maxFramerate());
    const int countDown = int(m_setting.countDown());
    panel->maxframerateSlider->setValue(framerate);
    panel->maxframerateField->setText(QString::number(panel->maxframerateSlider->value()));
    panel->targetFolder->setText(m_setting.targetFolder());
    panel->countStepper->setValue(countDown);
    panel->countdownField->setText(QString::number(panel->countStepper->value()));
    panel->captureMouse->setChecked(m_setting.captureMouse());
    panel->openRecordMovie->setChecked(m_setting.openRecordMovie());
}

void DNSRWindowController::buildAudioDeviceMenu()
{
    QComboBox* menu = m_settingPannel->audioDevices;
    const QSignalBlocker quiet(menu);
    menu->clear();
    menu->addItem(tr("None"), QString());
    menu->insertSeparator(menu->count());
    menu->addItem(tr("System Sound"), QString(kSystemAudioDeviceID));
    menu->insertSeparator(menu->count());
    int selected = -1;
    for (const AudioCaptureDevice& device : audioCaptureDevices()) {
        if (device.uniqueID == QLatin1String(kSystemAudioDeviceID))
            continue;
        menu->addItem(device.localizedName, device.uniqueID);
        if (device.uniqueID == m_selectedAudioDevUniqueID)
            selected = menu->count() - 1;
    }
    if (selected < 0 && m_selectedAudioDevUniqueID == QLatin1String(kSystemAudioDeviceID))
        selected = menu->findData(QString(kSystemAudioDeviceID));
    menu->setCurrentIndex(std::max(selected, 0));
}

void DNSRWindowController::onAudioDeviceChanged(int index)
{
    const QString uniqueID = m_settingPannel->audioDevices->itemData(index).toString();
    const bool virtualDevice = uniqueID == QLatin1String(kSystemAudioDeviceID);
    const bool missing = virtualDevice && audioCaptureDevice(uniqueID).source.isEmpty();
    // Installed before: it is only loaded into this run of the sound server.
    if (missing && !(DNScreenRecorder::virtualDeviceInstalled() && installVirtualDevice())) {
        const NXAlertAnswer answer = m_dialogs.runAlert(this,
            { tr("Add-on required to record the system audio"),
                tr("In order to record system audio, we need install an additional audio "
                   "recording driver."),
                { tr("Install"), tr("Cancel") }, {} });
        if (answer.button != 0 || !installVirtualDevice()) {
            buildAudioDeviceMenu();
            return;
        }
    }
    m_selectedAudioDevUniqueID = uniqueID;
}

bool DNSRWindowController::installVirtualDevice()
{
    if (!PulseAudio::serverReachable()) {
        m_dialogs.runAlert(
            this, { tr("No sound server found: recording video only."), {}, { tr("OK") }, {} });
        return false;
    }
    QString error;
    const bool loaded = m_screenRecorder && m_screenRecorder->installVirtualDevice(&error);
    if (!loaded)
        DNLog(QStringLiteral("The system sound device cannot be added: %1").arg(error));
    return loaded && !audioCaptureDevice(kSystemAudioDeviceID).source.isEmpty();
}

void DNSRWindowController::onBrowseOutputFolder()
{
    const QString folder
        = m_dialogs.chooseFolder(this, tr("Choose a folder"), m_setting.targetFolder());
    if (folder.isEmpty())
        return;
    m_settingPannel->targetFolder->setText(folder);
    m_setting.setTargetFolder(folder);
}
