// What the editor stores on an entry is what the main window's conversion
// makes: the box clock converted to Matroska, then judged by ffprobe, by
// the pixels of decoded frames and by the engine's volume meter.
#include "GuiTestSupport.h"

#include "fixtures/MediaFacts.h"
#include "fixtures/TestMedia.h"
#include "model/DNFileNode.h"
#include "platform/NotificationCenter.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "shell/NXProfileChooser.h"
#include "shell/NXProgressController.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>

namespace {

// The edits as the editor's tabs leave them on the node.
void trimSeconds(DNFileNode& node, quint32 from, quint32 to)
{
    node.setEnableTrimming(true);
    node.setTrimStartTime(from);
    node.setTrimEndTime(to);
}

void cropLeftHalfTurnAndMirror(DNFileNode& node)
{
    node.setEnableCrop(true);
    node.setCropRect(QRectF(0, 0, 320, 360)); // origin bottom left
    node.setRotationAngle(90);
    node.setMirror(true);
    // Colour effects show in the preview only.
    node.setEnableEffect(true);
    node.setIndexOfEffect(1);
}

void chooseSubtitleFile(DNFileNode& node, const QString& path, quint32 position)
{
    node.setEnableSubtitleEdit(true);
    node.addExtraSubtitle(path);
    node.selectSubtitleAtIndex(0, true);
    node.setSubtitlePos(position);
}

void placeWatermark(DNFileNode& node, quint32 kind, const QRectF& bottomLeftPixels)
{
    node.setEnableWatermark(true);
    node.setTypeOfWatermark(kind);
    node.setWatermarkTransparency(0);
    node.setWatermarkRect(bottomLeftPixels);
}

void setVolume(DNFileNode& node, quint32 percent)
{
    node.setEnableGeneral(true);
    node.setGeneralVolume(percent);
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

double meanVolume(const QString& path)
{
    const QString log = QString::fromUtf8(
        runFfmpeg({ "-i", path, "-map", "0:a", "-af", "volumedetect", "-f", "null", "-" }, true));
    const auto match = QRegularExpression(R"(mean_volume: (-?[\d.]+) dB)").match(log);
    return match.hasMatch() ? match.captured(1).toDouble() : 0.0;
}

class EditedConversionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(source.isEmpty());
        system = recorder.actions();
        delegate.emplace(dialogs, system);
        endObserver = NotificationCenter::defaultCenter().addObserver(
            NXProgressController::kDidEndNotification, nullptr, nullptr,
            [this](const Notification& note) { ended = note.userInfo; });
        delegate->applicationDidFinishLaunching({});
        DNSetting::shareSetting().appSetting().setVideoOutputDirectory(output.path());
    }

    void TearDown() override
    {
        NotificationCenter::defaultCenter().removeObserver(endObserver);
        delegate.reset();
    }

    NXAppController& window() { return *delegate->controller(); }

    // The box clock, fresh on an empty list, with the Matroska H.264 profile.
    std::shared_ptr<DNFileNode> addClock()
    {
        window().clearList();
        window().addOpenedFiles({ source });
        if (window().profileChooser())
            window().profileChooser()->reject();
        for (const auto& category :
            DNProfileManager::profileManager().categoriesOfType(DNProfileTypeVideo))
            for (const auto& profile : category.profiles)
                if (profile->profileName() == "MKV Video (H.264)")
                    window().applyProfile(*profile, true);
        return window().mediaNodes().size() == 1
            ? std::dynamic_pointer_cast<DNFileNode>(window().mediaNodes().front())
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
    QTemporaryDir output;
    ScriptedDialogs dialogs;
    RecordingSystem recorder;
    NXSystemActions system;
    std::optional<NXApplicationDelegate> delegate;
    NotificationCenter::Token endObserver = 0;
    std::optional<QVariantMap> ended;
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
        quint32 position;
        QRect textArea; // the subtitle's rows lie here
        QRect clearArea; // and none here
    } cases[] = {
        { 67, { 0, 0, 360, 107 }, { 0, 213, 360, 107 } },
        { 100, { 0, 213, 360, 107 }, { 0, 0, 360, 107 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        const auto node = addClock();
        ASSERT_TRUE(node);
        trimSeconds(*node, 4, 28);
        cropLeftHalfTurnAndMirror(*node);
        chooseSubtitleFile(*node, subtitle, c.position);
        const QString converted = convert();
        ASSERT_FALSE(converted.isEmpty());

        const MediaFacts facts = MediaFacts::probe(converted);
        EXPECT_EQ(facts.stream("video").width, size.width());
        EXPECT_EQ(facts.stream("video").height, size.height());
        EXPECT_NEAR(facts.duration, 24.0, 0.1);
        EXPECT_EQ(facts.count("subtitle"), 1);
        const QImage first = frameAt(converted, 0, size);
        ASSERT_FALSE(first.isNull());
        EXPECT_TRUE(near(meanColour(first, { 8, 8, 80, 80 }), box)) << "box of second 4, top left";
        for (const QRect& corner : { QRect(272, 8, 80, 80), QRect(8, 232, 80, 80),
                 QRect(272, 232, 80, 80), QRect(150, 140, 60, 40) })
            EXPECT_TRUE(near(meanColour(first, corner), background)) << "flat, as the source";

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
    const QRect inFrame(400, 230, 160, 90); // 40 pixels up from the bottom edge
    QString converted;
    for (const quint32 kind :
        { DNBaseEditSetting::kWatermarkImage, DNBaseEditSetting::kWatermarkText }) {
        SCOPED_TRACE(kind);
        const auto node = addClock();
        ASSERT_TRUE(node);
        trimSeconds(*node, 0, 20);
        placeWatermark(*node, kind, QRectF(400, 40, 160, 90));
        node->setImagePathOfWatermark(redPath);
        node->setTextOfWatermark("QUILLON");
        node->setTextWatermarkColor(yellow);
        setVolume(*node, 50);
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

} // namespace
