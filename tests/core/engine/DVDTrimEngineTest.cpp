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
constexpr int kTrimStart = 2;
constexpr int kTitleSeconds = TestDisc::kFlashAndBeepFrames / kRate;
constexpr double kInStepMs = 40; // one frame
// A conversion of a few seconds of a title, on a machine as busy as the suite makes it.
constexpr int kConversionLimitMs = 300'000;

// One road's conversion of a trim of title 1, in whole seconds.
struct TrimRun {
    const char* profile;
    int start;
    int end;
};

// Converts every run side by side and checks each output.
void expectTrimsKeptInStep(const std::vector<TrimRun>& table)
{
    const QString disc = TestDisc::ensureFlashAndBeep();
    ASSERT_TRUE(disc.isEmpty()) << qPrintable(disc);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    std::vector<std::unique_ptr<QProcess>> runs;
    for (const TrimRun& row : table) {
        auto run = std::make_unique<QProcess>();
        const QString output = folder.filePath(row.profile);
        ASSERT_TRUE(QDir().mkpath(output));
        run->start(QStringLiteral(QUILLON_CONVERT_ONE),
            { "--dvd", TestDisc::flashAndBeepFolder(), "--title", "1", "--trim",
                QStringLiteral("%1-%2").arg(row.start).arg(row.end), "--profile", row.profile,
                "--output", output });
        runs.push_back(std::move(run));
    }
    for (std::size_t index = 0; index < runs.size(); ++index) {
        const TrimRun& row = table[index];
        SCOPED_TRACE(row.profile);
        QProcess& run = *runs[index];
        ASSERT_TRUE(run.waitForFinished(kConversionLimitMs));
        const QString printed = QString::fromUtf8(run.readAllStandardOutput());
        ASSERT_EQ(run.exitCode(), 0)
            << qPrintable(printed) << run.readAllStandardError().right(3000).toStdString();
        const QDir output(folder.filePath(row.profile));
        const QStringList files = output.entryList(QDir::Files);
        ASSERT_EQ(files.size(), 1) << qPrintable(printed);
        const FlashAndBeepMeasure measure = FlashAndBeep::measure(output.filePath(files.front()));
        ASSERT_TRUE(measure.error.isEmpty()) << qPrintable(measure.error);
        const int keptSeconds = row.end - row.start;
        EXPECT_NEAR(measure.pictureSeconds, keptSeconds, 2.0 / kRate)
            << qPrintable(measure.summary());
        EXPECT_EQ(measure.frames, keptSeconds * kRate) << qPrintable(measure.summary());
        // The trim starts on a flash.
        ASSERT_FALSE(measure.flashes.isEmpty()) << qPrintable(measure.summary());
        EXPECT_NEAR(measure.flashes.front(), measure.pictureStart, 0.5 / kRate)
            << qPrintable(measure.summary());
        EXPECT_EQ(measure.pairs.size(), keptSeconds) << qPrintable(measure.summary());
        EXPECT_LT(std::abs(measure.largestOffsetMs()), kInStepMs) << qPrintable(measure.summary());
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
// seconds, as the picture's flashes would.
TEST(DVDTrim, ASoundOnlyCopyStartsAtTheTrimsStart)
{
    const QString disc = TestDisc::ensureFlashAndBeep();
    ASSERT_TRUE(disc.isEmpty()) << qPrintable(disc);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QProcess run;
    run.start(QStringLiteral(QUILLON_CONVERT_ONE),
        { "--dvd", TestDisc::flashAndBeepFolder(), "--title", "1", "--trim", "3-9", "--profile",
            "1105020", "--output", folder.path() });
    ASSERT_TRUE(run.waitForFinished(kConversionLimitMs));
    ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().right(3000).toStdString();
    const QStringList files = QDir(folder.path()).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    const BeepOnsets beeps = beepOnsetsOf(QDir(folder.path()).filePath(files.front()));
    constexpr int kKeptSeconds = 6;
    constexpr double kInStep = kInStepMs / 1000;
    EXPECT_NEAR(beeps.seconds, kKeptSeconds, kInStep);
    // The sound's last frame may hold the onset of the beep at the trim's end.
    ASSERT_GE(beeps.onsets.size(), kKeptSeconds);
    for (int second = 0; second < beeps.onsets.size(); ++second)
        EXPECT_NEAR(beeps.onsets[second], std::min(second, kKeptSeconds), kInStep) << second;
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
