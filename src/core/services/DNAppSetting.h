#pragma once

#include <QString>
#include <QVariantMap>

// Where the program writes: the conversion outputs and the player's
// screenshots.
class DNAppSetting {
public:
    DNAppSetting();

    QString videoOutputDirectory() const { return m_videoOutputDirectory; }
    void setVideoOutputDirectory(const QString& folder) { m_videoOutputDirectory = folder; }
    QString snapshotDirectory() const { return m_snapshotDirectory; }
    void setSnapshotDirectory(const QString& folder) { m_snapshotDirectory = folder; }

    QVariantMap archive() const;
    // The defaults, overridden by the values the map holds.
    void restore(const QVariantMap& map);

private:
    QString m_videoOutputDirectory;
    QString m_snapshotDirectory;
};
