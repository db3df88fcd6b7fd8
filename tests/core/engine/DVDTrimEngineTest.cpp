// A DVD title trimmed as the editor trims it, converted on each road through
// convert-one: the output holds every picture of the trim and no other, its
// first picture the trim's first, the sound in step with it. A trim to the
// title's end keeps the whole rest of the title, which the fractions of its
// length put a hair short of a whole number of seconds.
#include "engine/ArgumentBlock.h"
#include "engine/EncoderCore.h"
#include "fixtures/FlashAndBeep.h"
#include "fixtures/TestDisc.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr int kRate = 25;
constexpr double kNtscRate = 30000.0 / 1001;
constexpr int kTrimStart = 2;
constexpr int kTitleSeconds = TestDisc::kFlashAndBeepFrames / kRate;
constexpr double kInStepMs = 40; // one frame
// A conversion of a few seconds of a title, on a machine as busy as the suite makes it.
constexpr int kConversionLimitMs = 300'000;
// Conversions run side by side.
constexpr std::size_t kSideBySide = 4;

// One road's conversion of a title, trimmed in whole seconds or whole.
struct TrimRun {
    const char* profile;
    int start;
    int end;
    // The flash-and-beep disc's title 1 unless another is named.
    QString disc = {};
    int title = 1;
    bool trimmed = true;
    // The profile's frame rate as its menu names it, or its own.
    const char* frameRate = nullptr;
    // The title's own rate.
    double titleRate = kRate;
};

QString describe(const TrimRun& row)
{
    return QStringLiteral("%1 title %2 of %3, %4%5")
        .arg(row.profile)
        .arg(row.title)
        .arg(row.disc.isEmpty() ? QStringLiteral("the flash-and-beep disc") : row.disc)
        .arg(row.trimmed ? QStringLiteral("trimmed %1-%2").arg(row.start).arg(row.end)
                         : QStringLiteral("whole"))
        .arg(row.frameRate ? QStringLiteral(" at %1").arg(row.frameRate) : QString());
}

std::unique_ptr<QProcess> startRun(const TrimRun& row, const QString& output)
{
    auto run = std::make_unique<QProcess>();
    QStringList arguments { "--dvd", row.disc.isEmpty() ? TestDisc::flashAndBeepFolder() : row.disc,
        "--title", QString::number(row.title), "--profile", row.profile, "--output", output };
    if (row.trimmed)
        arguments << "--trim" << QStringLiteral("%1-%2").arg(row.start).arg(row.end);
    if (row.frameRate)
        arguments << "--frame-rate" << row.frameRate;
    run->start(QStringLiteral(QUILLON_CONVERT_ONE), arguments);
    return run;
}

// The output's pictures are the kept part's, at the output's rate, its first
// a flash, every flash with its beep. A rate the list changes shows each
// picture on the output's picture nearest to it, or the one after.
void expectKeptInStep(const TrimRun& row, QProcess& run, const QDir& output)
{
    ASSERT_TRUE(run.waitForFinished(kConversionLimitMs));
    const QString printed = QString::fromUtf8(run.readAllStandardOutput());
    ASSERT_EQ(run.exitCode(), 0) << qPrintable(printed)
                                 << run.readAllStandardError().right(3000).toStdString();
    const QStringList files = output.entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1) << qPrintable(printed);
    const FlashAndBeepMeasure measure = FlashAndBeep::measure(output.filePath(files.front()));
    ASSERT_TRUE(measure.error.isEmpty()) << qPrintable(measure.error);
    const double rate = row.frameRate ? QString(row.frameRate).toDouble() : row.titleRate;
    const bool rateChanged = std::abs(rate - row.titleRate) > 0.01;
    const int keptSeconds = row.end - row.start;
    const int frames = int(std::lround(keptSeconds * rate));
    const int framesOff = rateChanged ? 1 : 0;
    EXPECT_NEAR(measure.pictureSeconds, keptSeconds, (framesOff + 2) / rate)
        << qPrintable(measure.summary());
    EXPECT_NEAR(measure.frames, frames, framesOff) << qPrintable(measure.summary());
    // The part starts on a flash.
    ASSERT_FALSE(measure.flashes.isEmpty()) << qPrintable(measure.summary());
    EXPECT_NEAR(measure.flashes.front(), measure.pictureStart, 0.5 / rate)
        << qPrintable(measure.summary());
    EXPECT_EQ(measure.pairs.size(), keptSeconds) << qPrintable(measure.summary());
    const double inStepMs = kInStepMs + (rateChanged ? 1000 / rate : 0);
    EXPECT_LT(std::abs(measure.largestOffsetMs()), inStepMs) << qPrintable(measure.summary());
}

// Converts the runs a few side by side and checks each output.
void expectTrimsKeptInStep(const std::vector<TrimRun>& table)
{
    const QString disc = TestDisc::ensureFlashAndBeep();
    ASSERT_TRUE(disc.isEmpty()) << qPrintable(disc);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (std::size_t first = 0; first < table.size(); first += kSideBySide) {
        const std::size_t end = std::min(table.size(), first + kSideBySide);
        std::vector<std::unique_ptr<QProcess>> runs;
        for (std::size_t index = first; index < end; ++index) {
            const QString output = folder.filePath(QString::number(index));
            ASSERT_TRUE(QDir().mkpath(output));
            runs.push_back(startRun(table[index], output));
        }
        for (std::size_t index = first; index < end; ++index) {
            SCOPED_TRACE(describe(table[index]).toStdString());
            expectKeptInStep(
                table[index], *runs[index - first], QDir(folder.filePath(QString::number(index))));
        }
    }
}

// mencoder's seek on a disc put the picture on a key frame and the sound
// elsewhere, and its correction then dropped pictures: the sound drifted by
// hundreds of milliseconds.
TEST(DVDTrim, TrimToTheTitlesEndKeepsTheWholeRestOnEveryRoad)
{
    // On mencoder: MP4 with H.264 and with MPEG-4 (their sound encoded by
    // the finishing stage), AVI, WMV, MPEG-2 (whose output check refused a
    // second short), MPEG-2 and AVI with the disc's own sound; and the
    // HandBrake road.
    std::vector<TrimRun> table;
    for (const char* profile :
        { "1101097", "1102069", "1103024", "1104015", "1105006", "1105004", "1103025", "1105022" })
        table.push_back({ profile, kTrimStart, kTitleSeconds });
    expectTrimsKeptInStep(table);
}

// A trim that ends inside the title ends with its last picture.
TEST(DVDTrim, TrimInsideTheTitleKeepsItsPicturesInStepOnTheMencoderRoads)
{
    expectTrimsKeptInStep({ { "1101097", 3, 9 }, { "1103024", 3, 9 }, { "1105006", 1, 7 },
        { "1105004", 3, 9 }, { "1105005", 1, 7 }, { "1103025", 3, 9 } });
}

// A title of two files, its clock restarting with the second, 6 s in: an edit
// list on the clock of the title's start reached no picture after the
// restart (the output lasted 0 s, or mencoder crashed). A trim after the
// restart, one across it and one from it keep their range.
TEST(DVDTrim, ATitleWhoseClockRestartsKeepsItsRange)
{
    const QString shapes = TestDisc::ensureFlashAndBeepShapes();
    ASSERT_TRUE(shapes.isEmpty()) << qPrintable(shapes);
    const QString disc = TestDisc::flashAndBeepShapesFolder();
    constexpr int kRestartedTitle = 4;
    std::vector<TrimRun> table;
    for (const char* profile : { "1103024", "1101097", "1105004", "1105006" })
        table.push_back({ profile, 8, 11, disc, kRestartedTitle });
    table.push_back({ "1101097", 4, 9, disc, kRestartedTitle });
    table.push_back({ "1105006", 6, 9, disc, kRestartedTitle });
    expectTrimsKeptInStep(table);
}

// A profile whose frame rate is not the title's: mencoder repeats or drops
// pictures to make it, which it cannot while it is kept from dropping any,
// and counts "-frames" in the pictures it encodes. A PAL title at 29.97 and
// an NTSC one at 25 keep their trim's length, whole or trimmed.
TEST(DVDTrim, AFrameRateOtherThanTheTitlesKeepsTheTrimsLength)
{
    const QString shapes = TestDisc::ensureFlashAndBeepShapes();
    ASSERT_TRUE(shapes.isEmpty()) << qPrintable(shapes);
    const QString ntsc = TestDisc::flashAndBeepNtscFolder();
    std::vector<TrimRun> table;
    for (const char* profile : { "1103024", "1101097", "1105006" })
        table.push_back({ profile, 3, 9, {}, 1, true, "29.97" });
    table.push_back({ "1104015", 0, kTitleSeconds, {}, 1, false, "29.97" });
    for (const char* profile : { "1103024", "1105004" })
        table.push_back({ profile, 3, 9, ntsc, 1, true, "25", kNtscRate });
    table.push_back({ "1101097", 3, 9, ntsc, 1, true, nullptr, kNtscRate });
    expectTrimsKeptInStep(table);
}

// Titles whose sound is MPEG audio, on every road, whole and trimmed (within
// the title and to its end): mencoder's seek left the sound 474 ms late and
// spun at a trim's end, and a copy of the whole title lost the sound's
// first packet (86 ms early). Also a disc whose clock starts at 0.24 s and
// one whose sound starts 35 ms after its picture.
TEST(DVDTrim, MpegAudioTitlesKeepTheirSoundInStepOnEveryRoad)
{
    const QString shapes = TestDisc::ensureFlashAndBeepShapes();
    ASSERT_TRUE(shapes.isEmpty()) << qPrintable(shapes);
    const QString disc = TestDisc::flashAndBeepShapesFolder();
    constexpr int kShapeSeconds = 10;
    enum { kMpegAudio = 1, kEarlyClock = 2, kLateSound = 3 };
    std::vector<TrimRun> table;
    for (const char* profile :
        { "1101097", "1102069", "1103024", "1104015", "1105006", "1105004", "1103025" })
        table.push_back({ profile, 3, 7, disc, kMpegAudio });
    for (const char* profile : { "1105004", "1103025", "1101097" }) {
        table.push_back({ profile, 0, kShapeSeconds, disc, kMpegAudio, false });
        table.push_back({ profile, 2, kShapeSeconds, disc, kMpegAudio });
        table.push_back({ profile, 2, kShapeSeconds, disc, kEarlyClock });
    }
    for (const char* profile : { "1105004", "1103024", "1101097" }) {
        table.push_back({ profile, 0, kShapeSeconds, disc, kLateSound, false });
        table.push_back({ profile, 3, 7, disc, kLateSound });
    }
    expectTrimsKeptInStep(table);
}

// The editor's trims fall between pictures: its fractions of the title's
// length give milliseconds. The bridge keeps the pictures whose time lies in
// the trim, the first of them the first after its start.
TEST(DVDTrim, ATrimBetweenPicturesKeepsThePicturesInsideIt)
{
    const QString disc = TestDisc::ensureFlashAndBeep();
    ASSERT_TRUE(disc.isEmpty()) << qPrintable(disc);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString chain = QStringLiteral("pp,scale=720:-2,eq2=1:1:0:1,harddup,fixpts");
    struct Trim {
        const char* start;
        const char* length;
        int firstFrame; // the title's frames, counted from 0
        int frames;
    };
    // 2.51 s lies just past frame 62 (2.48 s), 1.79 s just short of frame 45.
    const Trim trims[] = { { "2.510", "5.250", 63, 131 }, { "1.790", "8.210", 45, 205 } };
    for (const Trim& trim : trims) {
        SCOPED_TRACE(trim.start);
        const QString output = folder.filePath(QStringLiteral("%1.avi").arg(trim.start));
        ArgumentWriter writer("trim test");
        for (const QString& word : QStringList { "encoder", "dvd://1", "-dvd-device",
                 TestDisc::flashAndBeepFolder(), "-ss", trim.start, "-of", "avi", "-ovc", "lavc",
                 "-lavcopts", "vcodec=mpeg4:vbitrate=2000", "-vf", chain, "-aid", "128",
                 "-channels", "2", "-oac", "mp3lame", "-o", output, "-endpos", trim.length })
            writer.add(word);
        const ArgumentBlockPtr block
            = writer.finish(static_cast<int>(QString(trim.length).toDouble()));
        ASSERT_TRUE(block);
        ASSERT_EQ(EncoderCoreEncode(block->argc, block->argv.data(), block->duration), 0)
            << qPrintable(EncoderCoreLastFailure());
        const FlashAndBeepMeasure measure = FlashAndBeep::measure(output);
        ASSERT_TRUE(measure.error.isEmpty()) << qPrintable(measure.error);
        EXPECT_EQ(measure.frames, trim.frames) << qPrintable(measure.summary());
        ASSERT_FALSE(measure.flashes.isEmpty()) << qPrintable(measure.summary());
        // The flashes are at the title's whole seconds.
        const int firstFlashFrame = (trim.firstFrame + kRate - 1) / kRate * kRate;
        EXPECT_NEAR(measure.flashes.front() - measure.pictureStart,
            double(firstFlashFrame - trim.firstFrame) / kRate, 0.5 / kRate)
            << qPrintable(measure.summary());
        EXPECT_LT(std::abs(measure.largestOffsetMs()), kInStepMs) << qPrintable(measure.summary());
    }
}

// The onsets of the beeps in a file's sound, in seconds from its start, and
// the sound's length.
struct BeepOnsets {
    QVector<double> onsets;
    double seconds = 0;
};

BeepOnsets beepOnsetsOf(const QString& path)
{
    constexpr int kSampleRate = 48000;
    constexpr int kLoud = 3000; // of 32767: a beep, well above the encoder's noise
    QProcess decoder;
    decoder.start(QStringLiteral("ffmpeg"),
        { "-v", "error", "-i", path, "-ac", "1", "-ar", QString::number(kSampleRate), "-f", "s16le",
            "-" });
    decoder.waitForFinished(kConversionLimitMs);
    const QByteArray bytes = decoder.readAllStandardOutput();
    const auto* samples = reinterpret_cast<const qint16*>(bytes.constData());
    const qsizetype count = bytes.size() / qsizetype(sizeof(qint16));
    BeepOnsets found { {}, double(count) / kSampleRate };
    qsizetype lastLoud = -kSampleRate;
    for (qsizetype at = 0; at < count; ++at) {
        if (std::abs(int(samples[at])) < kLoud)
            continue;
        // The beeps lie a second apart; a beep's own waves are not new onsets.
        if (at - lastLoud > kSampleRate / 2)
            found.onsets.push_back(double(at) / kSampleRate);
        lastLoud = at;
    }
    return found;
}

// The sound-only list copies the disc's sound as it is: a trim starts on
// the sound at its start, and every beep lies on one of the trim's whole
// seconds, as the picture's flashes would; AC-3 and MPEG audio alike, and
// after a restart of the disc's clock.
TEST(DVDTrim, ASoundOnlyCopyStartsAtTheTrimsStart)
{
    const QString made = TestDisc::ensureFlashAndBeep() + TestDisc::ensureFlashAndBeepShapes();
    ASSERT_TRUE(made.isEmpty()) << qPrintable(made);
    const struct {
        QString disc;
        int title;
        int start;
        int end;
    } trims[] = { { TestDisc::flashAndBeepFolder(), 1, 3, 9 },
        { TestDisc::flashAndBeepShapesFolder(), 1, 3, 9 },
        { TestDisc::flashAndBeepShapesFolder(), 4, 8, 11 } };
    for (const auto& trim : trims) {
        SCOPED_TRACE(QStringLiteral("title %1 of %2").arg(trim.title).arg(trim.disc).toStdString());
        QTemporaryDir folder;
        ASSERT_TRUE(folder.isValid());
        QProcess run;
        run.start(QStringLiteral(QUILLON_CONVERT_ONE),
            { "--dvd", trim.disc, "--title", QString::number(trim.title), "--trim",
                QStringLiteral("%1-%2").arg(trim.start).arg(trim.end), "--profile", "1105020",
                "--output", folder.path() });
        ASSERT_TRUE(run.waitForFinished(kConversionLimitMs));
        ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().right(3000).toStdString();
        const QStringList files = QDir(folder.path()).entryList(QDir::Files);
        ASSERT_EQ(files.size(), 1);
        const BeepOnsets beeps = beepOnsetsOf(QDir(folder.path()).filePath(files.front()));
        const int keptSeconds = trim.end - trim.start;
        constexpr double kInStep = kInStepMs / 1000;
        EXPECT_NEAR(beeps.seconds, keptSeconds, kInStep);
        // The sound's last frame may hold the onset of the beep at the trim's end.
        ASSERT_GE(beeps.onsets.size(), keptSeconds);
        for (int second = 0; second < beeps.onsets.size(); ++second)
            EXPECT_NEAR(beeps.onsets[second], std::min(second, keptSeconds), kInStep) << second;
    }
}

// A trim the editor could not set is refused before anything is converted,
// instead of the whole title being converted.
TEST(DVDTrim, ConvertOneRefusesATrimOutsideTheTitle)
{
    const QString disc = TestDisc::ensureFlashAndBeep();
    ASSERT_TRUE(disc.isEmpty()) << qPrintable(disc);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString pastTheEnd = QStringLiteral("%1-%2").arg(kTrimStart).arg(kTitleSeconds + 1);
    for (const QString& trim : { pastTheEnd, QStringLiteral("3-2"), QStringLiteral("1.5-4") }) {
        SCOPED_TRACE(trim.toStdString());
        QProcess run;
        run.start(QStringLiteral(QUILLON_CONVERT_ONE),
            { "--dvd", TestDisc::flashAndBeepFolder(), "--title", "1", "--trim", trim, "--profile",
                "1105022", "--output", folder.path() });
        ASSERT_TRUE(run.waitForFinished(kConversionLimitMs));
        EXPECT_EQ(run.exitCode(), 2) << run.readAllStandardError().toStdString();
        EXPECT_TRUE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}

} // namespace
