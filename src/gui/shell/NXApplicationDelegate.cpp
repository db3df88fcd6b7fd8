#include "shell/NXApplicationDelegate.h"

#include "model/ThumbnailQueue.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/NXAction.h"
#include "platform/SingleInstance.h"
#include "platform/UserDefaults.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"
#include "shell/TerminationSignals.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <utility>

QString NXBuildDate()
{
    return QStringLiteral(__DATE__ " " __TIME__);
}

NXApplicationDelegate::NXApplicationDelegate(NXDialogs& dialogs, const NXSystemActions& system)
    : m_dialogs(dialogs)
    , m_system(system)
    , m_setting(DNSetting::shareSetting())
    , m_defaults(UserDefaults::standard())
{
    connect(qApp, &QCoreApplication::aboutToQuit, this,
        &NXApplicationDelegate::applicationWillTerminate);
}

NXApplicationDelegate::~NXApplicationDelegate()
{
    applicationWillTerminate();
}

void NXApplicationDelegate::applicationDidFinishLaunching(const QStringList& files)
{
    // The flag is read before it is set for this run: set means the last run
    // never reached a clean quit. A copy started while another runs finds
    // that one's flag set: the flag is the first copy's, which holds the log.
    m_ownsAbnormalEndFlag = !DNLogger::shareRoughLog().anotherCopyHoldsTheLog();
    if (m_ownsAbnormalEndFlag) {
        m_previousRunAbnormal = m_defaults.boolValue(kSafeTerminateKey);
        m_defaults.setValue(kSafeTerminateKey, true);
    }
    // Merging is a choice for one session only.
    m_defaults.setValue(NXAppController::kMergeModeKey, false);
    m_defaults.synchronize();

    m_setting.restore(m_defaults);
    if (!AppPaths::ensureDataFolder())
        DNLog(QStringLiteral("Could not create the data folder %1").arg(AppPaths::dataFolder()));
    m_controller = std::make_unique<NXAppController>(
        m_setting, DNProfileManager::profileManager(), m_defaults, m_dialogs, m_system);
    connect(m_controller.get(), &NXAppController::windowClosed, this,
        &NXApplicationDelegate::quitApplication);
    // A session that ends or a terminal's Ctrl+C is a quit, not a crash.
    m_signals = std::make_unique<TerminationSignals>();
    connect(m_signals.get(), &TerminationSignals::received, this, [this](int signalNumber) {
        DNLog(QStringLiteral("Quitting on signal %1").arg(signalNumber));
        quitApplication();
    });
    m_controller->show();
    if (!files.isEmpty())
        openFiles(files);
    DNLog(QStringLiteral("BUILD DATE:%1").arg(NXBuildDate()));
    if (m_previousRunAbnormal)
        NXAction(this, &NXApplicationDelegate::offerPreviousLog).performAfterDelay(kOpenFilesDelay);
}

void NXApplicationDelegate::openFiles(const QStringList& files)
{
    QStringList absolute;
    for (const QString& file : files)
        absolute << QFileInfo(file).absoluteFilePath();
    NXAction(this, [this, absolute] {
        if (m_controller)
            m_controller->addOpenedFiles(absolute);
    }).performAfterDelay(kOpenFilesDelay);
}

bool NXApplicationDelegate::listenForLaterStarts(SingleInstance::Claim claim)
{
    m_laterStarts = std::make_unique<InstanceServer>(std::move(claim));
    connect(m_laterStarts.get(), &InstanceServer::filesReceived, this,
        [this](const QStringList& files) {
            if (!m_controller)
                return;
            m_controller->raise();
            m_controller->activateWindow();
            m_laterStartFiles += files;
            addLaterStartFiles();
        });
    return m_laterStarts->listen();
}

// Files the list cannot take yet wait for it rather than being lost.
void NXApplicationDelegate::addLaterStartFiles()
{
    if (!m_controller || m_laterStartFiles.isEmpty())
        return;
    if (!m_controller->takesFilesNow()) {
        NXAction(this, &NXApplicationDelegate::addLaterStartFiles)
            .performAfterDelay(kLaterStartRetry);
        return;
    }
    m_controller->addFiles(std::exchange(m_laterStartFiles, {}));
}

void NXApplicationDelegate::offerPreviousLog()
{
    const QString previousLog = DNLogger::shareRoughLog().previousRunPath();
    const NXAlertAnswer answer = m_dialogs.runAlert(m_controller.get(),
        { QStringLiteral("Quillon quit unexpectedly the last time it ran."),
            QStringLiteral("The log of that run may tell what went wrong."),
            { QStringLiteral("Show Log"), QStringLiteral("Ignore") }, {} });
    if (answer.button != 0 || !QFileInfo(previousLog).isFile())
        return;
    // A desktop without an opener still gets to see the log; an opener that
    // runs and fails says why in an alert of its own.
    if (!m_system.openFile || !m_system.openFile(previousLog))
        showLogWindow(previousLog);
}

void NXApplicationDelegate::showLogWindow(const QString& path)
{
    auto* window = new QDialog(m_controller.get());
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Log of the Last Run"));
    auto* text = new QPlainTextEdit(window);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        text->setPlainText(QString::fromUtf8(file.readAll()));
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(new QLabel(path, window));
    layout->addWidget(text);
    window->resize(720, 480);
    window->show();
}

void NXApplicationDelegate::quitApplication()
{
    applicationWillTerminate();
    emit terminated();
}

void NXApplicationDelegate::applicationWillTerminate()
{
    if (m_terminated || !m_controller)
        return;
    m_terminated = true;
    // A start from now on gets a window of its own rather than this ending one.
    m_laterStarts.reset();
    // Pictures for a window about to go are wasted work.
    ThumbnailQueue::shared().cancelAll();
    // What was recorded up to the stop is the user's, however long it takes to write.
    m_controller->finishRecordings();
    // No engine may outlive us, and nothing it left half-written is an output.
    m_controller->stopConversionAndWait();
    m_setting.save(m_defaults);
    DNProfileManager::profileManager().storeRecentProfiles();
    if (m_ownsAbnormalEndFlag)
        m_defaults.setValue(kSafeTerminateKey, false);
    m_defaults.synchronize();
    DNLog(QStringLiteral("Quit"));
    DNLogger::shareRoughLog().close();
}
