#include "download/OnlineVideoInfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <cmath>

namespace {

// Extensions of files that play as they are. A JSON or HTML file served as a
// "direct link" would otherwise be saved as the video.
bool isMediaExtension(const QString& extension)
{
    static const QSet<QString> media { "mp4", "m4v", "m4a", "webm", "weba", "mkv", "mka", "flv",
        "3gp", "mov", "mp3", "ogg", "oga", "ogv", "opus", "aac", "wav" };
    return media.contains(extension.toLower());
}

// The codec names the default choice compares with, from the program's
// RFC 6381 style names ("avc1.64001f", "mp4a.40.2").
QString codecName(const QString& codec)
{
    const QString family = codec.section(QLatin1Char('.'), 0, 0).toLower();
    if (family == QLatin1String("avc1"))
        return QStringLiteral("h264");
    if (family == QLatin1String("vp9") || family == QLatin1String("vp09"))
        return QStringLiteral("vp9");
    if (family == QLatin1String("av01"))
        return QStringLiteral("av1");
    if (family == QLatin1String("mp4a"))
        return QStringLiteral("aac");
    return family == QLatin1String("none") ? QString() : family;
}

// Why a format cannot be saved as one plain file, or empty when it can.
QString reasonToLeaveOut(const QJsonObject& format)
{
    const QString url = format.value("url").toString();
    const QString protocol = format.value("protocol").toString(QStringLiteral("https"));
    if (!url.startsWith(QLatin1String("http://")) && !url.startsWith(QLatin1String("https://")))
        return QStringLiteral("not an http address");
    if (protocol != QLatin1String("http") && protocol != QLatin1String("https"))
        return QStringLiteral("delivered as %1").arg(protocol);
    if (format.contains("fragments"))
        return QStringLiteral("delivered in fragments");
    if (!isMediaExtension(format.value("ext").toString()))
        return QStringLiteral("not a media file (%1)").arg(format.value("ext").toString());
    return {};
}

double streamSize(const QJsonObject& format, double duration)
{
    const double size = format.value("filesize").toDouble();
    if (size > 0)
        return size;
    const double approximate = format.value("filesize_approx").toDouble();
    if (approximate > 0)
        return approximate;
    // tbr is in kbit/s: 1000 / 8 bytes a second for each. A rate below zero or
    // one too large to multiply tells no size.
    const double estimate = format.value("tbr").toDouble() * duration * 125.0;
    return estimate > 0 && std::isfinite(estimate) ? estimate : 0;
}

OnlineVideoStream makeStream(const QJsonObject& format, double duration)
{
    OnlineVideoStream stream;
    stream.size = streamSize(format, duration);
    const QString video = format.value("vcodec").toString();
    const bool audioOnly = video == QLatin1String("none");
    stream.codec = codecName(audioOnly ? format.value("acodec").toString() : video);
    stream.container = format.value("ext").toString().toLower();
    stream.kind
        = audioOnly ? QStringLiteral("audio") : QString::number(format.value("height").toInteger());
    stream.urls = QStringList { format.value("url").toString() };
    const QJsonObject headers = format.value("http_headers").toObject();
    for (auto header = headers.begin(); header != headers.end(); ++header)
        stream.httpHeaders.insert(header.key(), header.value().toString());
    return stream;
}

// The program lists formats worst first; the default choice wants best first.
// A direct link has no format list: the entry itself is the one stream.
QList<QJsonObject> formatsBestFirst(const QJsonObject& entry)
{
    QList<QJsonObject> formats;
    const QJsonArray listed = entry.value("formats").toArray();
    for (qsizetype index = listed.size() - 1; index >= 0; --index)
        formats.append(listed.at(index).toObject());
    if (formats.isEmpty() && entry.contains("url"))
        formats.append(entry);
    return formats;
}

QStringList coversOf(const QJsonObject& entry)
{
    const QString first = entry.value("thumbnail").toString();
    QString second;
    for (const QJsonValue& thumbnail : entry.value("thumbnails").toArray()) {
        const QString url = thumbnail.toObject().value("url").toString();
        if (!url.isEmpty() && url != first) {
            second = url;
            break;
        }
    }
    return { first, second };
}

// Pages with several media elements get " (1)", " (2)" ... after the title;
// the download is named after the page.
QString titleOf(const QJsonObject& entry)
{
    QString title = entry.value("title").toString();
    if (entry.value("extractor_key").toString() == QLatin1String("HTML5MediaEmbed"))
        title.remove(QRegularExpression(QStringLiteral(" \\(\\d+\\)$")));
    return title;
}

// A playlist answers its first entry; a single video answers itself.
std::optional<QJsonObject> videoEntry(const QJsonObject& root)
{
    if (root.value("_type").toString() != QLatin1String("playlist"))
        return root;
    for (const QJsonValue& entry : root.value("entries").toArray()) {
        if (entry.isObject())
            return entry.toObject();
    }
    return std::nullopt;
}

} // namespace

std::optional<OnlineVideoInfo> onlineVideoInfoFromJson(const QByteArray& json, QStringList* leftOut)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    const std::optional<QJsonObject> entry = videoEntry(document.object());
    if (!entry)
        return std::nullopt;
    OnlineVideoInfo info;
    info.title = titleOf(*entry);
    info.covers = coversOf(*entry);
    const double duration = entry->value("duration").toDouble();
    info.duration = duration > 0 ? static_cast<quint32>(std::lround(duration)) : 0;
    for (const QJsonObject& format : formatsBestFirst(*entry)) {
        const QString reason = reasonToLeaveOut(format);
        if (reason.isEmpty())
            info.streams.append(makeStream(format, info.duration));
        else if (leftOut)
            leftOut->append(QStringLiteral("format %1 left out: %2")
                                .arg(format.value("format_id").toString(), reason));
    }
    return info;
}
