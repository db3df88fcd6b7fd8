#include "VideoSite.h"

#include "platform/ProcessRunner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <mutex>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The ffmpeg arguments for each file; every one lasts a second (the HLS
// playlist three) at a low frame rate, to be quick to make.
struct MediaRecipe {
    const char* name;
    QStringList arguments;
};

QStringList video(const char* size, int seconds = 1)
{
    return { "-f", "lavfi", "-i",
        QString("testsrc2=size=%1:rate=10:duration=%2").arg(size).arg(seconds) };
}

QStringList tone()
{
    return { "-f", "lavfi", "-i", "sine=frequency=440:duration=1" };
}

const QStringList h264 { "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p" };

QList<MediaRecipe> recipes()
{
    return {
        { "av480.mp4",
            video("640x480") + tone() + h264 + QStringList { "-c:a", "aac", "-shortest" } },
        { "av240.mp4",
            video("320x240") + tone() + h264 + QStringList { "-c:a", "aac", "-shortest" } },
        { "v480.mp4", video("640x480") + h264 },
        { "v240.mp4", video("320x240") + h264 },
        { "vp9.webm",
            video("320x240")
                + QStringList { "-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8" } },
        { "audio.m4a", tone() + QStringList { "-c:a", "aac" } },
        { "poster.jpg", video("320x240") + QStringList { "-frames:v", "1" } },
        { "hls/index.m3u8",
            video("320x240", 3) + h264
                + QStringList { "-g", "10", "-f", "hls", "-hls_time", "1", "-hls_list_size",
                    "0" } },
    };
}

QString makeMedia(const QString& folder)
{
    QDir().mkpath(folder + "/hls");
    for (const MediaRecipe& recipe : recipes()) {
        ProcessRunner runner;
        QString lastLine;
        runner.setStderrHandler([&lastLine](const QString& line) { lastLine = line; });
        const QStringList arguments = QStringList { "-nostdin", "-loglevel", "error", "-y" }
            + recipe.arguments + QStringList { folder + "/" + recipe.name };
        if (!runner.run("ffmpeg", arguments).succeeded())
            return QString("ffmpeg could not make %1: %2").arg(recipe.name, lastLine);
    }
    QFile stamp(folder + "/complete");
    return stamp.open(QIODevice::WriteOnly) ? QString() : "cannot write " + stamp.fileName();
}

// The media, made once per build folder beside the shared test media; test
// processes running side by side wait for the one that makes it, and a
// half-made set is never seen (it is made aside and renamed into place).
QString ensureMedia(const QString& target)
{
    static std::mutex threads; // flock does not order the threads of one process
    const std::lock_guard guard(threads);
    QDir().mkpath(QFileInfo(target).absolutePath());
    const int lock = ::open(
        QFile::encodeName(target + ".lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0)
        return "cannot lock " + target;
    QString problem;
    if (!QFile::exists(target + "/complete")) {
        const QString staging = target + ".staging-" + QString::number(::getpid());
        QDir(staging).removeRecursively();
        problem = makeMedia(staging);
        QDir(target).removeRecursively();
        if (problem.isEmpty() && !QDir().rename(staging, target))
            problem = "cannot rename " + staging;
        QDir(staging).removeRecursively();
    }
    ::close(lock);
    return problem;
}

QString mediaFolder()
{
    return QStringLiteral(QUILLON_TEST_MEDIA_DIR "-video-site");
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TestReply withHeader(TestReply reply, const QByteArray& name, const QByteArray& value)
{
    reply.headers.append({ name, value });
    return reply;
}

// HEAD gets the head alone; "Range: bytes=a-" or "bytes=a-b" gets a 206, a
// range past the end a 416 with a page. Each file has a strong tag of its own.
TestReply serveBytes(const TestRequest& request, const QByteArray& bytes, const QByteArray& type)
{
    const QByteArray length = QByteArray::number(bytes.size());
    const QByteArray tag = VideoSite::entityTag(bytes);
    if (request.method == "HEAD") {
        TestReply head;
        head.raw = "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " + length
            + "\r\nETag: " + tag + "\r\nAccept-Ranges: bytes\r\nConnection: close\r\n\r\n";
        return head;
    }
    TestReply reply
        = withHeader(withHeader(TestReply::text(bytes), "Content-Type", type), "ETag", tag);
    static const QRegularExpression range("^bytes=(\\d+)-(\\d*)$");
    const QRegularExpressionMatch match = range.match(QString::fromLatin1(request.header("Range")));
    if (!match.hasMatch())
        return withHeader(reply, "Accept-Ranges", "bytes");
    const qint64 first = match.captured(1).toLongLong();
    const qint64 last
        = match.captured(2).isEmpty() ? bytes.size() - 1 : match.captured(2).toLongLong();
    // With a small page, as common web servers send.
    if (first >= bytes.size())
        return withHeader(withHeader(TestReply::text("<html><body>416</body></html>", 416),
                              "Content-Type", "text/html"),
            "Content-Range", "bytes */" + length);
    reply.status = 206;
    reply.reason = "Partial Content";
    reply.body = bytes.mid(first, last - first + 1);
    return withHeader(reply, "Content-Range",
        QString("bytes %1-%2/%3")
            .arg(first)
            .arg(first + reply.body.size() - 1)
            .arg(bytes.size())
            .toLatin1());
}

TestReply html(const QByteArray& body)
{
    return withHeader(TestReply::text(body), "Content-Type", "text/html; charset=utf-8");
}

QByteArray dashManifest(const QString& base)
{
    // One BaseURL per Representation: each is a plain file to fetch whole.
    const QString representation
        = "<Representation id=\"%1\" mimeType=\"%2\" codecs=\"%3\" bandwidth=\"%4\"%5><BaseURL>"
        + base + "/media/%6</BaseURL></Representation>";
    const auto video = [&](const char* id, const char* codec, int height, const char* file) {
        return representation.arg(id, "video/mp4", codec, QString::number(height * 1000),
            QString(" width=\"%1\" height=\"%2\"").arg(height * 4 / 3).arg(height), file);
    };
    return QString(
        "<?xml version=\"1.0\"?>\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" type=\"static\" "
        "mediaPresentationDuration=\"PT1S\" minBufferTime=\"PT1S\" "
        "profiles=\"urn:mpeg:dash:profile:isoff-on-demand:2011\"><Period>"
        "<AdaptationSet contentType=\"video\">%1%2</AdaptationSet>"
        "<AdaptationSet contentType=\"video\">%3</AdaptationSet>"
        "<AdaptationSet contentType=\"audio\">%4</AdaptationSet></Period></MPD>\n")
        .arg(video("480", "avc1.64001e", 480, "v480.mp4"),
            video("240", "avc1.64000d", 240, "v240.mp4"),
            representation.arg(
                "vp9", "video/webm", "vp9", "300000", " width=\"320\" height=\"240\"", "vp9.webm"),
            representation.arg("aac", "audio/mp4", "mp4a.40.2", "128000", "", "audio.m4a"))
        .toUtf8();
}

} // namespace

QString VideoSite::start()
{
    if (const QString problem = ensureMedia(mediaFolder()); !problem.isEmpty())
        return problem;
    if (!m_server.start())
        return "the test server did not start";
    const QList<QPair<QString, QByteArray>> media = { { "av480.mp4", "video/mp4" },
        { "av240.mp4", "video/mp4" }, { "v480.mp4", "video/mp4" }, { "v240.mp4", "video/mp4" },
        { "vp9.webm", "video/webm" }, { "audio.m4a", "audio/mp4" }, { "poster.jpg", "image/jpeg" },
        { "hls/index.m3u8", "application/vnd.apple.mpegurl" } };
    for (const auto& [name, type] : media)
        routeMedia(name, type);
    for (const QString& segment : QDir(mediaFolder() + "/hls").entryList({ "*.ts" }))
        routeMedia("hls/" + segment, "video/mp2t");
    routePages();
    return {};
}

QString VideoSite::mediaPath(const QString& name)
{
    return mediaFolder() + "/" + name;
}

QByteArray VideoSite::entityTag(const QByteArray& bytes)
{
    return '"' + QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex() + '"';
}

qint64 VideoSite::mediaSize(const QString& name) const
{
    return QFile(mediaPath(name)).size();
}

void VideoSite::cutAfter(const QString& name, qint64 bytes)
{
    routeMedia(name, "application/octet-stream", bytes);
}

void VideoSite::stallAfter(const QString& name, qint64 bytes)
{
    routeMedia(name, "application/octet-stream", -1, bytes);
}

void VideoSite::routeMedia(const QString& name, const QByteArray& type, qint64 cut, qint64 stall)
{
    const QByteArray bytes = fileBytes(mediaFolder() + "/" + name);
    m_server.route("/media/" + name, [bytes, type, cut, stall](const TestRequest& request) {
        TestReply reply = serveBytes(request, bytes, type);
        reply.cutAfter = cut;
        reply.stallAfter = stall;
        return reply;
    });
}

void VideoSite::routePages()
{
    const QByteArray base = url("").toString(QUrl::StripTrailingSlash).toUtf8();
    const QByteArray poster = "poster=\"/media/poster.jpg\"";
    const QByteArray twoSources = "<html><head><title>Two Sources</title></head><body><video "
        + poster + " controls><source src=\"/media/av480.mp4\" type=\"video/mp4\" res=\"480\">"
        + "<source src=\"/media/av240.mp4\" type=\"video/mp4\" res=\"240\"></video></body></html>";
    const QList<QPair<QString, QByteArray>> pages = {
        { "two.html", twoSources },
        { "dash.html",
            "<html><head><title>Dash Page</title></head><body><video " + poster
                + " controls><source src=\"/manifest.mpd\" type=\"application/dash+xml\"></video>"
                + "</body></html>" },
        { "jsonld.html",
            "<html><head><title>Json Page</title><script "
            "type=\"application/ld+json\">{\"@context\": "
            "\"https://schema.org\", \"@type\": \"VideoObject\", \"name\": \"Json Clip\", "
            "\"duration\": \"PT2M10S\", \"thumbnailUrl\": \""
                + base + "/media/poster.jpg\", \"contentUrl\": \"" + base
                + "/media/av480.mp4\", \"uploadDate\": "
                  "\"2024-01-01\"}</script></head><body></body></html>" },
        { "nomedia.html",
            "<html><head><title>Nothing</title></head><body><p>Text only.</p></body></html>" },
        { "hls.html",
            "<html><head><title>Live</title></head><body><video controls><source "
            "src=\"/media/hls/index.m3u8\" type=\"application/x-mpegURL\"></video></body></html>" },
    };
    // The URL sheet only takes addresses with the site's stem in them, so
    // every page is also under "/youtu/", and the watch page is one of them.
    for (const auto& [name, body] : pages) {
        m_server.route("/" + name, html(body));
        m_server.route("/youtu/" + name, html(body));
    }
    m_server.route("/watch", html(twoSources));
    m_server.route("/manifest.mpd",
        withHeader(TestReply::text(dashManifest(QString::fromUtf8(base))), "Content-Type",
            "application/dash+xml"));
    const QByteArray direct = fileBytes(mediaFolder() + "/av240.mp4");
    m_server.route("/direct.mp4",
        [direct](const TestRequest& request) { return serveBytes(request, direct, "video/mp4"); });
}
