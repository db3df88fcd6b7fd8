#include "record/RecordedFile.h"
#include "record/ScreenCapture.h"
#include "support/RunFfmpeg.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// Where each picture of a file lies in it, by ffprobe: (offset, size).
std::vector<std::pair<qint64, qint64>> picturePlaces(const QString& path)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe",
        { "-v", "error", "-select_streams", "v", "-show_entries", "packet=pos,size", "-of",
            "csv=p=0", path });
    ffprobe.waitForFinished(30000);
    std::vector<std::pair<qint64, qint64>> places;
    for (const QByteArray& line : ffprobe.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> sizeAndOffset = line.split(',');
        if (sizeAndOffset.size() == 2)
            places.emplace_back(sizeAndOffset[1].toLongLong(), sizeAndOffset[0].toLongLong());
    }
    return places;
}

// A recording cut short by a full disk: the index of its last fragment,
// written before the pictures, still lists those the disk had no room for.
// Only the pictures before the cut count.
TEST(RecordedFile, ACutRecordingLastsUpToItsCut)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString whole = folder.filePath("whole.mov");
    // As the recorder writes it: a fragment a second, 30 pictures a second.
    ASSERT_TRUE(
        runFfmpeg(QStringList { "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30", "-t", "2" }
            + liveVideoEncoding() + constantFrameRate(30)
            + QStringList { "-g", "30", "-movflags", "+frag_keyframe+empty_moov", whole }));
    const auto places = picturePlaces(whole);
    ASSERT_EQ(places.size(), 60U);
    EXPECT_NEAR(recordedPictureSeconds(whole).value_or(0), 2.0, 0.001);
    for (const int cutPicture : { 10, 45 }) {
        const QString cut = folder.filePath(QString("cut at %1.mov").arg(cutPicture));
        const auto [offset, size] = places[std::size_t(cutPicture)];
        ASSERT_TRUE(QFile::copy(whole, cut) && QFile::resize(cut, offset + size / 2));
        EXPECT_NEAR(recordedPictureSeconds(cut).value_or(0), cutPicture / 30.0, 0.001)
            << cutPicture;
    }
}

} // namespace
