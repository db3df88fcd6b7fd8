#include "record/RecordedFile.h"
#include "fixtures/MediaFacts.h"
#include "record/RecordingTrim.h"
#include "record/ScreenCapture.h"
#include "support/RunFfmpeg.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>

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

// Where each top-level box of a file starts, in order.
std::vector<std::pair<QByteArray, qint64>> topLevelBoxes(const QString& path)
{
    QFile file(path);
    std::vector<std::pair<QByteArray, qint64>> boxes;
    if (!file.open(QIODevice::ReadOnly))
        return boxes;
    const QByteArray bytes = file.readAll();
    for (qint64 at = 0; at + 8 <= bytes.size();) {
        const quint32 size = qFromBigEndian<quint32>(bytes.constData() + at);
        boxes.emplace_back(bytes.mid(at + 4, 4), at);
        if (size < 8)
            break;
        at += size;
    }
    return boxes;
}

// The size of the box at `at` given in 64 bits and damaged to near the
// largest file size there can be: its first 8 bytes of content become the size.
bool damageBoxSize(const QString& path, qint64 at)
{
    QFile file(path);
    QByteArray field(4, '\0');
    qToBigEndian(quint32(1), field.data());
    QByteArray large(8, '\0');
    qToBigEndian(quint64(0x7fffffffffffff00), large.data());
    return file.open(QIODevice::ReadWrite) && file.seek(at) && file.write(field) == 4
        && file.seek(at + 8) && file.write(large) == 8;
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
    for (const int cutPicture : { 0, 10, 45 }) {
        const QString cut = folder.filePath(QString("cut at %1.mov").arg(cutPicture));
        const auto [offset, size] = places[std::size_t(cutPicture)];
        ASSERT_TRUE(QFile::copy(whole, cut) && QFile::resize(cut, offset + size / 2));
        EXPECT_NEAR(recordedPictureSeconds(cut).value_or(0), cutPicture / 30.0, 0.001)
            << cutPicture;
        EXPECT_EQ(hasRecordedPictures(cut), cutPicture > 0) << cutPicture;
    }
}

// A recording as the recorder writes it, with sound: a fragment a second,
// each holding its second of pictures and then its second of sound. Cut by a
// full disk (mid-picture, mid-index), or holding pictures past the stop, it
// is cut back in place to its last whole picture within the time, and then
// plays through. A whole one, and a movie that is not in fragments, stay as
// they are.
TEST(RecordingTrim, AFileEndsAtItsLastWholePictureWithinTheTime)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString whole = folder.filePath("whole.mov");
    ASSERT_TRUE(runFfmpeg(QStringList { "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30", "-f",
                              "lavfi", "-i", "sine=f=440", "-t", "2" }
        + liveVideoEncoding() + constantFrameRate(30)
        + QStringList {
            "-g", "30", "-c:a", "aac", "-movflags", "+frag_keyframe+empty_moov", whole }));
    const auto places = picturePlaces(whole);
    ASSERT_EQ(places.size(), 60U);
    const double never = std::numeric_limits<double>::infinity();
    const qint64 wholeSize = QFileInfo(whole).size();
    const auto boxes = topLevelBoxes(whole);
    const auto firstOf = [&boxes](const char* type) {
        const auto box = std::find_if(boxes.begin(), boxes.end(),
            [type](const auto& typeAndPlace) { return typeAndPlace.first == type; });
        return box == boxes.end() ? -1 : box->second;
    };
    ASSERT_GT(firstOf("mdat"), 0);
    const struct {
        const char* name;
        qint64 size;
        double seconds;
        TrimOutcome outcome;
        std::size_t pictures;
        qint64 damagedBox = -1; // whose size is damaged
    } cases[] = {
        { "a picture cut in half", places[45].first + places[45].second / 2, never,
            TrimOutcome::Trimmed, 45 },
        { "the second fragment's index cut", places[30].first - 12, never, TrimOutcome::Trimmed,
            30 },
        { "the first picture cut", places[0].first + 100, never, TrimOutcome::Trimmed, 0 },
        { "pictures past the stop", QFileInfo(whole).size(), 1.2, TrimOutcome::Trimmed, 35 },
        { "a whole recording", QFileInfo(whole).size(), 2.5, TrimOutcome::Untouched, 60 },
        // No file can be that long: the size is damaged, and no fragment is cut for it.
        { "the first fragment's index damaged", wholeSize, never, TrimOutcome::NotFragmented, 60,
            firstOf("moof") },
        { "the first fragment's data damaged", wholeSize, never, TrimOutcome::NotFragmented, 60,
            firstOf("mdat") },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const QString cut = folder.filePath(QString(row.name) + ".mov");
        ASSERT_TRUE(QFile::copy(whole, cut) && QFile::resize(cut, row.size));
        ASSERT_TRUE(row.damagedBox < 0 || damageBoxSize(cut, row.damagedBox));
        const QByteArray before = readTestFile(cut);
        EXPECT_EQ(trimRecording(cut, row.seconds), row.outcome);
        if (row.damagedBox >= 0) {
            EXPECT_TRUE(readTestFile(cut) == before);
            continue;
        }
        EXPECT_EQ(picturePlaces(cut).size(), row.pictures);
        EXPECT_EQ(hasRecordedPictures(cut), row.pictures > 0);
        if (row.pictures == 0)
            continue;
        EXPECT_EQ(decodeComplaints(cut).toStdString(), "");
        const MediaFacts facts = MediaFacts::probe(cut);
        // The first picture lasts a little longer, as the sound started first.
        const double seconds = recordedPictureSeconds(cut).value_or(0);
        EXPECT_LE(seconds, row.seconds + 0.5 / 30);
        EXPECT_NEAR(facts.stream("video").duration, seconds, 0.04);
        EXPECT_LE(facts.stream("audio").duration, seconds + 0.05);
    }

    const QString plain = folder.filePath("plain.mov");
    ASSERT_TRUE(runFfmpeg({ "-i", whole, "-c", "copy", plain }));
    const qint64 plainSize = QFileInfo(plain).size();
    EXPECT_EQ(trimRecording(plain, 1.0), TrimOutcome::NotFragmented);
    EXPECT_EQ(QFileInfo(plain).size(), plainSize);
}

// No descriptor can be opened while this lives, as in a process that has
// run out of them: the soft limit is lowered below the lowest free one.
class NoFreeDescriptor {
public:
    NoFreeDescriptor()
    {
        ::getrlimit(RLIMIT_NOFILE, &m_before);
        rlimit none = m_before;
        none.rlim_cur = 0;
        ::setrlimit(RLIMIT_NOFILE, &none);
    }
    ~NoFreeDescriptor() { ::setrlimit(RLIMIT_NOFILE, &m_before); }
    NoFreeDescriptor(const NoFreeDescriptor&) = delete;
    NoFreeDescriptor& operator=(const NoFreeDescriptor&) = delete;

private:
    rlimit m_before {};
};

// Only a file read through to its end with no whole picture counts as
// holding none, which allows removing it; one that could not be read (no
// free descriptor, or pictures in a QuickTime file whose writer was killed
// before it wrote the index) may be a whole recording, and the trim leaves it too.
TEST(RecordedFile, OnlyAFileReadThroughHoldsNoPicture)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString whole = folder.filePath("whole.mov");
    ASSERT_TRUE(runFfmpeg(
        QStringList { "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10", "-t", "1" }
        + liveVideoEncoding() + QStringList { "-movflags", "+frag_keyframe+empty_moov", whole }));
    // Its pictures first, its index last: cut short, it has none.
    const QString plain = folder.filePath("plain.mov");
    ASSERT_TRUE(
        runFfmpeg(QStringList { "-f", "lavfi", "-i", "testsrc2=size=640x480:rate=30", "-t", "4" }
            + liveVideoEncoding() + QStringList { "-f", "mov", plain }));
    const auto boxes = topLevelBoxes(plain);
    ASSERT_EQ(boxes.back().first, "moov");
    const qint64 pictures = boxes[boxes.size() - 2].second + 8;
    for (const auto& [name, size] :
        { std::pair("killed.mov", 200000 + pictures), std::pair("killed at once.mov", pictures) })
        ASSERT_TRUE(QFile::copy(plain, folder.filePath(name))
            && QFile::resize(folder.filePath(name), size));
    ASSERT_TRUE(QFile(folder.filePath("empty.mov")).open(QIODevice::WriteOnly));
    QFile text(folder.filePath("text.mov"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly) && text.write(QByteArray(4096, 'x')) == 4096);
    text.close();
    const struct {
        const char* name;
        bool withoutDescriptors;
        RecordedPictures pictures;
        const char* problem;
    } cases[] = {
        { "whole.mov", false, RecordedPictures::Found, "" },
        { "empty.mov", false, RecordedPictures::None, "" },
        { "text.mov", false, RecordedPictures::None, "" },
        { "missing.mov", false, RecordedPictures::None, "" },
        { "killed.mov", false, RecordedPictures::Unchecked,
            "it holds 0.2 MB of recorded data, but no index that says where its pictures lie" },
        { "killed at once.mov", false, RecordedPictures::None, "" },
        { ".", false, RecordedPictures::Unchecked, "it is not a plain file" },
        { "whole.mov", true, RecordedPictures::Unchecked, "Too many open files" },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(row.name) + (row.withoutDescriptors ? ", no descriptor" : ""));
        const QString path = folder.filePath(row.name);
        std::optional<NoFreeDescriptor> limit;
        if (row.withoutDescriptors)
            limit.emplace();
        const PictureCheck check = checkRecordedPictures(path);
        QString problem;
        const std::optional<TrimOutcome> trimmed = row.withoutDescriptors
            ? std::optional(trimRecording(path, 0.5, &problem))
            : std::nullopt;
        limit.reset();
        EXPECT_EQ(check.pictures, row.pictures);
        EXPECT_EQ(check.problem.toStdString(), row.problem);
        if (!trimmed)
            continue;
        EXPECT_EQ(*trimmed, TrimOutcome::Unreadable);
        EXPECT_TRUE(problem.contains(row.problem)) << problem.toStdString();
    }
    // Not cut back to the half second asked for while it could not be read.
    EXPECT_EQ(picturePlaces(whole).size(), 10U);
}

} // namespace
