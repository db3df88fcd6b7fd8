#pragma once

#include <QComboBox>
#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;

// A pop-up that says when it is about to open, so its menu can be rebuilt
// with the devices present at that moment.
class DNPopUpButton : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;

signals:
    void willPopUp();
};

// The screen recorder's settings sheet: only the controls. The window
// controller fills them and stores every change as it is made.
class DNSRSettingPanel : public QDialog {
    Q_OBJECT
public:
    explicit DNSRSettingPanel(QWidget* parent);

    QComboBox* sessionPreset = nullptr;
    QSlider* maxframerateSlider = nullptr;
    QLabel* maxframerateField = nullptr;
    DNPopUpButton* audioDevices = nullptr;
    QLineEdit* targetFolder = nullptr;
    QPushButton* browseButton = nullptr;
    QLabel* countdownField = nullptr;
    QSpinBox* countStepper = nullptr;
    QCheckBox* captureMouse = nullptr;
    QCheckBox* openRecordMovie = nullptr;
};
