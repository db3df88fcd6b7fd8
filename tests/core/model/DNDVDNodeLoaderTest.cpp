// Loading the test disc in each of its forms, and sources that are not
// (quite) a DVD.
#include "model/DNDVDNode.h"

#include "fixtures/TestDisc.h"
#include "platform/DNLogger.h"
#include "services/DVDTitleReader.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <thread>

#include <sys/stat.h>

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

// A copy of the disc's VIDEO_TS in `folder`/`name`, its files as `edit`
// leaves them; those it empties are left out.
QString editedCopy(const QString& folder, const QString& name,
    const std::function<void(const QString& file, QByteArray& bytes)>& edit)
{
    const QString target = folder + "/" + name + "/VIDEO_TS";
    QDir().mkpath(target);
    for (const QString& file : QDir(TestDisc::videoTSFolder()).entryList(QDir::Files)) {
        QFile source(TestDisc::videoTSFolder() + "/" + file);
        if (!source.open(QIODevice::ReadOnly))
            return {};
        QByteArray bytes = source.readAll();
        edit(file, bytes);
        if (!bytes.isEmpty() && !writeFile(target + "/" + file, bytes))
            return {};
    }
    return folder + "/" + name;
}

// A copy with the named files' first kilobyte overwritten.
QString damagedCopy(const QString& folder, const QStringList& damaged)
{
    return editedCopy(folder, "Damaged", [&](const QString& file, QByteArray& bytes) {
        if (damaged.contains(file))
            bytes.replace(0, 1024, QByteArray(1024, 'x'));
    });
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

// Among them tables that crash the parsing library (this process lives on), a
// disc file that would block its reader and a device that is no disc.
TEST(DNDVDNodeLoader, BadSourcesAreRefusedWithAReason)
{
    ASSERT_EQ(TestDisc::ensure(), QString());
    QTemporaryDir temporary;
    const QString root = temporary.path();
    QDir().mkpath(root + "/empty");
    QDir().mkpath(root + "/files");
    QByteArray noise(1 << 20, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    QFile image(TestDisc::image());
    ASSERT_TRUE(writeFile(root + "/files/notes.txt", "not a disc")
        && writeFile(root + "/zero.iso", {}) && writeFile(root + "/noise.iso", noise)
        && image.open(QIODevice::ReadOnly) && writeFile(root + "/cut.iso", image.read(575488)));
    const QString fifoDisc = editedCopy(root, "Fifo", [](const QString& file, QByteArray& bytes) {
        if (file.endsWith(".VOB"))
            bytes.clear();
    });
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifoDisc + "/VIDEO_TS/VTS_01_1.VOB"), 0600), 0);
    const auto truncated = [](const QString& file, QByteArray& bytes) {
        if (file.startsWith("VIDEO_TS."))
            bytes.truncate(2048);
    };
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
        { editedCopy(root, "Truncated", truncated), "the DVD's title tables are damaged" },
        { root + "/cut.iso", "the DVD's title tables are damaged" },
        { fifoDisc, "VTS_01_1.VOB is not a regular file" },
        { "/dev/zero", "is not a DVD" },
    };
    for (const auto& source : sources) {
        SCOPED_TRACE(source.path.toStdString());
        QString failure;
        EXPECT_FALSE(load(source.path, &failure));
        EXPECT_TRUE(failure.contains(source.reason)) << failure.toStdString();
        EXPECT_TRUE(failure.contains(source.path)) << failure.toStdString();
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

// Bytes of a table overwritten, or the table cut short.
void damage(QRandomGenerator& random, QByteArray& table)
{
    if (random.bounded(4) == 0) {
        table.truncate(random.bounded(table.size()));
        return;
    }
    for (int count = random.bounded(1, 16); count > 0; --count)
        table[random.bounded(table.size())] = char(random.bounded(256));
}

// Loads `runs` damages of a copy of the disc's tables in `folder`, each of the
// disc table or a title set's, the same in the table and its backup; how many
// of them were neither loaded nor refused with a reason.
int damagedLoadsWithoutReason(const QString& folder, quint32 seed, int runs)
{
    std::map<QString, QByteArray> tables;
    const QString disc = editedCopy(folder, "Disc", [&](const QString& file, QByteArray& bytes) {
        if (file.endsWith(".VOB"))
            bytes.clear();
        tables[file] = bytes;
    });
    const auto write
        = [&disc](const QString& set, const QByteArray& table, const QByteArray& backup) {
              return writeFile(disc + "/VIDEO_TS/" + set + ".IFO", table)
                  && writeFile(disc + "/VIDEO_TS/" + set + ".BUP", backup);
          };
    QRandomGenerator random(seed);
    int unexplained = 0;
    for (int run = 0; run < runs; ++run) {
        const QString set = random.bounded(2) ? "VIDEO_TS" : "VTS_01_0";
        QByteArray table = tables[set + ".IFO"];
        damage(random, table);
        QString failure;
        if (!write(set, table, table) || !(load(disc, &failure) || !failure.isEmpty()))
            ++unexplained;
        write(set, tables[set + ".IFO"], tables[set + ".BUP"]);
    }
    return unexplained;
}

// 400 damages on four threads, as loaders of several dropped discs run.
TEST(DNDVDNodeLoader, RandomlyDamagedTablesNeverEndTheCaller)
{
    ASSERT_EQ(TestDisc::ensure(), QString());
    QTemporaryDir temporary;
    std::atomic<int> unexplained = 0;
    std::vector<std::thread> loaders;
    for (quint32 seed = 1; seed <= 4; ++seed) {
        loaders.emplace_back([&, seed] {
            const QString folder = temporary.filePath(QString::number(seed));
            unexplained += damagedLoadsWithoutReason(folder, seed, 100);
        });
    }
    for (std::thread& loader : loaders)
        loader.join();
    EXPECT_EQ(unexplained, 0);
}

// Stand-ins for the reader tool that hang, crash or babble: each a refusal
// that names the disc, and the log says what the reader did.
TEST(DNDVDNodeLoader, AReaderThatGivesNoAnswerRefusesTheDisc)
{
    QTemporaryDir tools;
    const QByteArray saved = qgetenv("QUILLON_TOOLS");
    const auto restore = qScopeGuard([&saved] { qputenv("QUILLON_TOOLS", saved); });
    qputenv("QUILLON_TOOLS", QFile::encodeName(tools.path()));
    // Only the hanging reader meets the short limit; the others have time to
    // end on a loaded machine.
    const struct {
        const char* script;
        std::chrono::milliseconds limit;
        const char* logged;
    } readers[] = {
        { "exec sleep 60", std::chrono::milliseconds(300), "it took longer than 300 ms" },
        { "kill -SEGV $$", std::chrono::seconds(10), "it crashed with signal 11" },
        { "echo title 1 12 25 1 720 576 4 3 6000 0; echo audio one", std::chrono::seconds(10),
            nullptr },
        { "yes title 1 12 25 1 720 576 4 3 6000 0 | head -n 10001", std::chrono::seconds(10),
            "it answered more than 10000 lines" },
    };
    const QString disc = tools.path();
    for (const auto& reader : readers) {
        SCOPED_TRACE(reader.script);
        ASSERT_TRUE(writeFile(tools.filePath("quillon-dvd-reader"),
            QByteArray("#!/bin/sh\n") + reader.script + "\n"));
        QFile::setPermissions(
            tools.filePath("quillon-dvd-reader"), QFile::ReadOwner | QFile::ExeOwner);
        QString failure;
        EXPECT_FALSE(readDVDTitles(disc, failure, reader.limit));
        EXPECT_EQ(failure, disc + " cannot be read: the DVD's title tables are damaged");
        EXPECT_TRUE(!reader.logged || logText().contains(reader.logged));
    }
}

} // namespace
