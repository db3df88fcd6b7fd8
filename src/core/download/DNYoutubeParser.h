#pragma once

#include "download/DNYoutubeLinkNode.h"
#include "download/ParserRelease.h"

#include <QDate>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class NXVideoDownloadSetting;
class OnlineVideoCancel;
struct OnlineVideoFailure;
class UserDefaults;

// Turns a video page into a link node through the page analyser, chooses the
// variant selected by default, and tells which analyser copy to use.
class DNYoutubeParser {
public:
    static inline const QString kCheckDateKey = QStringLiteral("youtube_dylib_check_date");

    // Blocking; call it off the main thread, from a QThread (the size requests
    // need its timers for their time-outs). Nothing when the page offers no
    // video we can download: the reason is logged and, when `failure` is
    // given, put there in our words, with yt-dlp's own lines. `cancel` ends it
    // at once from another thread.
    static std::optional<DNYoutubeLinkNode> analysisYoutubeWebSource(const QString& url,
        const QString& dylibPath, const std::shared_ptr<OnlineVideoCancel>& cancel = {},
        std::chrono::milliseconds timeLimit = std::chrono::milliseconds(60000),
        OnlineVideoFailure* failure = nullptr);

    // The index of the variant to select by default, after the favourite
    // container and resolution; `segments` must not be empty.
    static qsizetype foundBestOneForApplePlatform(const QList<DNYoutubeVideoSegment>& segments);
    static qsizetype foundBestOneForApplePlatform(
        const QList<DNYoutubeVideoSegment>& segments, const NXVideoDownloadSetting& setting);

    // The daily check whether the application is too old for the analyser:
    // once a day (the day is stored in the user defaults, after a failed
    // download too) it fetches the newest yt-dlp, and answers true when that
    // release is proven but cannot run on this system. Blocking. Two windows
    // opened at once fetch once: the second check waits for the first's
    // download and takes its copy (updateYoutubeParseLib). A check `stop`
    // cuts short answers false and leaves the day unchecked.
    static bool needUpdateYoutubeDownloader(const std::stop_token& stop);
    static bool needUpdateYoutubeDownloader(UserDefaults& defaults,
        const std::function<QDate()>& today, const std::stop_token& stop = {});

    // The release date of an analyser copy (its version is that date), or
    // nothing when the copy does not run or names no date.
    static std::optional<QDate> buildDateOfYoutubeDylib(const QString& dylibPath);
    // The date a version text names ("2025.01.26"), or nothing.
    static std::optional<QDate> releaseDateOfVersion(const QString& version);
    // True when the copy's record layout is newer than ours: never for a copy that runs.
    static bool compareWebDylibStructVersion(const QString& dylibPath);
};

// Where the analyser copies are and which one is used.
namespace DNYoutubeParseLibrary {

// The copy that comes with the system: "yt-dlp" on PATH, or "" when there is none.
QString bundleCopyPath();
// Where the downloaded copy lives: "yt-dlp" in the data folder.
QString copyPlace();
// The downloaded copy (or one a user placed there); "" unless it is an
// executable file there.
QString downloadedCopyPath();
// The data folder's copy when it is newer than the system's (or the system
// has none), else the system's. Versions are asked only when both are there.
QString youtubeParseDylibPath();
// The address of the newest release (ParserRelease::latestAddress of the user defaults).
QString latestReleaseAddress();
// The armored key a release must be signed with in place of the shipped one
// ("" for the shipped one again): for tests and their tools.
void setReleaseKeyFile(const QString& keyFile);
// Fetches the release program at `url`, verifies it and puts it in the copy
// place (ParserRelease), with the download settings' proxy; each failure is
// logged with its reason and leaves the earlier copy as it was. While the copy
// this run put in place is still there, it answers Installed at once.
// Calls of one process run one after the other; one whose `stop` comes while it
// waits for another ends at once, cancelled.
ParserReleaseResult updateYoutubeParseLib(const QString& url, const std::stop_token& stop = {});
// True when updateYoutubeParseLib installed a copy (now or earlier in this run).
bool downloadLatestYoutubeParseLib(const QString& url, const std::stop_token& stop = {});

} // namespace DNYoutubeParseLibrary
