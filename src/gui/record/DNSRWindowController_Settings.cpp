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

#include <utility>

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

// Filled at once with the devices the sound server last answered, and again
// when it answers anew: the window does not wait on a server that does not.
void DNSRWindowController::buildAudioDeviceMenu()
{
    fillAudioDeviceMenu();
    if (std::exchange(m_askingAudioDevices, true))
        return;
    m_soundCalls.ask<std::vector<AudioCaptureDevice>>([] { return audioCaptureDevices(); },
        [this](const std::vector<AudioCaptureDevice>& devices) {
            m_askingAudioDevices = false;
            if (devices == m_audioDevices)
                return;
            m_audioDevices = devices;
            fillAudioDeviceMenu();
        });
}

void DNSRWindowController::fillAudioDeviceMenu()
{
    QComboBox* menu = m_settingPannel->audioDevices;
    const QSignalBlocker quiet(menu);
    menu->clear();
    menu->addItem(tr("None"), QString());
    menu->insertSeparator(menu->count());
    menu->addItem(tr("System Sound"), QString(kSystemAudioDeviceID));
    menu->insertSeparator(menu->count());
    int selected = -1;
    for (const AudioCaptureDevice& device : m_audioDevices) {
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

// The system's sound needs the virtual device: the sound server is asked
// whether it has it, and the choice is taken once it has answered.
void DNSRWindowController::onAudioDeviceChanged(int index)
{
    const QString uniqueID = m_settingPannel->audioDevices->itemData(index).toString();
    const quint64 choice = ++m_audioChoices;
    if (uniqueID != QLatin1String(kSystemAudioDeviceID)) {
        takeAudioChoice(choice, uniqueID);
        return;
    }
    m_audioChoicePending = true;
    m_soundCalls.ask<VirtualDeviceState>([] { return DNScreenRecorder::virtualDeviceState(); },
        [this, choice](const VirtualDeviceState& state) {
            // Installed before: it is only loaded into this run of the sound server.
            if (state.serverAnswers && !state.recordable
                && DNScreenRecorder::virtualDeviceInstalled())
                installVirtualDevice(choice, true);
            else
                virtualDeviceAnswered(choice, state);
        });
}

void DNSRWindowController::virtualDeviceAnswered(quint64 choice, const VirtualDeviceState& state)
{
    if (choice != m_audioChoices)
        return;
    if (state.recordable) {
        takeAudioChoice(choice, QString(kSystemAudioDeviceID));
        return;
    }
    if (!state.serverAnswers) {
        m_dialogs.runAlert(
            this, { tr("No sound server found: recording video only."), {}, { tr("OK") }, {} });
        turnDownAudioChoice(choice);
        return;
    }
    offerVirtualDevice(choice);
}

void DNSRWindowController::offerVirtualDevice(quint64 choice)
{
    const NXAlertAnswer answer = m_dialogs.runAlert(this,
        { tr("Add-on required to record the system audio"),
            tr("In order to record system audio, we need install an additional audio "
               "recording driver."),
            { tr("Install"), tr("Cancel") }, {} });
    if (answer.button != 0) {
        turnDownAudioChoice(choice);
        return;
    }
    installVirtualDevice(choice, false);
}

// A device that could not be loaded is offered to the user once, when it was
// installed before and is only missing from this run of the server.
void DNSRWindowController::installVirtualDevice(quint64 choice, bool offerOnFailure)
{
    if (!m_screenRecorder) {
        turnDownAudioChoice(choice);
        return;
    }
    m_screenRecorder->installVirtualDevice([this, choice, offerOnFailure](
                                               const VirtualDeviceState& state) {
        if (choice != m_audioChoices)
            return;
        if (state.serverAnswers && !state.recordable) {
            DNLog(QStringLiteral("The system sound device cannot be added: %1").arg(state.problem));
            if (!offerOnFailure) {
                turnDownAudioChoice(choice);
                return;
            }
        }
        virtualDeviceAnswered(choice, state);
    });
}

void DNSRWindowController::takeAudioChoice(quint64 choice, const QString& uniqueID)
{
    if (choice != m_audioChoices)
        return;
    m_audioChoicePending = false;
    m_selectedAudioDevUniqueID = uniqueID;
}

// The menu shows the earlier choice again.
void DNSRWindowController::turnDownAudioChoice(quint64 choice)
{
    if (choice != m_audioChoices)
        return;
    m_audioChoicePending = false;
    buildAudioDeviceMenu();
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
