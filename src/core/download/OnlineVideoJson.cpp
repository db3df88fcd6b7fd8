#include "download/OnlineVideoInfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <algorithm>
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

// The longest a page is taken to last; a record's numbers are kept within
// this and kLargestStreamBytes.
constexpr double kLongestDurationSeconds = 1000.0 * 3600;

// `value` when it is a number from 0 to `largest`; beyond, `largest`; anything
// else (below zero, not a number) 0.
double bounded(double value, double largest)
{
    return value > 0 ? std::min(value, largest) : 0.0;
}

bool isWebScheme(const QString& scheme)
{
    return scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0
        || scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

// An http or https address of a host, the scheme in any case.
bool isWebAddress(const QUrl& url)
{
    return isWebScheme(url.scheme()) && !url.host().isEmpty();
}

// Why a format cannot be saved as one plain file, or empty when it can.
QString reasonToLeaveOut(const QJsonObject& format)
{
    const QString protocol = format.value("protocol").toString(QStringLiteral("https"));
    if (!isWebAddress(QUrl(format.value("url").toString())))
        return QStringLiteral("not an http address");
    if (!isWebScheme(protocol))
        return QStringLiteral("delivered as %1").arg(protocol);
    if (format.contains("fragments"))
        return QStringLiteral("delivered in fragments");
    if (!isMediaExtension(format.value("ext").toString()))
        return QStringLiteral("not a media file (%1)").arg(format.value("ext").toString());
    return {};
}

// The file's size when the record gives it, else an estimate: the site's
// approximation, or the bit rate times the duration (tbr is in kbit/s: 1000 / 8
// bytes a second for each). A rate below zero tells no size.
void takeSize(const QJsonObject& format, double duration, OnlineVideoStream& stream)
{
    stream.size = bounded(format.value("filesize").toDouble(), kLargestStreamBytes);
    stream.sizeIsExact = stream.size > 0;
    if (stream.sizeIsExact)
        return;
    const double approximate = format.value("filesize_approx").toDouble();
    stream.size
        = bounded(approximate > 0 ? approximate : format.value("tbr").toDouble() * duration * 125.0,
            kLargestStreamBytes);
}

OnlineVideoStream makeStream(const QJsonObject& format, double duration)
{
    OnlineVideoStream stream;
    takeSize(format, duration, stream);
    const QString video = format.value("vcodec").toString();
    const bool audioOnly = video == QLatin1String("none");
    stream.codec = codecName(audioOnly ? format.value("acodec").toString() : video);
    stream.container = format.value("ext").toString().toLower();
    stream.kind = audioOnly
        ? QStringLiteral("audio")
        : QString::number(qint64(bounded(format.value("height").toDouble(), 100000)));
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
// the download is named after the page. Control characters (line breaks,
// escapes) become spaces: a title is one line wherever it is shown.
QString titleOf(const QJsonObject& entry)
{
    static const QRegularExpression controls(QStringLiteral("\\p{Cc}"));
    QString title = entry.value("title").toString().replace(controls, QStringLiteral(" "));
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
    info.duration = static_cast<quint32>(
        std::lround(bounded(entry->value("duration").toDouble(), kLongestDurationSeconds)));
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
