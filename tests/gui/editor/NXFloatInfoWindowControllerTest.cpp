// The media-information window opened from the editor sheet's Info button.
#include "common/NXFloatInfoWindowController.h"

#include "editor/DNVideoEditorController.h"
#include "model/DNFileNode.h"

#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<DNFileNode> probedNode(const QString& path, int width, int audioChannels)
{
    DNTVideo video;
    video.codec = QStringLiteral("avc1");
    video.width = width;
    video.height = 720;
    video.fps = 30.0f;
    video.aspectRatio = QStringLiteral("16:9");
    DNTAudio audio;
    audio.codec = QStringLiteral("aac");
    audio.channels = audioChannels;
    audio.sampleRate = 48000;
    auto node = std::make_shared<DNFileNode>(path);
    node->setFileFormat(QStringLiteral("MPEG-4"));
    node->setDuration(90.5);
    node->setVideoTracks({ video });
    node->setAudioTracks({ audio });
    return node;
}

QStringList shownRows(const QTreeWidget& view)
{
    QStringList rows;
    for (int row = 0; row < view.topLevelItemCount(); ++row)
        rows << view.topLevelItem(row)->text(0) + QLatin1Char('=')
                + view.topLevelItem(row)->text(1);
    return rows;
}

} // namespace

TEST(NXFloatInfoWindowController, TheSheetsInfoButtonShowsTheEditedNodesFacts)
{
    const struct {
        QString path;
        int width;
        int channels;
        QStringList rows;
    } cases[] = {
        { QStringLiteral("/clips/a.mp4"), 1280, 2,
            { QStringLiteral("File=a.mp4"), QStringLiteral("Format=MPEG-4"),
                QStringLiteral("Duration=00:01:30"),
                QStringLiteral("Video=avc1, 1280x720, 30.00 fps, 16:9"),
                QStringLiteral("Audio=aac, 2 channels, 48000 Hz") } },
        // A second request replaces the rows of the first.
        { QStringLiteral("/clips/b.mp4"), 960, 6,
            { QStringLiteral("File=b.mp4"), QStringLiteral("Format=MPEG-4"),
                QStringLiteral("Duration=00:01:30"),
                QStringLiteral("Video=avc1, 960x720, 30.00 fps, 16:9"),
                QStringLiteral("Audio=aac, 6 channels, 48000 Hz") } },
    };
    DNVideoEditorController sheet;
    for (const auto& example : cases) {
        sheet.setMediaNode(probedNode(example.path, example.width, example.channels));
        sheet.infoButton()->click();
        auto* window = NXFloatInfoWindowController::shareInstance();
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(shownRows(*window->factsView()), example.rows) << example.path.toStdString();
    }
    // It floats beside the sheet, and goes with it.
    sheet.reject();
    EXPECT_FALSE(NXFloatInfoWindowController::shareInstance()->isVisible());
}

TEST(NXFloatInfoWindowController, OpensBesideTheSheetOnTheSheetsScreen)
{
    const QSize info(300, 400);
    const struct {
        QRect sheet, screen;
        QPoint at;
    } cases[] = {
        { { 100, 100, 900, 700 }, { 0, 0, 1920, 1080 }, { 1008, 100 } }, // right of it
        { { 1000, 100, 900, 700 }, { 0, 0, 1920, 1080 }, { 692, 100 } }, // left of it
        { { 0, 0, 1920, 1080 }, { 0, 0, 1920, 1080 }, { 1620, 0 } }, // no room: the right edge
        { { 2000, 500, 900, 700 }, { 1920, 0, 1280, 720 }, { 2900, 320 } }, // second monitor
    };
    for (const auto& c : cases)
        EXPECT_EQ(DNVideoEditorController::placeBeside(c.sheet, info, c.screen), c.at) << c.at.x();
}
