// A loud 5.1 source mixed down to stereo by sound and video profiles alike:
// one level on every profile, and no sample clipped.
#include "core/engine/ProfileRunTest.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Level {
    double fullScaleShare = 1; // of the decoded 16-bit samples
    double rmsDb = -100; // dBFS
};

// The first sound stream decoded to 16-bit samples, its channels as they are.
Level decodedLevel(const QString& path)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        { "-v", "error", "-nostdin", "-i", path, "-map", "0:a:0", "-c:a", "pcm_s16le", "-f",
            "s16le", "-" });
    ffmpeg.waitForFinished(60'000);
    const QByteArray pcm = ffmpeg.readAllStandardOutput();
    const auto* samples = reinterpret_cast<const qint16*>(pcm.constData());
    const qsizetype count = pcm.size() / 2;
    qsizetype fullScale = 0;
    double squares = 0;
    for (qsizetype i = 0; i < count; ++i) {
        fullScale += samples[i] == 32767 || samples[i] == -32768 ? 1 : 0;
        squares += double(samples[i]) * samples[i];
    }
    if (count == 0)
        return {};
    return { double(fullScale) / double(count),
        10 * std::log10(squares / double(count) / (32768.0 * 32768.0)) };
}

class SurroundMixEngine : public ProfileRunTest { };

TEST_F(SurroundMixEngine, EveryProfileMixesALoudSourceAlikeWithoutClipping)
{
    // Every channel the same tone in phase, peaking at -3 dBFS: the loudest
    // sum a mix can meet at that level.
    const QString source = dir.filePath("loud 5.1.mkv");
    ASSERT_TRUE(runFfmpeg({ "-f", "lavfi", "-i", "color=c=black:s=64x48:r=25:d=1", "-f", "lavfi",
        "-i", "aevalsrc='0.708*sin(2*PI*440*t)':c=5.1:s=48000:d=1", "-c:v", "libx264", "-preset",
        "ultrafast", "-c:a", "flac", source }));
    // WAV mixed by integer samples and never clipped: the others' measure.
    const char* const profiles[] = { "WAV Audio", "AC-3 Audio", "Ogg Vorbis Audio", "WMA Audio",
        "AAC Audio", "MP3 Audio", "WebM Video", "FLV Video", "PAL DVD Video" };
    std::optional<double> reference;
    for (const char* profile : profiles) {
        SCOPED_TRACE(profile);
        const auto node = load(source, profile);
        ASSERT_NE(node, nullptr);
        ASSERT_TRUE(convert(node));
        const Level level = decodedLevel(node->outputName());
        EXPECT_LT(level.fullScaleShare, 0.001);
        if (!reference)
            reference = level.rmsDb;
        EXPECT_NEAR(level.rmsDb, *reference, 1.0);
    }
}

} // namespace
