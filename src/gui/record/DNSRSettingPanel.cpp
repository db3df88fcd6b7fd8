#include "record/DNSRSettingPanel.h"

#include "record/ScreenCapture.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

void DNPopUpButton::showPopup()
{
    emit willPopUp();
    QComboBox::showPopup();
}

namespace {

QWidget* row(QWidget* parent, QWidget* first, QWidget* second)
{
    auto* box = new QWidget(parent);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(first, 1);
    layout->addWidget(second);
    return box;
}

} // namespace

DNSRSettingPanel::DNSRSettingPanel(QWidget* parent)
    : QDialog(parent)
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Setting"));
    sessionPreset = new QComboBox(this);
    maxframerateSlider = new QSlider(Qt::Horizontal, this);
    maxframerateSlider->setRange(1, kMaxCaptureFrameRate);
    maxframerateField = new QLabel(this);
    audioDevices = new DNPopUpButton(this);
    targetFolder = new QLineEdit(this);
    targetFolder->setReadOnly(true);
    browseButton = new QPushButton(tr("Browse..."), this);
    countdownField = new QLabel(this);
    countStepper = new QSpinBox(this);
    countStepper->setRange(1, 60);
    captureMouse = new QCheckBox(tr("Show mouse clicks"), this);
    openRecordMovie = new QCheckBox(tr("Open the movie after recording"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    // Every change is stored as it is made: both buttons only end the sheet.
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout(this);
    form->addRow(tr("Quality:"), sessionPreset);
    form->addRow(tr("Max frame rate:"), row(this, maxframerateSlider, maxframerateField));
    form->addRow(tr("Audio input:"), audioDevices);
    form->addRow(tr("Save to:"), row(this, targetFolder, browseButton));
    form->addRow(tr("Countdown:"), row(this, countdownField, countStepper));
    form->addRow(captureMouse);
    form->addRow(openRecordMovie);
    form->addRow(buttons);
}
