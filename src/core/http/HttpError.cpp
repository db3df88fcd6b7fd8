#include "http/HttpError.h"

const QString HttpError::transportDomain = QStringLiteral("HttpTransportErrorDomain");

HttpError::HttpError(QString domain, int code, QString description, QVariantMap userInfo,
    std::shared_ptr<const HttpError> underlying)
    : m_domain(std::move(domain))
    , m_code(code)
    , m_description(std::move(description))
    , m_userInfo(std::move(userInfo))
    , m_underlying(std::move(underlying))
{ }

HttpError HttpError::transport(TransportError category, const QString& description)
{
    return HttpError(transportDomain, static_cast<int>(category), description);
}

TransportError HttpError::transportCategory() const
{
    // Bounded walk: an error chain is short, but never trust it to end.
    const HttpError* error = this;
    for (int depth = 0; error && depth < 16; ++depth) {
        if (error->m_domain == transportDomain) {
            switch (error->m_code) {
            case static_cast<int>(TransportError::ConnectionLost):
                return TransportError::ConnectionLost;
            case static_cast<int>(TransportError::Tls):
                return TransportError::Tls;
            case static_cast<int>(TransportError::Protocol):
                return TransportError::Protocol;
            default:
                return TransportError::Other;
            }
        }
        error = error->m_underlying.get();
    }
    return TransportError::Other;
}

bool HttpError::operator==(const HttpError& other) const
{
    return m_domain == other.m_domain && m_code == other.m_code
        && m_description == other.m_description;
}
