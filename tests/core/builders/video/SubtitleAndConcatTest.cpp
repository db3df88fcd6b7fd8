#include "builders/video/BuilderServices.h"

#include "core/profiles/ProfileTestSupport.h"
#include "engine/EncodeConfig.h"
#include "model/DNFileGroupNode.h"
#include "platform/AppPaths.h"
#include "profiles/DNProfile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct CharsetCase {
    const char* label;
    QByteArray bytes; // the file as written
    QString charset;
    QByteArray expected; // the copy
    QString expectedCharset;
};

TEST(ConvertSubtitleToUTF8, ConvertsEveryCharsetItIsToldOrFindsAndCopiesTheUnknown)
{
    const QString text = QStringLiteral("1\n00:00:00,000 --> 00:00:01,000\n");
    QStringEncoder toUtf16(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    const QByteArray utf16 = toUtf16(text + QStringLiteral("Grüße\n"));
    const QByteArray head = text.toUtf8();
    const QString russian = QStringLiteral("Привет, мир! Как дела? Хорошо.\n");
    const QByteArray cp1251 = QStringEncoder("windows-1251")(russian);
    const std::vector<CharsetCase> cases = {
        { "UTF-16 with its mark", utf16, "UTF-16", head + "Grüße\n", "UTF-8" },
        { "UTF-16LE as detected", utf16, "utf-16le", head + "Grüße\n", "UTF-8" },
        { "Big5", head + "\xA7\x41\xA6\x6E\n", "BIG5", head + "你好\n", "UTF-8" },
        { "Shift_JIS", head + "\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD\n", "SHIFT_JIS",
            head + "こんにちは\n", "UTF-8" },
        { "Windows-1252", head + QStringEncoder("windows-1252")(u"Grüße\n"), "windows-1252",
            head + "Grüße\n", "UTF-8" },
        { "CP1251", head + cp1251, "WINDOWS-1251", head + russian.toUtf8(), "UTF-8" },
        { "GBK", head + QStringEncoder("GBK")(u"你好，世界\n"), "GB18030", head + "你好，世界\n",
            "UTF-8" },
        { "a name only one converter knows", head + "~{Dc:C~}\n", "HZ-GB-2312", head + "你好\n",
            "UTF-8" },
        { "no name: the detector's", head + cp1251 + cp1251, "",
            head + russian.toUtf8() + russian.toUtf8(), "UTF-8" },
        { "nothing to tell the set by is copied", "", "", "", "" },
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const QString source = dir.filePath(QStringLiteral("in.ass"));
        ASSERT_TRUE(writeFile(source, c.bytes));
        QString charset = c.charset;
        const std::optional<QString> copy = ConvertSubtitleToUTF8(source, charset);
        ASSERT_TRUE(copy) << c.label;
        EXPECT_TRUE(QFileInfo(*copy).fileName().startsWith(QLatin1String("qzsub"))) << c.label;
        EXPECT_EQ(QFileInfo(*copy).suffix(), QLatin1String("ass")) << c.label;
        EXPECT_EQ(readAll(*copy), c.expected) << c.label;
        EXPECT_EQ(charset, c.expectedCharset) << c.label;
    }
}

TEST(ConvertSubtitleToUTF8, FailsOnUnreadableOrInvalidText)
{
    QTemporaryDir dir;
    QString charset = QStringLiteral("BIG5");
    EXPECT_FALSE(ConvertSubtitleToUTF8(dir.filePath(QStringLiteral("missing.srt")), charset));
    const struct {
        const char* label;
        QByteArray bytes;
        QString charset;
    } cases[] = {
        { "half a Shift_JIS letter", "\x82", "Shift_JIS" },
        { "a five-byte form UTF-8 no longer has", "\xFB\xAE\xB5\xB5\xB5", "UTF-8" },
    };
    const QString source = dir.filePath(QStringLiteral("bad.srt"));
    const QDir temporary(AppPaths::temporaryFolder());
    const QStringList copiesBefore = temporary.entryList({ QStringLiteral("qzsub*") });
    for (const auto& c : cases) {
        ASSERT_TRUE(writeFile(source, c.bytes));
        charset = c.charset;
        EXPECT_FALSE(ConvertSubtitleToUTF8(source, charset)) << c.label;
        EXPECT_EQ(charset, c.charset) << c.label;
    }
    EXPECT_EQ(temporary.entryList({ QStringLiteral("qzsub*") }), copiesBefore);
}

// A large file's set is told by a part of it; the copy reads all of it in
// that set, and a line further on that does not fit is named rather than
// passed on in other letters.
TEST(ConvertSubtitleToUTF8, ReadsALargeFileWholeAndNamesALineThatDoesNotFit)
{
    const QString cue = QStringLiteral("%1\n00:00:01,000 --> 00:00:02,000\nПривет, как дела? "
                                       "Хорошо, спасибо, друг.\n\n");
    QString text;
    for (int number = 1; number <= 4000; ++number)
        text += cue.arg(number);
    const QByteArray bytes = QStringEncoder("windows-1251")(text);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("large.srt"));
    ASSERT_TRUE(writeFile(source, bytes));
    QString charset;
    const std::optional<QString> copy = ConvertSubtitleToUTF8(source, charset);
    ASSERT_TRUE(copy);
    EXPECT_EQ(readAll(*copy), text.toUtf8());
    // 0x98 is no letter of windows-1251.
    ASSERT_TRUE(writeFile(source, bytes + "4001\n00:00:03,000 --> 00:00:04,000\nEnd\x98\n"));
    charset.clear();
    EXPECT_FALSE(ConvertSubtitleToUTF8(source, charset));
    const QString said = sharedLogText().section(QStringLiteral("\"%1\"").arg(source), -1);
    EXPECT_TRUE(said.startsWith(QLatin1String(" cannot be read as "))) << said.toStdString();
    EXPECT_TRUE(said.contains(QLatin1String("text: line 16003 "))) << said.toStdString();
}

// The filter reads a copy in UTF-8, whatever the file's set, so it names none.
TEST(GenSubtitlesFilter, DrawsACopyInUtf8)
{
    QTemporaryDir dir;
    const QByteArray head = "1\n00:00:00,000 --> 00:00:01,000\n";
    const struct {
        const char* name;
        QString charset;
        QByteArray bytes;
        QByteArray copy;
    } cases[] = {
        { "a.SRT", "windows-1252", head + QStringEncoder("windows-1252")(u"Grüße\n"),
            head + "Grüße\n" },
        { "a.srt", "Shift_JIS", head + "\x82\xB1\x82\xF1\n", head + "こん\n" },
        { "a.ass", "ISO-8859-2", head + QStringEncoder("ISO-8859-2")(u"łódź\n"), head + "łódź\n" },
    };
    const QString opening = QStringLiteral("[VA]subtitles=filename=\\'");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        ASSERT_TRUE(writeFile(path, c.bytes));
        const QString filter = GenSubtitlesFilter(path, c.charset, 100).value_or("");
        ASSERT_TRUE(filter.startsWith(opening)) << filter.toStdString();
        EXPECT_FALSE(filter.contains(QLatin1String("charenc")));
        const QString copy = filter.mid(opening.size()).section(QStringLiteral("\\'"), 0, 0);
        EXPECT_EQ(readAll(copy), c.copy);
    }
}

struct PlacementCase {
    const char* label;
    const char* name;
    QByteArray bytes;
    quint32 position;
    bool usable;
    QString style; // what the burnt subtitle's filter ends with
    QByteArray stream; // the subtitle stream's copy
    std::optional<Trim> trim = std::nullopt;
};

QByteArray randomBytes(int size)
{
    QRandomGenerator generator(7);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

TEST(SubtitlePlacement, PositionAndTrimReachTheOutputAndUnreadableFilesAreLeftOut)
{
    const QByteArray srt = "1\n00:00:00,000 --> 00:00:01,000\nHello\n\n"
                           "2\n00:00:01,000 --> 00:00:02,000\nWorld\nagain\n";
    const QByteArray ass
        = "[Script Info]\nScriptType: v4.00+\n\n[Events]\nFormat: Layer, "
          "Start, End, Style, Text\nDialogue: 0,0:00:00.00,0:00:01.00,Default,Hi\n";
    const auto tagged = [&](const QByteArray& tag) {
        return QByteArray(srt).replace("Hello", tag + "Hello").replace("World", tag + "World");
    };
    const QString noStyle = QStringLiteral(".srt\\'");
    const std::vector<PlacementCase> cases = {
        { "top", "a.srt", srt, 67, true, ":force_style=\\'Alignment=6\\'", tagged("{\\an8}") },
        { "centre", "a.srt", srt, 78, true, ":force_style=\\'Alignment=10\\'", tagged("{\\an5}") },
        { "bottom", "a.srt", srt, 100, true, noStyle, srt },
        { "any other value is the bottom", "a.srt", srt, 90, true, noStyle, srt },
        { "a styled stream keeps its styles", "a.ass", ass, 67, true,
            ":force_style=\\'Alignment=6\\'", ass },
        { "trimmed, in Windows lines", "a.srt",
            "1\r\n00:00:00,500 --> 00:00:30,000 X1:10\r\nAll\r\n\r\n"
            "2\r\n00:00:10,000 --> 00:00:12,000\r\nInside\r\n\r\n"
            "3\r\n00:00:00,000 --> 00:00:02,000\r\nBefore\r\n",
            78, true, ":force_style=\\'Alignment=10\\'",
            "1\r\n00:00:04,000 --> 00:00:28,000 X1:10\r\n{\\an5}All\r\n\r\n"
            "2\r\n00:00:10,000 --> 00:00:12,000\r\n{\\an5}Inside\r\n\r\n"
            "3\r\n00:00:00,000 --> 00:00:02,000\r\n{\\an5}Before\r\n",
            Trim { 4, 24 } },
        { "empty file", "empty.srt", {}, 67, false, {}, {} },
        { "random bytes", "noise.srt", randomBytes(4096), 100, false, {}, {} },
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        ASSERT_TRUE(writeFile(path, c.bytes));
        const std::optional<QString> filter = GenSubtitlesFilter(path, "UTF-8", c.position);
        QString charset = QStringLiteral("UTF-8");
        const std::optional<QString> copy
            = GenSubtitleStreamFile(path, charset, c.position, c.trim);
        ASSERT_EQ(filter.has_value(), c.usable);
        ASSERT_EQ(copy.has_value(), c.usable);
        if (!c.usable) {
            // Random bytes are no text at all; an empty file is, but holds no subtitle.
            const QString log = sharedLogText();
            EXPECT_TRUE(log.contains(QStringLiteral("\"%1\" holds no subtitle").arg(path))
                || log.contains(QStringLiteral("\"%1\" cannot be read as UTF-8").arg(path)));
            continue;
        }
        EXPECT_TRUE(filter->endsWith(c.style)) << filter->toStdString();
        EXPECT_EQ(readAll(*copy), c.stream);
    }
}

// A subtitle stream copy ends with the picture: a cue after its end goes
// with its number and text, in files with or without blank lines between cues.
TEST(GenSubtitleStreamFile, CuesEndWithThePicture)
{
    const struct {
        const char* label;
        QByteArray srt;
        QByteArray stream;
    } cases[] = {
        { "cues over and after the end",
            "1\n00:00:00,000 --> 00:00:01,000\nFirst\n\n"
            "2\n00:00:09,500 --> 00:00:12,000\nOver the end\n\n"
            "3\n00:00:10,000 --> 00:00:11,000\nAfter\ntwo lines\n\n"
            "4\n99:00:00,000 --> 99:00:01,000\nFar\n",
            "1\n00:00:00,000 --> 00:00:01,000\nFirst\n\n"
            "2\n00:00:09,500 --> 00:00:10,000\nOver the end\n" },
        { "no blank lines, Windows lines",
            "1\r\n00:00:11,000 --> 00:00:12,000\r\nGone\r\n"
            "2\r\n00:00:01,000 --> 00:00:02,000\r\nKept\r\n",
            "2\r\n00:00:01,000 --> 00:00:02,000\r\nKept\r\n" },
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const QString path = dir.filePath("long.srt");
        ASSERT_TRUE(writeFile(path, c.srt));
        QString charset = QStringLiteral("UTF-8");
        const std::optional<QString> copy
            = GenSubtitleStreamFile(path, charset, 100, std::nullopt, 10.0);
        ASSERT_TRUE(copy.has_value());
        EXPECT_EQ(readAll(*copy), c.stream);
    }
}

// Styled text is cut to the picture and the trim as SRT is, its styles kept;
// a text of which no cue would show leaves the output without a subtitle
// (an empty path) rather than failing the engine.
TEST(GenSubtitleStreamFile, KeepsOnlyCuesThatShowInSrtAndAss)
{
    const QByteArray head = "[Script Info]\r\nScriptType: v4.00+\r\n\r\n[Events]\r\n"
                            "Format: Layer, Start, End, Style, Name, MarginL, MarginR, "
                            "MarginV, Effect, Text\r\n";
    const auto dialogue = [](const char* start, const char* end, const char* text) {
        return QByteArray("Dialogue: 0,") + start + "," + end + ",Default,,0,0,0,," + text + "\r\n";
    };
    const struct {
        const char* label;
        const char* name;
        QByteArray text;
        std::optional<Trim> trim;
        double pictureSeconds;
        QByteArray expected; // empty: no cue shows, no copy
    } cases[] = {
        { "ass cues past a 3 s picture", "a.ass",
            head + dialogue("0:00:01.00", "0:00:02.00", "One, two")
                + dialogue("5:00:00.00", "5:00:01.00", "Far")
                + dialogue("0:00:02.50", "0:00:04.00", "Over"),
            std::nullopt, 3.0,
            head + dialogue("0:00:01.00", "0:00:02.00", "One, two")
                + dialogue("0:00:02.50", "0:00:03.00", "Over") },
        { "ssa narrowed to the trim", "a.ssa",
            "[Script Info]\nScriptType: v4.00\n\n[Events]\nFormat: Marked, Start, End, Style, "
            "Text\n"
            "Dialogue: Marked=0,0:00:01.00,0:00:09.00,Default,Long\n"
            "Dialogue: Marked=0,0:00:00.00,0:00:00.50,Default,Before\n",
            Trim { 2.25, 4.5 }, 0,
            "[Script Info]\nScriptType: v4.00\n\n[Events]\nFormat: Marked, Start, End, Style, "
            "Text\n"
            "Dialogue: Marked=0,0:00:02.25,0:00:06.75,Default,Long\n"
            "Dialogue: Marked=0,0:00:00.00,0:00:00.50,Default,Before\n" },
        { "ass without a dialogue in the trim", "a.ass",
            head + dialogue("0:00:01.00", "0:00:02.00", "Early"), Trim { 5, 5 }, 30, {} },
        { "srt whose cues all lie past the end", "a.srt",
            "1\n00:00:05,000 --> 00:00:06,000\nLate\n", std::nullopt, 3.0, {} },
        { "srt without a cue in the trim", "a.srt", "1\n00:00:01,000 --> 00:00:02,000\nEarly\n",
            Trim { 5, 5 }, 30, {} },
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        ASSERT_TRUE(writeFile(path, c.text));
        QString charset = QStringLiteral("UTF-8");
        const std::optional<QString> copy
            = GenSubtitleStreamFile(path, charset, 100, c.trim, c.pictureSeconds);
        ASSERT_TRUE(copy.has_value());
        EXPECT_EQ(copy->isEmpty(), c.expected.isEmpty());
        if (!copy->isEmpty()) {
            EXPECT_EQ(readAll(*copy), c.expected);
        }
    }
}

// Burnt in after a seek, a subtitle with no cue in the trim is left out.
TEST(GenSubtitlesFilter, LeavesOutASubtitleWithoutACueInTheSeekedTrim)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("cue.srt");
    ASSERT_TRUE(writeFile(path, "1\n00:00:01,000 --> 00:00:02,000\nEarly\n"));
    EXPECT_FALSE(GenSubtitlesFilter(path, "UTF-8", 100, Trim { 5, 5 }));
    EXPECT_TRUE(sharedLogText().contains("has no cue in the part of the source"));
    EXPECT_TRUE(GenSubtitlesFilter(path, "UTF-8", 100, Trim { 1.5, 5 }));
}

// The log names a subtitle left out as the user knows it, never by our copy.
TEST(SubtitleLog, NamesTheSubtitleTheUserChose)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("cue.srt");
    ASSERT_TRUE(writeFile(path, "1\n00:00:01,000 --> 00:00:02,000\nEarly\n"));
    for (const QString& name : { QString(), QStringLiteral("stream 2 of \"/films/a.mkv\"") }) {
        const qsizetype before = sharedLogText().size();
        QString charset = QStringLiteral("UTF-8");
        EXPECT_FALSE(GenSubtitlesFilter(path, charset, 100, Trim { 5, 5 }, name));
        EXPECT_EQ(GenSubtitleStreamFile(path, charset, 100, Trim { 5, 5 }, 0, name), QString());
        const QString said = sharedLogText().mid(before);
        const QString shown = name.isEmpty() ? QStringLiteral("file \"%1\"").arg(path) : name;
        EXPECT_EQ(said.count(QStringLiteral("The subtitle %1 has no cue").arg(shown)), 2);
        EXPECT_FALSE(said.contains(QLatin1String("qzsub"))) << said.toStdString();
    }
}

struct ConcatFixture : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(writeProfile(dir.filePath("p.plist"), fullProfile()));
        QString error;
        profile = DNProfile::profileWithFile(dir.filePath("p.plist"), DNProfileTypeVideo, error);
        ASSERT_TRUE(profile) << error.toStdString();
        setConfigPath(config.outputDir, dir.path());
    }

    std::shared_ptr<DNFileNode> member(const QString& output, std::vector<float> durations)
    {
        auto node = std::make_shared<DNFileNode>(output);
        std::vector<DNTVideo> tracks;
        for (float duration : durations) {
            DNTVideo track;
            track.duration = duration;
            tracks.push_back(track);
        }
        node->setVideoTracks(tracks);
        node->setOutputName(output);
        return node;
    }

    QTemporaryDir dir;
    std::shared_ptr<DNProfile> profile;
    EncodeConfig config;
};

TEST_F(ConcatFixture, ListsTheMembersAndCopiesTheirStreams)
{
    auto first = member(QStringLiteral("/tmp/it's one.mp4"), { 10.7f });
    auto second = member(QStringLiteral("/tmp/two.mp4"), { 1.0f, 20.6f });
    second->setting().setVideoIndex(1);
    auto noVideo = member(QStringLiteral("/tmp/none.mp4"), {});
    auto group = DNFileGroupNode::fileGroupNodeWithNodes({ first, noVideo, second });
    group->setProfile(profile);
    DNNodeInfo info;
    info.displayName = QStringLiteral("Both");
    info.genre = QString();
    info.outputName = QStringLiteral("joined.mov");
    group->setNodeInfo(info);

    const ArgumentBlockPtr block = Video_Concat_With_AVEncoder(*group, 0, config);
    ASSERT_TRUE(block);
    const QStringList args = block->arguments();
    ASSERT_EQ(args.size(), 14);
    EXPECT_EQ(args.mid(0, 6), QStringList({ "encoder", "-d", "-y", "-f", "concat", "-i" }));
    EXPECT_TRUE(QFileInfo(args[6]).fileName().startsWith(QLatin1String("qzfl")));
    EXPECT_EQ(readAll(args[6]), "file '/tmp/it'\\''s one.mp4'\nfile '/tmp/two.mp4'\n");
    EXPECT_EQ(args.mid(7),
        QStringList({ "-c", "copy", "-metadata", "title=Both", "-metadata",
            "genre=", dir.filePath("joined.mp4") }));
    EXPECT_EQ(group->outputName(), dir.filePath("joined.mp4"));
    // 10.7 is cut to 10 before 20.6 is added.
    EXPECT_EQ(block->duration, 30);
}

TEST_F(ConcatFixture, RefusesWhatItCannotJoin)
{
    auto file = member(QStringLiteral("/tmp/a.mp4"), { 1.0f });
    file->setProfile(profile);
    EXPECT_FALSE(Video_Concat_With_AVEncoder(*file, 0, config)) << "not a group";

    auto badIndex = member(QStringLiteral("/tmp/b.mp4"), { 1.0f });
    badIndex->setting().setVideoIndex(4);
    auto group = DNFileGroupNode::fileGroupNodeWithNodes({ file, badIndex });
    group->setProfile(profile);
    EXPECT_FALSE(Video_Concat_With_AVEncoder(*group, 0, config)) << "video index outside";

    auto lineBreak = member(QStringLiteral("/tmp/c\n.mp4"), { 1.0f });
    group = DNFileGroupNode::fileGroupNodeWithNodes({ file, lineBreak });
    group->setProfile(profile);
    EXPECT_FALSE(Video_Concat_With_AVEncoder(*group, 0, config)) << "line break in a path";
}

TEST_F(ConcatFixture, AnUnwritableTemporaryFolderGivesNoCommand)
{
    const QByteArray saved = qgetenv("TMPDIR");
    // No file can be made in /proc, not even by root; the temporary folder
    // must still be a folder, or it would fall back to /tmp.
    qputenv("TMPDIR", "/proc");
    auto group = DNFileGroupNode::fileGroupNodeWithNodes({ member("/tmp/a.mp4", { 1.0f }) });
    group->setProfile(profile);
    const ArgumentBlockPtr block = Video_Concat_With_AVEncoder(*group, 0, config);
    qputenv("TMPDIR", saved);
    EXPECT_FALSE(block);
    EXPECT_TRUE(sharedLogText().contains("can not write concat file list to temp directory!"));
    EXPECT_TRUE(group->outputName().isEmpty());
}

} // namespace
