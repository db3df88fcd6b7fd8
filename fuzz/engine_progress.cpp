// The engines' progress lines, read the way each bridge reads them: ffmpeg's
// "key=value" -progress lines (AVEncoderReadProgressLine), mencoder's "Pos:"
// status lines (EncoderCoreReadProgressLine) and the DVD ripper's
// "Encoding: task" lines (DVDToMKVReadProgressLine). The first byte picks the
// run's duration, the rest are lines, each read into the progress that the
// lines before it left. The progress sheet shows a percentage and a time, so
// after every line the percentage lies from 0 to 100 and the time is no
// negative number.
#include "FuzzSupport.h"

#include "engine/AVEncoder.h"
#include "engine/DVDToMKV.h"
#include "engine/EncoderCore.h"

#include <QList>

#include <climits>

namespace {

int durationFor(uint8_t byte)
{
    static const int durations[] = { 0, 1, 90, 7200, INT_MAX, -1 };
    return durations[byte % std::size(durations)];
}

void requireSound(const ProgressInfo& progress)
{
    Fuzz::require(
        progress.percent >= 0 && progress.percent <= 100, "the percentage lies outside 0 to 100");
    Fuzz::require(progress.convertedTime >= 0, "the time written is negative or no number");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int duration = durationFor(data[0]);
    const QString text = QString::fromUtf8(Fuzz::bytesOf(data + 1, size - 1));
    ProgressInfo ffmpeg;
    ProgressInfo mencoder;
    ProgressInfo ripper;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        AVEncoderReadProgressLine(line, duration, ffmpeg);
        requireSound(ffmpeg);
        EncoderCoreReadProgressLine(line, duration, mencoder);
        requireSound(mencoder);
        DVDToMKVReadProgressLine(line, duration, ripper);
        requireSound(ripper);
    }
    return 0;
}
