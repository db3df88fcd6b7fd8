// A photo album converted from the window, the sheet's photo view following
// the render, and a stop in the middle of it.
#include "GuiTestSupport.h"

#include "fixtures/MediaFacts.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"
#include "shell/ImgEncodeProgressView.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "shell/NXProgressController.h"
#include "slideshow/AlbumConversion.h"
#include "slideshow/DNGraphicsNode.h"
#include "support/AdoptedOrphans.h"
#include "support/ChildProcesses.h"

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

#include <csignal>

namespace {

QString savePhoto(const QTemporaryDir& folder, const QString& name, QSize size)
{
    QImage photo(size, QImage::Format_RGB32);
    photo.fill(QColor::fromHsv(size.width() % 360, 200, 200));
    const QString path = folder.filePath(name);
    EXPECT_TRUE(photo.save(path));
    return path;
}

TEST(ImgEncodeProgressView, FlightsStartOnlyWhenTheLastOneHasLandedAndRested)
{
    QTemporaryDir folder;
    const QString first = savePhoto(folder, "first.png", { 400, 300 });
    const QString second = savePhoto(folder, "second.png", { 200, 200 });
    qint64 now = 0;
    ImgEncodeProgressView view(nullptr, [&now] { return now; });

    EXPECT_FALSE(view.imageBeginEncoding(QVariant()));
    EXPECT_FALSE(view.isShowingPhoto()) << "the null value changes nothing";
    EXPECT_FALSE(view.imageBeginEncoding(first));
    EXPECT_TRUE(view.isShowingPhoto());
    EXPECT_FALSE(view.isFlying());
    now = 1000;
    EXPECT_TRUE(view.imageBeginEncoding(second));
    EXPECT_TRUE(view.isFlying());
    EXPECT_TRUE(view.iconPictureRect().isEmpty()) << "nothing has landed yet";
    for (const qint64 later : { 1500, 1999, 2499 }) {
        now = later;
        EXPECT_FALSE(view.imageBeginEncoding(first)) << later << " ms";
        EXPECT_FALSE(view.imageBeginEncoding(QVariant())) << later << " ms";
    }
    now = 2500;
    EXPECT_TRUE(view.imageBeginEncoding(first));
    // The 400 x 300 photo of the first flight has landed, fitted and centred.
    const QRectF box = view.tbRect();
    EXPECT_EQ(box.size(), QSizeF(125, 97));
    EXPECT_EQ(view.iconPictureRect(), QRectF(box.x(), box.y() + 1.625, 125, 93.75));
}

std::shared_ptr<DNProfile> matroskaProfile()
{
    for (const auto& category :
        DNProfileManager::profileManager().categoriesOfType(DNProfileTypeVideo))
        for (const auto& profile : category.profiles)
            if (profile->fileNameSuffix() == "mkv")
                return profile->copy();
    return nullptr;
}

class SlideshowConversion : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(output.isValid());
        savePhoto(photos, "one.jpg", { 320, 240 });
        savePhoto(photos, "two.png", { 240, 320 });
        savePhoto(photos, "three: ü.bmp", { 400, 100 });
        savePhoto(photos, "four.jpg", { 64, 48 });
        QString error;
        album = DNGraphicsNode::graphicsNodeWithDirs({ photos.path() }, nullptr, error);
        ASSERT_TRUE(album) << error.toStdString();
        auto profile = matroskaProfile();
        ASSERT_TRUE(profile) << "no Matroska profile in the catalogue";
        profile->videoResolution().setCurrentValue("320x240");
        profile->videoFrameRate().setCurrentValue("24");
        album->setProfile(profile);
        // The twirl is the slowest transition: every photo stays long
        // enough for the sheet to see it.
        album->setting()->setTransitions(
            std::make_shared<const QList<qint64>>(QList<qint64> { 9 }));
        system = recorder.actions();
        delegate.emplace(dialogs, system);
        delegate->applicationDidFinishLaunching({});
        DNSetting::shareSetting().appSetting().setVideoOutputDirectory(output.path());
        window().addMediaNode(album);
    }

    void TearDown() override
    {
        if (delegate)
            delegate->applicationWillTerminate();
    }

    NXAppController& window() { return *delegate->controller(); }

    // Starts the conversion and keeps what each poll of the render reported.
    void start()
    {
        ASSERT_TRUE(window().startConversion());
        NXProgressController* sheet = window().progressSheet();
        sheet->setPollInterval(std::chrono::milliseconds(50));
        sheetSizes << sheet->size(); // as it opened, before the render
        QObject::connect(sheet, &NXProgressController::progressPolled, sheet,
            [this, sheet](const QVariantMap& progress) {
                sheetSizes << sheet->size();
                if (sheet->photoView()->isVisible())
                    renderDetails << sheet->detailText();
                if (progress.value("EncodeCategory").toInt() != 0)
                    return;
                photoViewShown = photoViewShown || sheet->photoView()->isVisible();
                const QVariant photo = progress.value("currentImage");
                if (!photo.isNull() && (reported.isEmpty() || reported.last() != photo.toString()))
                    reported << photo.toString();
            });
        QObject::connect(sheet, &NXProgressController::conversionEnded, sheet,
            [this](bool failed, bool stopped) {
                ended = { failed, stopped };
            });
    }

    QTemporaryDir photos;
    QTemporaryDir output;
    std::shared_ptr<DNGraphicsNode> album;
    ScriptedDialogs dialogs;
    RecordingSystem recorder;
    NXSystemActions system;
    std::optional<NXApplicationDelegate> delegate;
    QStringList reported;
    bool photoViewShown = false;
    QList<QSize> sheetSizes; // at every poll, before, during and after the render
    QStringList renderDetails; // the figures under the bar beside the photo view
    std::optional<std::pair<bool, bool>> ended;
};

TEST_F(SlideshowConversion, AlbumOnTheListConvertsWithThePhotoViewFollowingTheRender)
{
    album->setting()->setInterval(1);
    start();
    ASSERT_TRUE(waitUntil([&] { return ended.has_value(); }, 120'000));

    EXPECT_EQ(*ended, std::make_pair(false, false));
    EXPECT_TRUE(photoViewShown);
    ASSERT_FALSE(sheetSizes.isEmpty());
    EXPECT_EQ(sheetSizes.count(sheetSizes.first()), sheetSizes.size())
        << "the sheet keeps its size";
    ASSERT_FALSE(renderDetails.isEmpty());
    for (const QString& figures : renderDetails)
        EXPECT_TRUE(figures.isEmpty() || figures.startsWith("frame ")) << figures.toStdString();
    // The sheet polls: a photo the render passes between two polls of a busy
    // window is not seen, but what is seen follows the album's order.
    ASSERT_FALSE(reported.isEmpty());
    const QStringList inOrder = AlbumConversion::photoPaths(*album);
    qsizetype next = 0;
    for (const QString& photo : reported) {
        const qsizetype at = inOrder.indexOf(photo, next);
        EXPECT_GE(at, next) << photo.toStdString() << " out of the album's order";
        next = at + 1;
    }
    const QStringList outputs = window().convertedOutputs();
    ASSERT_EQ(outputs.size(), 1);
    const MediaFacts facts = MediaFacts::probe(outputs.first());
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    EXPECT_TRUE(facts.formatName.contains("matroska"));
    EXPECT_NEAR(facts.duration, 8.0, 0.1);
    EXPECT_EQ(QDir(output.path()).entryList(QDir::Files | QDir::Hidden),
        QStringList { QFileInfo(outputs.first()).fileName() });
}

TEST_F(SlideshowConversion, StopDuringTheRenderLeavesNoMovieAndNoProcess)
{
    // An engine or ffmpeg left running would be handed to us, not hidden under init.
    const AdoptedOrphans orphans;
    ASSERT_TRUE(orphans.adopting());
    album->setting()->setInterval(30);
    start();
    ASSERT_TRUE(waitUntil([&] { return !reported.isEmpty(); }, 60'000));
    window().progressSheet()->stopButton()->click();
    ASSERT_TRUE(waitUntil([&] { return ended.has_value(); }));

    EXPECT_TRUE(ended->second) << "stopped";
    EXPECT_TRUE(window().convertedOutputs().isEmpty());
    EXPECT_TRUE(QDir(output.path())
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
    EXPECT_TRUE(childProcesses().isEmpty()) << childProcesses().join(' ').toStdString();
}

// An album whose render fails is refused with the render's own reason, not a
// pointer to the log.
TEST_F(SlideshowConversion, ARenderThatFailsSaysWhyInTheAlert)
{
    album->setting()->setInterval(30);
    start();
    ASSERT_TRUE(waitUntil([&] { return !reported.isEmpty(); }, 60'000));
    const QStringList engines = childProcesses();
    ASSERT_EQ(engines.size(), 1) << engines.join(' ').toStdString();
    ASSERT_EQ(::kill(engines.first().toInt(), SIGKILL), 0);
    ASSERT_TRUE(waitUntil([&] { return ended.has_value(); }));

    EXPECT_TRUE(ended->first) << "failed";
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_TRUE(dialogs.alerts[0].text.contains(
        "was not rendered: the slideshow engine was ended by signal 9 (Killed)"))
        << dialogs.alerts[0].text.toStdString();
}

} // namespace
