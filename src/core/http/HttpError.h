#pragma once

#include <QString>
#include <QVariantMap>

#include <memory>

// The failures a transport can report, named so that callers match them by
// symbol instead of by platform error numbers: a connection that went away (the
// peer closed or reset it, or a body was cut short) is worth one silent retry on
// a fresh connection; a TLS failure gets its own wording, and so does a reply
// that broke the rules of HTTP; everything else is reported as it is.
enum class TransportError {
    Other = 1,
    ConnectionLost = 2,
    Tls = 3,
    Protocol = 4,
};

// An error object: a domain, a code within that domain, a readable
// description, an optional failure reason, extra values and the error that
// caused it. A value type; copies share the underlying error.
class HttpError {
public:
    // The domain of the errors a read stream reports; their code is a
    // TransportError.
    static const QString transportDomain;

    HttpError() = default;
    HttpError(QString domain, int code, QString description, QVariantMap userInfo = {},
        std::shared_ptr<const HttpError> underlying = {});

    static HttpError transport(TransportError category, const QString& description);

    bool isNull() const { return m_domain.isEmpty(); }
    QString domain() const { return m_domain; }
    int code() const { return m_code; }
    QString localizedDescription() const { return m_description; }
    QString failureReason() const { return m_failureReason; }
    void setFailureReason(const QString& reason) { m_failureReason = reason; }
    QVariantMap userInfo() const { return m_userInfo; }
    std::shared_ptr<const HttpError> underlyingError() const { return m_underlying; }

    // The transport category of this error, or of the first transport error
    // among its underlying errors; Other when there is none.
    TransportError transportCategory() const;
    bool is(TransportError category) const { return transportCategory() == category; }

    bool operator==(const HttpError& other) const;

private:
    QString m_domain;
    int m_code = 0;
    QString m_description;
    QString m_failureReason;
    QVariantMap m_userInfo;
    std::shared_ptr<const HttpError> m_underlying;
};
