// The window from start to a converted file, and the ways a conversion must
// not start or must end early without naming a partial file as an output.
#include "MainWindowTest.h"

#include "engine/DNVideoConverter.h"
#include "fixtures/MediaFacts.h"
#include "fixtures/TestMedia.h"
#include "list/NXMediaListModel.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "shell/NXMediaLoader.h"
#include "shell/NXProfileChooser.h"
#include "shell/NXProgressController.h"
#include "support/ChildProcesses.h"

#include <qpa/qwindowsysteminterface.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

#include <csignal>
#include <unistd.h>

namespace {

// The first catalogue profile writing `suffix` files.
int profileIDWithSuffix(const QString& suffix)
{
    for (const auto& category :
        DNProfileManager::profileManager().categoriesOfType(DNProfileTypeVideo))
        for (const auto& profile : category.profiles)
            if (profile->fileNameSuffix() == suffix)
                return profile->GlobalID();
    return -1;
}

// A source long enough to be stopped halfway, made once per run.
QString longSource()
{
    static const QString path = [] {
        const QString file = QDir::tempPath() + "/long_source.mp4";
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg",
            { "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25:duration=40",
                "-c:v", "libx264", "-preset", "ultrafast", file });
        ffmpeg.waitForFinished(60000);
        return ffmpeg.exitCode() == 0 ? file : QString();
    }();
    return path;
}

class ConversionTest : public MainWindowTest {
protected:
    void chooseProfile(int globalID)
    {
        ASSERT_TRUE(waitUntil([&] { return window().profileChooser() != nullptr; }));
        auto* chooser = window().profileChooser();
        ASSERT_TRUE(chooser->selectProfile(globalID));
        chooser->setApplyToAll(true);
        chooser->accept();
    }

    bool waitForEnd(int timeoutMs = 60000)
    {
        return waitUntil([&] { return ended.has_value(); }, timeoutMs);
    }

    bool waitForConverting()
    {
        return waitUntil([&] {
            auto* sheet = window().progressSheet();
            return sheet && sheet->statusText() == QStringLiteral("Converting...");
        });
    }

    void addLongSource()
    {
        const QString source = longSource();
        ASSERT_FALSE(source.isEmpty()) << "ffmpeg could not make the long source";
        window().addOpenedFiles({ source });
        ASSERT_EQ(window().mediaNodes().size(), 1u);
        const auto matroska
            = DNProfileManager::profileManager().profileWithGlobalID(profileIDWithSuffix("mkv"));
        ASSERT_TRUE(matroska);
        window().applyProfile(*matroska, true);
    }
};

TEST_F(ConversionTest, FileOnTheCommandLineConvertsToMatroskaInTheOutputFolder)
{
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    ASSERT_FALSE(source.isEmpty());
    const int matroska = profileIDWithSuffix("mkv");
    ASSERT_GE(matroska, 0) << "no Matroska profile in the catalogue";

    std::optional<QVariantMap> loaded;
    const auto token = NotificationCenter::defaultCenter().addObserver(NXMediaLoader::kLoadFinished,
        nullptr, nullptr, [&](const Notification& note) { loaded = note.userInfo; });
    launch({ source });
    ASSERT_TRUE(waitUntil([&] { return loaded.has_value(); }));
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(loaded->value(NXMediaLoader::kLoadTypeKey).toInt(), 1);
    ASSERT_EQ(window().mediaNodes().size(), 1u);

    chooseProfile(matroska);
    const QModelIndex row = window().listModel()->index(0, NXMediaListModel::OutputColumn);
    EXPECT_EQ(row.data().toString(), "video_audio.mkv");
    QFile(output.filePath("video_audio.mkv")).open(QIODevice::WriteOnly); // someone else's file

    recorder.openedFolders.clear();
    ASSERT_TRUE(window().startConversion());
    window().progressSheet()->setOpenFolderWhenDone(true);
    ASSERT_TRUE(waitForEnd());

    EXPECT_FALSE(ended->value("failed").toBool());
    const QStringList outputs = window().convertedOutputs();
    ASSERT_EQ(outputs.size(), 1);
    EXPECT_EQ(QFileInfo(outputs.first()).absolutePath(), QDir(output.path()).absolutePath());
    EXPECT_EQ(QFileInfo(outputs.first()).fileName(), "video_audio (1).mkv");
    EXPECT_EQ(row.data().toString(), "video_audio (1).mkv") << "the name really written";
    const MediaFacts facts = MediaFacts::probe(outputs.first());
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    EXPECT_TRUE(facts.formatName.contains("matroska"));
    EXPECT_EQ(facts.count("video"), 1);
    EXPECT_EQ(recorder.openedFolders, QStringList { output.path() });
    EXPECT_EQ(recorder.shutDowns, 0);
}

TEST_F(ConversionTest, AFailedEntryIsNamedWithItsReasonMarkedAndEndsTheRun)
{
    QTemporaryDir sources;
    const QString doomed = sources.filePath("doomed.mp4");
    const QString next = TestMedia::path(TestMedia::kVideoWithAudio);
    const struct {
        const char* name;
        std::function<void()> breakIt;
        const char* reason;
    } cases[] = {
        { "source deleted", [&] { QFile::remove(doomed); },
            "doomed.mp4\" is no longer there: it was moved or deleted after it was added to the "
            "list." },
        { "no builder for the profile", [] { DNVideoConverterSetAssemblerTables({}, {}); },
            "cannot find argument assember" },
    };
    launch({});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QFile::copy(next, doomed));
        window().clearList();
        window().addOpenedFiles({ doomed, next });
        const auto matroska
            = DNProfileManager::profileManager().profileWithGlobalID(profileIDWithSuffix("mkv"));
        window().applyProfile(*matroska, true);
        c.breakIt();
        dialogs.alerts.clear();
        ended.reset();
        ASSERT_TRUE(window().startConversion());
        ASSERT_TRUE(waitForEnd());
        DNVideoConverterUseProgramAssemblerTables();

        EXPECT_TRUE(ended->value("failed").toBool());
        ASSERT_EQ(dialogs.alerts.size(), 1u);
        EXPECT_EQ(dialogs.alerts[0].title, "Could not convert \"doomed.mp4\".");
        const QString text = dialogs.alerts[0].text;
        EXPECT_TRUE(text.contains(c.reason)) << text.toStdString();
        EXPECT_LE(text.count("failed"), 1) << "the program is named once: " << text.toStdString();
        // It says that the run stopped there, and each row it left says why.
        EXPECT_TRUE(text.endsWith("\n\nThe run stopped there: the entry after it was not started."))
            << text.toStdString();
        const auto* model = window().listModel();
        EXPECT_TRUE(
            model->index(0, 0).data(NXMediaListModel::FailureRole).toString().contains(c.reason));
        EXPECT_EQ(model->index(1, 0).data(NXMediaListModel::FailureRole).toString(),
            "Not converted: the run stopped at the failure of \"doomed.mp4\" before it.");
        for (const int row : { 0, 1 })
            EXPECT_EQ(model->index(row, NXMediaListModel::OutputColumn).data(), "Not converted");
        EXPECT_TRUE(QDir(output.path()).isEmpty()) << "the next entry is not converted";
        QFile::remove(doomed);
    }
}

// A folder that even root cannot write into: one on a read-only mount (CI
// mounts one and names it in QUILLON_TEST_READONLY_DIR).
QString readOnlyFolder()
{
    const QString fromCi = qEnvironmentVariable("QUILLON_TEST_READONLY_DIR");
    if (!fromCi.isEmpty() && QStorageInfo(fromCi).isReadOnly())
        return fromCi;
    for (const char* candidate : { "/sys/kernel", "/proc/sys", "/sys" }) {
        const QStorageInfo volume(candidate);
        if (QFileInfo(candidate).isDir() && volume.isValid() && volume.isReadOnly())
            return candidate;
    }
    return {};
}

TEST_F(ConversionTest, StartChecksRefuseWithTheirMessages)
{
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    ASSERT_FALSE(source.isEmpty());
    const QString aFile = output.filePath("plain.txt");
    QFile(aFile).open(QIODevice::WriteOnly);
    struct Case {
        const char* name;
        bool withSource;
        QString folder;
        QString title; // empty: any title naming a read-only volume
        QString text;
    };
    const QString notWritable = "The Destination Folder is NOT writable.Please try another one.";
    const std::vector<Case> cases {
        { "empty list", false, output.path(), "No media source!",
            "Please add video clips and try again." },
        { "folder under a file", true, aFile + "/sub", "Invalid Output Directory!", notWritable },
        { "no folder at all", true, "", "Invalid Output Directory!", "" },
        { "read-only volume", true, readOnlyFolder(), "", notWritable },
    };
    launch({});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (QString(c.name) == "read-only volume" && c.folder.isEmpty()) {
            std::cout << "[ SKIPPED ] no read-only mount to test with\n";
            continue;
        }
        window().clearList();
        if (c.withSource)
            window().addOpenedFiles({ source });
        DNSetting::shareSetting().appSetting().setVideoOutputDirectory(c.folder);
        dialogs.alerts.clear();

        EXPECT_FALSE(window().startConversion());
        ASSERT_EQ(dialogs.alerts.size(), 1u);
        if (c.title.isEmpty()) {
            EXPECT_TRUE(dialogs.alerts[0].title.startsWith("The volume \"")
                && dialogs.alerts[0].title.endsWith("\" is read only."))
                << dialogs.alerts[0].title.toStdString();
        } else {
            EXPECT_EQ(dialogs.alerts[0].title, c.title);
        }
        if (!c.text.isEmpty()) {
            EXPECT_EQ(dialogs.alerts[0].text, c.text);
        }
        EXPECT_EQ(window().progressSheet(), nullptr);
        EXPECT_TRUE(window().convertedOutputs().isEmpty());
    }
    EXPECT_TRUE(QDir(output.path()).entryList({ "*.mkv", "*.mp4", "*.mp3" }).isEmpty());
}

TEST_F(ConversionTest, StopInTheMiddleEndsTheEngineAndNamesNoOutput)
{
    launch({});
    addLongSource();
    recorder.openedFolders.clear();
    ASSERT_TRUE(window().startConversion());
    window().progressSheet()->setOpenFolderWhenDone(true);
    window().progressSheet()->setShutDownWhenDone(true);
    ASSERT_TRUE(waitForConverting());

    window().progressSheet()->stopButton()->click();
    EXPECT_EQ(window().progressSheet()->statusText(), "Stopping...");
    ASSERT_TRUE(waitForEnd());

    EXPECT_TRUE(ended->value("stopped").toBool());
    EXPECT_FALSE(DNVideoConverterIsRunning());
    EXPECT_TRUE(window().convertedOutputs().isEmpty());
    EXPECT_EQ(recorder.shutDowns, 0);
    EXPECT_TRUE(recorder.openedFolders.isEmpty());
}

TEST_F(ConversionTest, ClosedWindowOrEndingSessionDuringAConversionQuitsCleanly)
{
    struct Case {
        const char* name;
        std::function<void(NXAppController&)> end;
    };
    const Case cases[] = {
        { "SIGTERM", [](NXAppController&) { ::kill(::getpid(), SIGTERM); } },
        { "window manager closes the window",
            [](NXAppController& window) {
                QWindowSystemInterface::handleCloseEvent<
                    QWindowSystemInterface::SynchronousDelivery>(window.windowHandle());
            } },
        { "SIGHUP", [](NXAppController&) { ::kill(::getpid(), SIGHUP); } },
        { "SIGINT", [](NXAppController&) { ::kill(::getpid(), SIGINT); } },
    };
    auto& defaults = UserDefaults::standard();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        delegate.emplace(dialogs, system);
        launch({});
        addLongSource();
        if (window().profileChooser())
            window().profileChooser()->reject(); // the window is the user's again
        DNSetting::shareSetting().mainWindowSetting().setCpuCore(3);
        ASSERT_TRUE(window().startConversion());
        ASSERT_TRUE(waitForConverting());

        c.end(window());
        ASSERT_TRUE(waitUntil(
            [&] { return !defaults.boolValue(NXApplicationDelegate::kSafeTerminateKey, true); }));
        EXPECT_FALSE(DNVideoConverterIsRunning());
        EXPECT_TRUE(childProcesses().isEmpty()) << childProcesses().join(' ').toStdString();
        DNSetting::shareSetting().resetToDefaults();
        DNSetting::shareSetting().restore(defaults);
        EXPECT_EQ(DNSetting::shareSetting().mainWindowSetting().cpuCore(), 3) << "settings saved";

        delegate.emplace(dialogs, system);
        launch({});
        EXPECT_FALSE(delegate->previousRunEndedAbnormally());
    }
}

TEST_F(ConversionTest, ClosingDuringAConversionAsksAndNoKeepsConverting)
{
    launch({});
    addLongSource();
    ASSERT_TRUE(window().startConversion());
    ASSERT_TRUE(waitForConverting());
    bool closed = false;
    const QObject scope; // the connection ends with the test
    QObject::connect(&window(), &NXAppController::windowClosed, &scope, [&] { closed = true; });
    dialogs.alerts.clear();
    dialogs.nextAnswer.button = 1; // No

    EXPECT_FALSE(window().close());
    ASSERT_EQ(dialogs.alertTitles(), QStringList { "A conversion is running. Stop it and quit?" });
    EXPECT_FALSE(closed);
    EXPECT_TRUE(window().isConverting());
    EXPECT_TRUE(DNVideoConverterIsRunning());
}

TEST_F(ConversionTest, QuitDuringAConversionStopsItFirst)
{
    launch({});
    addLongSource();
    ASSERT_TRUE(window().startConversion());
    ASSERT_TRUE(waitForConverting());

    delegate->applicationWillTerminate();

    EXPECT_FALSE(DNVideoConverterIsRunning());
    EXPECT_FALSE(window().isConverting());
    EXPECT_TRUE(window().convertedOutputs().isEmpty());
}

} // namespace
