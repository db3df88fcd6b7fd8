#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

#include <optional>

// Where a credential applies: a server or a proxy, its host and port, the
// protocol of the URL, the realm and the authentication scheme of the
// challenge. Host, protocol and scheme are compared without regard to case;
// the realm is compared exactly.
struct CredentialSpace {
    QString host;
    int port = 0;
    QString protocol; // "http", "https"
    QString realm;
    QString scheme; // "Basic", "Digest"
    bool isProxy = false;
};

struct StoredCredential {
    QString user;
    QString password;
    QString domain;

    bool operator==(const StoredCredential&) const = default;
};

// A per-user credential store held in memory for the session, in place of
// a system keychain; safe to use from any thread.
class CredentialStore {
public:
    // The one store the requests of this process share.
    static CredentialStore& shared();

    void saveCredentials(const CredentialSpace& space, const StoredCredential& credential);
    std::optional<StoredCredential> savedCredentials(const CredentialSpace& space) const;
    void removeCredentials(const CredentialSpace& space);
    void clear();

private:
    static QString keyOf(const CredentialSpace& space);

    mutable QMutex m_mutex;
    QHash<QString, StoredCredential> m_credentials;
};
