#pragma once

#include "services/DNAppSetting.h"
#include "services/DNMainWindowSetting.h"
#include "services/DNScreenRecorderSetting.h"
#include "services/NXCameraRecorderSetting.h"
#include "services/NXVideoDownloadSetting.h"

#include <QByteArray>

#include <memory>

class UserDefaults;

// The root of the persisted settings: one archive under one user-defaults
// key, restored at launch and saved at quit. The records live as long as the
// settings, so callers may keep references to them.
class DNSetting {
public:
    static inline const QString kArchiveKey = QStringLiteral("kApplicationSetting002");

    // The shared settings of the running program, made on first use.
    static DNSetting& shareSetting();

    DNSetting();
    ~DNSetting();
    DNSetting(const DNSetting&) = delete;
    DNSetting& operator=(const DNSetting&) = delete;

    DNAppSetting& appSetting() { return m_appSetting; }
    DNMainWindowSetting& mainWindowSetting() { return m_mainWindowSetting; }
    NXVideoDownloadSetting& downloadSetting() { return *m_downloadSetting; }
    NXCameraRecorderSetting& cameraSetting() { return m_cameraSetting; }
    DNScreenRecorderSetting& screenRecordSetting() { return m_screenRecordSetting; }

    // The whole tree as bytes, and back. A damaged archive, or one of another
    // version, leaves every record at its defaults, logs why and answers false.
    QByteArray archive() const;
    bool restoreArchive(const QByteArray& bytes);

    // Reads the tree from the user defaults (nothing stored yet: the
    // defaults) and writes it back there.
    void restore(UserDefaults& defaults);
    void restore();
    void save(UserDefaults& defaults) const;
    void save() const;

    void resetToDefaults();

private:
    DNAppSetting m_appSetting;
    DNMainWindowSetting m_mainWindowSetting;
    std::unique_ptr<NXVideoDownloadSetting> m_downloadSetting;
    NXCameraRecorderSetting m_cameraSetting;
    DNScreenRecorderSetting m_screenRecordSetting;
};
