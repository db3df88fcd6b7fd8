#include "core/builders/dvd/DVDBuilderTestSupport.h"

#include "builders/dvd/H264.h"
#include "services/SubtitleCharset.h"

#include <QFile>
#include <QStringEncoder>

#include <sys/stat.h>

namespace {

// The engine reads a DVD title's subtitle file itself: one that is no
// regular file of a sane size refuses the build, naming it; another reaches
// the engine with the character set it is written in.
TEST(DVDSubtitleFile, ReachesTheEngineReadableAndInItsCharset)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo.srt"), large = dir.filePath("large.srt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QFile file(large);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(kMostSubtitleBytes + 1));
    const QString latin1 = dir.filePath("latin1.srt");
    ASSERT_TRUE(writeFile(latin1,
        QStringEncoder(QStringConverter::Latin1)(u"1\n00:00:00,000 --> 00:00:01,000\nÇa a été très "
                                                 u"élégant, déjà vu à l'hôtel près du café.\n")));
    const struct {
        QString path;
        const char* said; // the refusal's end, or the charset the engine is told
    } cases[] = {
        { fifo, "it is not a regular file" },
        { "/dev/zero", "it is not a regular file" },
        { large, "it is larger than 16 MiB" },
        { latin1, "windows-1252" },
    };
    EncodeConfig config;
    ASSERT_TRUE(setConfigPath(config.outputDir, dir.path()));
    const auto node = dvdNode();
    node->setTitleSelected(0);
    node->setEnableSubtitleEdit(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        node->addExtraSubtitle(c.path);
        node->selectSubtitleAtIndex(0, true);
        takeBuildRefusal();
        const ArgumentBlockPtr block = DVD_To_H264_MovOrIpod_With_MEncoder(node, 0, config);
        const QString refusal = takeBuildRefusal();
        if (block) {
            const QStringList words = block->arguments();
            EXPECT_EQ(words.value(words.indexOf("-subcp") + 1), c.said);
        } else {
            EXPECT_EQ(refusal,
                QStringLiteral("the subtitle file \"%1\" cannot be used: %2").arg(c.path, c.said));
        }
    }
}

} // namespace
