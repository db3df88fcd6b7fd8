// A DVD title trimmed as the editor trims it, from its second second to its
// end, converted on each road through convert-one: the output holds the
// whole rest of the title, which the fractions of its length put a hair
// short of a whole number of seconds.
#include "fixtures/FlashAndBeep.h"
#include "fixtures/TestDisc.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

constexpr int kRate = 25;
constexpr int kTrimStart = 2;
constexpr int kTitleSeconds = TestDisc::kFlashAndBeepFrames / kRate;
constexpr int kKeptFrames = (kTitleSeconds - kTrimStart) * kRate;
constexpr double kInStepMs = 40; // one frame
// A conversion of a few seconds of a title, on a machine as busy as the suite makes it.
constexpr int kConversionLimitMs = 300'000;

struct Road {
    const char* profile;
    // The road keeps every picture of the range with its sound in step.
    bool keepsEveryPicture;
};

TEST(DVDTrim, TrimToTheTitlesEndKeepsTheWholeRestOnEveryRoad)
{
    const QString disc = TestDisc::ensureFlashAndBeep();
    ASSERT_TRUE(disc.isEmpty()) << qPrintable(disc);
    // MP4 with H.264 on mencoder, MPEG-2 on mencoder (whose output check
    // refused a second short), and the HandBrake road.
    const Road roads[] = { { "1101097", false }, { "1105006", false }, { "1105022", true } };
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    std::vector<std::unique_ptr<QProcess>> runs;
    for (const Road& road : roads) {
        auto run = std::make_unique<QProcess>();
        const QString output = folder.filePath(road.profile);
        ASSERT_TRUE(QDir().mkpath(output));
        run->start(QStringLiteral(QUILLON_CONVERT_ONE),
            { "--dvd", TestDisc::flashAndBeepFolder(), "--title", "1", "--trim",
                QStringLiteral("%1-%2").arg(kTrimStart).arg(kTitleSeconds), "--profile",
                road.profile, "--output", output });
        runs.push_back(std::move(run));
    }
    for (std::size_t index = 0; index < runs.size(); ++index) {
        const Road& road = roads[index];
        SCOPED_TRACE(road.profile);
        QProcess& run = *runs[index];
        ASSERT_TRUE(run.waitForFinished(kConversionLimitMs));
        const QString printed = QString::fromUtf8(run.readAllStandardOutput());
        ASSERT_EQ(run.exitCode(), 0)
            << qPrintable(printed) << run.readAllStandardError().right(3000).toStdString();
        const QDir output(folder.filePath(road.profile));
        const QStringList files = output.entryList(QDir::Files);
        ASSERT_EQ(files.size(), 1) << qPrintable(printed);
        const FlashAndBeepMeasure measure = FlashAndBeep::measure(output.filePath(files.front()));
        ASSERT_TRUE(measure.error.isEmpty()) << qPrintable(measure.error);
        EXPECT_NEAR(measure.pictureSeconds, kTitleSeconds - kTrimStart, 2.0 / kRate)
            << qPrintable(measure.summary());
        if (!road.keepsEveryPicture)
            continue;
        EXPECT_EQ(measure.frames, kKeptFrames) << qPrintable(measure.summary());
        EXPECT_EQ(measure.pairs.size(), kTitleSeconds - kTrimStart)
            << qPrintable(measure.summary());
        EXPECT_LT(std::abs(measure.largestOffsetMs()), kInStepMs) << qPrintable(measure.summary());
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
