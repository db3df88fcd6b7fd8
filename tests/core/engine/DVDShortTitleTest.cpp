// A DVD title of one frame, in which the sound builders find nothing: the
// conversion fails with a reason a user reads, not the builder's.
#include "core/builders/video/FrameTestSupport.h"
#include "engine/DNVideoConverter.h"
#include "model/DNDVDNode.h"
#include "services/DNSetting.h"
#include "support/RunFfmpeg.h"

#include <QFile>
#include <QProcess>

namespace {

// An NTSC disc whose one title holds a single frame.
QString oneFrameDisc(const QString& folder)
{
    QFile script(folder + "/disc.xml");
    const QByteArray xml = "<dvdauthor dest=\"" + QFile::encodeName(folder) + "/Disc\"><vmgm/>"
        + "<titleset><titles><video format=\"ntsc\" aspect=\"4:3\"/><pgc><vob file=\""
        + QFile::encodeName(folder) + "/one.mpg\"/></pgc></titles></titleset></dvdauthor>\n";
    if (!script.open(QIODevice::WriteOnly) || script.write(xml) != xml.size()
        || !runFfmpeg({ "-f", "lavfi", "-i", "testsrc=size=720x480:rate=30000/1001", "-frames:v",
            "1", "-c:v", "mpeg2video", "-f", "dvd", folder + "/one.mpg" }))
        return {};
    script.close();
    QProcess author;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VIDEO_FORMAT", "NTSC"); // for the menus it has none of
    author.setProcessEnvironment(environment);
    author.start("dvdauthor", { "-x", script.fileName() });
    const bool made = author.waitForFinished(60'000) && author.exitCode() == 0;
    return made ? folder + "/Disc" : QString();
}

TEST(DVDShortTitle, AOneFrameTitleFailsWithAReason)
{
    QTemporaryDir folder;
    const QString disc = oneFrameDisc(folder.path());
    ASSERT_FALSE(disc.isEmpty());
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(folder.path());
    const auto node = DNDVDNode::dvdNodeWithSourceInfo(NXDVDSourceInfo::sourceInfoWithPath(disc));
    ASSERT_TRUE(node);
    node->setProfile(videoProfile({ { "ArgvAssembler", "DVD_To_Music_MP3_With_MEncoder" },
        { "GlobalID", 1105018 }, { "FileNameSuffix", "mp3" } }));
    EXPECT_NE(DNVideoConverterStart(node, 0, nullptr, nullptr), 0);
    EXPECT_EQ(DNVideoConverterLastFailure(),
        "Title 1 of the DVD is too short to convert: it lasts less than a second.");
}

} // namespace
