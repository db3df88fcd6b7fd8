// The newest yt-dlp fetched from a release the test makes and serves on
// loopback: verified, put in place and used; refused in every way a release
// can be wrong, with the earlier copy kept; once a day; and two at once.
#include "TestRelease.h"
#include "VideoSite.h"

#include "download/DNYoutubeParser.h"
#include "download/ParserRelease.h"
#include "platform/UserDefaults.h"

#include "core/download/DownloadTestSupport.h"
#include "download/OnlineVideoLibrary.h"
#include "platform/Fd.h"
#include "platform/OwnerMark.h"
#include "server/TestProxy.h"
#include "support/ChildProcesses.h"
#include "support/OwnerMarks.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Outcome = ParserReleaseResult::Outcome;

// Runs each piece of work on a QThread of its own, all at once, and waits
// with the main thread's events running, as the requests need.
void runTogether(const QList<std::function<void()>>& works)
{
    QEventLoop loop;
    std::vector<std::unique_ptr<QThread>> threads;
    int running = static_cast<int>(works.size());
    for (const auto& work : works) {
        threads.emplace_back(QThread::create(work));
        QObject::connect(threads.back().get(), &QThread::finished, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
    }
    for (const auto& thread : threads)
        thread->start();
    loop.exec();
    for (const auto& thread : threads)
        thread->wait();
}

// Ends the process group a program under test named in the JSON report at
// `report` ("group"), unless it is ours or has no member left (its number may
// then be someone else's).
void endProcessGroupOf(const QString& report)
{
    const int group = QJsonDocument::fromJson(readTestFile(report)).object()["group"].toInt();
    if (group > 0 && group != int(::getpgrp()) && !processGroupMembers(group).isEmpty())
        ::kill(-group, SIGKILL);
}

class ParserUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString problem = site.start();
        ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
        const QString keys = release.start(site.server());
        ASSERT_TRUE(keys.isEmpty()) << keys.toStdString();
        ASSERT_TRUE(QDir().mkpath(AppPaths::dataFolder()));
        // An earlier copy, newer than the system's, so it is the one in use.
        QFile::remove(copy());
        ASSERT_TRUE(QFile::copy(writeFakeYtDlp(scratch.path(), "2099.01.01", "exit 1"), copy()));
        earlier = readTestFile(copy());
        DNYoutubeParseLibrary::setReleaseKeyFile(release.keyFile());
        release.publish("2099.01.02", record());
        system = writeFakeYtDlp(systemFolder.path(), kSystemVersion, "exit 1");
    }
    void TearDown() override
    {
        QFile::remove(copy());
        DNYoutubeParseLibrary::setReleaseKeyFile({});
    }

    static QString copy() { return DNYoutubeParseLibrary::copyPlace(); }

    // What the release program answers to an analysis: one video on the site.
    QByteArray record() const
    {
        return TestRelease::pageRecord(
            "From The Release", site.url("/media/av240.mp4"), site.mediaSize("av240.mp4"));
    }

    ParserReleaseSource source() const
    {
        ParserReleaseSource source;
        source.program = release.programUrl();
        source.keyFile = release.keyFile();
        source.timeLimit = std::chrono::seconds(20);
        return source;
    }

    ParserReleaseResult fetch(const ParserReleaseSource& from, const QString& to = copy())
    {
        ParserReleaseResult result;
        runTogether({ [&] { result = ParserRelease::fetchAndInstall(from, to, system); } });
        return result;
    }

    int requestsFor(const QByteArray& target)
    {
        int count = 0;
        for (const TestRequest& request : site.server().requests())
            count += request.target == target ? 1 : 0;
        return count;
    }

    // The data folder's files but the log, each with whether it is executable.
    static QStringList dataFiles()
    {
        QStringList files;
        const QDir folder(AppPaths::dataFolder());
        for (const QFileInfo& file : folder.entryInfoList(QDir::Files | QDir::Hidden)) {
            if (!file.fileName().startsWith("Quillon.log"))
                files << file.fileName() + (file.isExecutable() ? "*" : "");
        }
        return files;
    }

    static constexpr const char* kSystemVersion = "2023.03.04";

    VideoSite site;
    TestRelease release;
    QTemporaryDir scratch;
    QByteArray earlier;
    QTemporaryDir systemFolder;
    QString system; // the system's yt-dlp, as the installer is told of it
};

TEST_F(ParserUpdate, AGoodReleaseComesThroughTheProxyAndIsUsedByTheNextAnalysis)
{
    TestProxy proxy(TestProxy::Kind::Http);
    ASSERT_TRUE(proxy.start());
    ParserReleaseResult result;
    {
        const DownloadProxySetting proxied("127.0.0.1", QString::number(proxy.port()));
        runTogether({ [&] {
            result = DNYoutubeParseLibrary::updateYoutubeParseLib(release.programUrl().toString());
        } });
    }
    ASSERT_EQ(result.outcome, Outcome::Installed) << result.reason.toStdString();
    // The proxy logs the first request of each connection it passes on.
    const QStringList log = proxy.log();
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(
        log.first(), "GET " + release.programUrl().resolved(QUrl(".")).toString() + "SHA2-256SUMS");
    EXPECT_EQ(result.version, "2099.01.02");
    EXPECT_EQ(readTestFile(copy()), release.programBytes);
    struct stat info { };
    ASSERT_EQ(::stat(QFile::encodeName(copy()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    EXPECT_EQ(dataFiles(), QStringList { "yt-dlp*" });

    ASSERT_EQ(DNYoutubeParseLibrary::youtubeParseDylibPath(), copy());
    const std::optional<DNYoutubeLinkNode> node = DNYoutubeParser::analysisYoutubeWebSource(
        site.url("/watch?v=x").toString(), DNYoutubeParseLibrary::youtubeParseDylibPath());
    ASSERT_TRUE(node);
    EXPECT_EQ(node->title, "From The Release");
}

// A copy set aside by an update that crashed before its move goes; one that
// another instance is writing stays.
TEST_F(ParserUpdate, AnUpdateRemovesTheCopyAnEndedOneSetAside)
{
    const QDir data(AppPaths::dataFolder());
    const QString left = data.filePath(".yt-dlp.3999999.0a1b2c3d.partial");
    const QString writing = data.filePath(".yt-dlp.3999998.0a1b2c3d.partial");
    ASSERT_TRUE(writeTestFile(left, {}));
    ASSERT_TRUE(writeTestFile(writing, {}));
    if (!putOwnerMark(left, markOfAnEndedProcess()) || !putOwnerMark(writing, OwnerMark::ownMark()))
        GTEST_SKIP() << "this file system keeps no attributes of users";
    EXPECT_EQ(fetch(source()).outcome, Outcome::Installed);
    EXPECT_FALSE(QFile::exists(left));
    EXPECT_TRUE(QFile::remove(writing));
}

TEST_F(ParserUpdate, AStoppedUpdateEndsAtOnceAndKeepsTheEarlierCopy)
{
    QTcpServer silent; // takes the request and never answers it
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    std::stop_source stop;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] { stop.request_stop(); });
    ParserReleaseSource from = source();
    from.program = QUrl(QString("http://127.0.0.1:%1/yt-dlp").arg(silent.serverPort()));
    from.timeLimit = std::chrono::seconds(60);
    from.stop = stop.get_token();
    QElapsedTimer clock;
    clock.start();
    const ParserReleaseResult result = fetch(from);
    EXPECT_LT(clock.elapsed(), 30000);
    EXPECT_EQ(result.outcome, Outcome::Refused);
    EXPECT_EQ(result.reason, "the update was cancelled");
    EXPECT_EQ(readTestFile(copy()), earlier);
}

TEST_F(ParserUpdate, AStoppedUpdateDoesNotWaitForAnotherOnesFetch)
{
    QTcpServer silent; // takes the first update's request and never answers it
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    const QString url = QString("http://127.0.0.1:%1/yt-dlp").arg(silent.serverPort());
    std::stop_source first;
    std::stop_source second;
    second.request_stop();
    ParserReleaseResult behind;
    qint64 waited = -1;
    QElapsedTimer clock;
    std::unique_ptr<QThread> waiting;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        clock.start();
        waiting.reset(QThread::create([&] {
            behind = DNYoutubeParseLibrary::updateYoutubeParseLib(url, second.get_token());
            waited = clock.elapsed();
            first.request_stop();
        }));
        waiting->start();
    });
    // A second update that waits would otherwise hold the test for the fetch's own limit.
    QTimer backstop;
    backstop.setSingleShot(true);
    QObject::connect(&backstop, &QTimer::timeout, [&] { first.request_stop(); });
    backstop.start(15000);
    runTogether({ [&] { DNYoutubeParseLibrary::updateYoutubeParseLib(url, first.get_token()); } });
    ASSERT_TRUE(waiting);
    waiting->wait();
    EXPECT_LT(waited, 5000);
    EXPECT_EQ(behind.reason, "the update was cancelled");
    EXPECT_EQ(readTestFile(copy()), earlier);
}

TEST_F(ParserUpdate, AnyFaultOfTheReleaseKeepsTheEarlierCopy)
{
    using Spoil = std::function<void(TestRelease&, ParserReleaseSource&)>;
    const QByteArray notRunning
        = "#!/usr/bin/env python3\nraise SystemExit('this yt-dlp needs Python 3.99')\n";
    struct Case {
        const char* what;
        Spoil spoil;
        QString reason;
        Outcome outcome = Outcome::Refused;
        const char* never = nullptr; // words the reason must not hold
    };
    // Nothing listens there.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString nowhere = QString("http://127.0.0.1:%1/").arg(closed.serverPort());
    closed.close();
    const Case cases[] = {
        { "bad signature",
            [](TestRelease& r, auto&) { r.signature = r.sign(r.sums + "extra line\n"), r.serve(); },
            "not a good signature" },
        { "signed by another key",
            [](TestRelease& r, auto&) { r.signature = r.sign(r.sums, true), r.serve(); },
            "not a good signature" },
        { "sums without yt-dlp",
            [](TestRelease& r, auto&) {
                r.sums = TestRelease::sumsOf(r.programBytes, "yt-dlp_linux");
                r.signature = r.sign(r.sums), r.serve();
            },
            "lists no file named yt-dlp" },
        { "program changed", [](TestRelease& r, auto&) { r.programBytes += "#\n", r.serve(); },
            "SHA-256" },
        { "cut body",
            [](TestRelease& r, auto&) {
                TestReply cut = TestReply::text(r.programBytes);
                cut.cutAfter = r.programBytes.size() / 2;
                r.serve("yt-dlp", cut);
            },
            "yt-dlp" },
        { "endless body",
            [](TestRelease& r, ParserReleaseSource& s) {
                TestReply endless = TestReply::text(r.programBytes + QByteArray(256 * 1024, '#'));
                endless.framing = TestReply::Framing::Chunked;
                s.maxProgramBytes = 64 * 1024;
                r.serve("yt-dlp", endless);
            },
            "yt-dlp" },
        { "stalled body",
            [](TestRelease& r, ParserReleaseSource& s) {
                TestReply stalled = TestReply::text(r.programBytes);
                stalled.stallAfter = 10;
                s.timeLimit = std::chrono::milliseconds(1500);
                r.serve("yt-dlp", stalled);
            },
            "time limit" },
        { "404", [](TestRelease& r, auto&) { r.serve("yt-dlp", TestReply::text("gone", 404)); },
            "answered 404" },
        { "http to another host",
            [](TestRelease&, ParserReleaseSource& s) {
                s.program = QUrl("http://example.invalid/yt-dlp");
            },
            "only https" },
        { "redirect to http on another host",
            [](TestRelease& r, auto&) {
                TestReply moved = TestReply::text("", 302);
                moved.headers.append(
                    qMakePair(QByteArray("Location"), QByteArray("http://example.invalid/yt-dlp")));
                r.serve("yt-dlp", moved);
            },
            "only https" },
        { "signed by a key only the user trusts",
            [](TestRelease& r, ParserReleaseSource& s) {
                // gpgv's own default keyring, in the test's private home.
                const QString keyring = QDir::homePath() + "/.gnupg/trustedkeys.kbx";
                QDir().mkpath(QDir::homePath() + "/.gnupg");
                QFile::setPermissions(QDir::homePath() + "/.gnupg",
                    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
                QProcess::execute("gpg",
                    { "--batch", "--no-default-keyring", "--keyring", keyring, "--import",
                        r.keyFile() });
                ASSERT_TRUE(QFile::exists(keyring));
                s.keyFile = ParserRelease::shippedKeyFile();
            },
            "it was made by another key than the release key (gpgv: NO_PUBKEY " },
        { "signature without signature data",
            [](TestRelease& r, auto&) { r.signature = "not a signature\n", r.serve(); },
            "it holds no signature (gpgv: NODATA ", Outcome::Refused, "command line" },
        { "version without a date", [](TestRelease& r, auto&) { r.publish("nightly"); },
            "names no date" },
        { "older than the copy in use", [](TestRelease& r, auto&) { r.publish("2098.12.31"); },
            "older" },
        { "does not run here", [&](TestRelease& r, auto&) { r.publishProgram(notRunning); },
            "Python 3.99", Outcome::DoesNotRun },
        { "signed by a revoked key",
            [](TestRelease& r, ParserReleaseSource& s) {
                s.keyFile = r.signByLapsedKey(TestRelease::Lapse::Revoked);
            },
            "not a good signature of SHA2-256SUMS by the release key: the release key is revoked "
            "(gpgv: REVKEYSIG ",
            Outcome::Refused, "Good signature" },
        { "signed by an expired key",
            [](TestRelease& r, ParserReleaseSource& s) {
                s.keyFile = r.signByLapsedKey(TestRelease::Lapse::Expired);
            },
            "the release key has expired (gpgv: EXPKEYSIG ", Outcome::Refused, "Good signature" },
        { "version line of 20 MB",
            [](TestRelease& r, auto&) {
                r.publishProgram(
                    TestRelease::program("2099.01.02", "{}", "sys.stdout.write('v' * 20000000)"));
            },
            "vvv… (cut)\" names no date" },
        { "error line of 20 MB",
            [](TestRelease& r, auto&) {
                r.publishProgram(
                    TestRelease::program("2099.01.02", "{}", "sys.exit('e' * 20000000)"));
            },
            "eee… (cut)", Outcome::DoesNotRun },
        { "nothing listens at the address",
            [&nowhere](
                TestRelease&, ParserReleaseSource& s) { s.program = QUrl(nowhere + "yt-dlp"); },
            "SHA2-256SUMS could not be fetched from " + nowhere
                + "SHA2-256SUMS: "
                  "A connection failure occurred: Connection refused" },
        { "empty sums", [](TestRelease& r, auto&) { r.serve("SHA2-256SUMS", TestReply::text("")); },
            "SHA2-256SUMS is empty" },
        { "empty signature",
            [](TestRelease& r, auto&) { r.serve("SHA2-256SUMS.sig", TestReply::text("")); },
            "SHA2-256SUMS.sig is empty" },
        { "version run prints nothing",
            [](TestRelease& r, auto&) {
                r.publishProgram(TestRelease::program("2099.01.02", "{}", "sys.exit(0)"));
            },
            "the new yt-dlp's --version printed no version" },
        { "version run fails without a word",
            [](TestRelease& r, auto&) {
                r.publishProgram(TestRelease::program("2099.01.02", "{}", "sys.exit(3)"));
            },
            "the new yt-dlp's --version ended with exit status 3" },
    };
    const QStringList before = dataFiles();
    for (const Case& test : cases) {
        release.publish("2099.01.02", record());
        ParserReleaseSource from = source();
        test.spoil(release, from);
        const ParserReleaseResult result = fetch(from);
        EXPECT_EQ(result.outcome, test.outcome) << test.what;
        EXPECT_TRUE(result.reason.contains(test.reason))
            << test.what << ": " << result.reason.left(500).toStdString();
        EXPECT_FALSE(test.never && result.reason.contains(test.never))
            << test.what << ": " << result.reason.left(500).toStdString();
        // A message quotes a few hundred characters of what a program said, not megabytes.
        EXPECT_LT(result.reason.size(), 1000) << test.what;
        EXPECT_EQ(readTestFile(copy()), earlier) << test.what;
        EXPECT_EQ(dataFiles(), before) << test.what;
    }
    // The same release unspoilt goes in: the refusals were the faults'.
    release.publish("2099.01.02", record());
    EXPECT_EQ(fetch(source()).outcome, Outcome::Installed);
}

TEST_F(ParserUpdate, TheDailyCheckFetchesOnceADayAndTellsWhenTheNewestCannotRunHere)
{
    UserDefaults defaults(scratch.filePath("defaults.conf"));
    defaults.setValue(ParserRelease::kAddressKey, release.programUrl().toString());
    QDate today(2026, 3, 1);
    const auto clock = [&today] { return today; };
    bool outdated = true;
    const auto check = [&] {
        runTogether(
            { [&] { outdated = DNYoutubeParser::needUpdateYoutubeDownloader(defaults, clock); } });
    };
    const auto fetches = [this] { return requestsFor("/release/SHA2-256SUMS"); };

    check();
    EXPECT_FALSE(outdated);
    EXPECT_EQ(fetches(), 1);
    EXPECT_EQ(readTestFile(copy()), release.programBytes);
    check();
    EXPECT_EQ(fetches(), 1);

    // The next day's release is proven but wants a newer python3.
    today = today.addDays(1);
    QFile::remove(copy());
    release.publishProgram(QByteArray("#!/usr/bin/env python3\nraise SystemExit('too new')\n"));
    check();
    EXPECT_TRUE(outdated);
    EXPECT_EQ(fetches(), 2);

    // A failed download is checked again only the day after.
    today = today.addDays(1);
    release.serve("yt-dlp", TestReply::text("gone", 404));
    check();
    check();
    EXPECT_FALSE(outdated);
    EXPECT_EQ(fetches(), 3);
    EXPECT_EQ(defaults.value(DNYoutubeParser::kCheckDateKey).toString(), "2026-03-03");
    EXPECT_FALSE(QFile::exists(copy()));
}

TEST_F(ParserUpdate, TwoChecksAtOnceLeaveOneWholeCopy)
{
    ParserReleaseResult first;
    ParserReleaseResult second;
    runTogether({ [&] { first = ParserRelease::fetchAndInstall(source(), copy(), system); },
        [&] { second = ParserRelease::fetchAndInstall(source(), copy(), system); } });
    EXPECT_EQ(first.outcome, Outcome::Installed) << first.reason.toStdString();
    EXPECT_EQ(second.outcome, Outcome::Installed) << second.reason.toStdString();
    EXPECT_EQ(readTestFile(copy()), release.programBytes);
    EXPECT_EQ(dataFiles(), QStringList { "yt-dlp*" });

    // Two instances of the program.
    release.publish("2099.01.03", record());
    QList<std::shared_ptr<QProcess>> instances;
    for (int instance = 0; instance < 2; ++instance) {
        auto process = std::make_shared<QProcess>();
        process->start(QUILLON_DOWNLOAD_ONE,
            { "--update-parser", "--parser-url", release.programUrl().toString(), "--parser-key",
                release.keyFile() });
        instances << process;
    }
    for (const auto& process : instances) {
        ASSERT_TRUE(process->waitForFinished(60000));
        EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
        EXPECT_EQ(process->readAllStandardOutput().trimmed(),
            ("parser: " + copy() + " 2099.01.03").toUtf8());
    }
    EXPECT_EQ(readTestFile(copy()), release.programBytes);
    EXPECT_EQ(dataFiles(), QStringList { "yt-dlp*" });
}

// The copy choice takes the system's yt-dlp over a downloaded copy of the same date.
TEST_F(ParserUpdate, AReleaseDatedAsTheSystemsCopyIsNoUpdate)
{
    QFile::remove(copy());
    release.publish(kSystemVersion, record());
    const ParserReleaseResult result = fetch(source());
    EXPECT_EQ(result.outcome, Outcome::Refused);
    EXPECT_TRUE(result.reason.contains("not newer than the system's (2023-03-04)"))
        << result.reason.toStdString();
    EXPECT_FALSE(QFile::exists(copy()));
}

TEST_F(ParserUpdate, TheVersionRunHasOneTimeLimitAtInstallAndAtTheCopyChoice)
{
    const std::chrono::milliseconds before = OnlineVideoLibrary::versionTimeLimit();
    OnlineVideoLibrary::setVersionTimeLimit(std::chrono::seconds(2));
    const auto restore = qScopeGuard([before] { OnlineVideoLibrary::setVersionTimeLimit(before); });
    // Each program answers, newer than what is in use, only after 10 s: a
    // step that waited longer than the shared limit would take it.
    release.publishProgram(
        TestRelease::program("2099.01.02", record(), "import time\ntime.sleep(10)"));
    const ParserReleaseResult installed = fetch(source());
    EXPECT_EQ(installed.outcome, Outcome::Refused);
    EXPECT_TRUE(installed.reason.contains("--version did not answer within 2 s"))
        << installed.reason.toStdString();

    // A copy placed by hand that is as slow is given up at the same limit.
    QFile::remove(copy());
    ASSERT_TRUE(writeTestScript(
        copy(), "#!/bin/sh\n[ \"$1\" = --version ] && sleep 10 && echo 2099.01.01\n"));
    EXPECT_EQ(
        DNYoutubeParseLibrary::youtubeParseDylibPath(), DNYoutubeParseLibrary::bundleCopyPath());
    EXPECT_TRUE(logText().contains(copy() + " --version did not answer within 2 s"))
        << logText().toStdString();
}

TEST_F(ParserUpdate, TheNewProgramsVersionRunsInAnEmptyFolderOfItsOwnAndLeavesNoChild)
{
    const QString report = scratch.filePath("report.json");
    release.publishProgram(TestRelease::program("2099.01.02", record(),
        "import json, os, subprocess\n"
        "child = subprocess.Popen(['sleep', '300'])\n"
        "with open('"
            + report.toUtf8()
            + "', 'w') as out:\n"
              "    json.dump({'folder': os.getcwd(), 'entries': os.listdir('.'),"
              " 'group': os.getpgid(0), 'leader': os.getpgid(0) == os.getpid(),"
              " 'child': child.pid}, out)"));
    // Whatever fails below, the version run's group (its sleep) goes with the test.
    const auto reap = qScopeGuard([&report] { endProcessGroupOf(report); });
    EXPECT_EQ(fetch(source()).outcome, Outcome::Installed);
    const QJsonObject seen = QJsonDocument::fromJson(readTestFile(report)).object();
    ASSERT_FALSE(seen.isEmpty());
    const int group = seen["group"].toInt();
    EXPECT_NE(seen["folder"].toString(), QDir::currentPath());
    EXPECT_TRUE(seen["entries"].toArray().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(seen["folder"].toString()));
    EXPECT_TRUE(seen["leader"].toBool());
    ASSERT_NE(group, int(::getpgrp()));
    EXPECT_TRUE(QTest::qWaitFor([group] { return processGroupMembers(group).isEmpty(); }, 5000))
        << processGroupMembers(group).join(' ').toStdString();
}

// Another instance put a newer release in place while this one fetched its
// own: the older one never replaces it, and is not even compared with what
// is in place while the other holds the folder for its move.
TEST_F(ParserUpdate, AReleaseOlderThanTheCopyPutInPlaceMeanwhileIsRefused)
{
    const QString compared = scratch.filePath("compared");
    QFile::remove(copy());
    ASSERT_TRUE(writeTestScript(copy(),
        "#!/bin/sh\n[ \"$1\" = --version ] && touch '" + QFile::encodeName(compared)
            + "' && echo 2099.01.01\n"));
    const QTemporaryDir other;
    const QString newer = writeFakeYtDlp(other.path(), "2099.02.01", "exit 1");
    const QByteArray newerBytes = readTestFile(newer);
    const Fd folder(::open(
        QFile::encodeName(AppPaths::dataFolder()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_EQ(::flock(folder.get(), LOCK_EX), 0);
    std::atomic<bool> waiting = false;
    ParserReleaseSource from = source();
    from.waitsForFolder = [&waiting] { waiting = true; };
    // Whatever the update does first ends within its fetch and its version run.
    const auto bound = std::chrono::duration_cast<std::chrono::milliseconds>(
        from.timeLimit + OnlineVideoLibrary::versionTimeLimit());
    ParserReleaseResult result;
    runTogether({ [&] { result = ParserRelease::fetchAndInstall(from, copy(), system); },
        [&] {
            EXPECT_TRUE(QTest::qWaitFor([&] { return waiting.load(); }, int(bound.count())));
            // It waits for the folder, and has not looked at the copy in place.
            EXPECT_FALSE(QFile::exists(compared));
            EXPECT_EQ(::rename(QFile::encodeName(newer).constData(),
                          QFile::encodeName(copy()).constData()),
                0);
            ::flock(folder.get(), LOCK_UN);
        } });
    EXPECT_EQ(result.outcome, Outcome::Refused);
    EXPECT_TRUE(result.reason.contains("older than the one in place (2099-02-01)"))
        << result.reason.toStdString();
    EXPECT_EQ(readTestFile(copy()), newerBytes);
}

// A write that fails says why, in the system's words: it is no fault of the release.
TEST_F(ParserUpdate, AFullOrReadOnlyFolderIsToldWithTheSystemsReason)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a small or read-only file system needs root and a tmpfs mount";
    struct Case {
        const char* what;
        unsigned long flags;
        bool temporary; // the temporary folder, else the copy's folder
        const char* step;
        const char* reason;
    };
    const Case cases[] = {
        { "full temporary folder", 0, true, "the signature could not be checked",
            "No space left on device" },
        { "full data folder", 0, false, "the program could not be written in",
            "No space left on device" },
        { "read-only data folder", MS_RDONLY, false, "the program could not be written in",
            "Read-only file system" },
    };
    // More than the one page the file system holds.
    release.publishProgram(
        TestRelease::program("2099.01.02", record(), "# " + QByteArray(65536, 'x')));
    const QByteArray temporary = qgetenv("TMPDIR");
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        const QTemporaryDir mountPoint;
        const QByteArray point = QFile::encodeName(mountPoint.path());
        ASSERT_EQ(::mount("tmpfs", point.constData(), "tmpfs", test.flags, "size=4k"), 0);
        const auto unmount = qScopeGuard([&point] { ::umount2(point.constData(), MNT_DETACH); });
        if (test.temporary)
            qputenv("TMPDIR", point);
        const ParserReleaseResult result
            = fetch(source(), test.temporary ? copy() : mountPoint.filePath("yt-dlp"));
        qputenv("TMPDIR", temporary);
        EXPECT_EQ(result.outcome, Outcome::Refused);
        EXPECT_TRUE(result.reason.contains(test.step) && result.reason.contains(test.reason))
            << result.reason.toStdString();
        EXPECT_EQ(readTestFile(copy()), earlier);
    }
}

} // namespace
