#pragma once

#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <stop_token>

class UserDefaults;

// Where a yt-dlp release comes from and what proves it: the program's
// address (its sums "SHA2-256SUMS" and their signature "SHA2-256SUMS.sig"
// lie in the same folder) and the armored public key the signature must be
// made with.
struct ParserReleaseSource {
    QUrl program;
    QString keyFile;
    // The whole fetch, all three files and their redirects.
    std::chrono::milliseconds timeLimit { 300000 };
    // The release program is a few MiB; a body past these is not a release.
    qint64 maxProgramBytes = 64LL * 1024 * 1024;
    qint64 maxSumsBytes = 64LL * 1024;
    // "host:port" of the download settings' HTTP proxy, or "".
    QString proxy;
    // Cuts the fetch short (the request in flight cancelled, a child stopped)
    // when the one who waits for it goes; nothing is put in place then.
    std::stop_token stop;
    // Called once, on the updating thread, when another update holds the
    // copy's folder and this one starts to wait for it (it is logged too).
    std::function<void()> waitsForFolder;
};

struct ParserReleaseResult {
    enum class Outcome {
        Installed, // verified and moved into the copy place
        Refused, // not fetched, not proven a release, not newer than the copies there
        DoesNotRun, // a proven release that this system's python3 cannot run
    };
    Outcome outcome = Outcome::Refused;
    QString reason; // why it was not installed
    QString version; // the installed copy's "--version" line
};

// Fetches the newest yt-dlp release program and puts it in place of the data
// folder's copy only once it is proven to be a release: its sums carry a good
// signature by the trusted key (one gpgv reports valid with no word against
// it: no revoked or expired key, no expired, bad or unchecked signature), its
// SHA-256 is the one the sums give for "yt-dlp", and only then is it run, to
// ask its version, which must be dated after the system's copy (else it
// would never be chosen) and not older than the copy in place at the moment
// of the move (another update, of another instance too, may have put a newer
// one there meanwhile). It is written aside under a hidden name, never
// executable until it has passed, and moved into place in one step, so the
// copy place never holds half a program and an earlier copy stays as it was
// whenever anything fails. Blocking; run it on a QThread (the requests need
// its timers).
namespace ParserRelease {

// The address of the newest release, as yt-dlp publishes it.
inline const QString kLatestAddress
    = QStringLiteral("https://github.com/yt-dlp/yt-dlp/releases/latest/download/yt-dlp");
// A user default (not in the interface) that replaces it: a mirror, or a
// test. Left empty, the release's own address is used.
inline const QString kAddressKey = QStringLiteral("youtube_parser_address");
// Why an update that its stop token cut short installed nothing.
inline const QString kCancelledReason = QStringLiteral("the update was cancelled");

QUrl latestAddress(const UserDefaults& defaults);
// The release signing key that comes with the application.
QString shippedKeyFile();
// "" when `url` may carry a release: https, or http to a loopback host only.
QString addressProblem(const QUrl& url);

// `copyPath` is where the verified program goes; `systemCopy` the system's
// yt-dlp ("" for none), whose release date the new one must pass.
ParserReleaseResult fetchAndInstall(
    const ParserReleaseSource& source, const QString& copyPath, const QString& systemCopy);

} // namespace ParserRelease
