#include "platform/UserDefaults.h"

#include "platform/AppPaths.h"

UserDefaults& UserDefaults::standard()
{
    static UserDefaults shared(AppPaths::settingsFile());
    return shared;
}

UserDefaults::UserDefaults(const QString& file)
    : m_settings(std::make_unique<QSettings>(file, QSettings::IniFormat))
{ }

QVariant UserDefaults::value(const QString& key, const QVariant& fallback) const
{
    const std::lock_guard lock(m_mutex);
    return m_settings->value(key, fallback);
}

bool UserDefaults::boolValue(const QString& key, bool fallback) const
{
    return value(key, fallback).toBool();
}

void UserDefaults::setValue(const QString& key, const QVariant& value)
{
    const std::lock_guard lock(m_mutex);
    m_settings->setValue(key, value);
}

void UserDefaults::remove(const QString& key)
{
    const std::lock_guard lock(m_mutex);
    m_settings->remove(key);
}

bool UserDefaults::contains(const QString& key) const
{
    const std::lock_guard lock(m_mutex);
    return m_settings->contains(key);
}

QByteArray UserDefaults::data(const QString& key) const
{
    return value(key).toByteArray();
}

void UserDefaults::setData(const QString& key, const QByteArray& bytes)
{
    setValue(key, bytes);
}

void UserDefaults::synchronize()
{
    const std::lock_guard lock(m_mutex);
    m_settings->sync();
}
