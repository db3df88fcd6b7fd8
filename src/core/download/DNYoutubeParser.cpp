#include "download/DNYoutubeParser.h"

#include "download/DNYoutubeProxy.h"
#include "download/OnlineVideoLibrary.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/UserDefaults.h"
#include "services/DNSetting.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cmath>
#include <mutex>

namespace {

const QString kDateFormat = QStringLiteral("yyyy-MM-dd");

// The leading digits of `text` as a number, as C's atol reads them.
qint64 leadingNumber(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("^\\s*([+-]?\\d+)"));
    const QRegularExpressionMatch match = digits.match(text);
    return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

bool isAudioCodec(const OnlineVideoStream& stream)
{
    return stream.codec.compare(QLatin1String("aac"), Qt::CaseInsensitive) == 0;
}

DNYoutubeVideoSegment segmentOf(const OnlineVideoStream& stream)
{
    DNYoutubeVideoSegment segment;
    segment.resolution = leadingNumber(stream.kind);
    segment.videoSize = stream.size;
    segment.containerFormat = stream.container;
    segment.videoFormat = stream.codec;
    segment.videoURLs = stream.urls;
    segment.httpHeaders = stream.httpHeaders;
    segment.sizeIsExact = stream.sizeIsExact;
    segment.sizeAnswerVersion = stream.sizeAnswerVersion;
    return segment;
}

// Video variants become segments; of the separate AAC audio streams only
// the biggest is kept, and its size is added to every variant, since the
// user downloads it with whichever variant they pick.
void takeStreams(DNYoutubeLinkNode& node, const QList<OnlineVideoStream>& streams)
{
    for (const OnlineVideoStream& stream : streams) {
        if (stream.size < 1.0
            || stream.codec.compare(QLatin1String("vp9"), Qt::CaseInsensitive) == 0)
            continue;
        if (stream.kind != QLatin1String("audio")) {
            node.videosSegments.append(segmentOf(stream));
            continue;
        }
        if (isAudioCodec(stream) && stream.size > node.audioStreamSize) {
            node.audioStreamSize = stream.size;
            node.biggestSizeOfAudioStream = stream.urls;
            node.audioHttpHeaders = stream.httpHeaders;
            node.audioSizeIsExact = stream.sizeIsExact;
            node.audioSizeAnswerVersion = stream.sizeAnswerVersion;
        }
    }
    for (DNYoutubeVideoSegment& segment : node.videosSegments)
        segment.videoSize += node.audioStreamSize;
}

DNYoutubeLinkNode linkNodeOf(const QString& url, const OnlineVideoInfo& info)
{
    DNYoutubeLinkNode node = DNYoutubeLinkNode::linkNode();
    node.sourceURL = url;
    node.title = info.title;
    node.covers = info.covers;
    node.duration = info.duration;
    takeStreams(node, info.streams);
    return node;
}

qsizetype firstWithinOne(const QList<DNYoutubeVideoSegment>& segments, double target)
{
    for (qsizetype index = 0; index < segments.size(); ++index) {
        if (std::abs(static_cast<double>(segments.at(index).resolution) - target) < 1.0)
            return index;
    }
    return -1;
}

// Among the candidates (indexes into `segments`), the first within 1.0 of the
// target, else the nearest; the first of equals stays.
qsizetype nearestCandidate(
    const QList<DNYoutubeVideoSegment>& segments, const QList<qsizetype>& candidates, double target)
{
    double bestDistance = 1000000.0;
    qsizetype best = 0;
    for (const qsizetype index : candidates) {
        const double distance
            = std::abs(static_cast<double>(segments.at(index).resolution) - target);
        if (distance < 1.0)
            return index;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = index;
        }
    }
    return best;
}

} // namespace

std::optional<DNYoutubeLinkNode> DNYoutubeParser::analysisYoutubeWebSource(const QString& url,
    const QString& dylibPath, const std::shared_ptr<OnlineVideoCancel>& cancel,
    std::chrono::milliseconds timeLimit, OnlineVideoFailure* failure)
{
    OnlineVideoFailure unused;
    OnlineVideoFailure& told = failure ? *failure : unused;
    told = {};
    QString& reason = told.reason;
    // yt-dlp would take a blank address for a search and answer with a hint about that.
    if (url.trimmed().isEmpty()) {
        reason = QStringLiteral("no address was given");
        DNLog(QStringLiteral("Youtube Parser: %1").arg(reason));
        return std::nullopt;
    }
    OnlineVideoLibrary library(dylibPath, cancel, timeLimit);
    if (!library.initialize()) {
        reason = dylibPath.isEmpty() ? QStringLiteral("no yt-dlp program found")
                                     : dylibPath + QStringLiteral(" is not a program");
        DNLog(QStringLiteral("could not open youtube parse lib due to %1").arg(reason));
        return std::nullopt;
    }
    // Known when the copy choice asked it; with one copy there was nothing to choose.
    const QString version = library.knownVersion();
    DNLog(QStringLiteral("Youtube Parser library Version: %1")
              .arg(version.isEmpty() ? dylibPath + QStringLiteral(" (not asked)") : version));
    library.setProxy(DNYoutubeProxyAddress(DNSetting::shareSetting().downloadSetting()));
    const std::optional<OnlineVideoInfo> info = library.getOnlineVideoInfo(url);
    library.uninstall();
    if (!info || info->errorCode != 0 || info->streams.isEmpty()) {
        if (info)
            reason = QStringLiteral("the page has no video that downloads as one file");
        else
            told = library.lastFailure();
        DNLog(QStringLiteral("Youtube Parser: no downloadable stream on %1").arg(url));
        return std::nullopt;
    }
    DNYoutubeLinkNode node = linkNodeOf(url, *info);
    if (node.videosSegments.isEmpty()) {
        reason = QStringLiteral("the page has no video stream that can be downloaded");
        DNLog(QStringLiteral("Youtube Parser: no video stream on %1").arg(url));
        return std::nullopt;
    }
    return node;
}

qsizetype DNYoutubeParser::foundBestOneForApplePlatform(
    const QList<DNYoutubeVideoSegment>& segments)
{
    return foundBestOneForApplePlatform(segments, DNSetting::shareSetting().downloadSetting());
}

qsizetype DNYoutubeParser::foundBestOneForApplePlatform(
    const QList<DNYoutubeVideoSegment>& segments, const NXVideoDownloadSetting& setting)
{
    Q_ASSERT_X(!segments.isEmpty(), "foundBestOneForApplePlatform", "nodes is empty");
    const QString format = setting.favFormat();
    const QString resolution = setting.favResolution();
    QList<qsizetype> candidates;
    for (qsizetype index = 0; index < segments.size(); ++index) {
        if (segments.at(index).containerFormat.toLower() == format)
            candidates.append(index);
    }
    if (resolution == QLatin1String("Highest Definition"))
        return candidates.isEmpty() ? 0 : candidates.first();
    const double target = resolution.chopped(resolution.isEmpty() ? 0 : 1).toDouble();
    if (candidates.isEmpty())
        return std::max<qsizetype>(firstWithinOne(segments, target), 0);
    return nearestCandidate(segments, candidates, target);
}

bool DNYoutubeParser::needUpdateYoutubeDownloader(const std::stop_token& stop)
{
    return needUpdateYoutubeDownloader(UserDefaults::standard(), &QDate::currentDate, stop);
}

bool DNYoutubeParser::needUpdateYoutubeDownloader(
    UserDefaults& defaults, const std::function<QDate()>& today, const std::stop_token& stop)
{
    const QString day = today().toString(kDateFormat);
    if (defaults.value(kCheckDateKey).toString() == day) {
        DNLog(QStringLiteral("Youtube Parser: yt-dlp was checked on %1 already").arg(day));
        return false;
    }
    const ParserReleaseResult result = DNYoutubeParseLibrary::updateYoutubeParseLib(
        ParserRelease::latestAddress(defaults).toString(), stop);
    if (stop.stop_requested())
        return false;
    // A release that is proven but does not run here is what outgrows us: the
    // newest yt-dlp wants a newer python3 than this system has.
    const bool tooOld = result.outcome == ParserReleaseResult::Outcome::DoesNotRun
        || (result.outcome == ParserReleaseResult::Outcome::Installed
            && compareWebDylibStructVersion(DNYoutubeParseLibrary::youtubeParseDylibPath()));
    defaults.setValue(kCheckDateKey, day);
    return tooOld;
}

std::optional<QDate> DNYoutubeParser::buildDateOfYoutubeDylib(const QString& dylibPath)
{
    return releaseDateOfVersion(OnlineVideoLibrary(dylibPath).getVersion());
}

std::optional<QDate> DNYoutubeParser::releaseDateOfVersion(const QString& version)
{
    static const QRegularExpression date(QStringLiteral("(\\d{4})\\.(\\d{2})\\.(\\d{2})"));
    const QRegularExpressionMatch match = date.match(version);
    if (!match.hasMatch())
        return std::nullopt;
    const QDate day(
        match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    return day.isValid() ? std::optional(day) : std::nullopt;
}

bool DNYoutubeParser::compareWebDylibStructVersion(const QString& dylibPath)
{
    OnlineVideoLibrary library(dylibPath);
    if (library.getVersion().isEmpty())
        return false;
    return library.getStructVersion() > OnlineVideoLibrary::kStructVersion;
}

namespace DNYoutubeParseLibrary {

QString bundleCopyPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("yt-dlp"));
}

QString copyPlace()
{
    return AppPaths::dataFolder() + QStringLiteral("/yt-dlp");
}

QString downloadedCopyPath()
{
    const QFileInfo copy(copyPlace());
    return copy.isFile() && copy.isExecutable() ? copy.absoluteFilePath() : QString();
}

QString youtubeParseDylibPath()
{
    const QString downloaded = downloadedCopyPath();
    const QString bundle = bundleCopyPath();
    if (downloaded.isEmpty())
        return bundle;
    // A system without yt-dlp can still use the copy a user placed.
    if (bundle.isEmpty())
        return downloaded;
    const std::optional<QDate> downloadedDate
        = DNYoutubeParser::buildDateOfYoutubeDylib(downloaded);
    const std::optional<QDate> bundleDate = DNYoutubeParser::buildDateOfYoutubeDylib(bundle);
    const bool newer = downloadedDate && bundleDate && *bundleDate < *downloadedDate;
    return newer ? downloaded : bundle;
}

namespace {

// Held for as long as an update's fetch takes (minutes on a slow link).
std::timed_mutex s_updating;
// The copy this run put in place, as a file (OnlineVideoLibrary::fileIdentity):
// a copy put there since by someone else is not ours. Guarded by s_updating.
QString s_downloadedThisRun;
QString s_downloadedVersion; // guarded by s_updating
QString s_keyFile; // guarded by s_updating

// Waits for another update to end, unless `stop` comes first: a window or a
// sheet that goes must not wait for someone else's fetch.
bool lockUnlessStopped(std::unique_lock<std::timed_mutex>& lock, const std::stop_token& stop)
{
    constexpr std::chrono::milliseconds kPoll { 50 };
    while (!lock.try_lock_for(kPoll)) {
        if (stop.stop_requested())
            return false;
    }
    return true;
}

} // namespace

QString latestReleaseAddress()
{
    return ParserRelease::latestAddress(UserDefaults::standard()).toString();
}

void setReleaseKeyFile(const QString& keyFile)
{
    const std::lock_guard lock(s_updating);
    s_keyFile = keyFile;
}

ParserReleaseResult updateYoutubeParseLib(const QString& url, const std::stop_token& stop)
{
    std::unique_lock lock(s_updating, std::defer_lock);
    if (!lockUnlessStopped(lock, stop))
        return { ParserReleaseResult::Outcome::Refused, ParserRelease::kCancelledReason, {} };
    if (!s_downloadedThisRun.isEmpty()
        && s_downloadedThisRun == OnlineVideoLibrary::fileIdentity(copyPlace()))
        return { ParserReleaseResult::Outcome::Installed, {}, s_downloadedVersion };
    ParserReleaseSource source;
    source.program = QUrl(url);
    source.keyFile = s_keyFile.isEmpty() ? ParserRelease::shippedKeyFile() : s_keyFile;
    source.proxy = DNYoutubeProxyAddress(DNSetting::shareSetting().downloadSetting());
    source.stop = stop;
    ParserReleaseResult result
        = ParserRelease::fetchAndInstall(source, copyPlace(), bundleCopyPath());
    if (result.outcome != ParserReleaseResult::Outcome::Installed) {
        DNLog(QStringLiteral("Youtube Parser: no new yt-dlp from %1: %2").arg(url, result.reason));
        return result;
    }
    s_downloadedThisRun = OnlineVideoLibrary::fileIdentity(copyPlace());
    s_downloadedVersion = result.version;
    DNLog(QStringLiteral("Youtube Parser: yt-dlp %1 from %2 is in place at %3")
              .arg(result.version, url, copyPlace()));
    return result;
}

bool downloadLatestYoutubeParseLib(const QString& url, const std::stop_token& stop)
{
    return updateYoutubeParseLib(url, stop).outcome == ParserReleaseResult::Outcome::Installed;
}

} // namespace DNYoutubeParseLibrary
