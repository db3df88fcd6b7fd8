#include "download/OnlineVideoFailure.h"

#include "services/DNHelpers.h"

#include <QRegularExpression>

#include <vector>

namespace {

// yt-dlp's words for the failures users meet most, and ours. The first match
// wins, so a line that names several causes ("Private video. Sign in if ...")
// is read by the most telling one.
struct KnownError {
    const char* pattern;
    const char* reason;
};
constexpr KnownError kKnownErrors[] = {
    { "Tunnel connection failed|ProxyError|connect to proxy",
        "the proxy of the download settings did not pass the request on" },
    { "Name or service not known|Temporary failure in name resolution|No address associated "
      "with hostname|nodename nor servname|getaddrinfo",
        "the site's name could not be looked up: there is no network, or the address is wrong" },
    { "Network is unreachable|No route to host", "there is no network to reach the site" },
    { "Connection refused", "the site refused the connection" },
    { "timed out", "the site did not answer in time" },
    { "certificate verify failed|CERTIFICATE_VERIFY_FAILED",
        "the site's certificate could not be verified" },
    { "\\bSSL\\b|\\bTLS\\b", "the secure connection to the site failed" },
    { "Connection reset|Connection aborted|Remote end closed|RemoteDisconnected|IncompleteRead",
        "the site broke the connection off" },
    { "Unsupported URL", "the site is not supported, or the page holds no video" },
    { "is not a valid URL", "the address is not a valid web address" },
    { "Incomplete YouTube ID|looks truncated",
        "the address is cut short: the video's id is incomplete" },
    { "Private video", "the video is private" },
    { "not available in your country|geo.?restrict|not available from your location",
        "the video is not available in this country" },
    { "confirm your age|age.?restricted|inappropriate for some users",
        "the video is age-restricted: the site wants a signed-in account" },
    { "not a bot", "the site wants a sign-in to confirm that this is not a bot" },
    { "members.only|Join this channel", "the video is for the channel's members only" },
    { "Premieres in|live event will begin|This live event",
        "the video is a live event that has not begun" },
    { "Video unavailable|video is unavailable|has been removed|no longer available",
        "the video is not available: it was removed or made unavailable" },
    { "Sign in|\\blog ?in\\b|requires authentication", "the video wants a signed-in account" },
    { "Unable to extract|Unable to parse|Failed to parse",
        "yt-dlp could not read the page: the site may have changed (see Show Log)" },
    { "No video formats found|Requested format is not available",
        "the page offers no video format" },
    { "Unable to download", "the page could not be fetched (see Show Log)" },
};

QString httpErrorReason(int status, const QString& phrase)
{
    const QString answer = phrase.isEmpty()
        ? QString::number(status)
        : QString::number(status) + QLatin1Char(' ') + DNQuotedWords(phrase, 80);
    if (status == 404 || status == 410)
        return QStringLiteral("the page was not found (the site answered %1)").arg(answer);
    if (status == 401 || status == 403)
        return QStringLiteral("the site refused access to the page (it answered %1)").arg(answer);
    if (status == 429)
        return QStringLiteral("the site turned away too many requests from this address (it "
                              "answered %1); try again later")
            .arg(answer);
    if (status >= 500)
        return QStringLiteral("the site failed to answer (it answered %1); try again later")
            .arg(answer);
    return QStringLiteral("the site answered %1").arg(answer);
}

} // namespace

QString onlineVideoErrorReason(const QString& errorLine)
{
    static const QRegularExpression http(QStringLiteral("HTTP Error (\\d{3})(?::\\s*([^(;]*))?"));
    static const std::vector<QRegularExpression> known = [] {
        std::vector<QRegularExpression> patterns;
        for (const KnownError& error : kKnownErrors)
            patterns.emplace_back(
                QString::fromLatin1(error.pattern), QRegularExpression::CaseInsensitiveOption);
        return patterns;
    }();
    // A proxy that refuses (the first known error) answers with an HTTP error
    // too: the proxy is the cause.
    if (const QRegularExpressionMatch match = http.match(errorLine);
        match.hasMatch() && !known.front().match(errorLine).hasMatch())
        return httpErrorReason(match.captured(1).toInt(), match.captured(2).trimmed());
    for (std::size_t index = 0; index < known.size(); ++index) {
        if (known[index].match(errorLine).hasMatch())
            return QString::fromLatin1(kKnownErrors[index].reason);
    }
    return QStringLiteral("yt-dlp could not analyse the page (see Show Log)");
}
