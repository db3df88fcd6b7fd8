#pragma once

#include <QDialog>

class DNSetting;
class NXDialogs;
class QCheckBox;
class NXPathField;
class QSpinBox;

// The preferences: output folder, safe mode, high quality, deinterlacing and
// the processor cores the engines may use. OK writes them to the settings and
// stores the settings at once, so a crash later does not lose them.
class NXPreferencesController : public QDialog {
    Q_OBJECT
public:
    NXPreferencesController(DNSetting& setting, NXDialogs& dialogs, QWidget* parent = nullptr);

    NXPathField* outputFolderEdit() const { return m_outputFolder; }
    QCheckBox* safeModeBox() const { return m_safeMode; }
    QCheckBox* highQualityBox() const { return m_highQuality; }
    QCheckBox* deinterlacingBox() const { return m_deinterlacing; }
    QSpinBox* coresBox() const { return m_cores; }

    void accept() override;

private:
    void buildLayout();
    void load();
    void chooseFolder();

    DNSetting& m_setting;
    NXDialogs& m_dialogs;
    NXPathField* m_outputFolder = nullptr;
    QCheckBox* m_safeMode = nullptr;
    QCheckBox* m_highQuality = nullptr;
    QCheckBox* m_deinterlacing = nullptr;
    QSpinBox* m_cores = nullptr;
};
