// slideshow-one: makes a photo album from folders as the photo loader does and
// runs the converter's album step on it, as the main window does.
//
//   slideshow-one [--interval S] [--transitions N,N,...] [--music FILE]...
//                 [--size WxH] [--fps N] [--profile NAME] --output DIR FOLDER...
//
// Prints "photos: <count>", "length: <hh:mm:ss>" as the list shows the
// album, the engine's progress as "progress: <total> <current> <photo>", and
// "movie: <path>" once the movie is rendered. With
// --profile (a profile's file name without extension, or its GlobalID) the
// movie is then converted with that profile and removed, and every output is
// printed as "output: <path>". --size and --fps set the album profile's
// resolution and frame rate, which the render takes. The exit status is 0
// only when everything succeeded. Settings, log and temporary files live in
// a temporary home removed at the end; on failure the log is printed on the
// standard error stream.
#include "engine/DNVideoConverter.h"

#include "ToolSupport.h"
#include "profiles/DNProfileManager.h"
#include "services/DNHelpers.h"
#include "services/DNSetting.h"
#include "slideshow/AlbumConversion.h"
#include "slideshow/DNGraphicsNode.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

constexpr int kProgressPollMs = 100;

std::shared_ptr<DNProfile> findProfile(const QString& name)
{
    for (const DNProfileCategory& category :
        DNProfileManager::profileManager().categoriesOfType(DNProfileTypeVideo))
        for (const auto& profile : category.profiles)
            if (QFileInfo(profile->filePath()).completeBaseName() == name
                || QString::number(profile->GlobalID()) == name)
                return profile->copy();
    return nullptr;
}

// The album's settings and profile from the options; false with a complaint
// when one of them cannot be used.
bool applyOptions(const QCommandLineParser& options, DNGraphicsNode& album)
{
    if (options.isSet("interval"))
        album.setting()->setInterval(options.value("interval").toFloat());
    if (options.isSet("transitions")) {
        QList<qint64> numbers;
        for (const QString& number : options.value("transitions").split(',', Qt::SkipEmptyParts))
            numbers << number.trimmed().toLongLong();
        album.setting()->setTransitions(std::make_shared<const QList<qint64>>(numbers));
    }
    for (const QString& music : options.values("music"))
        album.audioTracks().push_back(
            DNGraphicsAudio::graphicsAudio(QFileInfo(music).absoluteFilePath()));
    if (options.isSet("profile")) {
        const auto profile = findProfile(options.value("profile"));
        if (!profile) {
            complain(QStringLiteral("no profile \"%1\"").arg(options.value("profile")));
            return false;
        }
        album.setProfile(profile);
    }
    if (!album.profile()) {
        complain("the catalogue has no video profile for the album");
        return false;
    }
    if (options.isSet("size"))
        album.profile()->videoResolution().setCurrentValue(options.value("size"));
    if (options.isSet("fps"))
        album.profile()->videoFrameRate().setCurrentValue(options.value("fps"));
    return true;
}

void printOutput(const DNEngineRun& run, void*)
{
    if (run.status == 0 && QFileInfo(run.output).isFile())
        print("output: " + run.output);
}

// Prints the engine's progress whenever it changes, as the sheet polls it.
void printProgress(const AlbumConversion& step, QString& last)
{
    const std::optional<QVariantMap> progress = step.renderProgress();
    if (!progress || progress->value("currentImage").isNull())
        return;
    const QString line = QStringLiteral("progress: %1 %2 %3")
                             .arg(progress->value("totalFrames").toULongLong())
                             .arg(progress->value("currentFrame").toULongLong())
                             .arg(progress->value("currentImage").toString());
    if (line != last)
        print(line);
    last = line;
}

int runAlbumStep(const std::shared_ptr<DNGraphicsNode>& album, bool convert)
{
    AlbumConversion::Hooks hooks;
    hooks.movieRendered = [](const QString& movie) { print("movie: " + movie); };
    AlbumConversion step(std::move(hooks));
    DNVideoConverterSetRunObserver(&printOutput, nullptr);
    std::atomic_bool finished { false };
    int status = kDNVideoConverterFailed;
    std::thread worker([&] {
        status = step.encodeGraphics2QuickTimeMovie(album, convert);
        finished = true;
    });
    QString last;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        printProgress(step, last);
        if (finished)
            QCoreApplication::quit();
    });
    poll.start(kProgressPollMs);
    QCoreApplication::exec();
    worker.join();
    return status;
}

int makeSlideshow(const QCommandLineParser& options)
{
    if (!options.isSet("output") || options.positionalArguments().isEmpty()) {
        complain("give --output DIR and at least one folder (see --help)");
        return 2;
    }
    const QString outputDir = QFileInfo(options.value("output")).absoluteFilePath();
    if (options.value("output").isEmpty() || !QDir().mkpath(outputDir)) {
        complain("--output names no folder that can be used");
        return 2;
    }
    DNSetting::shareSetting().restore();
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(outputDir);
    QStringList folders;
    for (const QString& folder : options.positionalArguments())
        folders << QFileInfo(folder).absoluteFilePath();
    QString error;
    const auto album = DNGraphicsNode::graphicsNodeWithDirs(folders, nullptr, error);
    if (!album) {
        complain(error);
        return 1;
    }
    print(QStringLiteral("photos: %1").arg(album->countOfPhotos()));
    if (!applyOptions(options, *album))
        return 2;
    print("length: " + DNTimeStringFromSeconds(int(std::lround(album->videoDuration()))));
    const int status = runAlbumStep(album, options.isSet("profile"));
    if (status != 0) {
        print(QStringLiteral("failed: %1").arg(status));
        printLog();
    }
    return status == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const ToolCommandLine commandLine { "Renders photo folders into a slideshow movie.",
        { { "interval", "Seconds each photo is shown.", "S" },
            { "transitions", "Transition numbers the slideshow may use.", "N,N,..." },
            { "music", "A music file; repeat for more, in playing order.", "FILE" },
            { "size", "The movie's frame size.", "WxH" }, { "fps", "The movie's frame rate.", "N" },
            { "profile", "Convert the movie: profile file name or GlobalID.", "NAME" },
            { "output", "The output folder.", "DIR" } },
        "folders", "The photo folders.", "FOLDER..." };
    return runToolInTemporaryHome(argc, argv, commandLine, &makeSlideshow);
}
