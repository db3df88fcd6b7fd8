// Subtitles on their way into real outputs, judged by what the outputs hold:
// a subtitle stream's text read back, the picture where a cue is drawn, the
// picture's length, and what a failed run says.
#include "core/engine/ProfileRunTest.h"
#include "core/profiles/ProfileTestSupport.h"
#include "engine/DNVideoConverter.h"
#include "platform/AppPaths.h"
#include "services/DNSetting.h"
#include "services/SubtitleCharset.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QStringEncoder>

#include <sys/stat.h>

namespace {

// What ffmpeg (or ffprobe) writes on its standard output.
QByteArray outputOf(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, QStringList { "-v", "error" } + arguments);
    return process.waitForFinished(120'000) ? process.readAllStandardOutput() : QByteArray();
}

QString subtitleText(const QString& path)
{
    return QString::fromUtf8(outputOf("ffmpeg", { "-i", path, "-map", "0:s:0", "-f", "srt", "-" }));
}

// Share of bright (drawn) pixels between two heights, as fractions, of a
// frame of a dark picture.
double brightShare(const QString& path, double top, double bottom)
{
    const QImage frame = QImage::fromData(outputOf("ffmpeg",
        { "-ss", "0.5", "-i", path, "-frames:v", "1", "-c:v", "png", "-f", "image2pipe", "-" }));
    int bright = 0;
    const int first = int(frame.height() * top), last = int(frame.height() * bottom);
    for (int y = first; y < last; ++y)
        for (int x = 0; x < frame.width(); ++x)
            bright += qGray(frame.pixel(x, y)) > 160 ? 1 : 0;
    return double(bright) / std::max(1, (last - first) * frame.width());
}

using SubtitleOutputs = ProfileRunTest;

// Older character sets reach the output in their own letters, as a stream
// or drawn, chosen in the editor or found beside the movie.
TEST_F(SubtitleOutputs, OlderCharacterSetsReachEveryOutputInTheirOwnLetters)
{
    const QString russian = QStringLiteral("Привет, мир! Как дела? Хорошо, спасибо, друг.");
    const QString french = QStringLiteral("Ça a été très élégant, déjà vu à l'hôtel près du café.");
    const QString chinese = QStringLiteral("你好，世界！今天天气很好，我们去公园散步吧。");
    const struct {
        const char* charset;
        QString text;
        const char* profile; // MKV keeps a stream, the others draw
        bool beside = false; // found beside the movie, not chosen in the editor
    } cases[] = {
        { "windows-1251", russian, "MKV Video (H.264)" },
        { "windows-1251", russian, "MKV Video (H.264)", true },
        { "ISO-8859-1", french, "MKV Video (H.264)" },
        { "GBK", chinese, "MKV Video (H.264)" },
        { "windows-1251", russian, "FLV Video" },
        { "ISO-8859-1", french, "PAL DVD Video" },
        { "GBK", chinese, "ASF Video" },
    };
    const QString movie = dir.filePath("movie.mp4"), beside = dir.filePath("beside.mp4");
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "color=c=0x203050:s=320x240:r=25:d=1", "-c:v",
        "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", movie }));
    ASSERT_TRUE(QFile::copy(movie, beside));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.charset) + " " + c.profile);
        const QString srt = c.beside ? dir.filePath("beside.srt") : dir.filePath("chosen.srt");
        ASSERT_TRUE(writeFile(srt,
            QStringEncoder(c.charset)("1\n00:00:00,000 --> 00:00:00,500\n" + c.text
                + "\n\n2\n00:00:00,500 --> 00:00:01,000\n" + c.text + "\n")));
        const auto node = load(c.beside ? beside : movie, c.profile);
        ASSERT_TRUE(node);
        node->setEnableSubtitleEdit(true);
        if (!c.beside)
            node->addExtraSubtitle(srt);
        node->selectSubtitleAtIndex(0, true);
        ASSERT_TRUE(convert(node));
        if (QString(c.profile).startsWith("MKV")) {
            EXPECT_EQ(subtitleText(node->outputName()).count(c.text), 2);
        } else {
            EXPECT_GT(brightShare(node->outputName(), 0.67, 1.0), 0.005);
            EXPECT_LT(brightShare(node->outputName(), 0.0, 0.5), 0.0005);
        }
    }
}

// A picture subtitle whose cues go on after the movie's last picture: the
// output's picture is as long as the movie's, frame for frame.
TEST_F(SubtitleOutputs, ABurntPictureSubtitleEndsWithTheMovie)
{
    // 2 s of picture (50 frames) with its cues moved to 1.7 s to 3.4 s.
    const QString late = dir.filePath("late.mkv");
    const QString source = TestMedia::path(TestMedia::kPictureSubtitle);
    ASSERT_TRUE(runFfmpeg({ "-i", source, "-itsoffset", "1.6", "-i", source, "-map", "0:v", "-map",
        "1:s", "-c", "copy", late }));
    for (const char* profile : { "PAL DVD Video", "FLV Video", "ASF Video" }) {
        SCOPED_TRACE(profile);
        const auto node = load(late, profile);
        ASSERT_TRUE(node);
        node->setEnableSubtitleEdit(true);
        node->selectSubtitleAtIndex(0, false);
        ASSERT_TRUE(convert(node));
        const QByteArray frames = outputOf("ffprobe",
            { "-count_frames", "-select_streams", "v", "-show_entries", "stream=nb_read_frames",
                "-of", "csv=p=0", node->outputName() });
        EXPECT_EQ(frames.split(',').front().trimmed().toInt(), 50);
    }
}

// A styled cue on screen when the trim starts between two hundredths of a
// second is kept, as it is when the start falls on one.
TEST_F(SubtitleOutputs, AStyledCueOnScreenAtTheTrimsStartIsKept)
{
    const QString ass = dir.filePath("cue.ass");
    ASSERT_TRUE(writeFile(ass,
        "[Script Info]\nScriptType: v4.00+\n\n[Events]\nFormat: Layer, Start, End, Style, Name, "
        "MarginL, MarginR, MarginV, Effect, Text\n"
        "Dialogue: 0,0:00:00.50,0:00:01.50,Default,,0,0,0,,Cue A\n"));
    for (const double start : { 1.230, 1.234 }) {
        SCOPED_TRACE(start);
        const auto node = load(TestMedia::path(TestMedia::kBoxClock), "MKV Video (H.264)");
        ASSERT_TRUE(node);
        node->setEnableSubtitleEdit(true);
        node->addExtraSubtitle(ass);
        node->selectSubtitleAtIndex(0, true);
        const double length = node->selectedVideoTrack()->duration;
        node->setting().setTrimEnable(true);
        node->setting().setTrimStartPercent(float(start / length));
        node->setting().setTrimEndPercent(float(2.345 / length));
        ASSERT_TRUE(convert(node));
        EXPECT_TRUE(subtitleText(node->outputName()).contains("Cue A"));
    }
}

// Takes the builder's copies of the subtitle away as the engine starts.
void removeSubtitleCopies(int, void*)
{
    const QDir temporary(AppPaths::temporaryFolder());
    for (const QString& copy : temporary.entryList({ "qzsub*" }, QDir::Files))
        QFile::remove(temporary.filePath(copy));
}

// A run that fails over its subtitle names it as the user chose it.
TEST_F(SubtitleOutputs, ARunThatFailsOverItsSubtitleNamesIt)
{
    const QString srt = dir.filePath("chosen.srt");
    ASSERT_TRUE(writeFile(srt, "1\n00:00:00,000 --> 00:00:01,000\nHello\n"));
    DNVideoConverterUseProgramAssemblerTables();
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(dir.path());
    for (const char* profile : { "MKV Video (H.264)", "FLV Video" }) {
        const auto node = load(TestMedia::path(TestMedia::kVideoWithAudio), profile);
        ASSERT_TRUE(node);
        node->setEnableSubtitleEdit(true);
        node->addExtraSubtitle(srt);
        node->selectSubtitleAtIndex(0, true);
        EXPECT_NE(DNVideoConverterStart(node, 0, &removeSubtitleCopies, nullptr), 0);
        EXPECT_TRUE(DNVideoConverterLastFailure().contains(
            QStringLiteral("The run read the subtitle file \"%1\".").arg(srt)))
            << profile << ": " << DNVideoConverterLastFailure().toStdString();
    }
}

// A subtitle of a few letters in an older set reaches the MKV in its own
// letters where its language is known (its name's tag, the editor's choice)
// or its letters tell it; where they could be another alphabet's, the run
// fails naming the file rather than going without it or with other letters.
TEST_F(SubtitleOutputs, AFewLettersInAnOlderSetReachTheOutputOrTheRunFailsNamingTheFile)
{
    const struct {
        QString text;
        const char* set;
        const char* fileName;
        const char* chosen; // the editor's language
        bool converts;
    } cases[] = {
        { QStringLiteral("Нет!"), "windows-1251", "no.srt", "en", true },
        { QStringLiteral("Жёлтый"), "windows-1251", "yellow.ru.srt", "en", true },
        { QStringLiteral("你好"), "GBK", "hello.srt", "zh-Hans", true },
        { QStringLiteral("Жёлтый"), "windows-1251", "yellow.srt", "en", false },
        { QStringLiteral("你好"), "GBK", "hello.srt", "en", false },
    };
    DNVideoConverterUseProgramAssemblerTables();
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(dir.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString() + " in " + c.fileName + ", " + c.chosen);
        const QString srt = dir.filePath(QString::fromLatin1(c.fileName));
        ASSERT_TRUE(writeFile(
            srt, QStringEncoder(c.set)("1\n00:00:00,000 --> 00:00:01,000\n" + c.text + "\n")));
        const auto node = load(TestMedia::path(TestMedia::kVideoWithAudio), "MKV Video (H.264)");
        ASSERT_TRUE(node);
        node->setEnableSubtitleEdit(true);
        node->addExtraSubtitle(srt);
        node->setExtraSubtitleLanguage(QString::fromLatin1(c.chosen));
        node->selectSubtitleAtIndex(0, true);
        const int status = DNVideoConverterStart(node, 0, nullptr, nullptr);
        if (c.converts) {
            ASSERT_EQ(status, 0) << DNVideoConverterLastFailure().toStdString();
            EXPECT_EQ(subtitleText(node->outputName()).count(c.text), 1)
                << subtitleText(node->outputName()).toStdString();
        } else {
            EXPECT_NE(status, 0);
            EXPECT_TRUE(DNVideoConverterLastFailure().contains(
                QStringLiteral("The subtitle file \"%1\" cannot be used: its character set "
                               "cannot be told")
                    .arg(srt)))
                << DNVideoConverterLastFailure().toStdString();
        }
    }
}

// `text` in the character set `set`, as the C library's converter writes it.
QByteArray inSet(const char* set, const QString& text)
{
    QProcess iconv;
    iconv.start(QStringLiteral("iconv"), { "-f", "UTF-8", "-t", set });
    iconv.write(text.toUtf8());
    iconv.closeWriteChannel();
    return iconv.waitForFinished(60'000) && iconv.exitCode() == 0 ? iconv.readAllStandardOutput()
                                                                  : QByteArray();
}

// An SRT text of one cue for each line, a tenth of a second each.
QString cuesOf(const QStringList& lines)
{
    QString srt;
    for (qsizetype at = 0; at < lines.size(); ++at)
        srt += QStringLiteral("%1\n00:00:00,%2 --> 00:00:00,%3\n%4\n\n")
                   .arg(at + 1)
                   .arg(at * 100, 3, 10, QLatin1Char('0'))
                   .arg(at * 100 + 90, 3, 10, QLatin1Char('0'))
                   .arg(lines[at]);
    return srt;
}

// Subtitle files of the kinds that ended with other letters or none at all:
// each reaches the MKV in its own letters (read back from its stream), or
// the run fails naming the file and saying why, in words that can help.
TEST_F(SubtitleOutputs, EveryTextFileReachesTheOutputInItsOwnLettersOrTheRunSaysWhy)
{
    const QString polish = QStringLiteral("Mąka, ręka, łąka i żółw.");
    const QString russian = QStringLiteral("Привет, как дела?");
    const QString english = QStringLiteral("Hello there, friend.");
    const QString japanese = QStringLiteral("{\\an8}日本語の字幕です。");
    const QString path = QStringLiteral("C:\\映画\\字幕~1.srt");
    const QString korean = QStringLiteral("똠얌꿍이 정말 맛있어요.");
    // UTF-16 without its mark, a character in the middle cut in half.
    const QByteArray utf16 = QStringEncoder(QStringConverter::Utf16LE)(cuesOf({ russian }));
    const qsizetype half = utf16.size() / 4 * 2;
    const struct {
        const char* fileName;
        QByteArray bytes;
        QStringList lines; // read back, each as often as it is in the file
        const char* said = nullptr; // in the failure, where the run fails
        bool adviseLanguage = false; // whether the failure says to name the language
    } cases[] = {
        { "jp.srt", inSet("CP932", cuesOf({ japanese, path })), { "日本語の字幕です。", path } },
        { "jp-ms.srt", inSet("EUC-JP-MS", cuesOf({ "①日本語の字幕です。", "②次の行です。" })),
            { "①日本語の字幕です。", "②次の行です。" } },
        { "pl.srt", inSet("CP1250", cuesOf({ polish, polish })), { polish, polish } },
        { "film.pl.srt", inSet("CP1250", cuesOf({ polish, polish })), { polish, polish } },
        { "pl8.srt", inSet("CP1250", cuesOf(QStringList(8, polish))), QStringList(8, polish) },
        { "film8.pl.srt", inSet("CP1250", cuesOf(QStringList(8, polish))), QStringList(8, polish) },
        { "el.srt", inSet("CP1253", cuesOf({ "Άλφα και Ωμέγα" })), { "Άλφα και Ωμέγα" } },
        { "ko.srt", inSet("CP949", cuesOf({ korean, "감사합니다. 내일 봐요." })),
            { korean, "감사합니다. 내일 봐요." } },
        { "film.zh.srt", inSet("CP1251", cuesOf({ "Да." })), { "Да." } },
        { "le.srt", inSet("UTF-16LE", cuesOf({ russian })), { russian } },
        { "be.srt", inSet("UTF-16BE", cuesOf({ russian })), { russian } },
        { "ascii-le.srt", inSet("UTF-16LE", cuesOf({ english })), { english } },
        { "ascii-be.srt", inSet("UTF-16BE", cuesOf({ english })), { english } },
        { "empty.srt", {}, {}, "holds no subtitle: it is empty" },
        { "mark.srt", "\xEF\xBB\xBF", {}, "nothing but a byte-order mark" },
        { "words.srt", "Some words and no cue\n", {}, "holds no subtitle the engine can read" },
        { "big5.srt", inSet("BIG5", cuesOf({ "謝謝" })), {},
            "a line this short cannot tell its set", true },
        { "euc-kr.srt", inSet("EUC-KR", cuesOf({ "감사" })), {},
            "a line this short cannot tell its set", true },
        { "broken.srt", utf16.left(half) + QByteArray("\x00\xD8", 2) + utf16.mid(half), {},
            "it holds NUL bytes" },
    };
    const QString movie = dir.filePath("movie.mp4");
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "color=c=0x203050:s=320x240:r=25:d=1", "-c:v",
        "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", movie }));
    DNVideoConverterUseProgramAssemblerTables();
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(dir.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileName);
        const QString srt = dir.filePath(QString::fromLatin1(c.fileName));
        ASSERT_TRUE(writeFile(srt, c.bytes));
        const auto node = load(movie, "MKV Video (H.264)");
        ASSERT_TRUE(node);
        node->setEnableSubtitleEdit(true);
        node->addExtraSubtitle(srt);
        node->selectSubtitleAtIndex(0, true);
        const int status = DNVideoConverterStart(node, 0, nullptr, nullptr);
        const QString failure = DNVideoConverterLastFailure();
        if (!c.said) {
            EXPECT_EQ(status, 0) << failure.toStdString();
            const QString text = subtitleText(node->outputName());
            for (const QString& line : c.lines)
                EXPECT_EQ(text.count(line), c.lines.count(line)) << text.toStdString();
            continue;
        }
        EXPECT_NE(status, 0);
        EXPECT_TRUE(failure.contains('"' + srt + '"')) << failure.toStdString();
        EXPECT_TRUE(failure.contains(QLatin1String(c.said))) << failure.toStdString();
        EXPECT_EQ(failure.contains(QLatin1String("Name its language")), c.adviseLanguage)
            << failure.toStdString();
    }
}

// A subtitle whose cues all lie outside the trimmed part cannot show: the
// run fails saying so, rather than make an output without it.
TEST_F(SubtitleOutputs, ASubtitleWithoutACueInTheTrimFailsTheRun)
{
    const QString srt = dir.filePath("early.srt");
    ASSERT_TRUE(writeFile(srt, "1\n00:00:00,000 --> 00:00:01,000\nEarly\n"));
    DNVideoConverterUseProgramAssemblerTables();
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(dir.path());
    for (const char* profile : { "MKV Video (H.264)", "FLV Video" }) {
        SCOPED_TRACE(profile);
        const auto node = load(TestMedia::path(TestMedia::kBoxClock), profile);
        ASSERT_TRUE(node);
        node->setEnableSubtitleEdit(true);
        node->addExtraSubtitle(srt);
        node->selectSubtitleAtIndex(0, true);
        const double length = node->selectedVideoTrack()->duration;
        node->setting().setTrimEnable(true);
        node->setting().setTrimStartPercent(float(5 / length));
        node->setting().setTrimEndPercent(float(7 / length));
        EXPECT_NE(DNVideoConverterStart(node, 0, nullptr, nullptr), 0);
        EXPECT_EQ(DNVideoConverterLastFailure(),
            QStringLiteral("The subtitle file \"%1\" has no cue in the part of the source that is "
                           "converted.")
                .arg(srt));
    }
}

// A file of one-byte letters just under the size limit, whose UTF-8 copy is
// over it, reaches the output: the limit is the user's file's, not our copy's.
TEST_F(SubtitleOutputs, AFileJustUnderTheSizeLimitReachesTheOutput)
{
    const QString first = QStringLiteral("Привет, мир!");
    QString text = "1\n00:00:00,000 --> 00:00:00,900\n" + first + "\n\n";
    const QString filler = QStringLiteral("Длинная строка субтитров, только буквы кириллицы.");
    for (int cue = 2; text.size() < 14'500'000; ++cue)
        text += QStringLiteral("%1\n01:00:00,000 --> 01:00:01,000\n%2\n\n").arg(cue).arg(filler);
    const QString srt = dir.filePath("large.srt");
    ASSERT_TRUE(writeFile(srt, QStringEncoder("windows-1251")(text)));
    ASSERT_LT(QFileInfo(srt).size(), kMostSubtitleBytes);
    DNVideoConverterUseProgramAssemblerTables();
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(dir.path());
    const auto node = load(TestMedia::path(TestMedia::kVideoWithAudio), "MKV Video (H.264)");
    ASSERT_TRUE(node);
    node->setEnableSubtitleEdit(true);
    node->addExtraSubtitle(srt);
    node->selectSubtitleAtIndex(0, true);
    ASSERT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), 0)
        << DNVideoConverterLastFailure().toStdString();
    EXPECT_EQ(subtitleText(node->outputName()).count(first), 1);
}

// A Japanese cue that asks for the top of the picture ("{\an8}") is drawn
// there: its backslash survives the reading of its set.
TEST_F(SubtitleOutputs, AJapaneseCuesPlacementIsDrawn)
{
    const QString srt = dir.filePath("top.srt");
    ASSERT_TRUE(writeFile(srt,
        inSet("CP932",
            cuesOf({ QStringLiteral("{\\an8}上に表示される字幕です。"),
                QStringLiteral("{\\an8}上に表示される字幕です。"), "{\\an8}ABCDEFGHIJKLMN",
                "{\\an8}ABCDEFGHIJKLMN", "{\\an8}ABCDEFGHIJKLMN", "{\\an8}ABCDEFGHIJKLMN",
                "{\\an8}ABCDEFGHIJKLMN", "{\\an8}ABCDEFGHIJKLMN", "{\\an8}ABCDEFGHIJKLMN" }))));
    const QString movie = dir.filePath("dark.mp4");
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "color=c=0x203050:s=320x240:r=25:d=1", "-c:v",
        "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", movie }));
    const auto node = load(movie, "FLV Video");
    ASSERT_TRUE(node);
    node->setEnableSubtitleEdit(true);
    node->addExtraSubtitle(srt);
    node->selectSubtitleAtIndex(0, true);
    ASSERT_TRUE(convert(node));
    EXPECT_GT(brightShare(node->outputName(), 0.0, 0.33), 0.005);
    EXPECT_LT(brightShare(node->outputName(), 0.5, 1.0), 0.0005);
}

// convert-one takes the editor's choices and says why the loader refuses a file.
TEST_F(SubtitleOutputs, ConvertOneTakesTheEditorsChoicesAndSaysWhyItRefusesAFile)
{
    const QString srt = dir.filePath("late.srt");
    ASSERT_TRUE(writeFile(srt, "1\n00:00:02,500 --> 00:00:02,800\nLate cue\n"));
    const QString fifo = dir.filePath("fifo.mp4");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString tracks = TestMedia::path(TestMedia::kTwoAudioAndText);
    const struct {
        QStringList arguments;
        int status;
        const char* said; // in the output's subtitle, or the complaint
    } cases[] = {
        // A second of a 30 s clip, which its fractions give back a hair short.
        { { "--trim", "2.000-3", "--subtitle", srt, TestMedia::path(TestMedia::kBoxClock) }, 0,
            "Late cue" },
        // Under a second: refused, where the whole clip was converted.
        { { "--trim", "1.2-1.5", TestMedia::path(TestMedia::kBoxClock) }, 2,
            "the trim from 1.2 s to 1.5 s keeps 0.3 s" },
        { { "--subtitle-track", "1", tracks }, 0, "World" },
        { { "--subtitle-track", "2", tracks }, 2, "has no subtitle track 2" },
        { { fifo }, 1, "it is not a regular file" },
        { { "/dev/zero" }, 1, "it is not a regular file" },
        { { dir.path() }, 1, "it is a folder" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess process;
        process.start(QStringLiteral(QUILLON_CONVERT_ONE),
            QStringList { "--profile", "2102", "--output", dir.filePath("out") } + c.arguments);
        ASSERT_TRUE(process.waitForFinished(120'000));
        EXPECT_EQ(process.exitCode(), c.status);
        const QString printed = QString::fromUtf8(
            c.status == 0 ? process.readAllStandardOutput() : process.readAllStandardError());
        const QString output = printed.section("output: ", -1).section('\n', 0, 0);
        EXPECT_TRUE((c.status == 0 ? subtitleText(output) : printed).contains(c.said));
        if (c.status == 0) {
            EXPECT_NEAR(
                MediaFacts::probe(output).duration, c.arguments[0] == "--trim" ? 1 : 2, kSlack);
        }
    }
}

} // namespace
