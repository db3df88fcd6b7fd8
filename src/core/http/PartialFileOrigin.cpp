#include "http/PartialFileOrigin.h"

#include "http/HttpHeaders.h"
#include "http/NXHTTPRequest.h"
#include "platform/DNLogger.h"

#include <QDateTime>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cerrno>

#include <sys/xattr.h>

namespace {

const char* const kAttribute = "user.quillon.origin";

// The form kept on disk: entity tag, Last-Modified, total, type and Date,
// one per line. Files of earlier versions have no line for the type or the Date.
QByteArray serialized(const PartialFileOrigin& origin)
{
    const QString total = origin.total ? QString::number(*origin.total) : QString();
    return QStringList { origin.entityTag, origin.lastModified, total, origin.contentType,
        origin.date }
        .join(QLatin1Char('\n'))
        .toUtf8();
}

// What a header of ours may hold: Latin-1 without control characters. A NUL
// or a bare CR, which only another writer can have put there, would make the
// If-Range header it goes into unsendable.
bool isHeaderText(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        const char16_t code = c.unicode();
        return code == u'\t' || (code >= 0x20 && code != 0x7f && code <= 0xff);
    });
}

std::optional<PartialFileOrigin> parsed(const QByteArray& stored)
{
    const QStringList lines = QString::fromUtf8(stored).split(QLatin1Char('\n'));
    if (lines.size() < 3 || lines.size() > 5)
        return std::nullopt;
    if (!std::all_of(lines.cbegin(), lines.cend(), isHeaderText))
        return std::nullopt;
    PartialFileOrigin origin { lines[0], lines[1], std::nullopt, lines.value(3), lines.value(4) };
    bool ok = false;
    const quint64 total = lines[2].toULongLong(&ok);
    if (ok)
        origin.total = total;
    else if (!lines[2].isEmpty())
        return std::nullopt;
    return origin;
}

bool bothSetAndDiffer(const QString& a, const QString& b)
{
    return !a.isEmpty() && !b.isEmpty() && a != b;
}

bool isStrongTag(const QString& tag)
{
    return tag.size() >= 2 && tag.startsWith(QLatin1Char('"')) && tag.endsWith(QLatin1Char('"'));
}

// A weak tag and the strong one of the same text name the same version.
QString withoutWeakMark(const QString& tag)
{
    return tag.startsWith(QLatin1String("W/")) ? tag.mid(2) : tag;
}

} // namespace

PartialFileOrigin PartialFileOrigin::fromAnswer(
    const HttpHeaders& headers, std::optional<quint64> total)
{
    const QString type = headers.value(QStringLiteral("Content-Type"))
                             .section(QLatin1Char(';'), 0, 0)
                             .trimmed()
                             .toLower();
    return { headers.value(QStringLiteral("ETag")).trimmed(),
        headers.value(QStringLiteral("Last-Modified")).trimmed(), total, type,
        headers.value(QStringLiteral("Date")).trimmed() };
}

std::optional<PartialFileOrigin> PartialFileOrigin::readFrom(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    char value[1024];
    const ssize_t size = ::getxattr(name.constData(), kAttribute, value, sizeof value);
    if (size < 0)
        return std::nullopt;
    std::optional<PartialFileOrigin> origin = parsed(QByteArray(value, size));
    if (!origin)
        DNLog(QStringLiteral("The version kept on %1 cannot be read; it is ignored").arg(path));
    return origin;
}

bool PartialFileOrigin::isKeptOn(const QString& path)
{
    const ssize_t size = ::getxattr(QFile::encodeName(path).constData(), kAttribute, nullptr, 0);
    return size >= 0 || (errno != ENOTSUP && errno != EOPNOTSUPP);
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

bool PartialFileOrigin::hasStrongTag() const
{
    return isStrongTag(entityTag);
}

bool PartialFileOrigin::hasStrongDate() const
{
    if (!entityTag.isEmpty())
        return false;
    const QDateTime modified = NXHTTPRequest::dateFromRFC1123String(lastModified);
    const QDateTime answered = NXHTTPRequest::dateFromRFC1123String(date);
    return modified.isValid() && answered.isValid() && modified.secsTo(answered) >= 1;
}

QString PartialFileOrigin::ifRangeValue() const
{
    if (hasStrongTag())
        return entityTag;
    return hasStrongDate() ? lastModified : QString();
}

bool PartialFileOrigin::tiedTo(const PartialFileOrigin& piece) const
{
    if (total && piece.total && *total != *piece.total)
        return false;
    if (hasStrongTag())
        return piece.entityTag == entityTag;
    return hasStrongDate() && piece.entityTag.isEmpty() && piece.lastModified == lastModified;
}

bool PartialFileOrigin::continuedBy(const PartialFileOrigin& answer) const
{
    if (total && answer.total && *total != *answer.total)
        return false;
    return !bothSetAndDiffer(entityTag, answer.entityTag)
        && !bothSetAndDiffer(lastModified, answer.lastModified);
}

bool PartialFileOrigin::contradictedBy(const PartialFileOrigin& answer) const
{
    return hasStrongTag() && answer.entityTag == entityTag && total && answer.total
        && *total != *answer.total;
}

bool PartialFileOrigin::supersededBy(const PartialFileOrigin& answer) const
{
    // A server that keeps no tag, or heeds no range, still tells a new
    // version by its date; where both give a tag, the tags decide.
    const bool bothTagged = !entityTag.isEmpty() && !answer.entityTag.isEmpty();
    const bool otherVersion = bothTagged
        ? withoutWeakMark(entityTag) != withoutWeakMark(answer.entityTag)
        : bothSetAndDiffer(lastModified, answer.lastModified);
    return otherVersion && sameTypeAs(answer);
}

bool PartialFileOrigin::sameTypeAs(const PartialFileOrigin& other) const
{
    return !bothSetAndDiffer(contentType, other.contentType);
}
