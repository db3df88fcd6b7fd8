#pragma once

#include "server/TestHttpServer.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

// A yt-dlp release made by the test, served under "/release/" of a loopback
// server as yt-dlp publishes one: "yt-dlp", "SHA2-256SUMS" and
// "SHA2-256SUMS.sig". Two key pairs live in a private GNUPGHOME: the release
// key, whose armored public half keyFile() gives, and another key. The
// program is a small python3 script: "--version" prints its version, any
// other call (the analysis's "-J ...") prints the page record it was given.
// A key that was good when it signed but is no more is made on demand.
class TestRelease {
public:
    TestRelease() = default;
    ~TestRelease();
    TestRelease(const TestRelease&) = delete;
    TestRelease& operator=(const TestRelease&) = delete;

    // Makes the keys; empty on success, else why not.
    QString start(TestHttpServer& server);
    QString keyFile() const { return m_home.filePath("release-key.asc"); }
    QUrl programUrl() const { return m_server->url("/release/yt-dlp"); }

    // A release of a program answering `version` (and `record` to an
    // analysis), its sums and their signature by the release key, served.
    void publish(const QString& version, const QByteArray& record = "{}");
    // A release of `programBytes` as they stand, signed, served.
    void publishProgram(const QByteArray& bytes);
    // What yt-dlp's "-J" prints for a page of one mp4 video at `media`.
    static QByteArray pageRecord(const QString& title, const QUrl& media, qint64 size);
    // A python3 program whose "--version" runs `onVersion` (python3
    // statements; sys is imported), then prints `version`.
    static QByteArray program(
        const QString& version, const QByteArray& record = "{}", const QByteArray& onVersion = {});
    // The sums of `program` as yt-dlp lists them, under `name`.
    static QByteArray sumsOf(const QByteArray& program, const QString& name = "yt-dlp");
    // A detached binary signature of `data` by the release key, or by the other one.
    QByteArray sign(const QByteArray& data, bool byOtherKey = false) const;
    enum class Lapse { Revoked, Expired };
    // The sums signed anew, and served, by a key of their own that signed
    // them while it was good and then lapsed; the armored public half of that
    // key as it stands now is at the path returned ("" when gpg failed).
    QString signByLapsedKey(Lapse lapse);

    // What is served; change them and call serve() to spoil a release.
    QByteArray programBytes;
    QByteArray sums;
    QByteArray signature;
    void serve();
    void serve(const QString& name, const TestReply& reply);

private:
    QString gpg(const QStringList& arguments, const QByteArray& input = {},
        QByteArray* output = nullptr) const;
    QString revoke(const QString& user) const;

    TestHttpServer* m_server = nullptr;
    QTemporaryDir m_home;
};
