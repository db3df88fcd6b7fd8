#include "http/CredentialStore.h"

#include <QStringList>

CredentialStore& CredentialStore::shared()
{
    static CredentialStore store;
    return store;
}

QString CredentialStore::keyOf(const CredentialSpace& space)
{
    // Fields joined with a separator that cannot occur in a host, port,
    // protocol or scheme; the realm, which may hold anything, comes last.
    const QStringList fields = { space.isProxy ? QStringLiteral("proxy") : QStringLiteral("server"),
        space.host.toLower(), QString::number(space.port), space.protocol.toLower(),
        space.scheme.toLower(), space.realm };
    return fields.join(QLatin1Char('\n'));
}

void CredentialStore::saveCredentials(
    const CredentialSpace& space, const StoredCredential& credential)
{
    const QMutexLocker lock(&m_mutex);
    m_credentials.insert(keyOf(space), credential);
}

std::optional<StoredCredential> CredentialStore::savedCredentials(
    const CredentialSpace& space) const
{
    const QMutexLocker lock(&m_mutex);
    const auto found = m_credentials.constFind(keyOf(space));
    if (found == m_credentials.constEnd())
        return std::nullopt;
    return *found;
}

void CredentialStore::removeCredentials(const CredentialSpace& space)
{
    const QMutexLocker lock(&m_mutex);
    m_credentials.remove(keyOf(space));
}

void CredentialStore::clear()
{
    const QMutexLocker lock(&m_mutex);
    m_credentials.clear();
}
