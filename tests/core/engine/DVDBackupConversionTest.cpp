// The backup and HandBrake-style builders' lists run through the driver on
// the test disc, each on the engine its profile chooses.
#include "core/builders/video/FrameTestSupport.h"
#include "engine/DNVideoConverter.h"
#include "fixtures/MediaFacts.h"
#include "fixtures/TestDisc.h"
#include "model/DNDVDNode.h"
#include "services/DNSetting.h"

#include <QProcess>

namespace {

// A frame of `input` at `seconds`, small and grey, as raw bytes.
QByteArray smallGreyFrame(const QStringList& input, double seconds)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        QStringList { "-nostdin", "-v", "error" } + input
            + QStringList { "-ss", QString::number(seconds), "-frames:v", "1", "-vf",
                "scale=90:60,format=gray", "-f", "rawvideo", "-" });
    ffmpeg.waitForFinished(60'000);
    return ffmpeg.readAllStandardOutput();
}

double meanDifference(const QByteArray& a, const QByteArray& b)
{
    if (a.isEmpty() || a.size() != b.size())
        return 255;
    double sum = 0;
    for (qsizetype n = 0; n < a.size(); ++n)
        sum += std::abs(int(quint8(a[n])) - int(quint8(b[n])));
    return sum / double(a.size());
}

} // namespace

TEST(DVDBackupConversion, EachBackupBuilderMakesItsOutputOnItsEngine)
{
    ASSERT_EQ(TestDisc::ensure(), QString());
    // Seconds 0: the ISO image, which the driver's own check opens.
    const struct {
        const char* row;
        int globalID;
        const char* suffix;
        double seconds;
        int sounds, subtitles, chapters;
    } runs[] = {
        { "DVD_To_DVDFullBackup_MPEG_With_MEncoder", 1000003, "vob", 12, 2, 2, 0 },
        { "DVD_To_DVDMainBackup_MPEG_With_MEncoder", 1105021, "mpg", 12, 1, 0, 0 },
        { "DVD_Backup_To_ISO", 1000002, "iso", 0, 0, 0, 0 },
        { "DVD_Backup_To_MKV", 1000005, "mkv", 12, 2, 2, 2 },
        { "DVD_To_MP4_H264_With_HandBrake", 1105022, "mp4", 3, 1, 0, 0 }, // 3 to 6 s
    };
    for (const auto& each : runs) {
        SCOPED_TRACE(each.row);
        QTemporaryDir folder;
        DNSetting::shareSetting().appSetting().setVideoOutputDirectory(folder.path());
        const auto node = DNDVDNode::dvdNodeWithSourceInfo(
            NXDVDSourceInfo::sourceInfoWithPath(TestDisc::folder()));
        ASSERT_TRUE(node);
        node->setProfile(videoProfile({ { "ArgvAssembler", each.row },
            { "GlobalID", each.globalID }, { "FileNameSuffix", each.suffix } }));
        DNDVDTitleSetting& setting = node->titleAt(0)->setting();
        setting.setTrimEnable(each.seconds == 3);
        setting.setTrimStartPercent(0.25f);
        setting.setTrimEndPercent(0.5f);
        ASSERT_EQ(DNVideoConverterStart(node, 0, nullptr, nullptr), 0);
        const QStringList outputs = QDir(folder.path()).entryList(QDir::Files);
        ASSERT_EQ(outputs.size(), 1);
        const QString output = folder.filePath(outputs.front());
        if (each.seconds == 0)
            continue;
        const MediaFacts facts = MediaFacts::probe(output);
        EXPECT_NEAR(facts.duration, each.seconds, 1.0);
        EXPECT_EQ(facts.count("audio"), each.sounds);
        EXPECT_EQ(facts.count("subtitle"), each.subtitles);
        QProcess probe;
        probe.start("ffprobe", { "-v", "error", "-show_chapters", "-of", "csv=p=0", output });
        probe.waitForFinished(60'000);
        EXPECT_EQ(probe.readAllStandardOutput().count('\n'), each.chapters);
        if (each.seconds == 3) {
            // The kept part starts at the title's third second: the output's frame at 0.5 s
            // is the title's at 3.5 s. Frames 0.1 s apart differ by 8 grey levels on average.
            const QByteArray title
                = smallGreyFrame({ "-f", "lavfi", "-i", TestDisc::titlePicture(12) }, 3.5);
            EXPECT_LT(meanDifference(smallGreyFrame({ "-i", output }, 0.5), title), 2.0);
        }
    }
}
