// What a person edits in the editor sheet is what the main window's
// conversion makes: the box clock, edited through the sheet's controls and
// converted to Matroska, judged by ffprobe, by the pixels of decoded frames
// against the sheet's own preview, and by the engine's volume meter.
#include "MainWindowTest.h"

#include "common/NXFloatInfoWindowController.h"
#include "controls/NXTimePicker.h"
#include "editor/DNVideoEditorController.h"
#include "editor/NXEditMovieView.h"
#include "editor/NXViewRenderControl.h"
#include "fixtures/MediaFacts.h"
#include "fixtures/TestMedia.h"
#include "gui/player/PreviewTestSupport.h"
#include "list/NXMediaTableView.h"
#include "model/DNFileNode.h"
#include "platform/NotificationCenter.h"
#include "platform/SingleInstance.h"
#include "player/NXMPlayerControl.h"
#include "player/NXMPlayerView.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "shell/NXProfileChooser.h"
#include "shell/NXProgressController.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <future>
#include <iterator>
#include <optional>

namespace {

using Editor = DNVideoEditorController;

QWidget* tabPage(Editor& editor, const QString& tab)
{
    return editor.editorTabView()->widget(editor.indexOfTabViewItemWithIdentifier(tab));
}

// Clicks the button or radio button named `text` on a tab, as a person does.
void press(Editor& editor, const QString& tab, const QString& text)
{
    for (auto* button : tabPage(editor, tab)->findChildren<QAbstractButton*>())
        if (button->text() == text)
            return button->click();
    ADD_FAILURE() << "no button " << text.toStdString();
}

// Types `values` into a tab's number fields in their order, each ended with Return.
void typeIntoFields(Editor& editor, const QString& tab, const QList<double>& values)
{
    const auto fields = tabPage(editor, tab)->findChildren<QDoubleSpinBox*>();
    for (qsizetype index = 0; index < values.size() && index < fields.size(); ++index) {
        QTest::keyClick(fields[index], Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(fields[index], QString::number(values[index]));
        QTest::keyClick(fields[index], Qt::Key_Return);
    }
}

void trimWithPickers(Editor& editor, int from, int to)
{
    press(editor, EditorTab::kTrimming, "Trim");
    editor.startTrimTime()->setIntValue(from);
    editor.startTrimTime()->fire2SendAction();
    editor.endTrimTime()->setIntValue(to);
    editor.endTrimTime()->fire2SendAction();
}

QByteArray runFfmpeg(const QStringList& arguments, bool wantErrors = false)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList { "-nostdin", "-hide_banner" } + arguments);
    ffmpeg.waitForFinished(60'000);
    return wantErrors ? ffmpeg.readAllStandardError() : ffmpeg.readAllStandardOutput();
}

// The frame at `seconds`, decoded from the start (so that a filter sees the
// file's own times), through `filter` when one is given.
QImage frameAt(const QString& path, double seconds, const QSize& size, const QString& filter = {})
{
    QStringList arguments { "-v", "error", "-i", path, "-ss", QString::number(seconds) };
    if (!filter.isEmpty())
        arguments << "-vf" << filter;
    const QByteArray rgb = runFfmpeg(
        arguments + QStringList { "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-" });
    if (rgb.size() != size.width() * size.height() * 3)
        return {};
    return QImage(reinterpret_cast<const uchar*>(rgb.constData()), size.width(), size.height(),
        size.width() * 3, QImage::Format_RGB888)
        .copy();
}

QColor meanColour(const QImage& image, const QRect& area)
{
    qint64 red = 0, green = 0, blue = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            red += qRed(pixel), green += qGreen(pixel), blue += qBlue(pixel);
        }
    const qint64 count = qint64(area.width()) * area.height();
    return QColor(int(red / count), int(green / count), int(blue / count));
}

bool near(const QColor& a, const QColor& b, int slack = 12)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green())
        + std::abs(a.blue() - b.blue())
        <= slack;
}

// Which corner of `shown` (a picture's place in `image`), counted top left,
// top right, bottom left, bottom right, alone stands out from the middle; -1
// when none or several do.
int cornerHoldingTheBox(const QImage& image, const QRectF& shown)
{
    const auto patch = [&](double x, double y) {
        return QRectF(
            shown.topLeft() + QPointF(x * shown.width(), y * shown.height()), shown.size() * 0.1)
            .toRect();
    };
    const QColor middle = meanColour(image, patch(0.45, 0.45));
    std::vector<int> standing;
    for (int corner = 0; corner < 4; ++corner)
        if (!near(meanColour(image, patch(corner % 2 ? 0.83 : 0.07, corner / 2 ? 0.83 : 0.07)),
                middle, 45))
            standing.push_back(corner);
    return standing.size() == 1 ? standing.front() : -1;
}

// The share of the pixels of `area` that show `colour`.
double shareOf(const QImage& image, const QRect& area, const QColor& colour)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += near(image.pixelColor(x, y), colour, 90) ? 1 : 0;
    return double(count) / (area.width() * area.height());
}

// The rows where `with` differs clearly from `without`.
std::vector<int> changedRows(const QImage& with, const QImage& without)
{
    std::vector<int> rows;
    for (int y = 0; y < with.height(); ++y)
        for (int x = 0; x < with.width(); ++x)
            if (!near(with.pixelColor(x, y), without.pixelColor(x, y), 90)) {
                rows.push_back(y);
                break;
            }
    return rows;
}

// The bounds of the pixels of `area` that show `colour`.
QRect boundsOf(const QImage& image, const QRect& area, const QColor& colour)
{
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (near(image.pixelColor(x, y), colour, 90))
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

// `box` as fractions of `picture`.
QRectF fractionsOf(const QRect& box, const QRectF& picture)
{
    return { (box.x() - picture.x()) / picture.width(), (box.y() - picture.y()) / picture.height(),
        box.width() / picture.width(), box.height() / picture.height() };
}

// The numbers of a "numbered" file's pictures, in their order.
QList<int> numbersOf(const QString& path)
{
    const QSize size(320, 180);
    const QByteArray grey = runFfmpeg({ "-v", "error", "-i", path, "-vsync", "passthrough", "-vf",
        "scale=320:180", "-f", "rawvideo", "-pix_fmt", "gray", "-" });
    QList<int> numbers;
    const qsizetype bytes = qsizetype(size.width()) * size.height();
    for (qsizetype at = 0; at + bytes <= grey.size(); at += bytes) {
        const QImage picture(reinterpret_cast<const uchar*>(grey.constData() + at), size.width(),
            size.height(), size.width(), QImage::Format_Grayscale8);
        numbers << PreviewClips::numberShown(picture, picture.rect());
    }
    return numbers;
}

double meanVolume(const QString& path)
{
    const QString log = QString::fromUtf8(
        runFfmpeg({ "-i", path, "-map", "0:a", "-af", "volumedetect", "-f", "null", "-" }, true));
    const auto match = QRegularExpression(R"(mean_volume: (-?[\d.]+) dB)").match(log);
    return match.hasMatch() ? match.captured(1).toDouble() : 0.0;
}

class EditedConversionTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(source.isEmpty());
        qputenv("QUILLON_PLAYER_AO", "null");
        MainWindowTest::SetUp();
        if (!HasFatalFailure())
            launch();
    }

    // The box clock, fresh on an empty list, with the Matroska H.264 profile.
    std::shared_ptr<DNFileNode> addClock() { return addFile(source); }

    // A file, fresh on an empty list, with the Matroska H.264 profile.
    std::shared_ptr<DNFileNode> addFile(const QString& file)
    {
        window().clearList();
        window().addOpenedFiles({ file });
        if (window().profileChooser())
            window().profileChooser()->reject();
        applyProfile("MKV Video (H.264)");
        return window().mediaNodes().size() == 1
            ? std::dynamic_pointer_cast<DNFileNode>(window().mediaNodes().front())
            : nullptr;
    }

    // A profile for media files, by its name.
    void applyProfile(const QString& name)
    {
        for (const auto& category :
            DNProfileManager::profileManager().categoriesOfType(DNProfileTypeVideo))
            for (const auto& profile : category.profiles)
                if (profile->profileName() == name)
                    window().applyProfile(*profile, true);
    }

    // The editor on the entry, opened as the list's Edit request opens it,
    // once its preview shows the first picture: Done waits for it.
    Editor* openEditor(const std::shared_ptr<DNFileNode>& node, const QString& tab)
    {
        window().editNodeOnTab(node, tab);
        Editor* editor = window().videoEditor();
        return waitUntil([&] {
            return editor->doneButton()->isEnabled()
                && !editor->renderControl()->effectView()->currentVideoFrame().isNull();
        })
            ? editor
            : nullptr;
    }

    // Converts the list and gives the output, empty when the run failed.
    QString convert()
    {
        ended.reset();
        if (!window().startConversion() || !waitUntil([&] { return ended.has_value(); }, 120'000)
            || ended->value("failed").toBool() || window().convertedOutputs().size() != 1)
            return {};
        return window().convertedOutputs().first();
    }

    const QString source = TestMedia::path(TestMedia::kBoxClock);
    const QString subtitle = TestMedia::path(TestMedia::kBoxClockSubtitle);
    const QSize sourceSize { 640, 360 };
};

TEST_F(EditedConversionTest, GeometryAndSubtitlePositionMatchThePreview)
{
    const QImage second4 = frameAt(source, 4.5, sourceSize);
    ASSERT_FALSE(second4.isNull());
    const QColor box = meanColour(second4, { 8, 8, 80, 80 });
    const QColor background = meanColour(second4, { 300, 200, 40, 40 });
    ASSERT_FALSE(near(box, background));
    const QSize size(360, 320);
    const struct {
        QString position;
        QRect textArea; // the subtitle's rows lie here
        QRect clearArea; // and none here
    } cases[] = {
        { "Top", { 0, 0, 360, 107 }, { 0, 213, 360, 107 } },
        { "Bottom", { 0, 213, 360, 107 }, { 0, 0, 360, 107 } },
    };
    const auto node = addClock();
    ASSERT_TRUE(node);
    int previewCorner = -1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position.toStdString());
        auto* editor = openEditor(node, EditorTab::kSubtitle);
        ASSERT_TRUE(editor);
        if (&c == cases) { // every other edit in the first session; the second keeps them
            trimWithPickers(*editor, 4, 28);
            press(*editor, EditorTab::kCrop, "Crop");
            typeIntoFields(*editor, EditorTab::kCrop, { 320, 360, 0, 0 }); // the left half
            press(*editor, EditorTab::kCrop, "Rotate");
            press(*editor, EditorTab::kCrop, "Mirror");
            // The effect tab is hidden: its switch, grid and colour go to the preview only.
            editor->setEnableVideoEffect(true);
            editor->effectView()->effectViewStateDidChanged(
                editor->effectView()->effectViews().at(1));
            NXEditMovieView* preview = editor->renderControl()->effectView();
            preview->brightnessAdjust(0.2);
            dialogs.fileToOpen = subtitle;
            press(*editor, EditorTab::kSubtitle, "Subtitle");
            press(*editor, EditorTab::kSubtitle, "External file:");
            press(*editor, EditorTab::kSubtitle, "Choose...");
            // The box's shade changes each second: wait for one that stands out.
            ASSERT_TRUE(waitUntil([&] {
                const QImage shown = preview->grab().toImage();
                previewCorner = cornerHoldingTheBox(shown, Editor::aspectFit(size, shown.size()));
                return previewCorner >= 0;
            }));
        }
        editor->setSubtitlePosition(c.position); // what the position menu sends
        editor->doneButton()->click();
        const QString converted = convert();
        ASSERT_FALSE(converted.isEmpty());

        const MediaFacts facts = MediaFacts::probe(converted);
        EXPECT_EQ(facts.stream("video").width, size.width());
        EXPECT_EQ(facts.stream("video").height, size.height());
        EXPECT_NEAR(facts.duration, 24.0, 0.1);
        EXPECT_EQ(facts.count("subtitle"), 1);
        const QImage first = frameAt(converted, 0, size);
        ASSERT_FALSE(first.isNull());
        // One corner holds the box, the one the preview showed; the rest is as the source.
        EXPECT_EQ(cornerHoldingTheBox(first, first.rect()), previewCorner);
        EXPECT_TRUE(near(meanColour(first, { 8, 8, 80, 80 }), box)) << "box of second 4, top left";
        EXPECT_TRUE(near(meanColour(first, { 150, 140, 60, 40 }), background)) << "colours kept";

        const QImage plain = frameAt(converted, 3, size);
        const QImage shown
            = frameAt(converted, 3, size, QStringLiteral("subtitles=filename='%1'").arg(converted));
        ASSERT_FALSE(shown.isNull());
        const std::vector<int> rows = changedRows(shown, plain);
        EXPECT_GT(rows.size(), 5u);
        for (const int row : rows) {
            EXPECT_TRUE(c.textArea.contains(QPoint(0, row))) << row;
            EXPECT_FALSE(c.clearArea.contains(QPoint(0, row))) << row;
        }
    }
}

TEST_F(EditedConversionTest, WatermarkAndVolumeReachTheOutput)
{
    QImage red(160, 90, QImage::Format_RGB32);
    red.fill(QColor(255, 0, 0));
    const QString redPath = output.filePath("red.png");
    ASSERT_TRUE(red.save(redPath));
    const QColor background = meanColour(frameAt(source, 2, sourceSize), { 300, 200, 40, 40 });
    const QColor yellow(255, 255, 0);
    const QRect inFrame(400, 230, 160, 90);
    const auto node = addClock();
    ASSERT_TRUE(node);
    QString converted;
    for (const quint32 kind :
        { DNBaseEditSetting::kWatermarkImage, DNBaseEditSetting::kWatermarkText }) {
        SCOPED_TRACE(kind);
        auto* editor = openEditor(node, EditorTab::kWatermark);
        ASSERT_TRUE(editor);
        editor->setWatermarkTypeIndex(int(kind)); // what the kind menu sends
        if (kind == DNBaseEditSetting::kWatermarkImage) {
            trimWithPickers(*editor, 0, 20);
            press(*editor, EditorTab::kGeneral, "Volume");
            tabPage(*editor, EditorTab::kGeneral)->findChild<QSlider*>()->setValue(50);
            press(*editor, EditorTab::kWatermark, "Watermark");
            dialogs.fileToOpen = redPath;
            press(*editor, EditorTab::kWatermark, "Choose...");
        } else {
            editor->textWatermarkNewInput("QUILLON"); // what the text field sends
            dialogs.colour = yellow;
            press(*editor, EditorTab::kWatermark, "Color...");
        }
        // The transparency, then the box of inFrame, counted from the frame's top left.
        typeIntoFields(*editor, EditorTab::kWatermark, { 0, 160, 90, 400, 230 });
        editor->doneButton()->click();
        converted = convert();
        ASSERT_FALSE(converted.isEmpty());
        const QImage frame = frameAt(converted, 2, sourceSize);
        ASSERT_FALSE(frame.isNull());
        if (kind == DNBaseEditSetting::kWatermarkImage)
            EXPECT_GT(shareOf(frame, inFrame, Qt::red), 0.9);
        else
            EXPECT_GT(shareOf(frame, inFrame, yellow), 0.03);
        for (const QRect& outside : { QRect(360, 240, 30, 70), QRect(570, 240, 30, 70),
                 QRect(420, 190, 120, 30), QRect(420, 325, 120, 30) })
            EXPECT_TRUE(near(meanColour(frame, outside), background)) << "the source outside";
    }
    EXPECT_NEAR(meanVolume(converted) - meanVolume(source), -6.0, 1.0);
}

TEST_F(EditedConversionTest, ExpandTextWatermarkAndSubtitleLanguageReachTheOutput)
{
    const QColor yellow(255, 255, 0);
    const auto node = addClock();
    ASSERT_TRUE(node);
    node->profile()->videoResolution().setCurrentValue("640x480");
    for (const bool expand : { false, true }) {
        SCOPED_TRACE(expand ? "expanded" : "watermark");
        auto* editor = openEditor(node, EditorTab::kCrop);
        ASSERT_TRUE(editor);
        QRectF previewBox;
        if (!expand) {
            press(*editor, EditorTab::kCrop, "Crop");
            typeIntoFields(*editor, EditorTab::kCrop, { 320, 360, 0, 0 }); // the left half
            editor->setWatermarkTypeIndex(int(DNBaseEditSetting::kWatermarkText));
            press(*editor, EditorTab::kWatermark, "Watermark");
            editor->textWatermarkNewInput("QUILLON");
            dialogs.colour = yellow;
            press(*editor, EditorTab::kWatermark, "Color...");
            typeIntoFields(*editor, EditorTab::kWatermark, { 0, 300, 80, 30, 100 });
            dialogs.fileToOpen = subtitle;
            press(*editor, EditorTab::kSubtitle, "Subtitle");
            press(*editor, EditorTab::kSubtitle, "External file:");
            press(*editor, EditorTab::kSubtitle, "Choose...");
            editor->setCurLanguageDic({ "German", "de" }); // what the language menu sends
            const QImage shown = editor->renderControl()->effectView()->grab().toImage();
            const QRectF picture = Editor::aspectFit(QSizeF(320, 360), shown.size());
            previewBox = fractionsOf(boundsOf(shown, picture.toRect(), yellow), picture);
        } else {
            press(*editor, EditorTab::kWatermark, "Watermark");
            press(*editor, EditorTab::kCrop, "Expand to the profile's size");
            EXPECT_EQ(editor->videoResolutionStringValue(), "640x480");
        }
        QTest::keyClick(editor, Qt::Key_Escape);
        const QString converted = convert();
        ASSERT_FALSE(converted.isEmpty());
        const MediaFacts facts = MediaFacts::probe(converted);
        const QSize size(facts.stream("video").width, facts.stream("video").height);
        if (expand) {
            EXPECT_EQ(size, QSize(640, 480));
            continue;
        }
        EXPECT_EQ(facts.stream("subtitle").language, "ger");
        const QImage frame = frameAt(converted, 2, size);
        ASSERT_FALSE(frame.isNull());
        const QRectF outputBox = fractionsOf(boundsOf(frame, frame.rect(), yellow), frame.rect());
        ASSERT_GT(previewBox.width(), 0.2) << "the text shows in the preview";
        EXPECT_NEAR(outputBox.x(), previewBox.x(), 0.04);
        EXPECT_NEAR(outputBox.y(), previewBox.y(), 0.04);
        EXPECT_NEAR(outputBox.width(), previewBox.width(), 0.05);
        EXPECT_NEAR(outputBox.height(), previewBox.height(), 0.05);
    }
}

} // namespace

// A transport stream's clock starts anywhere, and its sound may begin before
// its first picture. The trim's marks (3 s and 25 s, the shortest trim the
// editor keeps being 20 s) count from that picture in the preview, in its
// time and in the conversion alike: the preview never shows a picture outside
// them, and the output holds exactly the pictures between them, 75 to 624 at
// 25 a second (a key frame every 1.6 s, none at either mark), and the sound
// from the first mark on.
TEST_F(EditedConversionTest, ATrimmedTransportStreamHoldsThePicturesItsMarksShowed)
{
    QTemporaryDir folder;
    const struct {
        const char* name;
        double soundLead;
        QStringList options;
    } clips[] = {
        { "a clock from 1000 s, the sound first", 0.5, { "-output_ts_offset", "1000" } },
        { "the engine's own clock", 0, {} },
    };
    for (const auto& clip : clips) {
        SCOPED_TRACE(clip.name);
        const QString path = folder.filePath(QStringLiteral("clip %1.ts").arg(&clip - clips));
        ASSERT_TRUE(PreviewClips::makeNumbered(path, clip.soundLead, clip.options));
        const auto node = addFile(path);
        ASSERT_TRUE(node);
        Editor* editor = openEditor(node, EditorTab::kTrimming);
        ASSERT_TRUE(editor);
        trimWithPickers(*editor, 3, 25);
        ASSERT_EQ(node->trimStartTime(), 3u);
        ASSERT_EQ(node->trimEndTime(), 25u);
        NXViewRenderControl& control = *editor->renderControl();
        QList<int> shown; // the numbers, each once in a row
        double earliest = 1e9, latest = -1;
        const auto watch = [&] {
            const QImage picture = control.effectView()->currentVideoFrame();
            const int number
                = picture.isNull() ? -1 : PreviewClips::numberShown(picture, picture.rect());
            if (number >= 0 && (shown.isEmpty() || shown.last() != number))
                shown << number;
            earliest = std::min(earliest, control.currentPlaybackTime());
            latest = std::max(latest, control.currentPlaybackTime());
        };
        // The trimmed player's pictures, after the whole clip's first ones.
        ASSERT_TRUE(waitUntil([&] {
            watch();
            return !shown.isEmpty() && shown.last() <= 100 && shown.last() >= 75;
        }));
        shown = { shown.last() };
        earliest = 1e9, latest = -1;
        // To the end and round to the start, as nearly as a busy interface shows them.
        ASSERT_TRUE(waitUntil([&] {
            watch();
            return std::any_of(shown.begin(), shown.end(), [](int n) { return n >= 620; })
                && shown.last() <= 100;
        }));
        EXPECT_GE(*std::min_element(shown.begin(), shown.end()), 75);
        EXPECT_LE(*std::max_element(shown.begin(), shown.end()), 624);
        EXPECT_GE(earliest, 3);
        EXPECT_LE(latest, 25);
        editor->doneButton()->click();

        const QString converted = convert();
        ASSERT_FALSE(converted.isEmpty());
        const QList<int> numbers = numbersOf(converted);
        ASSERT_EQ(numbers.size(), 550);
        EXPECT_EQ(numbers.first(), 75);
        EXPECT_EQ(numbers.last(), 624);

        // The sound alone, from the same mark: its tone changes there.
        applyProfile("WAV Audio");
        const QString sound = convert();
        ASSERT_FALSE(sound.isEmpty());
        EXPECT_NEAR(firstSecondTone(sound), 880, 20);
    }
}

// The path a new user walked when the application once vanished: a
// conversion, the editor's watermark, subtitle and information, the preview
// in full screen and back, a later start handing a file over, then the
// editor again and each row of its crop preset list picked from the list.
TEST_F(EditedConversionTest, CropPresetsPickedAfterAWalkThroughTheApplicationShapeTheCrop)
{
    ASSERT_TRUE(delegate->listenForLaterStarts());
    const auto node = addClock();
    ASSERT_TRUE(node);
    ASSERT_FALSE(convert().isEmpty());

    Editor* editor = openEditor(node, EditorTab::kWatermark);
    ASSERT_TRUE(editor);
    editor->setEnableWaterMark(true);
    editor->editorTabView()->setCurrentIndex(
        editor->indexOfTabViewItemWithIdentifier(EditorTab::kSubtitle));
    editor->infoButton()->click();
    ASSERT_TRUE(
        waitUntil([] { return NXFloatInfoWindowController::shareInstance()->isVisible(); }));
    QTest::keyClick(editor, Qt::Key_Escape);

    QStringList posted;
    const auto observer
        = NotificationCenter::defaultCenter().addObserver(NXMPlayerControl::kPlaybackDidStart,
            nullptr, nullptr, [&](const Notification& note) { posted << note.name; });
    const auto forget
        = qScopeGuard([&] { NotificationCenter::defaultCenter().removeObserver(observer); });
    window().tableView()->selectAll();
    window().playOrStop();
    ASSERT_TRUE(waitUntil([&] { return !posted.isEmpty(); }));
    window().toggleFullScreen();
    EXPECT_TRUE(window().playerView()->isFullScreenMode());
    window().toggleFullScreen();
    EXPECT_FALSE(window().playerView()->isFullScreenMode());
    window().playOrStop();

    const QString handed = TestMedia::path(TestMedia::kAvi);
    auto handOver = std::async(std::launch::async,
        [handed] { return SingleInstance::handOver({ handed }, std::chrono::seconds(20)); });
    ASSERT_TRUE(waitUntil(
        [&] { return handOver.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(handOver.get());
    ASSERT_TRUE(waitUntil([&] { return window().mediaNodes().size() == 2; }));

    editor = openEditor(node, EditorTab::kCrop);
    ASSERT_TRUE(editor);
    press(*editor, EditorTab::kCrop, "Crop");
    auto* presets = tabPage(*editor, EditorTab::kCrop)->findChild<QComboBox*>();
    ASSERT_TRUE(presets);
    // Rows as the shipped list orders them; a ratio of zero leaves the size free.
    const struct {
        const char* name;
        double ratio;
    } rows[] = { { "Free", 0 }, { "Remove black borders", 0 }, { "Keep current ratio", 0 },
        { "Whole picture", 16.0 / 9 }, { "16:9", 16.0 / 9 }, { "4:3", 4.0 / 3 }, { "1:1", 1 },
        { "2.35:1", 2.35 } };
    ASSERT_EQ(presets->count(), int(std::size(rows)));
    for (int index = 0; index < presets->count(); ++index) {
        SCOPED_TRACE(rows[index].name);
        EXPECT_EQ(presets->itemText(index), rows[index].name);
        presets->showPopup();
        QAbstractItemView* list = presets->view();
        ASSERT_TRUE(waitUntil([&] { return list->isVisible(); }));
        list->setCurrentIndex(list->model()->index(index, 0));
        QTest::keyClick(list, Qt::Key_Return);
        ASSERT_TRUE(waitUntil([&] { return !list->isVisible(); }));
        EXPECT_EQ(node->indexOfCropAspect(), quint32(index));
        if (rows[index].ratio > 0) {
            EXPECT_NEAR(
                editor->videoCropWidth() / editor->videoCropHeight(), rows[index].ratio, 0.02);
        }
    }
    editor->onEditorDone();
}
