// Subtitles on their way into real outputs, judged by what the outputs hold:
// a subtitle stream's text read back, the picture where a cue is drawn, the
// picture's length, and what a failed run says.
#include "core/engine/ProfileRunTest.h"
#include "core/profiles/ProfileTestSupport.h"
#include "engine/DNVideoConverter.h"
#include "platform/AppPaths.h"
#include "services/DNSetting.h"

#include <QDir>
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
