#include "download/DNYoutubeParser.h"
#include "download/OnlineVideoFailure.h"
#include "download/OnlineVideoInfo.h"
#include "download/OnlineVideoLibrary.h"
#include "platform/UserDefaults.h"

#include "core/download/DownloadTestSupport.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include <sys/stat.h>

namespace {

// One format as yt-dlp lists it; `size` 0 leaves the size out.
QJsonObject format(const QString& ext, const QString& video, const QString& audio, int height,
    double size, const QString& name)
{
    QJsonObject object { { "format_id", name }, { "ext", ext }, { "protocol", "http" },
        { "url", "http://127.0.0.1:1/" + name + "." + ext }, { "vcodec", video },
        { "acodec", audio } };
    if (height > 0)
        object.insert("height", height);
    if (size > 0)
        object.insert("filesize", size);
    return object;
}

QByteArray page(const QJsonArray& formats, QJsonObject fields = {})
{
    fields.insert("title", fields.value("title").toString("Clip"));
    fields.insert("formats", formats);
    return QJsonDocument(fields).toJson(QJsonDocument::Compact);
}

// The parts of a link node the analysis fills, in one line.
QString describe(const std::optional<DNYoutubeLinkNode>& node)
{
    if (!node)
        return "nil";
    QStringList segments;
    for (const DNYoutubeVideoSegment& segment : node->videosSegments)
        segments << QString("%1 %2 %3 %4 %5")
                        .arg(segment.resolution)
                        .arg(segment.containerFormat, segment.videoFormat)
                        .arg(segment.videoSize)
                        .arg(segment.videoURLs.join(','));
    return QString("%1|%2|%3|%4|audio %5 %6")
        .arg(node->title)
        .arg(node->duration)
        .arg(node->covers.join(','), segments.join("; "), node->biggestSizeOfAudioStream.join(','))
        .arg(node->audioStreamSize);
}

struct AnalysisCase {
    const char* what;
    QByteArray json;
    QString expected;
};

TEST(DNYoutubeParser, AnalysisTurnsTheRecordIntoALinkNode)
{
    const QString u = "http://127.0.0.1:1/";
    const QJsonObject hd = format("mp4", "avc1.64001f", "mp4a.40.2", 720, 3000, "hd");
    const QJsonObject sd = format("mp4", "avc1.42001e", "mp4a.40.2", 360, 1000, "sd");
    const QJsonObject aacSmall = format("m4a", "none", "mp4a.40.2", 0, 100, "a1");
    const QJsonObject aacBig = format("m4a", "none", "mp4a.40.5", 0, 200, "a2");
    const QJsonObject aacBigToo = format("m4a", "none", "mp4a.40.2", 0, 200, "a3");
    QJsonObject hls = format("mp4", "avc1", "mp4a", 480, 500, "hls");
    hls.insert("protocol", "m3u8_native");
    QJsonObject dash = format("mp4", "avc1", "none", 480, 500, "dash");
    dash.insert("fragments", QJsonArray { QJsonObject { { "path", "s1.m4s" } } });
    QJsonObject byRate = format("webm", "av01.0.05M.08", "opus", 480, 0, "rate");
    byRate.insert("tbr", 8.0);
    QJsonObject html5 { { "title", "Page (1)" }, { "extractor_key", "HTML5MediaEmbed" },
        { "thumbnail", "http://x/p.jpg" }, { "duration", 129.6 },
        { "thumbnails",
            QJsonArray { QJsonObject { { "url", "http://x/p.jpg" } },
                QJsonObject { { "url", "http://x/q.jpg" } } } } };
    const AnalysisCase cases[] = {
        { "best first, codec names, audio added", page({ sd, aacSmall, hd, aacBig }),
            "Clip|0|,|720 mp4 h264 3200 " + u + "hd.mp4; 360 mp4 h264 1200 " + u + "sd.mp4|audio "
                + u + "a2.m4a 200" },
        { "equal AAC: the first of the best-first list", page({ sd, aacBig, aacBigToo }),
            "Clip|0|,|360 mp4 h264 1200 " + u + "sd.mp4|audio " + u + "a3.m4a 200" },
        { "vp9, a tiny and an unknown size are never offered",
            page({ format("webm", "vp09.00.30.08", "none", 720, 5000, "vp9"),
                format("mp4", "avc1", "none", 240, 0.5, "tiny"),
                format("mp4", "avc1", "none", 144, 0, "unknown"), sd }),
            "Clip|0|,|360 mp4 h264 1000 " + u + "sd.mp4|audio  0" },
        { "audio only is nil", page({ aacSmall, aacBig }), "nil" },
        { "HLS, fragments and a JSON file are left out",
            page({ hls, dash, format("json", "none", "none", 0, 10, "info") }), "nil" },
        { "html5 title, covers, rounded duration, size from the rate", page({ byRate }, html5),
            "Page|130|http://x/p.jpg,http://x/q.jpg|480 webm av1 130000 " + u
                + "rate.webm|audio  0" },
        { "a direct link is its own stream",
            QJsonDocument(QJsonObject { { "title", "" }, { "url", u + "v.mp4" }, { "ext", "mp4" },
                              { "filesize", 9 } })
                .toJson(),
            "|0|,|0 mp4  9 " + u + "v.mp4|audio  0" },
        { "a playlist gives its first entry",
            QJsonDocument(QJsonObject { { "_type", "playlist" },
                              { "entries",
                                  QJsonArray { QJsonValue(),
                                      QJsonObject { { "title", "First" },
                                          { "formats", QJsonArray { sd } } } } } })
                .toJson(),
            "First|0|,|360 mp4 h264 1000 " + u + "sd.mp4|audio  0" },
        { "numbers in bounds, schemes without case, a title on one line",
            page({ format("mp4", "avc1", "none", 360, 1e308, "huge") },
                { { "duration", 1e308 }, { "title", "x\noutput: /etc/passwd" } })
                .replace("http://", "HTTP://"),
            "x output: /etc/passwd|3600000|,|360 mp4 h264 1.09951e+12 HTTP://127.0.0.1:1/huge.mp4"
            "|audio  0" },
        { "null", "null", "nil" },
        { "broken JSON", "{\"title\": ", "nil" },
    };
    for (const AnalysisCase& test : cases) {
        QTemporaryDir folder;
        QFile json(folder.filePath("page.json"));
        ASSERT_TRUE(json.open(QIODevice::WriteOnly));
        json.write(test.json);
        json.close();
        const QString program
            = writeFakeYtDlp(folder.path(), "2023.03.04", "cat '" + json.fileName() + "'");
        EXPECT_EQ(describe(DNYoutubeParser::analysisYoutubeWebSource("http://site/v", program)),
            test.expected)
            << test.what;
    }
}

// A fake that starts a child of its own, tells the child's pid through a
// pipe the test reads, then waits forever.
struct WaitingFake {
    QTemporaryDir folder;
    QString fifo = folder.filePath("pid");
    QString program;
    WaitingFake()
    {
        EXPECT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        program = writeFakeYtDlp(
            folder.path(), "2023.03.04", "sleep 30 & echo $! > '" + fifo + "'; wait");
    }
    // Blocks until the fake has started.
    pid_t pid() const
    {
        QFile pipe(fifo);
        return pipe.open(QIODevice::ReadOnly) ? pipe.readLine().trimmed().toInt() : -1;
    }
};

// Gone, or dead and waiting to be reaped by whoever took the orphan, within a while.
bool hasEnded(pid_t pid)
{
    const auto gone = [pid] {
        QFile stat(QString("/proc/%1/stat").arg(pid));
        return (::kill(pid, 0) != 0 && errno == ESRCH)
            || (stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z "));
    };
    return pid > 0 && QTest::qWaitFor(gone, 3000);
}

// A rate below zero, as a broken extractor may give, tells no size.
TEST(OnlineVideoJson, ANegativeRateLeavesTheSizeUnknown)
{
    QJsonObject byRate = format("mp4", "avc1", "mp4a.40.2", 360, 0, "rate");
    byRate.insert("tbr", -5);
    const std::optional<OnlineVideoInfo> info
        = onlineVideoInfoFromJson(page({ byRate }, { { "duration", 10 } }), nullptr);
    ASSERT_TRUE(info && info->streams.size() == 1);
    EXPECT_EQ(info->streams[0].size, 0.0);
}

TEST(OnlineVideoJson, OnlyWebAddressesOfAHostAreKept)
{
    QJsonArray formats;
    for (const QString url :
        { "HTTPS://h/kept.mp4", "https:h/nohost.mp4", "file:///x.mp4", "ftp://h/x.mp4" }) {
        QJsonObject stream = format("mp4", "avc1", "mp4a.40.2", 360, 1000, "s");
        stream.insert("url", url);
        formats.append(stream);
    }
    QStringList leftOut;
    const std::optional<OnlineVideoInfo> info = onlineVideoInfoFromJson(page(formats), &leftOut);
    ASSERT_TRUE(info && info->streams.size() == 1);
    EXPECT_EQ(info->streams[0].urls, QStringList { "HTTPS://h/kept.mp4" });
    EXPECT_EQ(leftOut.size(), 3);
}

TEST(DNYoutubeParser, StoppedAnalysesLeaveNoChild)
{
    {
        SCOPED_TRACE("time-out");
        const WaitingFake fake;
        pid_t pid = -1;
        std::thread reader([&] { pid = fake.pid(); });
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(DNYoutubeParser::analysisYoutubeWebSource(
            "http://site/v", fake.program, {}, std::chrono::milliseconds(300)));
        reader.join();
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_TRUE(hasEnded(pid));
        EXPECT_TRUE(logText().contains("yt-dlp did not finish within 0.3 s and was stopped"));
    }
    {
        SCOPED_TRACE("cancel");
        const WaitingFake fake;
        const auto cancel = std::make_shared<OnlineVideoCancel>();
        pid_t pid = -1;
        std::thread canceller([&] {
            pid = fake.pid();
            cancel->cancel();
        });
        EXPECT_FALSE(
            DNYoutubeParser::analysisYoutubeWebSource("http://site/v", fake.program, cancel));
        canceller.join();
        EXPECT_TRUE(hasEnded(pid));
        EXPECT_TRUE(logText().contains("cancelled"));
    }
}

TEST(DNYoutubeParser, SizeRequestsEndWithTheAnalysisTimeLimit)
{
    QTcpServer silent; // takes connections and never answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    QJsonArray formats;
    for (const QString name : { "a", "b", "c" }) {
        QJsonObject sizeless = format("mp4", "avc1", "mp4a.40.2", 360, 0, name);
        sizeless.insert(
            "url", QString("http://127.0.0.1:%1/%2.mp4").arg(silent.serverPort()).arg(name));
        formats.append(sizeless);
    }
    QTemporaryDir folder;
    QFile json(folder.filePath("page.json"));
    ASSERT_TRUE(json.open(QIODevice::WriteOnly));
    json.write(page(formats));
    json.close();
    const QString program
        = writeFakeYtDlp(folder.path(), "2023.03.04", "cat '" + json.fileName() + "'");
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(DNYoutubeParser::analysisYoutubeWebSource(
        "http://site/v", program, {}, std::chrono::milliseconds(1000)));
    EXPECT_LT(clock.elapsed(), 5000);
}

// yt-dlp's words as it prints them, and what the window says of them.
TEST(DNYoutubeParser, YtDlpsCommonErrorsAreToldInOurWords)
{
    const QPair<const char*, const char*> cases[] = {
        { "ERROR: [generic] None: Unable to download webpage: HTTP Error 404: File not found "
          "(caused by <HTTPError 404: 'File not found'>); please report this issue on  "
          "https://github.com/yt-dlp/yt-dlp/issues?q= , filling out the appropriate issue "
          "template. Confirm you are on the latest version using  yt-dlp -U",
            "the page was not found (the site answered 404 File not found)" },
        { "ERROR: [generic] None: Unable to download webpage: HTTP Error 403: Forbidden",
            "the site refused access to the page (it answered 403 Forbidden)" },
        { "ERROR: Unsupported URL: http://127.0.0.1:8/nomedia.html",
            "the site is not supported, or the page holds no video" },
        { "ERROR: [generic] None: Unable to download webpage: <urlopen error [Errno -2] Name or "
          "service not known> (caused by URLError(gaierror(-2, 'Name or service not known')))",
            "the site's name could not be looked up: there is no network, or the address is "
            "wrong" },
        { "ERROR: [generic] None: Unable to download webpage: <urlopen error [Errno 111] "
          "Connection refused>",
            "the site refused the connection" },
        { "ERROR: [generic] None: Unable to download webpage: <urlopen error Tunnel connection "
          "failed: 403 Forbidden>",
            "the proxy of the download settings did not pass the request on" },
        { "ERROR: [youtube] abc: Incomplete YouTube ID abc. URL https://www.youtube.com/"
          "watch?v=abc looks truncated.",
            "the address is cut short: the video's id is incomplete" },
        { "ERROR: [youtube] x: Private video. Sign in if you've been granted access to this video",
            "the video is private" },
        { "ERROR: [youtube] x: Video unavailable. This video has been removed by the uploader",
            "the video is not available: it was removed or made unavailable" },
        { "ERROR: something yt-dlp never said before",
            "yt-dlp could not analyse the page (see Show Log)" },
    };
    for (const auto& [line, reason] : cases)
        EXPECT_EQ(onlineVideoErrorReason(line).toStdString(), reason) << line;
}

// The reason is ours; yt-dlp's own lines, cut, are kept beside it and logged.
TEST(DNYoutubeParser, AFailedAnalysisKeepsYtDlpsLinesBesideItsReason)
{
    struct FailureCase {
        const char* body;
        const char* reason;
        const char* toolLine; // "" for none
        const char* url = "http://site/v";
    };
    const FailureCase cases[] = {
        { "echo 'ERROR: [generic] Unsupported URL: http://site/v' >&2; echo 'ERROR: second' >&2; "
          "exit 1",
            "yt-dlp could not analyse the page (see Show Log)", "ERROR: second" },
        { "echo 'Traceback (most recent call last):' >&2; exit 3",
            "yt-dlp failed with exit status 3 (see Show Log)",
            "Traceback (most recent call last):" },
        { "printf 'ERROR: [generic] %020000000d\\n' 0 >&2; exit 1",
            "yt-dlp could not analyse the page (see Show Log)", "ERROR: [generic] 000" },
        { "printf '{\"title\": \"'; exec head -c 70000000 /dev/zero",
            "yt-dlp printed more than 64 MiB", "" },
        // yt-dlp would search for it, and give a hint about searching.
        { "echo 'ERROR: [generic] ran for a blank address' >&2; exit 1", "no address was given", "",
            " \t" },
    };
    for (const FailureCase& test : cases) {
        SCOPED_TRACE(test.body);
        QTemporaryDir folder;
        const QString program = writeFakeYtDlp(folder.path(), "2023.03.04", test.body);
        OnlineVideoFailure failure;
        EXPECT_FALSE(DNYoutubeParser::analysisYoutubeWebSource(
            test.url, program, {}, std::chrono::milliseconds(60000), &failure));
        EXPECT_EQ(failure.reason.toStdString(), test.reason);
        // Nothing ran: yt-dlp said nothing.
        if (QByteArray(test.url).trimmed().isEmpty()) {
            EXPECT_TRUE(failure.toolLines.isEmpty()) << failure.toolLines.join('\n').toStdString();
            continue;
        }
        EXPECT_TRUE(logText().contains("analysis of http://site/v failed: " + failure.reason));
        if (QByteArray(test.toolLine).isEmpty())
            continue;
        const auto said = std::find_if(failure.toolLines.cbegin(), failure.toolLines.cend(),
            [&test](const QString& line) { return line.startsWith(test.toolLine); });
        ASSERT_NE(said, failure.toolLines.cend())
            << failure.toolLines.join('\n').left(500).toStdString();
        EXPECT_TRUE(logText().contains("\t" + *said));
        for (const QString& line : failure.toolLines)
            EXPECT_LT(line.size(), 400);
    }
}

TEST(DNYoutubeParser, TheAnalysisTakesTheProxyOnlyWithAHostAndAPort)
{
    struct ProxyCase {
        const char* address;
        const char* port;
        const char* argument; // "" for none
    };
    const ProxyCase cases[] = {
        { " 127.0.0.1 ", " 3128 ", "--proxy http://127.0.0.1:3128 --" },
        { "", "3128", "" },
        { "127.0.0.1", "", "" },
    };
    QTemporaryDir folder;
    const QString arguments = folder.filePath("arguments");
    const QString program = writeFakeYtDlp(
        folder.path(), "2023.03.04", QString("echo \"$@\" > '%1'; exit 1").arg(arguments));
    for (const ProxyCase& test : cases) {
        const DownloadProxySetting proxied(test.address, test.port);
        DNYoutubeParser::analysisYoutubeWebSource("http://site/v", program);
        QFile file(arguments);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString line = QString::fromUtf8(file.readAll());
        if (*test.argument)
            EXPECT_TRUE(line.contains(test.argument)) << line.toStdString();
        else
            EXPECT_FALSE(line.contains("--proxy")) << line.toStdString();
    }
}

// A system yt-dlp first on PATH for the duration of a test.
class SystemCopy {
public:
    explicit SystemCopy(const QString& version)
        : m_path(qgetenv("PATH"))
    {
        writeFakeYtDlp(m_folder.path(), version, "exit 1");
        qputenv("PATH", QFile::encodeName(m_folder.path()) + ":" + m_path);
    }
    ~SystemCopy() { qputenv("PATH", m_path); }
    QString path() const { return m_folder.filePath("yt-dlp"); }

private:
    QTemporaryDir m_folder;
    const QByteArray m_path;
};

TEST(DNYoutubeParseLibrary, OnlyANewerDataFolderCopyIsUsed)
{
    const SystemCopy system("2023.03.04");
    ASSERT_TRUE(QDir().mkpath(AppPaths::dataFolder()));
    const QString placed = AppPaths::dataFolder() + "/yt-dlp";
    struct CopyCase {
        const char* version;
        bool chosen;
    };
    const CopyCase cases[]
        = { { "2099.01.01", true }, { "2020.12.31", false }, { "nightly", false } };
    for (const CopyCase& test : cases) {
        QFile::remove(placed);
        QTemporaryDir folder;
        QFile::copy(writeFakeYtDlp(folder.path(), test.version, "exit 1"), placed);
        EXPECT_EQ(
            DNYoutubeParseLibrary::youtubeParseDylibPath(), test.chosen ? placed : system.path())
            << test.version;
        EXPECT_FALSE(DNYoutubeParser::compareWebDylibStructVersion(placed));
    }
    QFile::remove(placed);
    EXPECT_EQ(DNYoutubeParseLibrary::youtubeParseDylibPath(), system.path());
}

// A yt-dlp that adds a line to `runs` each time it is asked its version.
QString countingYtDlp(const QString& folder, const QString& version, const QString& runs)
{
    const QString path = folder + "/yt-dlp";
    EXPECT_TRUE(writeTestScript(path,
        QString("#!/bin/sh\nif [ \"$1\" = --version ]; then echo >>'%1'; echo '%2'; exit 0; fi\n"
                "exit 1\n")
            .arg(runs, version)
            .toUtf8()));
    return path;
}

// An analysis costs no python3 start beyond yt-dlp's own: a version is asked
// only to choose between two copies, and once per file.
TEST(DNYoutubeParseLibrary, AVersionIsAskedOnlyToChooseAndOnceForAFile)
{
    QTemporaryDir folder;
    const QString systemRuns = folder.filePath("system-runs");
    const QString placedRuns = folder.filePath("placed-runs");
    const auto runs = [](const QString& file) { return readTestFile(file).count('\n'); };
    const SystemCopy system("2023.03.04");
    // Counting, in place of the plain one.
    countingYtDlp(QFileInfo(system.path()).absolutePath(), "2023.03.04", systemRuns);
    const QString placed = DNYoutubeParseLibrary::copyPlace();
    QFile::remove(placed);
    const auto analyseTwice = [] {
        for (int analysis = 0; analysis < 2; ++analysis)
            DNYoutubeParser::analysisYoutubeWebSource(
                "http://site/v", DNYoutubeParseLibrary::youtubeParseDylibPath());
    };
    analyseTwice();
    EXPECT_EQ(runs(systemRuns), 0) << "one copy: nothing to choose";

    ASSERT_TRUE(QDir().mkpath(AppPaths::dataFolder()));
    QTemporaryDir placedFolder;
    const QString copy = countingYtDlp(placedFolder.path(), "2099.01.01", placedRuns);
    ASSERT_TRUE(QFile::copy(copy, placed));
    analyseTwice();
    EXPECT_EQ(DNYoutubeParseLibrary::youtubeParseDylibPath(), placed);
    EXPECT_EQ(runs(systemRuns), 1);
    EXPECT_EQ(runs(placedRuns), 1);

    // Another file in the copy's place is asked anew.
    ASSERT_TRUE(QFile::remove(placed) && QFile::copy(copy, placed));
    analyseTwice();
    EXPECT_EQ(runs(systemRuns), 1);
    EXPECT_EQ(runs(placedRuns), 2);
    QFile::remove(placed);
}

TEST(ParserRelease, AnEmptyAddressSettingFallsBackToTheReleasesOwn)
{
    QTemporaryDir folder;
    UserDefaults defaults(folder.filePath("defaults.conf"));
    const QString mirror = "https://mirror.example/yt-dlp";
    const QList<std::pair<QVariant, QString>> cases
        = { { QVariant(), ParserRelease::kLatestAddress }, { "", ParserRelease::kLatestAddress },
              { "  ", ParserRelease::kLatestAddress }, { mirror, mirror } };
    for (const auto& [setting, address] : cases) {
        if (setting.isNull())
            defaults.remove(ParserRelease::kAddressKey);
        else
            defaults.setValue(ParserRelease::kAddressKey, setting);
        EXPECT_EQ(
            ParserRelease::latestAddress(defaults).toString().toStdString(), address.toStdString())
            << setting.toString().toStdString();
    }
}

TEST(DNYoutubeParser, DailyCheckRunsOnceADayAlsoWhenTheDownloadFails)
{
    QTemporaryDir folder;
    UserDefaults defaults(folder.filePath("defaults.conf"));
    // Nothing listens there.
    defaults.setValue(ParserRelease::kAddressKey, "http://127.0.0.1:9/yt-dlp");
    QDate today(2026, 3, 1);
    const auto clock = [&today] { return today; };
    const auto checks = [] { return logText().count("Youtube Parser: no new yt-dlp from"); };
    const qsizetype before = checks();
    EXPECT_FALSE(DNYoutubeParser::needUpdateYoutubeDownloader(defaults, clock));
    EXPECT_FALSE(DNYoutubeParser::needUpdateYoutubeDownloader(defaults, clock));
    EXPECT_EQ(checks(), before + 1);
    EXPECT_EQ(defaults.value(DNYoutubeParser::kCheckDateKey).toString(), "2026-03-01");
    today = today.addDays(1);
    EXPECT_FALSE(DNYoutubeParser::needUpdateYoutubeDownloader(defaults, clock));
    EXPECT_EQ(checks(), before + 2);
}

} // namespace
