// A subtitle file of the movie's name, through the main preview's control and
// the real tool: drawn only once the entry converts with it, and then read in
// the character set found for it, so that a UTF-8 file and a Latin-1 file of
// the same words draw the same picture, whatever the file's name.
#include "core/player/PlayerTestSupport.h"
#include "model/DNFileNode.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "player/MPlayerVideoRenderer.h"
#include "player/NXMPlayerControl.h"

#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// One cue over the whole movie; more words after it give the character set
// detector enough to go on.
const QString kCues = QStringLiteral("1\n00:00:00,000 --> 00:00:30,000\nUn café\n\n"
                                     "2\n00:00:40,000 --> 00:00:50,000\n"
                                     "Déjà prêt, à côté du théâtre où l'élève étudie.\n\n");

// A grey movie of 2 s with a subtitle file of its name beside it.
QString movieWithSubtitle(const QString& folder, const QString& name, const QByteArray& cues)
{
    const QString movie = folder + "/" + name + ".mp4";
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        { "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
            "color=c=gray:size=320x240:rate=10:duration=2", "-c:v", "libx264", "-preset",
            "ultrafast", "-pix_fmt", "yuv420p", movie });
    if (!ffmpeg.waitForFinished(60'000) || ffmpeg.exitCode() != 0)
        return {};
    return writeAll(folder + "/" + name + ".srt", cues) ? movie : QString();
}

// Counts the pixels the subtitle's white letters make on the grey picture.
int brightPixels(const QImage& picture)
{
    int bright = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            bright += qGray(picture.pixel(x, y)) > 200 ? 1 : 0;
    return bright;
}

struct Played {
    QImage picture;
    QByteArray arguments; // mplayer's, apart by spaces
};

// The picture half a second into the movie.
Played play(NXMPlayerControl& control, const NXBasicMediaNode::Ptr& node)
{
    Played played;
    control.startPlaybackWithNode(node);
    if (QTest::qWaitFor(
            [&] {
                return control.currentPlaybackTime() >= 0.5
                    && !control.render()->picture().isNull();
            },
            20'000)) {
        played.picture = control.render()->picture();
        played.arguments = ourMPlayerArguments().join(' ');
    }
    control.stopPlay();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !node->isPlaying() && ourMPlayerArguments().isEmpty(); }));
    return played;
}

} // namespace

TEST(NXMPlayerControl, DrawsOnlyTheChosenSubtitleInItsOwnCharacterSet)
{
    qputenv("QUILLON_PLAYER_AO", "null");
    QTemporaryDir folder;
    UserDefaults defaults(folder.filePath("defaults.conf"));
    const struct {
        const char* name;
        QByteArray cues;
        const char* charset; // as the loader finds it
    } files[] = {
        { "My Movie", kCues.toUtf8(), "UTF-8" },
        // mplayer takes a list of names there: the comma is escaped.
        { "Latin, 1", QStringEncoder(QStringConverter::Latin1).encode(kCues), "windows-1252" },
    };
    std::vector<QImage> drawn;
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        const QString movie = movieWithSubtitle(folder.path(), file.name, file.cues);
        ASSERT_FALSE(movie.isEmpty());
        const auto node = DNFileNode::fileNodeWithFile(movie);
        ASSERT_TRUE(node);
        NXMPlayerControl control(defaults);

        const Played plain = play(control, node);
        ASSERT_FALSE(plain.picture.isNull());
        EXPECT_EQ(brightPixels(plain.picture), 0) << "no subtitle is chosen";
        EXPECT_FALSE(plain.arguments.contains(" -sub ")) << plain.arguments.toStdString();

        node->setEnableSubtitleEdit(true);
        node->selectSubtitleAtIndex(0, true);
        const Played chosen = play(control, node);
        ASSERT_FALSE(chosen.picture.isNull());
        EXPECT_GT(brightPixels(chosen.picture), 0);
        const QString subtitle = folder.filePath(QString(file.name) + ".srt");
        const QString given = QStringLiteral(" -sub %1 -subcp %2 ")
                                  .arg(QString(subtitle).replace(",", "\\,"), file.charset);
        EXPECT_TRUE(chosen.arguments.contains(given.toUtf8())) << chosen.arguments.toStdString();
        drawn.push_back(chosen.picture);
    }
    ASSERT_EQ(drawn.size(), 2U);
    EXPECT_EQ(drawn[0], drawn[1]) << "the same words, drawn the same";
}

// A one-word line in an older set, which a detector alone reads as another
// alphabet's letters, is drawn in the preview as its UTF-8 twin is.
TEST(NXMPlayerControl, DrawsAFewLettersOfAnOlderSetInTheirOwnAlphabet)
{
    qputenv("QUILLON_PLAYER_AO", "null");
    QTemporaryDir folder;
    UserDefaults defaults(folder.filePath("defaults.conf"));
    const QString cues = QStringLiteral("1\n00:00:00,000 --> 00:00:30,000\nНет!\n\n");
    const QByteArray files[] = { cues.toUtf8(), QStringEncoder("windows-1251").encode(cues) };
    std::vector<QImage> drawn;
    for (const QByteArray& bytes : files) {
        const QString movie
            = movieWithSubtitle(folder.path(), QStringLiteral("film%1").arg(drawn.size()), bytes);
        ASSERT_FALSE(movie.isEmpty());
        const auto node = DNFileNode::fileNodeWithFile(movie);
        ASSERT_TRUE(node);
        NXMPlayerControl control(defaults);
        node->setEnableSubtitleEdit(true);
        node->selectSubtitleAtIndex(0, true);
        const Played chosen = play(control, node);
        ASSERT_FALSE(chosen.picture.isNull());
        EXPECT_GT(brightPixels(chosen.picture), 0);
        drawn.push_back(chosen.picture);
    }
    EXPECT_EQ(drawn[0], drawn[1]) << "the same letters, drawn the same";
}
