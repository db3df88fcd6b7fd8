#pragma once

// Helpers shared by the download tests: a stand-in yt-dlp and the log.

#include "platform/AppPaths.h"
#include "services/DNSetting.h"
#include "services/NXVideoDownloadSetting.h"

#include <QFile>
#include <QString>

#include <gtest/gtest.h>

// A shell script in place of yt-dlp: "--version" prints `version`, any other
// call runs `body` (a JSON file to print is easiest: "cat 'file'").
inline QString writeFakeYtDlp(const QString& folder, const QString& version, const QString& body)
{
    const QString path = folder + QStringLiteral("/yt-dlp");
    QFile script(path);
    EXPECT_TRUE(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write(
        QStringLiteral("#!/bin/sh\nif [ \"$1\" = --version ]; then echo '%1'; exit 0; fi\n%2\n")
            .arg(version, body)
            .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

// What the program logged so far in this test run.
inline QString logText()
{
    QFile log(AppPaths::dataFolder() + QStringLiteral("/Quillon.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

// The download settings' proxy turned on for the life of the object; the
// settings' defaults come back after it, also when a test stops early.
class DownloadProxySetting {
public:
    DownloadProxySetting(const QString& address, const QString& port)
    {
        NXVideoDownloadSetting& setting = DNSetting::shareSetting().downloadSetting();
        setting.setIsProxyEnabled(true);
        setting.setProxyAddress(address);
        setting.setProxyPort(port);
    }
    ~DownloadProxySetting() { DNSetting::shareSetting().downloadSetting().resetToDefaults(); }
    DownloadProxySetting(const DownloadProxySetting&) = delete;
    DownloadProxySetting& operator=(const DownloadProxySetting&) = delete;
};
