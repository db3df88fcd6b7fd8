#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <memory>
#include <mutex>

// The user defaults: plain keys ("MergeExistsMediaNode", "_NotPressentDiffType_",
// ...) and archived blobs (the settings tree under "kApplicationSetting002")
// in one INI file, AppPaths::settingsFile().
class UserDefaults {
public:
    static UserDefaults& standard();

    explicit UserDefaults(const QString& file);

    QVariant value(const QString& key, const QVariant& fallback = {}) const;
    bool boolValue(const QString& key, bool fallback = false) const;
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    bool contains(const QString& key) const;

    // An archive: opaque bytes stored as they are.
    QByteArray data(const QString& key) const;
    void setData(const QString& key, const QByteArray& bytes);

    // Writes pending changes to disk; also done on destruction.
    void synchronize();

private:
    mutable std::mutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
};
