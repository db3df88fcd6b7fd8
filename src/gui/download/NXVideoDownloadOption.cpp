#include "download/NXVideoDownloadOption.h"

#include "common/NXDialogs.h"
#include "controls/NXPathField.h"
#include "services/NXVideoDownloadSetting.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The panel's top stays this far below the top of the window it is on.
constexpr int kTopBelowWindow = 22;

void singleShot(std::chrono::milliseconds delay, std::function<void()> work)
{
    QTimer::singleShot(delay, std::move(work));
}

} // namespace

NXVideoDownloadOption::NXVideoDownloadOption(
    NXVideoDownloadSetting& setting, NXDialogs& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_setting(setting)
    , m_dialogs(dialogs)
    , m_timer(&singleShot)
{
    setWindowTitle(QStringLiteral("Download Options"));
    setWindowModality(Qt::WindowModal);
    buildLayout();
}

const QStringList& NXVideoDownloadOption::formatsList()
{
    static const QStringList formats { "mp4", "webm", "flv", "3gp" };
    return formats;
}

const QStringList& NXVideoDownloadOption::resolutionsList()
{
    static const QStringList resolutions { "240P", "360P", "480P", "720P", "1080P",
        "Highest Definition" };
    return resolutions;
}

void NXVideoDownloadOption::buildLayout()
{
    m_targetFolderField = new NXPathField(this);
    auto* folderLabel = new QLabel(QStringLiteral("Save to:"), this);
    folderLabel->setBuddy(m_targetFolderField);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    connect(browse, &QPushButton::clicked, this, &NXVideoDownloadOption::brower2Selected);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folderLabel);
    folderRow->addWidget(m_targetFolderField, 1);
    folderRow->addWidget(browse);

    m_done = new QPushButton(QStringLiteral("Done"), this);
    connect(m_done, &QPushButton::clicked, this, &NXVideoDownloadOption::doneSetting);
    auto* doneRow = new QHBoxLayout;
    doneRow->addStretch(1);
    doneRow->addWidget(m_done);

    auto* layout = new QVBoxLayout(this);
    // The height is set by the proxy segment, not by the contents.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addLayout(folderRow);
    layout->addLayout(buildChoices());
    layout->addWidget(buildProxy());
    layout->addStretch(1);
    layout->addLayout(doneRow);
    setMinimumSize(0, 0);
}

QLayout* NXVideoDownloadOption::buildChoices()
{
    m_formats = new QComboBox(this);
    m_resolutions = new QComboBox(this);
    connect(m_formats, &QComboBox::textActivated, this, &NXVideoDownloadOption::setSelectedFormat);
    connect(m_resolutions, &QComboBox::textActivated, this,
        &NXVideoDownloadOption::setSelectedResolution);
    m_speed = new QCheckBox(QStringLiteral("Limit the download speed"), this);
    m_openTarget = new QCheckBox(QStringLiteral("Open the folder when done"), this);
    m_shutdown = new QCheckBox(QStringLiteral("Shut down when done"), this);
    connect(
        m_speed, &QCheckBox::clicked, this, [this](bool on) { m_setting.setIsSpeedLimited(on); });
    connect(m_openTarget, &QCheckBox::clicked, this,
        [this](bool on) { m_setting.setIsFinishedOpenTarget(on); });
    connect(m_shutdown, &QCheckBox::clicked, this,
        [this](bool on) { m_setting.setIsFinishedShutdown(on); });
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Format:"), m_formats);
    form->addRow(QStringLiteral("Resolution:"), m_resolutions);
    form->addRow(QString(), m_speed);
    form->addRow(QString(), m_openTarget);
    form->addRow(QString(), m_shutdown);
    return form;
}

QWidget* NXVideoDownloadOption::buildProxy()
{
    auto* proxyOn = new QPushButton(QStringLiteral("Proxy On"), this);
    auto* proxyOff = new QPushButton(QStringLiteral("Proxy Off"), this);
    m_enableProxy = new QButtonGroup(this);
    for (QPushButton* segment : { proxyOn, proxyOff })
        segment->setCheckable(true);
    m_enableProxy->addButton(proxyOn, 0);
    m_enableProxy->addButton(proxyOff, 1);
    connect(
        m_enableProxy, &QButtonGroup::idClicked, this, &NXVideoDownloadOption::enableProxyChanged);

    m_optionalBox = new QGroupBox(this);
    m_proxyAddress = new QLineEdit(m_optionalBox);
    m_proxyPort = new QLineEdit(m_optionalBox);
    m_wrongNotice = new QLabel(
        QStringLiteral("Please enter a proxy address and a port from 1 to 65535."), m_optionalBox);
    m_wrongNotice->hide();
    auto* fields = new QFormLayout(m_optionalBox);
    fields->addRow(QStringLiteral("Address:"), m_proxyAddress);
    fields->addRow(QStringLiteral("Port:"), m_proxyPort);
    fields->addRow(m_wrongNotice);

    auto* proxy = new QWidget(this);
    auto* segments = new QHBoxLayout;
    segments->addWidget(proxyOn);
    segments->addWidget(proxyOff);
    segments->addStretch(1);
    auto* column = new QVBoxLayout(proxy);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(segments);
    column->addWidget(m_optionalBox);
    return proxy;
}

void NXVideoDownloadOption::loadSettings()
{
    m_formats->clear();
    m_formats->addItems(formatsList());
    m_resolutions->clear();
    m_resolutions->addItems(resolutionsList());
    m_formats->setCurrentText(m_setting.favFormat());
    m_resolutions->setCurrentText(m_setting.favResolution());
    m_targetFolderField->setPath(m_setting.downloadTarget());
    m_proxyAddress->setText(m_setting.proxyAddress());
    m_proxyPort->setText(m_setting.proxyPort());
    m_speed->setChecked(m_setting.isSpeedLimited());
    m_openTarget->setChecked(m_setting.isFinishedOpenTarget());
    m_shutdown->setChecked(m_setting.isFinishedShutdown());
    m_enableProxy->button(m_setting.isProxyEnabled() ? 0 : 1)->setChecked(true);
    m_wrongNotice->hide();
}

void NXVideoDownloadOption::displayPanelWithWindow(QWidget* window)
{
    loadSettings();
    m_done->setDefault(true);
    if (window && parentWidget() != window)
        setParent(window, windowFlags());
    m_currentWindow = window;
    open();
    const QPointer<NXVideoDownloadOption> panel(this);
    m_timer(std::chrono::milliseconds(500), [panel] {
        if (panel)
            panel->enableProxyChanged(panel->m_enableProxy->checkedId());
    });
}

QString NXVideoDownloadOption::selectedFormat() const
{
    return m_setting.favFormat();
}

void NXVideoDownloadOption::setSelectedFormat(const QString& format)
{
    m_setting.setFavFormat(format);
}

QString NXVideoDownloadOption::selectedResolution() const
{
    return m_setting.favResolution();
}

void NXVideoDownloadOption::setSelectedResolution(const QString& resolution)
{
    m_setting.setFavResolution(resolution);
}

void NXVideoDownloadOption::enableProxyChanged(int segment)
{
    const bool on = segment == 0;
    m_setting.setIsProxyEnabled(on);
    m_enableProxy->button(on ? 0 : 1)->setChecked(true);
    if (!on)
        m_optionalBox->hide();
    resizeKeepingTop(on ? kHeightWithProxy : kHeightWithoutProxy);
    if (on)
        m_optionalBox->show();
}

void NXVideoDownloadOption::resizeKeepingTop(int height)
{
    const QRect window = m_currentWindow ? m_currentWindow->geometry() : geometry();
    const int top = m_currentWindow ? window.top() + kTopBelowWindow : geometry().top();
    auto* animation = new QPropertyAnimation(this, "geometry", this);
    animation->setDuration(200);
    animation->setEndValue(QRect(geometry().left(), top, geometry().width(), height));
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void NXVideoDownloadOption::doneSetting()
{
    const QString address = m_proxyAddress->text();
    const QString port = m_proxyPort->text();
    bool isNumber = false;
    const int portNumber = port.trimmed().toInt(&isNumber);
    const bool valid
        = !address.trimmed().isEmpty() && isNumber && portNumber >= 1 && portNumber <= 65535;
    if (m_setting.isProxyEnabled() && !valid) {
        m_wrongNotice->show();
        return;
    }
    m_setting.setProxyAddress(address);
    m_setting.setProxyPort(port);
    m_wrongNotice->hide();
    accept();
}

void NXVideoDownloadOption::brower2Selected()
{
    const QString folder = m_dialogs.chooseFolder(
        this, QStringLiteral("Choose the download folder"), m_setting.downloadTarget());
    if (folder.isEmpty())
        return;
    m_targetFolderField->setPath(folder);
    m_setting.setDownloadTarget(folder);
}
