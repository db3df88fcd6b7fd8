// The video editor sheet: its scale, crop fields, trim and volume against a
// node, and the sheet opened from the main window with a stand-in tool.
#include "editor/DNVideoEditorController.h"

#include "builders/video/BuilderServices.h"
#include "controls/NXSegmentSlider.h"
#include "controls/NXTimePicker.h"
#include "editor/DNTabViewItem.h"
#include "editor/NXEditMovieView.h"
#include "editor/NXViewRenderControl.h"
#include "engine/EncodeConfig.h"
#include "fixtures/TestMedia.h"
#include "gui/player/PreviewTestSupport.h"
#include "list/NXMediaTableView.h"
#include "model/DNFileNode.h"
#include "platform/NotificationCenter.h"
#include "player/EditPictureFilters.h"
#include "player/PlayerProcesses.h"
#include "profiles/DNProfile.h"
#include "services/DNHelpers.h"
#include "services/ThumbnailCapture.h"
#include "shell/NXAppController.h"
#include "support/RunFfmpeg.h"
#include "support/TestFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<DNFileNode> clipNode(
    float seconds, int width, int height, const QString& path = QStringLiteral("clip.mp4"))
{
    DNTVideo track;
    track.duration = seconds;
    track.width = width;
    track.height = height;
    auto node = std::make_shared<DNFileNode>(path);
    node->setVideoTracks({ track });
    return node;
}

// Where a subtitle's white letters are drawn on a grey picture; an invalid
// rectangle where none are.
QRect subtitleArea(const QImage& picture)
{
    QRect area;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (qGray(picture.pixel(x, y)) > 200)
                area |= QRect(x, y, 1, 1);
    return area;
}

int lineCount(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
}

} // namespace

TEST(DNVideoEditorController, ScaleFromTheNodeAndFromTheFirstPicture)
{
    const struct {
        QSize node;
        double scale;
        QSizeF videoSize;
        QSizeF picture;
        double scaleAtStart;
    } cases[] = {
        { { 1280, 720 }, 3.2, { 400, 225 }, { 1280, 720 }, 3.2 },
        { { 720, 576 }, 1.92, { 375, 300 }, { 720, 576 }, 1.92 },
        { { 320, 240 }, 1.0, { 320, 240 }, { 320, 240 }, 0.8 },
        { { 320, 240 }, 1.0, { 320, 240 }, { 0, 240 }, 1.0 }, // width not yet known
        { { 0, 0 }, 1.0, { 0, 0 }, { 640, 0 }, 1.0 },
    };
    DNVideoEditorController editor;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.node.width());
        editor.setMediaNode(clipNode(30, c.node.width(), c.node.height()));
        EXPECT_DOUBLE_EQ(editor.flags().videoScale, c.scale);
        EXPECT_EQ(editor.flags().videoSize, c.videoSize);
        EXPECT_DOUBLE_EQ(
            DNVideoEditorController::scaleOnVideoStart(c.picture, c.scale), c.scaleAtStart);
    }
}

TEST(DNVideoEditorController, CropFieldsAreEvenSourcePixelsWithinTheirBounds)
{
    DNVideoEditorController editor;
    auto node = clipNode(30, 720, 576); // 1.92 source pixels a point, a 375x300 box
    node->setEnableCrop(true);
    editor.setMediaNode(node);
    auto* selector = editor.selectionView();
    ASSERT_EQ(selector->geometry().height(), 300);
    selector->setSelectionArea({ 10, 50, 200.3, 100 });
    EXPECT_EQ(editor.videoCropWidth(), 384);
    editor.setVideoCropHeight(96); // 50 points
    EXPECT_DOUBLE_EQ(selector->selectionArea().y() + selector->selectionArea().height(), 150);
    selector->setSelectionArea({ 0, 100, 100, 200 }); // up to the top edge
    EXPECT_EQ(editor.videoMaxCropHeight(), 576); // 300.1 points, 576.19 pixels
    EXPECT_EQ(editor.videoCropOriginTop(), 0);
    const struct {
        double typed;
        double minimum, maximum;
    } widths[] = { { 99999, 30, 720 }, { -8, 30, 720 } };
    for (const auto& c : widths) {
        editor.setVideoCropWidth(c.typed);
        EXPECT_GE(editor.videoCropWidth(), c.minimum) << c.typed;
        EXPECT_LE(editor.videoCropWidth(), c.maximum) << c.typed;
    }
    editor.setVideoCropOriginLeft(-50);
    EXPECT_GE(selector->selectionArea().x(), 0);
    editor.setVideoCropOriginTop(99999);
    EXPECT_GE(selector->selectionArea().y(), 0);
    editor.resetVideoCrop(); // no player: the node's size gives the box
    EXPECT_EQ(editor.videoCropWidth(), 720);
    EXPECT_EQ(editor.videoCropHeight(), 576);

    editor.rectByCoppingBlackRegion(); // no picture: nothing found, but marked
    EXPECT_TRUE(node->isCropLetterboxAuto());
    const struct {
        const char* name;
        void (*clear)(DNVideoEditorController&);
    } clearers[] = {
        { "crop off", [](DNVideoEditorController& e) { e.setEditorEnableCrop(false); } },
        { "black-border preset", [](DNVideoEditorController& e) { e.setIndexOfCropMode(1); } },
    };
    for (const auto& c : clearers) {
        node->setCropLetterboxAuto(true);
        c.clear(editor);
        EXPECT_FALSE(node->isCropLetterboxAuto()) << c.name;
    }
}

TEST(DNVideoEditorController, TrimReachesTheNode)
{
    const struct {
        float seconds;
        int limitation;
    } lengths[] = { { 15, 15 }, { 180, 20 }, { 0, 0 } };
    DNVideoEditorController editor;
    for (const auto& c : lengths) {
        editor.setMediaNode(clipNode(c.seconds, 640, 480));
        EXPECT_EQ(editor.limitation(), c.limitation) << c.seconds;
    }
    auto node = clipNode(30, 1280, 720);
    editor.setMediaNode(node);
    editor.setEditEnableTrimming(true); // the slider's range at once
    const QPointF range = editor.editDurationSlider()->segmentValuePosition();
    EXPECT_TRUE(node->isEnableTrimming());
    EXPECT_EQ(node->trimStartTime(), quint32(range.x() * 30));
    EXPECT_EQ(node->trimEndTime(), quint32(range.y() * 30));
    EXPECT_EQ(editor.flags().skipFlagCount, 1);
    editor.editPlayTime()->setText("dragged");
    editor.update_UI_timer_callback();
    EXPECT_EQ(editor.editPlayTime()->text(), "dragged") << "the tick after a drag is skipped";

    const struct {
        int start, end;
        quint32 storedStart, storedEnd;
        const char* shown;
        const char* told; // beside the fields, when the typed trim was held
    } picks[] = {
        { 5, 25, 5, 25, "00:00:20", "" },
        { 20, 20, 5, 25, "00:00:20", "" }, // held to the minimum length by the fields
    };
    for (const auto& c : picks) {
        editor.startTrimTime()->setIntValue(c.start);
        editor.endTrimTime()->setIntValue(c.end);
        editor.timePickerAction(nullptr);
        EXPECT_EQ(node->trimStartTime(), c.storedStart);
        EXPECT_EQ(node->trimEndTime(), c.storedEnd);
        EXPECT_EQ(editor.gernalTimeTrimDuration()->text(), c.shown);
        EXPECT_EQ(!editor.trimLimitMessage()->isHidden(), *c.told != 0) << c.start;
        if (*c.told) {
            EXPECT_EQ(editor.trimLimitMessage()->text(), c.told);
        }
        EXPECT_EQ(editor.trimLimitMessage()->parentWidget(), editor.endTrimTime()->parentWidget());
    }
    // A slider range shorter than the minimum widens; pickers and node agree.
    editor.editDurationSlider()->setSegmentLeftProportionValue(0.4, 0.6);
    editor.taggeDurationSlider();
    EXPECT_EQ(node->trimStartTime(), 10u);
    EXPECT_EQ(node->trimEndTime(), 30u);
    EXPECT_EQ(editor.startTrimTime()->integerValue(), 10);
    EXPECT_EQ(editor.endTrimTime()->integerValue(), 30);
    EXPECT_EQ(editor.editDurationSlider()->segmentValuePosition(), QPointF(1 / 3.0, 1.0));
    // Typed seconds stick: "0" "5" completes the field; after a pause a
    // digit starts afresh, and Return sends it at once.
    auto* start = editor.startTrimTime();
    QTest::keyClick(start, Qt::Key_Left);
    QTest::keyClicks(start, "05");
    EXPECT_EQ(node->trimStartTime(), 5u);
    QKeyEvent later(QEvent::KeyPress, Qt::Key_3, Qt::NoModifier);
    later.setTimestamp(60'000);
    QCoreApplication::sendEvent(start, &later);
    QTest::keyClick(start, Qt::Key_Return);
    EXPECT_EQ(node->trimStartTime(), 3u);
    EXPECT_EQ(start->integerValue(), 3);

    auto* general = editor.findChildren<DNTabViewItem*>().at(0); // its lamp follows the volume
    for (const double volume : { 100.0, 150.7 }) {
        editor.setEditVideoVolume(volume);
        EXPECT_EQ(general->imageState(), volume != 100) << volume;
    }
    EXPECT_EQ(node->generalVolume(), 150u);
    EXPECT_DOUBLE_EQ(editor.renderControl()->playerVolume(), 75.35);
    editor.resetTimeTrimming();
    EXPECT_EQ(node->generalVolume(), 100u);
    EXPECT_FALSE(general->imageState());
    EXPECT_EQ(node->trimEndTime(), 30u);

    // A time typed into a field that would make the trim shorter than the
    // shortest is held, and the user reads why beside the fields; so is a
    // range the fields let through while their limits were still open.
    // The start's seconds are still selected; the end's are selected once.
    QTest::keyClick(editor.endTrimTime(), Qt::Key_Left);
    const QString held = "A trim keeps at least 20 seconds: the start is now 00:00:00 and the end "
                         "00:00:20.";
    QTest::keyClicks(editor.endTrimTime(), "10");
    EXPECT_EQ(node->trimEndTime(), 20u);
    EXPECT_FALSE(editor.trimLimitMessage()->isHidden());
    EXPECT_EQ(editor.trimLimitMessage()->text(), held);
    QTest::keyClicks(editor.endTrimTime(), "25");
    EXPECT_EQ(node->trimEndTime(), 25u);
    EXPECT_TRUE(editor.trimLimitMessage()->isHidden()) << "a trim kept as typed says nothing";
    QTest::keyClicks(editor.startTrimTime(), "09");
    EXPECT_EQ(node->trimStartTime(), 5u);
    EXPECT_FALSE(editor.trimLimitMessage()->isHidden());
    editor.startTrimTime()->setIntValue(0);
    editor.endTrimTime()->setMinTimeValue(0);
    editor.endTrimTime()->setIntValue(12);
    editor.timePickerAction(nullptr);
    EXPECT_EQ(editor.trimLimitMessage()->text(), held);

    editor.setMediaNode(clipNode(0, 640, 480)); // no length, so no minimum
    editor.startTrimTime()->setIntValue(25);
    editor.endTrimTime()->setIntValue(10);
    editor.timePickerAction(editor.endTrimTime());
    EXPECT_EQ(editor.gernalTimeTrimDuration()->text(), "00:00:00");
}

TEST(DNVideoEditorController, OpenedFromTheListRestartsFourTimesThenSaysSo)
{
    QTemporaryDir tools;
    QFile tool(tools.filePath("DORavuzo"));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\necho start >> \"$(dirname \"$0\")/starts\"\nexit 1\n");
    tool.close();
    tool.setPermissions(QFile::ExeOwner | QFile::ReadOwner);
    const QByteArray previousTools = qgetenv("QUILLON_TOOLS");
    qputenv("QUILLON_TOOLS", tools.path().toUtf8());
    const QString starts = tools.filePath("starts");
    {
        PreviewWindow main;
        QStringList posted;
        NotificationCenter::defaultCenter().addObserver(NXMediaTableView::kRefreshAllCells, nullptr,
            &*main.window, [&](const Notification& note) { posted << note.name; });
        auto node = clipNode(30, 720, 576);
        main.window->editNode(node, 2);
        auto* editor = main.window->videoEditor();
        ASSERT_TRUE(editor);
        EXPECT_TRUE(editor->isVisible());
        EXPECT_EQ(editor->editorTabView()->currentIndex(), 2);
        EXPECT_FALSE(editor->doneButton()->isEnabled());
        EXPECT_TRUE(editor->enableButtonsTimer()->isActive());

        ASSERT_TRUE(QTest::qWaitFor([&] { return editor->playbackMessage()->isVisible(); }));
        EXPECT_EQ(editor->playbackMessage()->text(), "This file cannot be played.");
        EXPECT_EQ(lineCount(starts), 4);
        EXPECT_TRUE(editor->doneButton()->isEnabled());

        editor->selectionView()->setSelectionArea({ 0, 0, 100, 50 });
        editor->doneButton()->click();
        EXPECT_FALSE(editor->isVisible());
        EXPECT_EQ(node->cropRect(), QRectF(0, 0, 192, 96));
        EXPECT_EQ(posted, QStringList { NXMediaTableView::kRefreshAllCells });
        EXPECT_EQ(PlayerProcesses::shared().count(), 0);

        // Escape before the delayed start: nothing plays afterwards.
        main.window->editNode(node, 0);
        ASSERT_TRUE(editor->startTimer()->isActive());
        QTest::keyClick(editor, Qt::Key_Escape);
        EXPECT_FALSE(editor->isVisible());
        EXPECT_FALSE(editor->startTimer()->isActive());
        EXPECT_FALSE(editor->restartTimer()->isActive());
    }
    EXPECT_EQ(lineCount(starts), 4);
    qputenv("QUILLON_TOOLS", previousTools);
}

// The range the preview loops is on the player's command line: a trim set
// while it plays starts a player over the new range.
TEST(DNVideoEditorController, APreviewFollowsTheTrimSetWhileItPlays)
{
    QTemporaryDir tools;
    ASSERT_TRUE(writeTestScript(tools.filePath("DORavuzo"),
        "#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/starts\"\n"
        "printf 'ID_LENGTH=60\\nStarting playback...\\n'\n"
        "while IFS= read -r line; do [ \"$line\" = quit ] && exit 0; done\n"));
    const QByteArray previousTools = qgetenv("QUILLON_TOOLS");
    const auto restore = qScopeGuard([&] { qputenv("QUILLON_TOOLS", previousTools); });
    qputenv("QUILLON_TOOLS", tools.path().toUtf8());
    const auto starts = [&] {
        return QString::fromUtf8(readTestFile(tools.filePath("starts")))
            .split('\n', Qt::SkipEmptyParts);
    };
    PreviewWindow main;
    auto node = clipNode(60, 640, 360);
    main.window->editNode(node, 1);
    auto* editor = main.window->videoEditor();
    ASSERT_TRUE(editor);
    ASSERT_TRUE(QTest::qWaitFor([&] { return starts().size() == 1; }, 15'000));
    EXPECT_TRUE(starts().last().contains(" -ss 0 -vo ")) << "the whole clip";
    editor->setEditEnableTrimming(true);
    editor->startTrimTime()->setIntValue(10);
    editor->endTrimTime()->setIntValue(40);
    editor->timePickerAction(nullptr);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return starts().last().contains(" -ss 10 -endpos 30 "); }, 15'000))
        << starts().join('\n').toStdString();
    editor->doneButton()->click();
    EXPECT_EQ(node->trimStartTime(), 10u);
    EXPECT_EQ(node->trimEndTime(), 40u);
}

TEST(DNVideoEditorController, PreviewPlaysTheClipAndApplyToAllKeepsTheSheet)
{
    QTemporaryDir folder;
    const QString clip = folder.filePath("wide.mp4");
    ASSERT_TRUE(
        PreviewClips::ffmpeg({ "-f", "lavfi", "-i", "testsrc=size=1280x720:rate=5:duration=30",
                                 "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p" },
            clip));
    PreviewWindow main;
    QStringList applied;
    NotificationCenter::defaultCenter().addObserver(DNVideoEditorController::kApplyToAllEdit,
        nullptr, &*main.window, [&](const Notification& note) { applied << note.name; });
    auto node = clipNode(30, 1280, 720, clip);
    main.window->editNode(node, 1);
    auto* editor = main.window->videoEditor();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->editorTabView()->currentIndex(), 1);
    EXPECT_FALSE(editor->apply2AllButton()->isEnabled());
    auto* control = editor->renderControl();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !control->effectView()->currentVideoFrame().isNull(); }, 15'000));
    EXPECT_FALSE(control->originalView()->currentVideoFrame().isNull());
    EXPECT_TRUE(editor->apply2AllButton()->isEnabled());
    EXPECT_DOUBLE_EQ(editor->flags().videoScale, 3.2);
    EXPECT_EQ(editor->flags().videoSize, QSizeF(400, 225));
    ASSERT_TRUE(QTest::qWaitFor([&] { return control->currentPlaybackTime() >= 1; }));
    editor->update_UI_timer_callback();
    const double elapsed = control->currentPlaybackTime(); // stands still until the loop runs
    EXPECT_EQ(editor->editPlayTime()->text(), DNTimeStringFromSeconds(int(elapsed)));
    EXPECT_EQ(editor->editLeftTime()->text(), "-" + DNTimeStringFromSeconds(int(30 - elapsed)));

    editor->selectionView()->setSelectionArea({ 0, 0, 200, 100 });
    editor->apply2AllButton()->click();
    EXPECT_EQ(applied, QStringList { DNVideoEditorController::kApplyToAllEdit });
    EXPECT_EQ(node->cropRect(), QRectF(0, 0, 640, 320));
    EXPECT_TRUE(editor->isVisible());
    editor->doneButton()->click();
    EXPECT_EQ(PlayerProcesses::shared().count(), 0);
}

TEST(DNVideoEditorController, EscapeAndCloseEndAsDoneAndEachFileIsScannedOnItsOwnPicture)
{
    QTemporaryDir folder;
    for (const QString source : { "testsrc=size=1280x540:rate=5:duration=30,pad=1280:720:0:90",
             "smptebars=size=720x480:rate=5:duration=30" })
        ASSERT_TRUE(PreviewClips::ffmpeg({ "-f", "lavfi", "-i", source, "-c:v", "libx264",
                                             "-preset", "ultrafast", "-pix_fmt", "yuv420p" },
            folder.filePath(source.left(4) + ".mp4")));
    PreviewWindow main;
    const struct {
        std::shared_ptr<DNFileNode> node;
        bool byEscape;
        QRectF crop; // source pixels, to a few preview rows
    } sessions[]
        = { { clipNode(30, 1280, 720, folder.filePath("test.mp4")), true, { 0, 90, 1280, 540 } },
              { clipNode(30, 720, 480, folder.filePath("smpt.mp4")), false, { 0, 0, 720, 480 } } };
    for (const auto& c : sessions) {
        SCOPED_TRACE(c.byEscape ? "Escape" : "close");
        c.node->setEnableCrop(true);
        main.window->editNode(c.node, 0);
        auto* editor = main.window->videoEditor();
        auto* original = editor->renderControl()->originalView();
        EXPECT_FALSE(c.node->isCropLetterboxAuto()) << "scanned at entry, on an earlier picture";
        QElapsedTimer firstPicture;
        firstPicture.start();
        // A picture of this node's own player: one still coming from the
        // player before may show first, and is not scanned.
        ASSERT_TRUE(QTest::qWaitFor([&] { return editor->canCropBlackRegion(); }, 15'000));
        // The selector takes the preset on a later turn of the loop and scans
        // a picture of the source, which may take as long as the capture's
        // own limit; the loop's turns are as slow as the first picture showed.
        const qint64 scanBound = kSourcePictureLimit.count() + 4 * firstPicture.elapsed();
        editor->setIndexOfCropMode(1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return c.node->isCropLetterboxAuto(); }, int(scanBound)));
        editor->renderControl()->effectView()->rotateLeft90();
        editor->setEditEnableTrimming(true);
        editor->editDurationSlider()->setSegmentLeftProportionValue(0.2, 0.9);
        editor->taggeDurationSlider();
        if (c.byEscape)
            QTest::keyClick(editor, Qt::Key_Escape);
        else
            editor->close();
        EXPECT_FALSE(editor->isVisible());
        EXPECT_TRUE(original->currentVideoFrame().isNull());
        EXPECT_NEAR(c.node->cropRect().y(), c.crop.y(), 7);
        EXPECT_NEAR(c.node->cropRect().height(), c.crop.height(), 13);
        EXPECT_NEAR(c.node->cropRect().width(), c.crop.width(), 13);
        EXPECT_EQ(c.node->rotationAngle(), 90u);
        EXPECT_EQ(c.node->trimStartTime(), 6u);
        EXPECT_EQ(c.node->trimEndTime(), 27u);
    }
    EXPECT_EQ(PlayerProcesses::shared().count(), 0);
}

namespace {

// The text beside `name` in the editor's forms.
QString formValue(DNVideoEditorController& editor, const QString& name)
{
    for (auto* form : editor.findChildren<QFormLayout*>())
        for (int row = 0; row < form->rowCount(); ++row) {
            auto* label = form->itemAt(row, QFormLayout::LabelRole);
            auto* field = form->itemAt(row, QFormLayout::FieldRole);
            const auto* labelWidget = label ? qobject_cast<QLabel*>(label->widget()) : nullptr;
            const auto* fieldWidget = field ? qobject_cast<QLabel*>(field->widget()) : nullptr;
            if (labelWidget && fieldWidget && labelWidget->text() == name)
                return fieldWidget->text();
        }
    return {};
}

} // namespace

// A phone's clip, stored with a rotation, is edited as it is shown: the
// preview is upright with the red square where the conversion puts it, the
// picture's size is the upright one, and the editor's own quarter turn comes
// after the file's (90 + 90: upside down, the square at the bottom right).
TEST(DNVideoEditorController, AFileStoredWithARotationIsPreviewedUpright)
{
    const struct {
        int rotation;
        double aspect;
        const char* corner;
        const char* turnedCorner;
    } rows[] = {
        { 0, 16 / 9.0, "top left", "top right" },
        { 90, 9 / 16.0, "top right", "bottom right" },
        { 180, 16 / 9.0, "bottom right", "bottom left" },
        { 270, 9 / 16.0, "bottom left", "top left" },
    };
    PreviewWindow main;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.rotation);
        const auto node = DNFileNode::fileNodeWithFile(TestMedia::markedClip(row.rotation));
        ASSERT_TRUE(node);
        main.window->editNode(node, 0);
        auto* editor = main.window->videoEditor();
        ASSERT_TRUE(editor);
        auto* effect = editor->renderControl()->effectView();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !effect->currentVideoFrame().isNull(); }, 15'000));
        // The label gives the source's upright size.
        emit editor->updateMediaNodeInformation();
        const QStringList sides = formValue(*editor, "Picture:").split(" x ");
        ASSERT_EQ(sides.size(), 2);
        EXPECT_NEAR(sides[0].toDouble() / sides[1].toDouble(), row.aspect, 0.01);
        const QImage shown = effect->currentVideoFrame();
        EXPECT_EQ(TestMedia::markedCorner(shown), row.corner);
        effect->rotateLeft90(); // a quarter clockwise, whatever its name says
        EXPECT_EQ(
            TestMedia::markedCorner(effect->resultOfImageFilterFromImage(shown)), row.turnedCorner);
        editor->doneButton()->click();
        EXPECT_EQ(node->rotationAngle(), 90u);
    }
    EXPECT_EQ(PlayerProcesses::shared().count(), 0);
}

// A phone's portrait clip, shown in a preview whose whole points hold its
// 1080x1920 pixels at two scales (169 points across, 300 down): the crop tab
// counts the source's own pixels, the 4:3 preset stays inside the picture, and
// a typed top is the row the conversion starts at, whatever the height.
TEST(DNVideoEditorController, APortraitPhoneClipIsCroppedInItsOwnPixels)
{
    QTemporaryDir folder;
    const QString clip = folder.filePath("phone.mp4");
    ASSERT_TRUE(PreviewClips::makePhoneClip(clip));
    const auto node = DNFileNode::fileNodeWithFile(clip);
    ASSERT_TRUE(node);
    node->setEnableCrop(true);
    PreviewWindow main;
    const struct {
        const char* name;
        QString preset;
        double typedHeight; // 0 for none
        double ratio; // width : height, 0 for any
    } shapes[] = {
        { "the 4:3 preset", "4:3", 0, 4 / 3.0 },
        { "an odd height typed", "Free", 811, 0 }, // shown and stored as 812
    };
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.name);
        main.window->editNode(node, 0);
        auto* editor = main.window->videoEditor();
        ASSERT_TRUE(editor);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !editor->renderControl()->effectView()->currentVideoFrame().isNull(); },
            15'000));
        emit editor->updateMediaNodeInformation();
        EXPECT_EQ(formValue(*editor, "Picture:"), "1080 x 1920");
        const auto& presets = editor->selectionView()->cropConfigItems();
        const auto row = std::find_if(presets.begin(), presets.end(),
            [&](const NXCropConfigItem& item) { return item.name == shape.preset; });
        ASSERT_NE(row, presets.end());
        editor->setIndexOfCropMode(int(row - presets.begin()));
        if (shape.typedHeight > 0)
            editor->setVideoCropHeight(shape.typedHeight);
        editor->setVideoCropOriginTop(330);
        EXPECT_EQ(editor->videoCropOriginTop(), 330);
        editor->doneButton()->click();
        const QRectF crop = node->cropRect(); // origin at the bottom left
        EXPECT_LE(crop.width(), 1080);
        if (shape.ratio > 0) {
            EXPECT_NEAR(crop.width() / crop.height(), shape.ratio, 0.005);
        }
        EXPECT_NEAR(1920 - crop.y() - crop.height(), 330, 1e-6) << "the top row";
    }
    EXPECT_EQ(PlayerProcesses::shared().count(), 0);
}

// Bars of 94 rows above and below a 1280x720 picture are cut whole: found on
// the source's own rows, not on the preview's, where they blur into the picture.
TEST(DNVideoEditorController, BlackBorderPresetLeavesNoRowOfTheBars)
{
    QTemporaryDir folder;
    const QString clip = folder.filePath("bars.mp4");
    ASSERT_TRUE(PreviewClips::ffmpeg(
        { "-f", "lavfi", "-i", "testsrc=size=1280x532:rate=5:duration=30,pad=1280:720:0:94", "-c:v",
            "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p" },
        clip));
    PreviewWindow main;
    auto node = clipNode(30, 1280, 720, clip);
    node->setEnableCrop(true);
    main.window->editNode(node, 0);
    auto* editor = main.window->videoEditor();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !editor->renderControl()->originalView()->currentVideoFrame().isNull(); },
        15'000));
    editor->setIndexOfCropMode(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return node->isCropLetterboxAuto(); }));
    EXPECT_EQ(node->cropRect(), QRectF(0, 94, 1280, 532));
    editor->doneButton()->click();
}

// A transport stream whose clock starts at 1000 s, its sound two seconds
// before its first picture, trimmed from second 3, paused on a picture of
// seconds 3 to 5, which have a black bar below (the seconds before have none):
// the black-border preset looks at the source's picture shown, counted from
// the first picture, and cuts the bar.
TEST(DNVideoEditorController, BlackBorderPresetOnATransportStreamLooksAtThePictureShown)
{
    QTemporaryDir folder;
    const QString clip = folder.filePath("bars.ts");
    ASSERT_TRUE(PreviewClips::makeNumbered(clip, 2, { "-output_ts_offset", "1000" }));
    const auto node = DNFileNode::fileNodeWithFile(clip);
    ASSERT_TRUE(node);
    node->setEnableTrimming(true);
    node->setTrimStartTime(3);
    node->setTrimEndTime(25);
    node->setEnableCrop(true);
    PreviewWindow main;
    main.window->editNode(node, 0);
    auto* editor = main.window->videoEditor();
    auto* control = editor->renderControl();
    const auto shownNumber = [&] {
        const QImage shown = control->originalView()->currentVideoFrame();
        return shown.isNull() ? -1 : PreviewClips::numberShown(shown, shown.rect());
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownNumber() >= 75; }, 15'000));
    editor->pauseAndContinesEditVideo();
    ASSERT_TRUE(QTest::qWaitFor([&] { return control->isPaused(); }));
    ASSERT_LE(shownNumber(), 125) << "paused in the seconds with the bar";
    editor->setIndexOfCropMode(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return node->isCropLetterboxAuto(); }));
    EXPECT_EQ(node->cropRect(), QRectF(0, 30, 320, 150)); // counted from the bottom
    editor->doneButton()->click();
}

// Each time round its loop the preview reports the clip's end, in tenths of a
// second past its last frame (1.96 s): the borders are scanned on the
// source's last picture there, where its decoder has run dry (the frames of
// this clip are stored out of order). The last picture's top bar is 20 rows
// higher than the others'.
TEST(DNVideoEditorController, BlackBorderPresetAtTheLastFrameScansTheLastPicture)
{
    QTemporaryDir folder;
    const QString clip = folder.filePath("bars_end.mp4");
    ASSERT_TRUE(PreviewClips::ffmpeg(
        { "-f", "lavfi", "-i",
            "color=c=0xC0C0C0:size=320x120:rate=25:duration=2,pad=320:180:0:30,"
            "drawbox=y=30:w=320:h=20:c=black:t=fill:enable='gte(n,49)'",
            "-c:v", "libx264", "-x264-params", "bframes=3:b-adapt=0", "-pix_fmt", "yuv420p" },
        clip));
    PreviewWindow main;
    auto node = clipNode(2, 320, 180, clip);
    node->setEnableCrop(true);
    main.window->editNode(node, 0);
    auto* editor = main.window->videoEditor();
    auto* control = editor->renderControl();
    QElapsedTimer firstPicture;
    firstPicture.start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !control->originalView()->currentVideoFrame().isNull(); }, 15'000));
    // The end comes round every two seconds, as late as the first picture was.
    const qint64 endBound = 6'000 + 4 * firstPicture.elapsed();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return control->currentPlaybackTime() >= 2; }, int(endBound)));
    // Counted from the bottom: the bottom bar stays 30 rows.
    EXPECT_EQ(editor->rectByCoppingBlackRegion(), QRectF(0, 30, 320, 100));
    editor->doneButton()->click();
}

namespace {

// Whether every pixel of `picture`'s outer rows and columns is bright: a row
// of black bar kept by the crop shows there.
bool edgesAreBright(const QImage& picture)
{
    for (int x = 0; x < picture.width(); ++x)
        for (const int y : { 0, picture.height() - 1 })
            if (qGray(picture.pixel(x, y)) < 100)
                return false;
    for (int y = 0; y < picture.height(); ++y)
        for (const int x : { 0, picture.width() - 1 })
            if (qGray(picture.pixel(x, y)) < 100)
                return false;
    return true;
}

} // namespace

// Bars of unequal sides (a picture padded only above, side bars narrower than
// the top and bottom ones): the preset crops the picture where it lies, and
// the conversion with that crop writes the whole picture without a row or a
// column of the bars.
TEST(DNVideoEditorController, BlackBorderPresetCropsThePictureWhereItLies)
{
    const struct {
        const char* source;
        QRectF crop; // source pixels, origin at the bottom left
    } shapes[] = {
        { "color=c=0xC0C0C0:size=640x380:rate=5:duration=4,pad=640:480:0:100", { 0, 0, 640, 380 } },
        { "color=c=0xC0C0C0:size=560x360:rate=5:duration=4,pad=640:480:40:60",
            { 40, 60, 560, 360 } },
    };
    QTemporaryDir folder;
    PreviewWindow main;
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.source);
        const QString clip = folder.filePath("bars.mp4");
        ASSERT_TRUE(PreviewClips::ffmpeg({ "-f", "lavfi", "-i", shape.source, "-c:v", "libx264",
                                             "-preset", "ultrafast", "-pix_fmt", "yuv420p" },
            clip));
        const auto node = DNFileNode::fileNodeWithFile(clip);
        ASSERT_TRUE(node);
        node->setEnableCrop(true);
        main.window->editNode(node, 0);
        auto* editor = main.window->videoEditor();
        ASSERT_TRUE(QTest::qWaitFor([&] { return editor->canCropBlackRegion(); }, 15'000));
        editor->setIndexOfCropMode(1);
        ASSERT_TRUE(node->isCropLetterboxAuto());
        editor->doneButton()->click();
        EXPECT_EQ(node->cropRect(), shape.crop);

        auto profile = std::make_shared<DNProfile>();
        profile->videoResolution().setChoices("keep origin", { "keep origin" });
        node->setProfile(profile);
        node->setting().setSubtitleIndex(-1);
        const auto graph = GenVideoFilterChain(*node, {}, false, false, EncodeConfig());
        ASSERT_TRUE(graph);
        const QString output = folder.filePath("cropped.png");
        ASSERT_TRUE(runFfmpeg({ "-i", clip, "-filter_complex", *graph, "-map", "[video]",
            "-frames:v", "1", output }));
        const QImage converted(output);
        EXPECT_EQ(converted.size(), shape.crop.size().toSize());
        EXPECT_TRUE(edgesAreBright(converted));
    }
    EXPECT_EQ(PlayerProcesses::shared().count(), 0);
}

// Both panes draw the subtitle file the entry converts with, in its own
// characters; the player would otherwise draw none, or one of its choosing.
TEST(DNVideoEditorController, BothPanesDrawTheSubtitleFileTheEntryConvertsWith)
{
    QTemporaryDir folder;
    const QString movie = folder.filePath("Movie.mp4");
    ASSERT_TRUE(
        PreviewClips::ffmpeg({ "-f", "lavfi", "-i", "color=c=gray:size=320x240:rate=10:duration=2",
                                 "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p" },
            movie));
    ASSERT_TRUE(writeTestFile(
        folder.filePath("Movie.srt"), "1\n00:00:00,000 --> 00:00:30,000\nUn caf\xc3\xa9\n\n"));
    const auto node = DNFileNode::fileNodeWithFile(movie);
    ASSERT_TRUE(node);
    node->setEnableSubtitleEdit(true);
    node->selectSubtitleAtIndex(0, true);
    PreviewWindow main;
    main.window->editNode(node, 0);
    auto* editor = main.window->videoEditor();
    ASSERT_TRUE(editor);
    auto* control = editor->renderControl();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return control->currentPlaybackTime() >= 0.5
                && !control->effectView()->currentVideoFrame().isNull();
        },
        15'000));
    // The panes draw it over their pictures.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return subtitleArea(control->originalView()->grab().toImage()).isValid(); }));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return subtitleArea(control->effectView()->grab().toImage()).isValid(); }));
    editor->doneButton()->click();
}

// A subtitle file switched on while the preview plays is drawn at once, by
// the player that plays on; and on a picture turned a quarter it is drawn
// upright at the bottom of the turned picture, as the output shows it, not
// turned with the picture.
TEST(DNVideoEditorController, ASubtitleIsDrawnAtOnceAndUprightOverTheEditedPicture)
{
    QTemporaryDir folder;
    const QString movie = folder.filePath("Movie.mp4");
    ASSERT_TRUE(
        PreviewClips::ffmpeg({ "-f", "lavfi", "-i", "color=c=gray:size=320x240:rate=10:duration=30",
                                 "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p" },
            movie));
    const QString srt = folder.filePath("Words.srt");
    ASSERT_TRUE(writeTestFile(srt, "1\n00:00:00,000 --> 00:01:00,000\nA few words here\n\n"));
    PreviewWindow main;
    main.dialogs.fileToOpen = srt;
    const auto node = DNFileNode::fileNodeWithFile(movie);
    ASSERT_TRUE(node);
    main.window->editNode(node, 0);
    auto* editor = main.window->videoEditor();
    ASSERT_TRUE(editor);
    auto* control = editor->renderControl();
    auto* effect = control->effectView();
    ASSERT_TRUE(QTest::qWaitFor([&] { return control->currentPlaybackTime() >= 1; }, 15'000));
    EXPECT_FALSE(subtitleArea(effect->grab().toImage()).isValid());

    const double playedBefore = control->currentPlaybackTime();
    editor->setEnableVideoSubtitle(true);
    editor->setSubtitleMode(1);
    editor->openPanelForChooseSRTFile();
    EXPECT_TRUE(QTest::qWaitFor([&] { return subtitleArea(effect->grab().toImage()).isValid(); }));
    EXPECT_GE(control->currentPlaybackTime(), playedBefore) << "the same player plays on";
    editor->doneButton()->click();

    // Reopened with the picture turned a quarter: 240 wide, 320 high.
    node->setRotationAngle(90);
    main.window->editNode(node, 0);
    editor = main.window->videoEditor();
    ASSERT_TRUE(editor);
    control = editor->renderControl();
    effect = control->effectView();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !effect->currentVideoFrame().isNull()
                && subtitleArea(effect->grab().toImage()).isValid();
        },
        15'000));
    const QImage shown = effect->grab().toImage();
    const QRectF picture = fittedPictureRect(QSizeF(240, 320), shown.size());
    const QRect words = subtitleArea(shown);
    ASSERT_TRUE(words.isValid());
    EXPECT_GT(words.width(), 3 * words.height()) << "a line across, not down";
    EXPECT_GT(words.center().y(), picture.center().y() + picture.height() / 4)
        << "at the bottom of the turned picture";
    EXPECT_TRUE(picture.contains(words));
    editor->doneButton()->click();
}
