#include "shell/NXPreferencesController.h"

#include "common/NXDialogs.h"
#include "controls/NXPathField.h"
#include "platform/SystemInfo.h"
#include "services/DNSetting.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

NXPreferencesController::NXPreferencesController(
    DNSetting& setting, NXDialogs& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_setting(setting)
    , m_dialogs(dialogs)
{
    setWindowTitle(QStringLiteral("Preferences"));
    setWindowModality(Qt::WindowModal);
    buildLayout();
    load();
}

void NXPreferencesController::buildLayout()
{
    m_outputFolder = new NXPathField(this);
    auto* browse = new QPushButton(QStringLiteral("Choose..."), this);
    connect(browse, &QPushButton::clicked, this, &NXPreferencesController::chooseFolder);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_outputFolder);
    folderRow->addWidget(browse);

    m_safeMode = new QCheckBox(QStringLiteral("Safe mode"), this);
    m_highQuality = new QCheckBox(QStringLiteral("High quality"), this);
    m_deinterlacing = new QCheckBox(QStringLiteral("Deinterlacing"), this);
    m_cores = new QSpinBox(this);
    m_cores->setRange(1, std::max(1, SystemInfo::processorCount()));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &NXPreferencesController::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout(this);
    auto* folderLabel = new QLabel(QStringLiteral("Output folder:"), this);
    folderLabel->setBuddy(m_outputFolder);
    form->addRow(folderLabel, folderRow);
    form->addRow(QString(), m_safeMode);
    form->addRow(QString(), m_highQuality);
    form->addRow(QString(), m_deinterlacing);
    form->addRow(QStringLiteral("Processor cores:"), m_cores);
    form->addRow(buttons);
}

void NXPreferencesController::load()
{
    const auto& engine = m_setting.mainWindowSetting();
    m_outputFolder->setPath(m_setting.appSetting().videoOutputDirectory());
    m_safeMode->setChecked(engine.safemode());
    m_highQuality->setChecked(engine.highQuality());
    m_deinterlacing->setChecked(engine.deinterlacing());
    m_cores->setValue(engine.cpuCore());
}

void NXPreferencesController::chooseFolder()
{
    const QString folder = m_dialogs.chooseFolder(
        this, QStringLiteral("Choose the output folder"), m_outputFolder->path());
    if (!folder.isEmpty())
        m_outputFolder->setPath(folder);
}

void NXPreferencesController::accept()
{
    auto& engine = m_setting.mainWindowSetting();
    m_setting.appSetting().setVideoOutputDirectory(m_outputFolder->path());
    engine.setSafemode(m_safeMode->isChecked());
    engine.setHighQuality(m_highQuality->isChecked());
    engine.setDeinterlacing(m_deinterlacing->isChecked());
    engine.setCpuCore(m_cores->value());
    m_setting.save();
    QDialog::accept();
}
