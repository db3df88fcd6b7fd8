#include "TestCertificates.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

std::optional<TestTlsIdentity> makeSelfSignedIdentity(const QString& commonName)
{
    const QTemporaryDir folder;
    if (!folder.isValid())
        return std::nullopt;
    const QString keyPath = folder.filePath(QStringLiteral("key.pem"));
    const QString certificatePath = folder.filePath(QStringLiteral("cert.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
        { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
            QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
            QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certificatePath,
            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
            QStringLiteral("/CN=") + commonName, QStringLiteral("-addext"),
            QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost") });
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit
        || openssl.exitCode() != 0)
        return std::nullopt;
    QFile keyFile(keyPath);
    QFile certificateFile(certificatePath);
    if (!keyFile.open(QIODevice::ReadOnly) || !certificateFile.open(QIODevice::ReadOnly))
        return std::nullopt;
    TestTlsIdentity identity { QSslCertificate(certificateFile.readAll()),
        QSslKey(keyFile.readAll(), QSsl::Ec) };
    if (identity.certificate.isNull() || identity.key.isNull())
        return std::nullopt;
    return identity;
}
