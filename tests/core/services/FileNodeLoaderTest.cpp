// Loading real files into file nodes: what the probe finds, the ids the file
// engine selects streams by, the load defaults, and files that must be refused.
#include "model/DNFileNode.h"

#include "fixtures/MediaFacts.h"
#include "fixtures/TestMedia.h"
#include "platform/DNLogger.h"
#include "services/MediaProbe.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FixtureCase {
    const char* file;
    const char* format;
    int videos, audios, subtitles;
    int width, height;
    float fps;
    const char* codec;
    std::vector<bool> textSubtitles;
    // Whether the engine tells the streams apart by id; Matroska keeps none.
    bool ids;
};

const FixtureCase kFixtures[] = {
    { TestMedia::kVideoWithAudio, "MPEG-4", 1, 1, 0, 160, 120, 25.0f, "avc1", {}, true },
    { TestMedia::kTwoAudioAndText, "Matroska", 1, 2, 1, 160, 120, 25.0f, "V_MPEG4/ISO/AVC",
        { true }, false },
    { TestMedia::kPictureSubtitle, "Matroska", 1, 0, 1, 320, 240, 25.0f, "V_MPEG4/ISO/AVC",
        { false }, false },
    { TestMedia::kProgramStream, "MPEG-PS", 1, 1, 1, 320, 240, 25.0f, "mp2v", { false }, true },
    { TestMedia::kTransportStream, "MPEG-TS", 1, 1, 0, 160, 120, 25.0f, "AVC", {}, true },
    { TestMedia::kOddSize2997, "MPEG-4", 1, 1, 0, 322, 180, 29.97f, "avc1", {}, true },
    { TestMedia::kRate50, "Matroska", 1, 0, 0, 176, 144, 50.0f, "V_MPEG4/ISO/ASP", {}, true },
    { TestMedia::kAvi, "AVI", 1, 1, 0, 160, 120, 25.0f, "XVID", {}, true },
};

std::shared_ptr<DNFileNode> loadFixture(const char* file)
{
    const QString path = TestMedia::path(file);
    EXPECT_FALSE(path.isEmpty()) << TestMedia::ensure().toStdString();
    return DNFileNode::fileNodeWithFile(path);
}

double streamSeconds(const MediaFacts& facts, const char* type, int n)
{
    const double seconds = facts.stream(type, n).duration;
    return seconds > 0 ? seconds : facts.duration;
}

void expectDurations(const DNFileNode& node, const MediaFacts& facts, const std::string& what)
{
    for (std::size_t i = 0; i < node.videoTracks().size(); ++i)
        EXPECT_NEAR(node.videoTracks()[i].duration, streamSeconds(facts, "video", int(i)), 0.1)
            << what;
    for (std::size_t i = 0; i < node.audioTracks().size(); ++i) {
        const float seconds = DNAudioFields(node.audioTracks()[i]).duration;
        EXPECT_EQ(seconds, std::floor(seconds)) << what << ": audio is counted in whole seconds";
        EXPECT_NEAR(seconds, streamSeconds(facts, "audio", int(i)), 1.0) << what;
    }
}

// The input streams ffmpeg maps for "-map 0:#<id>", by their index; empty when it refuses.
QList<int> enginePicks(const QString& path, int id)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        { "-hide_banner", "-nostdin", "-i", path, "-map", QStringLiteral("0:#%1").arg(id), "-c",
            "copy", "-f", "null", "-" });
    if (!ffmpeg.waitForFinished(30'000) || ffmpeg.exitCode() != 0)
        return {};
    static const QRegularExpression mapping(QStringLiteral("Stream #0:(\\d+) -> #0:\\d+"));
    QList<int> picks;
    for (const auto& match : mapping.globalMatch(ffmpeg.readAllStandardError()))
        picks.append(match.captured(1).toInt());
    return picks;
}

struct IdOfTrack {
    const char* type;
    int n; // position among the streams of the type
    int id;
};

std::vector<IdOfTrack> trackIds(const DNFileNode& node)
{
    std::vector<IdOfTrack> ids;
    for (std::size_t i = 0; i < node.videoTracks().size(); ++i)
        ids.push_back({ "video", int(i), node.videoTracks()[i].vid });
    for (std::size_t i = 0; i < node.audioTracks().size(); ++i)
        ids.push_back({ "audio", int(i), DNAudioFields(node.audioTracks()[i]).aid });
    for (std::size_t i = 0; i < node.subtitleTracks().size(); ++i)
        ids.push_back({ "subtitle", int(i), DNSubtitleFields(node.subtitleTracks()[i]).sid });
    return ids;
}

// Every id given selects exactly its own stream in a real ffmpeg run; where
// the engine keeps no ids, none is given.
void expectIdsSelectTheirStreams(const DNFileNode& node, const MediaFacts& facts, bool ids)
{
    for (const IdOfTrack& track : trackIds(node)) {
        const std::string what = node.path().toStdString() + " " + track.type + " "
            + std::to_string(track.n) + " id " + std::to_string(track.id);
        if (!ids) {
            EXPECT_EQ(track.id, -1) << what;
            continue;
        }
        EXPECT_EQ(enginePicks(node.path(), track.id),
            QList<int>({ facts.stream(track.type, track.n).index }))
            << what;
    }
}

TEST(FileNodeLoader, ProbesTheFixtureSet)
{
    for (const FixtureCase& c : kFixtures) {
        const auto node = loadFixture(c.file);
        ASSERT_TRUE(node) << c.file;
        const MediaFacts facts = MediaFacts::probe(node->path());
        ASSERT_TRUE(facts.ok) << facts.error.toStdString();
        EXPECT_EQ(node->fileFormat(), c.format) << c.file;
        ASSERT_EQ(int(node->videoTracks().size()), c.videos) << c.file;
        EXPECT_EQ(int(node->audioTracks().size()), c.audios) << c.file;
        ASSERT_EQ(int(node->subtitleTracks().size()), c.subtitles) << c.file;
        EXPECT_TRUE(node->sameStreams()) << c.file;
        const DNTVideo& video = node->videoTracks().front();
        EXPECT_EQ(video.width, c.width) << c.file;
        EXPECT_EQ(video.height, c.height) << c.file;
        EXPECT_NEAR(video.fps, c.fps, 0.01) << c.file;
        EXPECT_EQ(video.codec, c.codec) << c.file;
        for (int i = 0; i < c.subtitles; ++i)
            EXPECT_EQ(DNSubtitleFields(node->subtitleTracks()[i]).isTextformat, c.textSubtitles[i])
                << c.file;
        EXPECT_NEAR(node->duration(), facts.duration, 0.15) << c.file;
        expectDurations(*node, facts, c.file);
        expectIdsSelectTheirStreams(*node, facts, c.ids);
    }
}

TEST(FileNodeLoader, TrackDurationRules)
{
    struct Case {
        double streamMs;
        qint64 fileMs;
        float video, audio;
    };
    const Case cases[] = {
        { 2002.0, 9000, 2.002f, 2.0f }, // video keeps the fraction, audio drops it
        { 1999.9, 9000, 1.9999f, 1.0f },
        { 0.0, 9876, 9.0f, 0.0f }, // no stream length: the file's whole seconds
        { -5.0, 0, 0.0f, 0.0f },
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(videoTrackDuration(c.streamMs, c.fileMs), c.video) << c.streamMs;
        EXPECT_FLOAT_EQ(audioTrackDuration(c.streamMs), c.audio) << c.streamMs;
    }
}

QByteArray logSince(qint64 offset)
{
    QFile log(DNLogger::shareRoughLog().path());
    if (!log.open(QIODevice::ReadOnly) || !log.seek(offset))
        return {};
    return log.readAll();
}

qint64 logSize()
{
    return QFileInfo(DNLogger::shareRoughLog().path()).size();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

bool runFfmpeg(const QStringList& arguments)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList { "-v", "error", "-nostdin", "-y" } + arguments);
    return ffmpeg.waitForFinished(30'000) && ffmpeg.exitCode() == 0;
}

// A copy of `source` under the bytes `name` ("folder/file" at most) in
// `folder`, which need not be valid UTF-8. Qt can neither make nor remove
// such a name, so the copy removes itself.
class RawNamedCopy {
public:
    RawNamedCopy(const QString& source, const QString& folder, const QByteArray& name)
        : m_raw(QFile::encodeName(folder) + '/' + name)
        , m_folder(name.contains('/')
                  ? QFile::encodeName(folder) + '/' + name.left(name.lastIndexOf('/'))
                  : QByteArray())
    {
        if (!m_folder.isEmpty())
            ::mkdir(m_folder.constData(), 0700);
        QFile in(source);
        std::FILE* out
            = in.open(QIODevice::ReadOnly) ? std::fopen(m_raw.constData(), "wb") : nullptr;
        if (!out)
            return;
        const QByteArray bytes = in.readAll();
        const bool written
            = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out) == size_t(bytes.size());
        if (std::fclose(out) == 0 && written)
            m_path = QFile::decodeName(m_raw);
    }
    ~RawNamedCopy()
    {
        ::unlink(m_raw.constData());
        if (!m_folder.isEmpty())
            ::rmdir(m_folder.constData());
    }
    RawNamedCopy(const RawNamedCopy&) = delete;
    RawNamedCopy& operator=(const RawNamedCopy&) = delete;

    // As Qt reads the name back; empty when the copy could not be made.
    QString path() const { return m_path; }

private:
    const QByteArray m_raw;
    const QByteArray m_folder;
    QString m_path;
};

TEST(FileNodeLoader, RefusesWhatIsNotAVideoWithALogLine)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.filePath("notes.mp4"), "These are my notes, not a movie.\n");
    const QString locked = dir.filePath("locked.mp4");
    ASSERT_TRUE(QFile::copy(TestMedia::path(TestMedia::kVideoWithAudio), locked));
    QFile::setPermissions(locked, QFileDevice::Permissions());
    const QString clip = TestMedia::path(TestMedia::kVideoWithAudio);
    // "café.mp4" and "déjà/clip.mp4" written in Latin-1.
    const RawNamedCopy latin1Name(clip, dir.path(), "caf\xE9.mp4");
    const RawNamedCopy latin1Folder(clip, dir.path(), "d\xE9j\xE0/clip.mp4");
    ASSERT_FALSE(latin1Name.path().isEmpty() || latin1Folder.path().isEmpty());
    const QString fifo = dir.filePath("fifo.mp4");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString gif = dir.filePath("animated.gif");
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", gif }));
    DNLog("refusal test starts"); // opens the log, so its size is a valid offset

    using F = DNFileLoadFailure;
    const std::tuple<QString, const char*, DNFileLoadFailure> cases[] = {
        { TestMedia::path(TestMedia::kEmpty), "", F::NotMedia },
        { TestMedia::path(TestMedia::kTruncated), "is cut short (its index is missing)",
            F::CutShort },
        { TestMedia::path(TestMedia::kAudioOnly), "no video track", F::NoVideoTrack },
        { gif, "is a picture (GIF), not a video", F::Picture },
        { dir.filePath("notes.mp4"), "", F::NotMedia },
        { dir.filePath("missing.mp4"), "", F::Missing },
        { dir.filePath(QStringLiteral("caf\uFFFD2.mp4")), "", F::Missing },
        { latin1Name.path(), "its name is not valid UTF-8", F::NameNotUtf8 },
        { latin1Folder.path(), "a folder on its path is not valid UTF-8", F::FolderNameNotUtf8 },
        { dir.path(), "", F::Folder },
        { fifo, "not a regular file", F::NotRegularFile },
        { "/dev/zero", "not a regular file", F::NotRegularFile },
        { locked, "", F::Unreadable },
    };
    for (const auto& [path, message, reason] : cases) {
        if (path == locked && ::geteuid() == 0)
            continue; // permissions do not stop root
        const qint64 before = logSize();
        DNFileLoadFailure failure = F::None;
        EXPECT_EQ(DNFileNode::fileNodeWithFile(path, false, &failure), nullptr)
            << path.toStdString();
        EXPECT_EQ(failure, reason) << path.toStdString();
        const QByteArray added = logSince(before);
        EXPECT_FALSE(added.isEmpty()) << path.toStdString();
        EXPECT_TRUE(added.contains(message)) << path.toStdString() << ": " << added.toStdString();
    }
}

// Names a shell, a URL parser or a locale-bound conversion would mangle. The
// C locale makes any path conversion through the locale fail on non-ASCII names.
TEST(FileNodeLoader, LoadsFilesWithAwkwardNames)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString folder = root.filePath(QStringLiteral("Fête: \"films\" 's"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const std::pair<const char*, QString> cases[] = {
        { TestMedia::kVideoWithAudio, QStringLiteral("it's \"quoted\".mp4") },
        { TestMedia::kTwoAudioAndText, QStringLiteral("  spaced  name .mkv") },
        { TestMedia::kTransportStream, QStringLiteral("http:colon.ts") },
        { TestMedia::kProgramStream, QStringLiteral("Ünïcødé 日本語.mpg") },
        { TestMedia::kAvi, QStringLiteral("[brackets] {and} $dollar.avi") },
    };
    const std::string savedLocale = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    for (const auto& [fixture, name] : cases) {
        const QString path = folder + '/' + name;
        ASSERT_TRUE(QFile::copy(TestMedia::path(fixture), path));
        const auto node = DNFileNode::fileNodeWithFile(path);
        ASSERT_TRUE(node) << path.toStdString();
        EXPECT_EQ(node->path(), path);
        EXPECT_EQ(node->videoTracks().size(), 1u) << path.toStdString();
        EXPECT_EQ(node->audioTracks().size(), 1u + (fixture == TestMedia::kTwoAudioAndText));
        EXPECT_TRUE(node->sameStreams()) << path.toStdString() << ": the engine read it too";
        EXPECT_EQ(node->nodeInfo().outputName, name);
    }
    std::setlocale(LC_ALL, savedLocale.c_str());
}

TEST(FileNodeLoader, FillsTheLoadDefaults)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    const QString tagged = dir.filePath("tagged.mp4");
    ASSERT_TRUE(runFfmpeg({ "-i", source, "-c", "copy", "-metadata", "title=Evening News",
        "-metadata", "artist=Ann Lee", tagged }));
    const QString plain = dir.filePath("my.holiday.clip.mp4");
    ASSERT_TRUE(QFile::copy(source, plain));

    struct Case {
        QString path;
        const char *displayName, *artist, *outputName;
        int audioIndex;
    };
    const Case cases[] = {
        { tagged, "Evening News", "Ann Lee", "tagged.mp4", 0 },
        { plain, "my.holiday.clip", "Quillon", "my.holiday.clip.mp4", 0 },
        { TestMedia::path(TestMedia::kRate50), "rate_50", "Quillon", "rate_50.mkv", -1 },
    };
    for (const Case& c : cases) {
        const auto node = DNFileNode::fileNodeWithFile(c.path);
        ASSERT_TRUE(node) << c.path.toStdString();
        EXPECT_EQ(node->nodeInfo().displayName, c.displayName);
        EXPECT_EQ(node->nodeInfo().artist, c.artist);
        EXPECT_EQ(node->nodeInfo().outputName, c.outputName);
        EXPECT_EQ(node->nodeInfo().genre, "Video");
        EXPECT_EQ(node->setting().videoIndex(), 0);
        EXPECT_EQ(node->setting().audioIndex(), c.audioIndex) << c.path.toStdString();
        EXPECT_EQ(node->setting().subtitleIndex(), -1);
    }
}

TEST(FileNodeLoader, AddsTheSubtitleFileBesideTheMedia)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString media = dir.filePath("clip.mkv");
    ASSERT_TRUE(QFile::copy(TestMedia::path(TestMedia::kTwoAudioAndText), media));
    QStringEncoder latin1(QStringConverter::Latin1);
    writeFile(dir.filePath("clip.srt"),
        latin1.encode(QStringLiteral("1\n00:00:00,000 --> 00:00:01,000\nÇa a été très "
                                     "élégant, déjà vu à l'hôtel près du café.\n")));
    writeFile(dir.filePath("other.srt"), "1\n00:00:00,000 --> 00:00:01,000\nNo\n");

    const auto node = DNFileNode::fileNodeWithFile(media);
    ASSERT_TRUE(node);
    ASSERT_EQ(node->subtitleTracks().size(), 2u);
    EXPECT_EQ(DNExtSubtitleOf(node->subtitleTracks()[0]), nullptr);
    const DNTExtSubtitle* const external = DNExtSubtitleOf(node->subtitleTracks()[1]);
    ASSERT_TRUE(external);
    EXPECT_EQ(external->path, dir.filePath("clip.srt"));
    EXPECT_EQ(external->codePage, "windows-1252");
    EXPECT_EQ(node->setting().subtitleIndex(), -1);
}

// A subtitle file chosen later, as in the editor, is read as the one beside
// the movie is: its character set detected, or UTF-8 when it cannot be read.
TEST(FileNodeLoader, DetectsTheCharsetOfASubtitleChosenLater)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("a.srt"),
        QStringEncoder(QStringConverter::Latin1)(
            u"1\n00:00:00,000 --> 00:00:01,000\nÇa a été "
            u"très élégant, déjà vu à l'hôtel près du café.\n"));
    const auto node = DNFileNode::fileNodeWithFile(TestMedia::path(TestMedia::kTwoAudioAndText));
    ASSERT_TRUE(node);
    for (const auto& [name, codePage] :
        { std::pair { "missing.srt", "UTF-8" }, { "a.srt", "windows-1252" } }) {
        node->addExtraSubtitle(dir.filePath(name));
        EXPECT_EQ(DNExtSubtitleOf(node->subtitleTracks().back())->codePage, codePage);
    }
}

// A clip whose sound has `channels` channels and no layout: Matroska keeps
// none for PCM.
QString clipWithChannels(const QString& path, int channels)
{
    QString split = QStringLiteral("[1]asplit=%1").arg(channels), merge;
    for (int i = 0; i < channels; ++i) {
        split += QStringLiteral("[c%1]").arg(i);
        merge += QStringLiteral("[c%1]").arg(i);
    }
    const QString graph = split + ';' + merge + QStringLiteral("amerge=inputs=%1[a]").arg(channels);
    const bool made = runFfmpeg({ "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1",
        "-f", "lavfi", "-i", "sine=duration=1", "-filter_complex", graph, "-map", "0:v", "-map",
        "[a]", "-c:v", "libx264", "-c:a", "pcm_s16le", path });
    return made ? path : QString();
}

// The engine mixes channels without a layout by the usual layout of their
// count; a count it has none for (32) cannot be mixed, and the track says so.
TEST(FileNodeLoader, TellsWhetherTheEngineCanMixTheChannels)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::pair<int, bool> cases[] = { { 2, true }, { 6, true }, { 32, false } };
    for (const auto& [channels, known] : cases) {
        SCOPED_TRACE(channels);
        const QString path
            = clipWithChannels(dir.filePath(QString::number(channels)) + ".mkv", channels);
        ASSERT_FALSE(path.isEmpty());
        const auto node = DNFileNode::fileNodeWithFile(path);
        ASSERT_TRUE(node && node->audioTracks().size() == 1);
        const DNTAudio& track = DNAudioFields(node->audioTracks().front());
        EXPECT_EQ(track.channels, channels);
        EXPECT_EQ(track.channelLayoutKnown, known);
    }
}

// Kilobytes of the process's resident memory ("VmRSS") or of its peak since
// the last resetPeakMemory() ("VmHWM").
qint64 memoryKB(const char* field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

bool resetPeakMemory()
{
    QFile clear("/proc/self/clear_refs");
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

// A subtitle beside the video that is endless, random, a FIFO without a
// writer or far larger than any real one: left out with a log line, read
// without waiting and without taking the memory, and the video loads.
TEST(FileNodeLoader, LeavesOutSubtitleFilesThatAreNoRegularFileOrTooLarge)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString media = dir.filePath("clip.mp4"), subtitle = dir.filePath("clip.srt");
    ASSERT_TRUE(QFile::copy(TestMedia::path(TestMedia::kVideoWithAudio), media));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo")), 0600), 0);
    const auto large = [&] {
        QFile file(subtitle);
        return file.open(QIODevice::WriteOnly) && file.resize(100 << 20);
    };
    const std::pair<const char*, std::function<bool()>> cases[] = {
        { "/dev/zero", [&] { return QFile::link("/dev/zero", subtitle); } },
        { "/dev/urandom", [&] { return QFile::link("/dev/urandom", subtitle); } },
        { "FIFO", [&] { return QFile::link(dir.filePath("fifo"), subtitle); } },
        { "100 MB", large },
    };
    for (const auto& [what, make] : cases) {
        SCOPED_TRACE(what);
        QFile::remove(subtitle);
        ASSERT_TRUE(make() && resetPeakMemory());
        const qint64 before = logSize(), residentKB = memoryKB("VmRSS:");
        const auto node = DNFileNode::fileNodeWithFile(media);
        EXPECT_LT(memoryKB("VmHWM:") - residentKB, 64 << 10);
        ASSERT_TRUE(node);
        EXPECT_TRUE(node->subtitleTracks().empty());
        EXPECT_TRUE(logSince(before).contains("Subtitle file " + subtitle.toUtf8() + " left out"));
    }
}

} // namespace
