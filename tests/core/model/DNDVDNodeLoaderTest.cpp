// Loading the test disc in each of its forms, and sources that are not
// (quite) a DVD.
#include "model/DNDVDNode.h"

#include "fixtures/TestDisc.h"
#include "services/DNLogger.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<DNDVDNode> load(const QString& path, QString* failure = nullptr)
{
    return DNDVDNode::dvdNodeWithSourceInfo(NXDVDSourceInfo::sourceInfoWithPath(path), failure);
}

template<class Track, class Field>
std::vector<Field> fieldOf(const std::vector<Track>& tracks, Field Track::*field)
{
    std::vector<Field> values;
    for (const Track& track : tracks)
        values.push_back(track.*field);
    return values;
}

std::vector<qint32> subtitleIndexes(const DNDVDTitle& title)
{
    std::vector<qint32> indexes;
    for (const auto& track : title.subtitleTracks())
        indexes.push_back(DNDVDSubtitleFields(track).index);
    return indexes;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A copy of the disc's VIDEO_TS in `folder`, with the named files' first
// kilobyte overwritten.
QString damagedCopy(const QString& folder, const QStringList& damaged)
{
    const QString target = folder + "/Damaged/VIDEO_TS";
    QDir().mkpath(target);
    for (const QString& name : QDir(TestDisc::videoTSFolder()).entryList(QDir::Files)) {
        QFile source(TestDisc::videoTSFolder() + "/" + name);
        if (!source.open(QIODevice::ReadOnly))
            return {};
        QByteArray bytes = source.readAll();
        if (damaged.contains(name))
            bytes.replace(0, 1024, QByteArray(1024, 'x'));
        if (!writeFile(target + "/" + name, bytes))
            return {};
    }
    return folder + "/Damaged";
}

// The image cut where the second title set's tables begin.
QString truncatedImage(const QString& folder)
{
    QFile whole(TestDisc::image());
    if (!whole.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = whole.readAll();
    qsizetype at = -1;
    for (int found = 0; found < 3; ++found) // VTS_01 IFO, VTS_01 BUP, VTS_02 IFO
        at = bytes.indexOf("DVDVIDEO-VTS", at + 1);
    const QString path = folder + "/cut.iso";
    return at > 0 && writeFile(path, bytes.left(at)) ? path : QString();
}

QString logText()
{
    QFile log(DNLogger::shareRoughLog().path());
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

TEST(DNDVDNodeLoader, EveryFormOfTheDiscLoadsBothTitles)
{
    ASSERT_EQ(TestDisc::ensure(), QString());
    const struct {
        QString path;
        qint32 sourceType;
    } forms[] = { { TestDisc::folder(), NXDVDSourceInfo::kFolder },
        { TestDisc::videoTSFolder(), NXDVDSourceInfo::kFolder },
        { TestDisc::image(), NXDVDSourceInfo::kImage } };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.path.toStdString());
        const auto node = load(form.path);
        ASSERT_TRUE(node);
        EXPECT_EQ(node->sourceInfo().sourceType, form.sourceType);
        const auto titles = node->titles();
        ASSERT_EQ(titles.size(), 2u);
        EXPECT_EQ(titles[0]->length(), 12);
        EXPECT_EQ(titles[1]->length(), 11);
        for (const auto& title : titles) {
            EXPECT_NEAR(title->fps(), 29.97, 0.01);
            ASSERT_EQ(title->videoTracks().size(), 1u);
            EXPECT_EQ(title->videoTracks()[0].videoResolution, QSizeF(720, 480));
        }
        EXPECT_EQ(titles[0]->videoTracks()[0].videoAspect, QSizeF(4, 3));
        EXPECT_EQ(titles[1]->videoTracks()[0].videoAspect, QSizeF(16, 9));
        // The ids mplayer -identify gives: ID_AUDIO_ID and ID_SUBTITLE_ID.
        EXPECT_EQ(fieldOf(titles[0]->audioTracks(), &DNDVDTAudio::index),
            (std::vector<qint32> { 128, 129 }));
        EXPECT_EQ(fieldOf(titles[0]->audioTracks(), &DNDVDTAudio::position),
            (std::vector<qint32> { 0, 1 }));
        EXPECT_EQ(fieldOf(titles[0]->audioTracks(), &DNDVDTAudio::audioLang),
            (std::vector<QString> { "English", "French" }));
        EXPECT_EQ(
            fieldOf(titles[1]->audioTracks(), &DNDVDTAudio::index), (std::vector<qint32> { 128 }));
        EXPECT_EQ(subtitleIndexes(*titles[0]), (std::vector<qint32> { 0, 1 }));
        EXPECT_EQ(DNDVDSubtitleFields(titles[0]->subtitleTracks()[1]).subtitleName, "German");
        EXPECT_TRUE(titles[0]->isSelected());
        EXPECT_FALSE(titles[1]->isSelected());
        EXPECT_EQ(node->titleSelected(), 0);
        EXPECT_EQ(node->nodeInfo().displayName, QString(TestDisc::kName));
        EXPECT_EQ(node->nodeInfo().outputName, QString(TestDisc::kName));
        EXPECT_EQ(node->nodeInfo().genre, "Video");
        EXPECT_EQ(node->nodeInfo().artist, "Quillon");
    }
}

TEST(DNDVDNodeLoader, SubtitleIndexesKeepTheGapsOfAbsentStreams)
{
    ASSERT_EQ(TestDisc::ensure(), QString());
    const auto node = load(TestDisc::gapFolder());
    ASSERT_TRUE(node);
    EXPECT_EQ(subtitleIndexes(*node->titleAt(0)), (std::vector<qint32> { 0, 2 }));
}

TEST(DNDVDNodeLoader, BadSourcesAreRefusedWithAReason)
{
    ASSERT_EQ(TestDisc::ensure(), QString());
    QTemporaryDir temporary;
    const QString root = temporary.path();
    QDir().mkpath(root + "/empty");
    QDir().mkpath(root + "/files");
    QByteArray noise(1 << 20, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    ASSERT_TRUE(writeFile(root + "/files/notes.txt", "not a disc")
        && writeFile(root + "/zero.iso", {}) && writeFile(root + "/noise.iso", noise));
    const struct {
        QString path;
        const char* reason;
    } sources[] = {
        { root + "/empty", "is not a DVD" },
        { root + "/files", "is not a DVD" },
        { root + "/zero.iso", "is not a DVD" },
        { root + "/noise.iso", "is not a DVD" },
        { damagedCopy(root, { "VIDEO_TS.IFO", "VIDEO_TS.BUP" }), "is not a DVD" },
        { "/dev/sr9", "No DVD source at /dev/sr9" },
    };
    for (const auto& source : sources) {
        SCOPED_TRACE(source.path.toStdString());
        QString failure;
        EXPECT_FALSE(load(source.path, &failure));
        EXPECT_TRUE(failure.contains(source.reason)) << failure.toStdString();
    }
}

TEST(DNDVDNodeLoader, AnUnreadableTitleIsLeftOutWithALogLine)
{
    ASSERT_EQ(TestDisc::ensure(), QString());
    QTemporaryDir temporary;
    const struct {
        QString path;
        qint32 remaining; // the disc's number of the title that loads
        const char* logged;
    } sources[] = {
        { truncatedImage(temporary.path()), 1, "DVD title 2 left out" },
        { damagedCopy(temporary.path(), { "VTS_01_0.IFO", "VTS_01_0.BUP" }), 2,
            "DVD title 1 left out" },
    };
    for (const auto& source : sources) {
        SCOPED_TRACE(source.path.toStdString());
        const auto node = load(source.path);
        ASSERT_TRUE(node);
        ASSERT_EQ(node->titles().size(), 1u);
        EXPECT_EQ(node->titleAt(0)->titleNumber(), source.remaining);
        EXPECT_TRUE(node->titleAt(0)->isSelected());
        EXPECT_TRUE(logText().contains(source.logged));
    }
}

} // namespace
