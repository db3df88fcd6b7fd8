// download-one: analyses one video page and downloads one of its formats
// through the download manager, the way the downloader window does.
//
//   download-one URL [--format N] [--output DIR] [--list] [--proxy HOST:PORT]
//   download-one --update-parser [--parser-url URL] [--parser-key FILE] [--proxy HOST:PORT]
//
// Prints "title:", one "format N: <resolution> <container> <codec> <bytes>"
// per format, "default:", "audio: <bytes>" when the page has separate audio;
// then "output: <path>" per finished file and "error: <reason>" on any
// failure (after an analysis that failed, yt-dlp's own lines as "yt-dlp: <line>"). The settings and
// the partial files are the user's (HOME, XDG_*), so a run that was killed is resumed by the next.
// Exit status: 0 done, 1 the download or the merge failed, 2 usage, 3 no such format (or none at
// all).
//
// --update-parser fetches the newest yt-dlp once, as the downloader does
// (from URL in place of the release address, trusting the armored key FILE in
// place of the shipped one), and prints "parser: <path> <version>" and exits
// 0, or prints "parser-failed: <reason>" and exits 1.
#include "download/DNYoutubeDownloadManager.h"
#include "download/DNYoutubeParser.h"
#include "download/OnlineVideoFailure.h"
#include "platform/NotificationCenter.h"
#include "services/DNSetting.h"
#include "services/NXVideoDownloadSetting.h"

#include "ToolSupport.h"

#include <QEventLoop>
#include <QThread>

#include <memory>
#include <optional>

namespace {

// "HOST:PORT" into the download settings, as the options panel would set it.
bool applyProxy(const QString& proxy, NXVideoDownloadSetting& setting)
{
    const qsizetype colon = proxy.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const int port = proxy.mid(colon + 1).toInt(&ok);
    if (colon <= 0 || !ok || port <= 0 || port > 65535)
        return false;
    setting.setIsProxyEnabled(true);
    setting.setProxyAddress(proxy.left(colon));
    setting.setProxyPort(QString::number(port));
    return true;
}

// The analysis blocks and needs a thread with an event loop of its own.
std::optional<DNYoutubeLinkNode> analyse(const QString& url, OnlineVideoFailure* failure)
{
    std::optional<DNYoutubeLinkNode> node;
    QEventLoop loop;
    const std::unique_ptr<QThread> thread(QThread::create([&node, url, failure] {
        node = DNYoutubeParser::analysisYoutubeWebSource(url,
            DNYoutubeParseLibrary::youtubeParseDylibPath(), {}, std::chrono::milliseconds(60000),
            failure);
    }));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
    return node;
}

void printFormats(const DNYoutubeLinkNode& link)
{
    print(QStringLiteral("title: ") + link.title);
    for (qsizetype index = 0; index < link.videosSegments.size(); ++index) {
        const DNYoutubeVideoSegment& segment = link.videosSegments[index];
        print(QStringLiteral("format %1: %2 %3 %4 %5")
                  .arg(index)
                  .arg(segment.resolution > 0 ? QStringLiteral("%1P").arg(segment.resolution)
                                              : QStringLiteral("N/A"))
                  .arg(segment.containerFormat,
                      segment.videoFormat.isEmpty() ? QStringLiteral("-") : segment.videoFormat)
                  .arg(static_cast<qint64>(segment.videoSize)));
    }
    print(QStringLiteral("default: %1")
              .arg(DNYoutubeParser::foundBestOneForApplePlatform(link.videosSegments)));
    if (!link.biggestSizeOfAudioStream.isEmpty())
        print(QStringLiteral("audio: %1").arg(static_cast<qint64>(link.audioStreamSize)));
}

// Queues the chosen format and runs until the manager's run ends.
int download(const DNYoutubeLinkNode& link, const QString& folder)
{
    auto node = DNYoutubeNode::youtubeNode();
    node->setYoutubeLink(link);
    QEventLoop loop;
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.addObserver(DNYoutubeDownloadManager::kDownloadFinishedNotification, nullptr, &loop,
        [](const Notification& note) {
            print(QStringLiteral("output: ") + note.userInfo.value("outputFile").toString());
        });
    center.addObserver(DNYoutubeDownloadManager::kFinishedDownloadProcessNotification, nullptr,
        &loop, [&loop](const Notification&) { loop.quit(); });
    // Connected first: a job can fail while it is being added.
    QObject::connect(&DNYoutubeDownloadManager::shareManager(),
        &DNYoutubeDownloadManager::downloadFailed, &loop,
        [](DNYoutubeNode*, const QString& reason) { print(QStringLiteral("error: ") + reason); });
    if (!DNYoutubeDownloadManager::addYoutubeDownloadJob(node, folder)) {
        print(QStringLiteral("error: the job was not accepted"));
        return 1;
    }
    // A job that fails at once has ended the run before the loop starts.
    if (DNYoutubeDownloadManager::isYoutubeDownloaderDownloading())
        loop.exec();
    return node->state() == DNYoutubeNodeState::Finished ? 0 : 1;
}

// The library download runs on a thread with an event loop of its own, as
// the requests need.
int updateParser(const QCommandLineParser& parser)
{
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("--update-parser takes no URL"));
    if (parser.isSet("parser-key"))
        DNYoutubeParseLibrary::setReleaseKeyFile(parser.value("parser-key"));
    const QString url = parser.isSet("parser-url") ? parser.value("parser-url")
                                                   : DNYoutubeParseLibrary::latestReleaseAddress();
    ParserReleaseResult result;
    QEventLoop loop;
    const std::unique_ptr<QThread> thread(QThread::create(
        [&result, url] { result = DNYoutubeParseLibrary::updateYoutubeParseLib(url); }));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
    if (result.outcome != ParserReleaseResult::Outcome::Installed) {
        print(QStringLiteral("parser-failed: ") + result.reason);
        return 1;
    }
    print(QStringLiteral("parser: %1 %2").arg(DNYoutubeParseLibrary::copyPlace(), result.version));
    return 0;
}

int analyseAndDownload(const QCommandLineParser& parser)
{
    DNSetting::shareSetting().restore();
    NXVideoDownloadSetting& setting = DNSetting::shareSetting().downloadSetting();
    if (parser.isSet("proxy") && !applyProxy(parser.value("proxy"), setting))
        return usage(QStringLiteral("--proxy wants HOST:PORT"));
    if (parser.isSet("update-parser"))
        return updateParser(parser);
    if (parser.positionalArguments().size() != 1)
        return usage(QStringLiteral("one URL is needed"));
    bool formatOk = true;
    const int format = parser.isSet("format") ? parser.value("format").toInt(&formatOk) : -1;
    if (!formatOk || (parser.isSet("format") && format < 0))
        return usage(QStringLiteral("--format wants a format number"));

    OnlineVideoFailure failure;
    std::optional<DNYoutubeLinkNode> link = analyse(parser.positionalArguments().first(), &failure);
    if (!link) {
        for (const QString& line : std::as_const(failure.toolLines))
            print(QStringLiteral("yt-dlp: ") + line);
        print(QStringLiteral("error: ") + failure.reason);
        return 3;
    }
    printFormats(*link);
    if (parser.isSet("list"))
        return 0;
    const qsizetype chosen = format >= 0
        ? format
        : DNYoutubeParser::foundBestOneForApplePlatform(link->videosSegments);
    if (chosen >= link->videosSegments.size()) {
        print(QStringLiteral("error: the page has no format %1").arg(chosen));
        return 3;
    }
    link->videosSegments[chosen].isSelected = true;
    return download(
        *link, parser.isSet("output") ? parser.value("output") : setting.downloadTarget());
}

} // namespace

int main(int argc, char** argv)
{
    const ToolCommandLine commandLine { QStringLiteral("Downloads one format of a video page."),
        { { QStringLiteral("format"), QStringLiteral("Format index."), "N" },
            { QStringLiteral("output"), QStringLiteral("Output folder."), "DIR" },
            { QStringLiteral("list"), QStringLiteral("Only list the formats.") },
            { QStringLiteral("proxy"), QStringLiteral("HTTP proxy."), "HOST:PORT" },
            { QStringLiteral("update-parser"), QStringLiteral("Fetch the newest yt-dlp.") },
            { QStringLiteral("parser-url"), QStringLiteral("The release program's address."),
                "URL" },
            { QStringLiteral("parser-key"),
                QStringLiteral("Armored public key in place of the shipped one."), "FILE" } },
        QStringLiteral("url"), QStringLiteral("the video page") };
    return runTool(argc, argv, commandLine, &analyseAndDownload);
}
