#pragma once

#include "server/TestHttpServer.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

// A small video site on the loopback test server: media made once per test
// process with ffmpeg's lavfi sources, and pages of the kinds the analyser
// meets. Media files answer HEAD and byte ranges; a file can be told to cut
// its body or to stall after some bytes.
//
// Media under "/media/": "av480.mp4", "av240.mp4" (H.264 + AAC), "v480.mp4",
// "v240.mp4" (H.264 only), "vp9.webm", "audio.m4a" (AAC), "poster.jpg", and
// "hls/index.m3u8" with three segments.
// Pages: "/two.html" (two <source> with "res", poster), "/dash.html" (a
// hand-written MPD, poster), "/direct.mp4", "/jsonld.html" (absolute URLs,
// "PT2M10S"), "/nomedia.html", "/hls.html", each also under "/youtu/", and
// "/watch" (the two-source page); any other path is a 404.
class VideoSite {
public:
    // Empty on success, else why the media or the server could not be made.
    QString start();
    QUrl url(const QString& path) const { return m_server.url(path); }
    // Path and size of a file under "/media/".
    static QString mediaPath(const QString& name);
    qint64 mediaSize(const QString& name) const;
    // The strong tag the site serves `bytes` under.
    static QByteArray entityTag(const QByteArray& bytes);
    // The next answers for `name` end after `bytes` body bytes: closed, or
    // kept open in silence.
    void cutAfter(const QString& name, qint64 bytes);
    void stallAfter(const QString& name, qint64 bytes);
    TestHttpServer& server() { return m_server; }

private:
    void routeMedia(
        const QString& name, const QByteArray& type, qint64 cut = -1, qint64 stall = -1);
    void routePages();

    TestHttpServer m_server;
};
