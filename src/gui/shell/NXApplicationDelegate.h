#pragma once

#include "common/NXDialogs.h"
#include "platform/SingleInstance.h"

#include <QObject>
#include <QStringList>

#include <chrono>
#include <memory>

class DNProfileManager;
class DNSetting;
class NXAppController;
class TerminationSignals;
class UserDefaults;

// Start and quit of the application as a whole: settings, the data folder,
// the abnormal-end flag, files handed over on the command line, and a clean
// end (conversion stopped, settings and recent profiles stored, log closed).
class NXApplicationDelegate : public QObject {
    Q_OBJECT
public:
    static inline const QString kSafeTerminateKey
        = QStringLiteral("keyTolvaConvertDidSafeTerminate_0.0");
    static constexpr std::chrono::milliseconds kOpenFilesDelay { 750 };
    // How often files of a later start look again for a list free to take them.
    static constexpr std::chrono::milliseconds kLaterStartRetry { 250 };

    // Dialogs and system calls are the caller's; the shared settings, profile
    // catalogue and user defaults are used.
    NXApplicationDelegate(NXDialogs& dialogs, const NXSystemActions& system);
    ~NXApplicationDelegate() override;

    // Builds the main window, restores the settings and schedules `files`.
    void applicationDidFinishLaunching(const QStringList& files);
    // Files opened from the file manager: added after a short delay.
    void openFiles(const QStringList& files);
    // Takes the files of every later start (SingleInstance::handOver) as
    // dropped on the list, and brings the window to the front.
    bool listenForLaterStarts(SingleInstance::Claim claim = SingleInstance::Claim::take());
    // Ends cleanly; also run on the application's aboutToQuit.
    void applicationWillTerminate();
    // The clean end, then terminated() to end the event loop: for a closed
    // main window and for SIGTERM, SIGHUP and SIGINT.
    void quitApplication();

    NXAppController* controller() const { return m_controller.get(); }
    // Whether the run before this one ended without a clean quit.
    bool previousRunEndedAbnormally() const { return m_previousRunAbnormal; }

signals:
    // The clean end is done; main() ends the event loop on it.
    void terminated();

private:
    void addLaterStartFiles();
    void offerPreviousLog();
    void showLogWindow(const QString& path);

    NXDialogs& m_dialogs;
    const NXSystemActions& m_system;
    DNSetting& m_setting;
    UserDefaults& m_defaults;
    std::unique_ptr<NXAppController> m_controller;
    std::unique_ptr<TerminationSignals> m_signals;
    std::unique_ptr<InstanceServer> m_laterStarts;
    QStringList m_laterStartFiles; // waiting for the list
    bool m_previousRunAbnormal = false;
    bool m_ownsAbnormalEndFlag = false; // false in a second copy
    bool m_terminated = false;
};

// The build date as the log's "BUILD DATE:" line shows it.
QString NXBuildDate();
