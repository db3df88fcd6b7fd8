#include "http/HttpTransportSettings.h"

#include <QCryptographicHash>

QString TlsSettings::poolKey() const
{
    QString key = validatesCertificateChain ? QStringLiteral("strict") : QStringLiteral("relaxed");
    if (hasClientIdentity())
        key += u'/'
            + QString::fromLatin1(clientCertificate.digest(QCryptographicHash::Sha256).toHex());
    return key;
}

QString ProxySettings::poolKey() const
{
    if (!isSet())
        return QStringLiteral("direct");
    const QString kindName = kind == Kind::Http ? QStringLiteral("http") : QStringLiteral("socks5");
    return kindName + u'/' + host + u':' + QString::number(port);
}
