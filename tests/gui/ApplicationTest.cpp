// Start and quit of the whole application, the preferences across a restart,
// and the list rules (merge mode, the DVD conflict question).
#include "GuiTestSupport.h"

#include "controls/NXPathField.h"
#include "controls/NXSlider.h"
#include "download/NXYoutubeControlller.h"
#include "fixtures/TestMedia.h"
#include "list/NXMediaListModel.h"
#include "model/DNFileGroupNode.h"
#include "model/ThumbnailQueue.h"
#include "platform/DNLogger.h"
#include "platform/SingleInstance.h"
#include "platform/UserDefaults.h"
#include "profiles/DNProfileManager.h"
#include "record/DNSRWindowController.h"
#include "record/NXCameraRecorderController.h"
#include "services/DNSetting.h"
#include "shell/DNFileLoader.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "shell/NXMediaLoader.h"
#include "shell/NXPreferencesController.h"
#include "shell/NXProgressController.h"
#include "support/TestFiles.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QUrl>

#include <QtGui/private/qwindow_p.h>
#include <qpa/qwindowsysteminterface.h>

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Launch {
    ScriptedDialogs dialogs;
    RecordingSystem recorder;
    NXSystemActions system = recorder.actions();
    std::optional<NXApplicationDelegate> delegate;

    Launch()
    {
        delegate.emplace(dialogs, system);
        delegate->applicationDidFinishLaunching({});
    }
    NXAppController& window() { return *delegate->controller(); }
};

TEST(ApplicationTest, AbnormalEndFlagIsSetWhileRunningAndClearedByACleanQuit)
{
    auto& defaults = UserDefaults::standard();
    const QString key = NXApplicationDelegate::kSafeTerminateKey;
    struct Case {
        const char* name;
        std::optional<bool> flagBefore; // nullopt: never stored
        bool reportedAbnormal;
    };
    const Case cases[] = {
        { "first run ever", std::nullopt, false },
        { "after a clean quit", false, false },
        { "after a crash", true, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.flagBefore)
            defaults.setValue(key, *c.flagBefore);
        else
            defaults.remove(key);
        Launch run;
        EXPECT_EQ(run.delegate->previousRunEndedAbnormally(), c.reportedAbnormal);
        EXPECT_TRUE(defaults.boolValue(key)) << "set while running";
        const bool asked = waitUntil([&] { return !run.dialogs.alerts.empty(); }, 1500);
        EXPECT_EQ(asked, c.reportedAbnormal);
        run.delegate->applicationWillTerminate();
        EXPECT_FALSE(defaults.boolValue(key, true)) << "cleared at quit";
    }
}

TEST(ApplicationTest, ASecondCopyLeavesTheAbnormalEndFlagToTheFirst)
{
    auto& defaults = UserDefaults::standard();
    defaults.setValue(NXApplicationDelegate::kSafeTerminateKey, true); // the first copy's
    DNLogger::shareRoughLog().close();
    DNLogger firstCopy(DNLogger::shareRoughLog().path());
    firstCopy.log("the first copy runs");
    Launch second;
    EXPECT_FALSE(second.delegate->previousRunEndedAbnormally());
    EXPECT_FALSE(waitUntil([&] { return !second.dialogs.alerts.empty(); }, 1500));
    second.delegate->applicationWillTerminate();
    EXPECT_TRUE(defaults.boolValue(NXApplicationDelegate::kSafeTerminateKey)) << "still set";
}

TEST(ApplicationTest, ShowLogFallsBackToAWindowWhenTheDesktopCannotOpenIt)
{
    const QString previous = DNLogger::shareRoughLog().previousRunPath();
    QDir().mkpath(QFileInfo(previous).absolutePath());
    QFile log(previous);
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    log.write("what the last run said\n");
    log.close();
    for (const bool desktopOpens : { true, false }) {
        SCOPED_TRACE(desktopOpens);
        UserDefaults::standard().setValue(NXApplicationDelegate::kSafeTerminateKey, true);
        Launch run; // answers "Show Log"
        run.recorder.desktopOpensFiles = desktopOpens;
        ASSERT_TRUE(waitUntil([&] { return !run.recorder.openedFiles.isEmpty(); }, 3000));
        const auto texts = run.window().findChildren<QPlainTextEdit*>();
        ASSERT_EQ(texts.size(), desktopOpens ? 0 : 1);
        if (!desktopOpens) {
            EXPECT_TRUE(texts[0]->isReadOnly());
            EXPECT_EQ(texts[0]->toPlainText(), "what the last run said\n");
        }
        run.delegate->applicationWillTerminate();
    }
}

// "café.mp4" in a folder, a video with its name in Latin-1, which Qt reads
// back as "caf\uFFFD.mp4" and so cannot remove with its folder.
struct Latin1Name {
    explicit Latin1Name(const QTemporaryDir& folder)
        : path(QFile::encodeName(folder.path()) + "/caf\xE9.mp4")
    {
        const QByteArray video = QFile::encodeName(TestMedia::path(TestMedia::kVideoWithAudio));
        made = ::symlink(video.constData(), path.constData()) == 0;
    }
    ~Latin1Name()
    {
        if (made)
            ::unlink(path.constData());
    }
    QString name() const { return QFile::decodeName(path); }

    const QByteArray path;
    bool made = false;
};

TEST(ApplicationTest, RefusedFilesAreNamedWithTheirReasonAndRowsGetPictures)
{
    QTemporaryDir folder;
    const QString damaged = folder.filePath("damaged.mkv");
    ASSERT_TRUE(QFile::copy(TestMedia::path(TestMedia::kTwoAudioAndText), damaged));
    {
        // Headers intact, every frame gone: the probe sees a video track, nothing decodes.
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        const qsizetype firstCluster = bytes.indexOf(QByteArray::fromHex("1f43b675"));
        ASSERT_GT(firstCluster, 0);
        file.seek(firstCluster);
        file.write(QByteArray(file.size() - firstCluster, '\0'));
    }
    const Latin1Name latin1(folder);
    ASSERT_TRUE(latin1.made);
    const QStringList good { TestMedia::path(TestMedia::kVideoWithAudio),
        TestMedia::path(TestMedia::kTwoAudioAndText), TestMedia::path(TestMedia::kAvi) };
    Launch run;
    run.window().loader()->setPause(std::chrono::milliseconds(0));
    run.window().addFiles(good
        + QStringList { damaged, TestMedia::path(TestMedia::kAudioOnly), latin1.name(),
            TestMedia::path(TestMedia::kTruncated) });
    ASSERT_TRUE(waitUntil([&] { return !run.dialogs.alerts.empty(); }));
    EXPECT_EQ(run.dialogs.alerts[0].title, "Some files could not be loaded.");
    const QString text = run.dialogs.alerts[0].text;
    for (const QString& refusal :
        { TestMedia::path(TestMedia::kAudioOnly) + ": it has no video track",
            latin1.name() + ": its name is not valid UTF-8",
            TestMedia::path(TestMedia::kTruncated) + ": the file is cut short" })
        EXPECT_TRUE(text.contains(refusal)) << text.toStdString();

    auto& model = *run.window().listModel();
    ASSERT_EQ(model.rowCount(), 4);
    const auto picture
        = [&](int row) { return model.index(row, 0).data(Qt::DecorationRole).value<QImage>(); };
    ASSERT_TRUE(waitUntil([&] {
        return ThumbnailQueue::shared().pendingCount() == 0 && picture(0) != NXNeutralThumbnail()
            && picture(1) != NXNeutralThumbnail() && picture(2) != NXNeutralThumbnail();
    }));
    for (int row = 0; row < 3; ++row) {
        const QImage image = picture(row);
        EXPECT_NE(image.pixel(image.width() / 4, image.height() / 2),
            image.pixel(image.width() * 3 / 4, image.height() / 2))
            << "row " << row << " is not blank";
    }
    EXPECT_EQ(picture(3), NXNeutralThumbnail()) << "the damaged file";
    run.delegate->applicationWillTerminate();
}

TEST(ApplicationTest, ASecondStartHandsItsFilesToTheRunningWindowAndEnds)
{
    Launch run;
    ASSERT_TRUE(run.delegate->listenForLaterStarts());
    const QFileInfo first(TestMedia::path(TestMedia::kVideoWithAudio));
    const QString second = TestMedia::path(TestMedia::kAvi);
    // A batch still loading when the files come: they wait for it.
    run.window().loader()->setPause(std::chrono::milliseconds(400));
    run.window().addFiles(
        { TestMedia::path(TestMedia::kRate50), TestMedia::path(TestMedia::kOddSize2997) });
    ASSERT_TRUE(run.window().loader()->isLoading());

    QProcess start;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.insert(name, QString()); // it needs no display of its own
    start.setProcessEnvironment(environment);
    start.setWorkingDirectory(first.absolutePath());
    start.start(QUILLON_APP_PATH, { first.fileName(), second });
    ASSERT_TRUE(waitUntil([&] { return start.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(start.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(start.exitCode(), 0) << start.readAllStandardError().toStdString();

    ASSERT_TRUE(waitUntil([&] { return run.window().mediaNodes().size() == 4; }));
    const auto pathAt = [&](std::size_t row) {
        return std::dynamic_pointer_cast<DNFileNode>(run.window().mediaNodes()[row])->path();
    };
    EXPECT_EQ(pathAt(2), first.absoluteFilePath());
    EXPECT_EQ(pathAt(3), second);
    const QFileInfo socket(SingleInstance::socketPath());
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    EXPECT_FALSE(QFileInfo(socket.absolutePath()).permissions() & others);
    EXPECT_FALSE(socket.permissions() & others);
    run.delegate->applicationWillTerminate();
}

TEST(ApplicationTest, APhotoFolderOfALaterStartWaitsForTheAlbumStillLoading)
{
    QTemporaryDir folder;
    for (const char* album : { "Summer", "Winter" }) {
        ASSERT_TRUE(QDir(folder.path()).mkdir(album));
        ASSERT_TRUE(QImage(64, 48, QImage::Format_RGB32)
                        .save(folder.filePath(QString(album) + "/IMG_0001.jpg")));
    }
    Launch run;
    ASSERT_TRUE(run.delegate->listenForLaterStarts());
    run.window().photoLoader()->setPause(std::chrono::milliseconds(400));
    ASSERT_TRUE(run.window().photoLoader()->load({ folder.filePath("Summer") }));
    auto handed = std::async(std::launch::async, [&folder] {
        return SingleInstance::handOver({ folder.filePath("Winter") }, std::chrono::seconds(5));
    });
    EXPECT_TRUE(waitUntil(
        [&] { return handed.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(handed.get());
    EXPECT_TRUE(waitUntil([&] { return run.window().mediaNodes().size() == 2; }))
        << run.window().mediaNodes().size() << " albums";
    run.delegate->applicationWillTerminate();
}

TEST(ApplicationTest, AStartBesideACopyThatDoesNotAnswerEndsWithAWordAndOpensNoWindow)
{
    // The running copy holds the claim but takes nothing: hung while it starts.
    const SingleInstance::Claim running = SingleInstance::Claim::take();
    ASSERT_EQ(running.state(), SingleInstance::Claim::State::Held);
    QProcess start;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    start.setProcessEnvironment(environment);
    start.start(QUILLON_APP_PATH, { TestMedia::path(TestMedia::kAvi) });
    ASSERT_TRUE(waitUntil([&] { return start.state() == QProcess::NotRunning; }, 20000))
        << "a second window opened beside the first";
    EXPECT_EQ(start.exitCode(), 1);
    EXPECT_TRUE(start.readAllStandardError().contains("did not answer"));
}

// xdg-open as it ends where no handler takes the path: a word on its standard
// error and status 3. A missing xdg-open is told at once.
TEST(ApplicationTest, AnOpenerThatFailsOrIsMissingIsToldWithThePathAndWhy)
{
    const QString folder = QDir::tempPath() + "/Converted Videos";
    const QString log = folder + "/Quillon.log";
    QTemporaryDir bin;
    QTemporaryDir empty;
    ASSERT_TRUE(writeTestScript(bin.filePath("xdg-open"),
        "#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/asked\"\n"
        "case \"$1\" in *.log) echo \"xdg-open: no method available for opening '$1'\" >&2; "
        "exit 3;; esac\n"));
    const QByteArray path = qgetenv("PATH");
    const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
    const struct {
        const char* name;
        QString searchPath;
        bool logStarts;
        QStringList told; // the paths in the titles
        const char* why;
    } cases[] = {
        { "xdg-open fails on the log", bin.path() + ":/usr/bin:/bin", true, { log },
            "xdg-open ended with status 3: no method available" },
        { "no xdg-open", empty.path(), false, { folder, log }, "xdg-open, of the xdg-utils" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qputenv("PATH", QFile::encodeName(c.searchPath));
        std::vector<NXAlert> told;
        const NXSystemActions desktop
            = NXSystemActions::desktop([&](const NXAlert& alert) { told.push_back(alert); });
        // The progress sheet of a run that converted nothing, asked to open
        // the output folder when done; then a file the way the log is offered.
        NXProgressController sheet({ [] { return false; }, {}, {} }, desktop, folder);
        sheet.setOpenFolderWhenDone(true);
        sheet.begin();
        ASSERT_TRUE(waitUntil([&] { return !sheet.isRunning(); }));
        ASSERT_TRUE(waitUntil([&] {
            return !told.empty() || readTestFile(bin.filePath("asked")) == folder.toUtf8() + "\n";
        }));
        EXPECT_EQ(desktop.openFile(log), c.logStarts);
        ASSERT_TRUE(waitUntil([&] { return told.size() >= std::size_t(c.told.size()); }));
        QStringList titles;
        for (const NXAlert& alert : told) {
            titles << alert.title;
            EXPECT_TRUE(alert.text.contains(c.why)) << alert.text.toStdString();
        }
        QStringList expected;
        for (const QString& opened : c.told)
            expected << "Could not open \"" + opened + "\".";
        EXPECT_EQ(titles.join('\n').toStdString(), expected.join('\n').toStdString());
    }
}

// xdg-open hands the path to a program that outlives it (a file manager it
// starts, here waiting for a word from the test) with its own standard output
// and error. What that program writes once xdg-open has ended does not end it.
TEST(ApplicationTest, AProgramTheOpenerStartsOutlivesIt)
{
    QTemporaryDir bin;
    ASSERT_EQ(::mkfifo(QFile::encodeName(bin.filePath("go")).constData(), 0600), 0);
    ASSERT_TRUE(writeTestScript(bin.filePath("xdg-open"),
        "#!/bin/sh\nd=$(dirname \"$0\")\n"
        "(read go < \"$d/go\"; echo a word; echo a word >&2; echo > \"$d/lived\") &\n"
        "echo $! > \"$d/handler\"\necho $$ > \"$d/opener\"\n"));
    const QByteArray path = qgetenv("PATH");
    const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
    qputenv("PATH", QFile::encodeName(bin.path() + ":/usr/bin:/bin"));
    std::vector<NXAlert> told;
    const NXSystemActions desktop
        = NXSystemActions::desktop([&](const NXAlert& alert) { told.push_back(alert); });
    ASSERT_TRUE(desktop.openFile(bin.filePath("go")));
    const auto proc = [&](const char* pidFile) {
        return "/proc/" + QString::fromUtf8(readTestFile(bin.filePath(pidFile)).trimmed());
    };
    // A failed assertion leaves no handler waiting for its word for ever.
    const auto endHandler = qScopeGuard([&] {
        if (const pid_t handler = readTestFile(bin.filePath("handler")).trimmed().toInt();
            handler > 0 && QFile::exists(proc("handler")))
            ::kill(handler, SIGKILL);
    });
    // Reaped by us once we are done with what it said.
    ASSERT_TRUE(waitUntil(
        [&] { return QFile::exists(bin.filePath("handler")) && !QFile::exists(proc("opener")); }));
    QFile go(bin.filePath("go"));
    ASSERT_TRUE(go.open(QIODevice::WriteOnly));
    go.write("\n");
    go.close();
    // Gone, or a zombie its new parent has not reaped.
    ASSERT_TRUE(waitUntil([&] {
        QFile stat(proc("handler") + "/stat");
        return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
    }));
    EXPECT_TRUE(QFile::exists(bin.filePath("lived")));
    EXPECT_TRUE(told.empty());
}

// A relative path that starts with "-" is no option for xdg-open, and what a
// handler that lives on writes to the words xdg-open left it is kept within a
// message's length, however much it writes.
TEST(ApplicationTest, TheOpenerGivesAbsolutePathsAndKeepsAHandlersWordsBounded)
{
    QTemporaryDir bin;
    ASSERT_TRUE(writeTestScript(bin.filePath("xdg-open"),
        "#!/bin/sh\nd=$(dirname \"$0\")\nprintf '%s' \"$1\" > \"$d/asked\"\n"
        "(yes 'a word' | head -c 1048576 >&2; stat -L -c %s /proc/self/fd/2 > \"$d/kept\") &\n"));
    const QByteArray path = qgetenv("PATH");
    const QString folder = QDir::currentPath();
    const auto restore = qScopeGuard([&] {
        qputenv("PATH", path);
        QDir::setCurrent(folder);
    });
    qputenv("PATH", QFile::encodeName(bin.path() + ":/usr/bin:/bin"));
    ASSERT_TRUE(QDir::setCurrent(bin.path()));
    ASSERT_TRUE(writeTestFile(bin.filePath("--version"), "notes"));
    std::vector<NXAlert> told;
    const NXSystemActions desktop
        = NXSystemActions::desktop([&](const NXAlert& alert) { told.push_back(alert); });
    ASSERT_TRUE(desktop.openFile("--version"));
    ASSERT_TRUE(waitUntil([&] { return !readTestFile(bin.filePath("kept")).isEmpty(); }));
    EXPECT_EQ(readTestFile(bin.filePath("asked")), QFile::encodeName(bin.filePath("--version")));
    EXPECT_LE(readTestFile(bin.filePath("kept")).trimmed().toLongLong(), 4096);
    EXPECT_TRUE(told.empty());
}

TEST(ApplicationTest, ClosingTheWindowCancelsThePictures)
{
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    Launch run;
    run.window().addOpenedFiles({ source, source, source, source });
    run.window().close();
    ASSERT_TRUE(waitUntil([] { return ThumbnailQueue::shared().pendingCount() == 0; }));
    QCoreApplication::processEvents(); // a picture on its way would land now
    for (const auto& node : run.window().mediaNodes())
        EXPECT_TRUE(std::dynamic_pointer_cast<DNFileNode>(node)->thumbnail().isNull());
    EXPECT_FALSE(UserDefaults::standard().boolValue(NXApplicationDelegate::kSafeTerminateKey, true))
        << "a closed window quits";
}

TEST(ApplicationTest, CommandLineAnswersWithoutADisplay)
{
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* stdoutStart;
        int stderrLines;
    };
    const Case cases[] = {
        { { "--version" }, 0, "Quillon ", 0 },
        { { "--help" }, 0, "Usage: quillon", 0 },
        { {}, 1, "", 1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess quillon;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.insert(name, QString());
        quillon.setProcessEnvironment(environment);
        quillon.start(QUILLON_APP_PATH, c.arguments);
        ASSERT_TRUE(quillon.waitForFinished(10000));
        EXPECT_EQ(quillon.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(quillon.exitCode(), c.exitCode);
        EXPECT_TRUE(quillon.readAllStandardOutput().startsWith(c.stdoutStart));
        EXPECT_EQ(quillon.readAllStandardError().count('\n'), c.stderrLines);
    }
}

// An application that dies of a fatal signal says so before it goes.
TEST(ApplicationTest, AFatalSignalLeavesAWordOnStandardErrorAndInTheLog)
{
    const QString logPath = DNLogger::shareRoughLog().path();
    for (const auto& [signalNumber, cause] :
        { std::pair { SIGSEGV, "ended by signal 11 (SIGSEGV, an invalid memory access)" },
            std::pair { SIGABRT, "ended by signal 6 (SIGABRT, an abort)" } }) {
        SCOPED_TRACE(cause);
        QProcess quillon;
        const auto ending = qScopeGuard([&] {
            quillon.kill();
            quillon.waitForFinished();
        });
        quillon.start(QUILLON_APP_PATH, {});
        ASSERT_TRUE(quillon.waitForStarted());
        // Up and running: it answers a later start.
        ASSERT_TRUE(
            waitUntil([] { return SingleInstance::handOver({}, std::chrono::seconds(1)); }));
        ::kill(static_cast<pid_t>(quillon.processId()), signalNumber);
        ASSERT_TRUE(waitUntil([&] { return quillon.state() == QProcess::NotRunning; }, 20000));
        EXPECT_EQ(quillon.exitStatus(), QProcess::CrashExit);
        EXPECT_TRUE(quillon.readAllStandardError().contains(QByteArray("Quillon: ") + cause));
        QFile log(logPath);
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        EXPECT_TRUE(log.readAll().contains(QByteArray("[Quillon]: ") + cause));
    }
}

TEST(ApplicationTest, DesktopEntryDeclaresOnlyWhatTheListTakes)
{
    QFile entry(QUILLON_DESKTOP_FILE);
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    QStringList types;
    for (const QByteArray& line : entry.readAll().split('\n'))
        if (line.startsWith("MimeType="))
            types = QString::fromUtf8(line.mid(9)).split(';', Qt::SkipEmptyParts);
    ASSERT_FALSE(types.isEmpty());
    for (const QString& type : types)
        EXPECT_TRUE(type.startsWith("video/")) << type.toStdString();
    if (QStandardPaths::findExecutable("desktop-file-validate").isEmpty())
        return;
    QProcess validate;
    validate.start("desktop-file-validate", { QUILLON_DESKTOP_FILE });
    ASSERT_TRUE(validate.waitForFinished(10000));
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
}

TEST(ApplicationTest, ToolbarShowsEveryCommandAndANarrowWindowKeepsConvert)
{
    // A screen as wide as a desktop's, in place of the offscreen one's 800 pixels.
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect offscreen = screen->geometry();
    const auto resize = [&](const QRect& size) {
        QWindowSystemInterface::handleScreenGeometryChange(screen, size, size);
        QWindowSystemInterface::flushWindowSystemEvents();
    };
    resize({ 0, 0, 1920, 1080 });
    const auto restore = qScopeGuard([&] { resize(offscreen); });
    Launch run;
    NXAppController& window = run.window();
    const auto hidden = [&] {
        QCoreApplication::processEvents();
        QStringList names;
        for (auto* bar : window.findChildren<QToolBar*>())
            for (QAction* action : bar->actions())
                if (!action->isSeparator() && !bar->widgetForAction(action)->isVisible())
                    names << action->text();
        return names;
    };
    EXPECT_EQ(hidden(), QStringList {});
    window.resize(360, window.height());
    EXPECT_FALSE(hidden().contains("Convert"));
    EXPECT_FALSE(hidden().isEmpty()) << "narrow enough to hide some";
    run.delegate->applicationWillTerminate();
}

namespace {

// A window manager places a window mapped without a position of the
// program's own wherever it likes, as X11 ones do; this one puts it at the
// screen's far corner, mostly off the screen.
void placeLikeAWindowManager(QWindow* window)
{
    QObject::connect(window, &QWindow::visibleChanged, window, [window](bool visible) {
        if (!visible || !qt_window_private(window)->positionAutomatic)
            return;
        const QPoint corner = window->screen()->geometry().bottomRight() - QPoint(100, 100);
        QWindowSystemInterface::handleGeometryChange(
            window, QRect(corner, window->geometry().size()));
    });
}

} // namespace

TEST(ApplicationTest, TheMainWindowComesBackWhereItWasAfterATool)
{
    Launch run;
    NXAppController& window = run.window();
    ASSERT_TRUE(window.windowHandle());
    placeLikeAWindowManager(window.windowHandle());
    // Where the person dragged it: the window manager says so, the program did not place it.
    QWindowSystemInterface::handleGeometryChange(
        window.windowHandle(), QRect(QPoint(120, 80), window.size()));
    QWindowSystemInterface::flushWindowSystemEvents();
    const QRect placed = window.geometry();
    ASSERT_EQ(placed.topLeft(), QPoint(120, 80));
    NXCameraDeviceSource noDevices { [] { return std::vector<CameraDevice>(); },
        [] { return std::vector<AudioCaptureDevice>(); }, false };
    const struct {
        const char* name;
        std::function<QWidget*()> open;
    } tools[] = {
        { "Screen Recorder",
            [&] {
                window.showScreenRecorder();
                return window.screenRecorderController();
            } },
        { "Downloader",
            [&] {
                window.showDownloader();
                return window.youtubeController();
            } },
        { "Camera Recorder",
            [&] {
                window.showCameraRecorder(noDevices);
                return window.cameraRecorderController();
            } },
    };
    for (const auto& tool : tools) {
        SCOPED_TRACE(tool.name);
        const QPointer<QWidget> shown = tool.open();
        ASSERT_TRUE(shown);
        EXPECT_FALSE(window.isVisible());
        shown->close();
        ASSERT_TRUE(waitUntil([&] { return window.isVisible() && !shown; }));
        QWindowSystemInterface::flushWindowSystemEvents();
        EXPECT_EQ(window.geometry(), placed);
    }
    run.delegate->applicationWillTerminate();
}

TEST(ApplicationTest, PreferencesSurviveARestart)
{
    const QString folder = QDir::tempPath() + "/chosen output";
    {
        Launch run;
        NXPreferencesController preferences(DNSetting::shareSetting(), run.dialogs, &run.window());
        run.dialogs.folder = folder;
        preferences.findChildren<QPushButton*>().first()->click(); // "Choose..."
        EXPECT_EQ(preferences.outputFolderEdit()->path(), folder);
        preferences.safeModeBox()->setChecked(true);
        preferences.highQualityBox()->setChecked(true);
        preferences.deinterlacingBox()->setChecked(true);
        preferences.coresBox()->setValue(1);
        preferences.accept();
        run.delegate->applicationWillTerminate();
    }
    // A new process starts from the defaults.
    DNSetting::shareSetting().resetToDefaults();
    Launch again;
    const auto& engine = DNSetting::shareSetting().mainWindowSetting();
    EXPECT_EQ(DNSetting::shareSetting().appSetting().videoOutputDirectory(), folder);
    EXPECT_TRUE(engine.safemode());
    EXPECT_TRUE(engine.highQuality());
    EXPECT_TRUE(engine.deinterlacing());
    EXPECT_EQ(engine.cpuCore(), 1);
}

// Files handed over by a second start or a tool are refused in words, as a
// drop's are; a folder among them is passed over.
TEST(ApplicationTest, HandedOverFilesThatAreNotTakenAreNamedWithTheirReason)
{
    QTemporaryDir folder;
    const Latin1Name latin1(folder);
    ASSERT_TRUE(latin1.made);
    Launch run;
    run.window().addOpenedFiles(
        { latin1.name(), TestMedia::path(TestMedia::kAudioOnly), folder.path() });
    ASSERT_EQ(run.dialogs.alerts.size(), 1u);
    EXPECT_EQ(run.dialogs.alerts[0].title, "Some files could not be loaded.");
    const QString text = run.dialogs.alerts[0].text;
    EXPECT_TRUE(text.contains(latin1.name() + ": its name is not valid UTF-8"))
        << text.toStdString();
    EXPECT_TRUE(text.contains(TestMedia::path(TestMedia::kAudioOnly) + ": it has no video track"))
        << text.toStdString();
    EXPECT_FALSE(text.contains(folder.path() + ':')) << text.toStdString();
    EXPECT_TRUE(run.window().mediaNodes().empty());
    run.delegate->applicationWillTerminate();
}

TEST(ApplicationTest, MergeModeIsResetAtLaunchAndGathersNewFilesInOneGroup)
{
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    ASSERT_FALSE(source.isEmpty());
    UserDefaults::standard().setValue(NXAppController::kMergeModeKey, true);
    Launch run;
    EXPECT_FALSE(run.window().mergeMode());

    run.window().addOpenedFiles({ source });
    run.window().setMergeMode(true);
    run.window().addOpenedFiles({ source, source });

    const auto& list = run.window().mediaNodes();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->mediaType(), NXMediaType::VideoFile);
    ASSERT_TRUE(isMemberOf<DNFileGroupNode>(list[1]));
    ASSERT_EQ(list[1]->children().size(), 2u);
    for (const auto& member : list[1]->children())
        EXPECT_EQ(member->mediaType(), NXMediaType::MergeMember);
    const QModelIndex group = run.window().listModel()->index(1, 0);
    EXPECT_EQ(run.window().listModel()->rowCount(group), 2);

    // Removing the group's last member removes the group.
    for (const auto& member : std::vector(list[1]->children()))
        run.window().listModel()->removeNode(member);
    EXPECT_EQ(run.window().mediaNodes().size(), 1u);
}

TEST(ApplicationTest, AddingTheOtherKindOfSourceAsksBeforeClearingTheList)
{
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    ASSERT_FALSE(source.isEmpty());
    const auto dvdLike = [&] {
        auto node = DNFileNode::fileNodeWithFile(source);
        node->setMediaType(NXMediaType::DVD);
        return node;
    };
    struct Case {
        const char* name;
        NXAlertAnswer answer;
        bool questionStored; // "_NotPressentDiffType_" before the add
        bool asked;
        NXMediaType firstAfter;
        std::size_t countAfter;
    };
    const Case cases[] = {
        { "cancel keeps the list", { 1, false }, false, true, NXMediaType::VideoFile, 2 },
        { "continue clears it", { 0, false }, false, true, NXMediaType::DVD, 1 },
        { "suppressed: cleared without asking", { 1, false }, true, false, NXMediaType::DVD, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UserDefaults::standard().setValue(
            NXAppController::kNoConflictQuestionKey, c.questionStored);
        Launch run;
        run.window().addOpenedFiles({ source, source });
        run.dialogs.alerts.clear();
        run.dialogs.nextAnswer = c.answer;
        run.window().addMediaNode(dvdLike());
        EXPECT_EQ(run.dialogs.alertTitles().contains("Conflict between two media!"), c.asked);
        ASSERT_EQ(run.window().mediaNodes().size(), c.countAfter);
        EXPECT_EQ(run.window().mediaNodes().front()->mediaType(), c.firstAfter);
    }
    UserDefaults::standard().remove(NXAppController::kNoConflictQuestionKey);
}

TEST(ListTest, OutputColumnShowsTheNameTheBuilderWrites)
{
    std::shared_ptr<DNProfile> matroska;
    for (const auto& category :
        DNProfileManager::profileManager().categoriesOfType(DNProfileTypeVideo))
        for (const auto& profile : category.profiles)
            if (!matroska && profile->fileNameSuffix() == QLatin1String("mkv"))
                matroska = profile->copy();
    ASSERT_TRUE(matroska) << "no Matroska profile in the catalogue";
    const auto node = std::make_shared<DNFileNode>(QStringLiteral("/films/clip.avi"));
    node->setProfile(matroska);
    const struct {
        const char* requested;
        const char* shown;
    } cases[] = { { "clip.avi", "clip.mkv" }, { "it's.avi", "it_s.mkv" },
        { "Clip.MKV", "Clip.MKV" }, { "a/b.mov", "a_b.mkv" } };
    for (const auto& c : cases) {
        DNNodeInfo info;
        info.outputName = QString::fromUtf8(c.requested);
        node->setNodeInfo(info);
        EXPECT_EQ(NXMediaOutputName(*node).toStdString(), c.shown) << c.requested;
    }
}

TEST(ControlsTest, SliderTakesItsValueFromThePointerAndActsOnRelease)
{
    NXSlider slider;
    slider.resize(200, 16);
    int actions = 0;
    QObject::connect(&slider, &NXSlider::actionTriggered, [&] { ++actions; });
    struct Case {
        int x;
        double value;
    };
    for (const Case c :
        { Case { 50, 25 }, Case { 200, 100 }, Case { 400, 100 }, Case { -10, 0 } }) {
        QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(c.x, 8));
        EXPECT_DOUBLE_EQ(slider.doubleValue(), c.value) << "x = " << c.x;
    }
    EXPECT_EQ(actions, 4);

    actions = 0;
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(0, 8));
    for (int x = 1; x <= 25; ++x) {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, 8), slider.mapToGlobal(QPointF(x, 8)),
            Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&slider, &move);
    }
    EXPECT_EQ(actions, 2) << "one action per ten drag events";
    slider.setDoubleValue(80);
    EXPECT_DOUBLE_EQ(slider.doubleValue(), 80);

    slider.setMinValue(20);
    slider.setMaxValue(120);
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(50, 8));
    EXPECT_DOUBLE_EQ(slider.doubleValue(), 45) << "a range is measured from its minimum";
}

} // namespace
