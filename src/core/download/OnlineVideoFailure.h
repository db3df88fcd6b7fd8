#pragma once

#include <QString>
#include <QStringList>

// Why a page analysis gave nothing: what failed, in our words, for the
// window, and yt-dlp's own lines for whoever wants them (Show Log). Its lines
// send users to another project's tracker and to commands, while the window
// keeps yt-dlp current by itself, so they are never the message.
struct OnlineVideoFailure {
    QString reason;
    QStringList toolLines; // the last lines yt-dlp wrote on its error output, each cut

    bool isEmpty() const { return reason.isEmpty(); }
};

// What an "ERROR:" line of yt-dlp means, in our words: the common ones (the
// page answered an HTTP error, the site is not supported, no network, the
// video is private ...) say what failed; any other says that yt-dlp could not
// analyse the page and points to Show Log.
QString onlineVideoErrorReason(const QString& errorLine);
