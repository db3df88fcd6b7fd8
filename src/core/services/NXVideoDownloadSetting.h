#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

// The downloader's options, read and written live by its window. The
// download folder is observed (the window follows it), hence the signal.
class NXVideoDownloadSetting : public QObject {
    Q_OBJECT
public:
    NXVideoDownloadSetting();

    QString favFormat() const { return m_favFormat; }
    void setFavFormat(const QString& format) { m_favFormat = format; }
    QString favResolution() const { return m_favResolution; }
    void setFavResolution(const QString& resolution) { m_favResolution = resolution; }
    QString downloadTarget() const { return m_downloadTarget; }
    void setDownloadTarget(const QString& folder);
    QString proxyAddress() const { return m_proxyAddress; }
    void setProxyAddress(const QString& address) { m_proxyAddress = address; }
    QString proxyPort() const { return m_proxyPort; }
    void setProxyPort(const QString& port) { m_proxyPort = port; }
    double volume() const { return m_volume; }
    void setVolume(double volume) { m_volume = volume; }
    bool isFinishedOpenTarget() const { return m_isFinishedOpenTarget; }
    void setIsFinishedOpenTarget(bool on) { m_isFinishedOpenTarget = on; }
    bool isFinishedShutdown() const { return m_isFinishedShutdown; }
    void setIsFinishedShutdown(bool on) { m_isFinishedShutdown = on; }
    bool isSpeedLimited() const { return m_isSpeedLimited; }
    void setIsSpeedLimited(bool on) { m_isSpeedLimited = on; }
    bool isProxyEnabled() const { return m_isProxyEnabled; }
    void setIsProxyEnabled(bool on) { m_isProxyEnabled = on; }
    bool isAdd2ListOrCopy2iTunes() const { return m_isAdd2ListOrCopy2iTunes; }
    void setIsAdd2ListOrCopy2iTunes(bool on) { m_isAdd2ListOrCopy2iTunes = on; }
    bool donotShowQuitWarningAgain() const { return m_donotShowQuitWarningAgain; }
    void setDonotShowQuitWarningAgain(bool on) { m_donotShowQuitWarningAgain = on; }

    QVariantMap archive() const;
    // The defaults, overridden by the values the map holds. The folder's
    // signal comes once, and only when the folder ends up elsewhere.
    void restore(const QVariantMap& map);
    void resetToDefaults();

signals:
    void downloadTargetChanged(const QString& folder);

private:
    void setDefaults();
    void announceTarget(const QString& before);

    QString m_favFormat;
    QString m_favResolution;
    QString m_downloadTarget;
    QString m_proxyAddress;
    QString m_proxyPort;
    double m_volume = 20.0;
    bool m_isFinishedOpenTarget = true;
    bool m_isFinishedShutdown = false;
    bool m_isSpeedLimited = false;
    bool m_isProxyEnabled = false;
    bool m_isAdd2ListOrCopy2iTunes = false;
    bool m_donotShowQuitWarningAgain = false;
};
