#include "http/PartialFileOrigin.h"

#include "http/HttpHeaders.h"

#include <QFile>
#include <QStringList>

#include <sys/xattr.h>

namespace {

const char* const kAttribute = "user.quillon.origin";

// The form kept on disk: entity tag, date, total, one per line.
QByteArray serialized(const PartialFileOrigin& origin)
{
    const QString total = origin.total ? QString::number(*origin.total) : QString();
    return QStringList { origin.entityTag, origin.lastModified, total }
        .join(QLatin1Char('\n'))
        .toUtf8();
}

std::optional<PartialFileOrigin> parsed(const QByteArray& stored)
{
    const QStringList lines = QString::fromUtf8(stored).split(QLatin1Char('\n'));
    if (lines.size() != 3)
        return std::nullopt;
    PartialFileOrigin origin { lines[0], lines[1], std::nullopt };
    bool ok = false;
    const quint64 total = lines[2].toULongLong(&ok);
    if (ok)
        origin.total = total;
    return origin;
}

bool bothSetAndDiffer(const QString& a, const QString& b)
{
    return !a.isEmpty() && !b.isEmpty() && a != b;
}

} // namespace

PartialFileOrigin PartialFileOrigin::fromAnswer(
    const HttpHeaders& headers, std::optional<quint64> total)
{
    const QString tag = headers.value(QStringLiteral("ETag")).trimmed();
    const bool strong
        = tag.startsWith(QLatin1Char('"')) && tag.endsWith(QLatin1Char('"')) && tag.size() >= 2;
    return { strong ? tag : QString(), headers.value(QStringLiteral("Last-Modified")).trimmed(),
        total };
}

std::optional<PartialFileOrigin> PartialFileOrigin::readFrom(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    char value[1024];
    const ssize_t size = ::getxattr(name.constData(), kAttribute, value, sizeof value);
    if (size < 0)
        return std::nullopt;
    return parsed(QByteArray(value, size));
}

bool PartialFileOrigin::writeTo(const QString& path) const
{
    const QByteArray value = serialized(*this);
    // A server's header too long to keep is as good as none.
    if (value.size() > 1024)
        return false;
    return ::setxattr(QFile::encodeName(path).constData(), kAttribute, value.constData(),
               size_t(value.size()), 0)
        == 0;
}

void PartialFileOrigin::removeFrom(const QString& path)
{
    ::removexattr(QFile::encodeName(path).constData(), kAttribute);
}

QString PartialFileOrigin::ifRangeValue() const
{
    return entityTag.isEmpty() ? lastModified : entityTag;
}

bool PartialFileOrigin::continuedBy(const PartialFileOrigin& piece) const
{
    if (total && piece.total && *total != *piece.total)
        return false;
    return !bothSetAndDiffer(entityTag, piece.entityTag)
        && !bothSetAndDiffer(lastModified, piece.lastModified);
}
