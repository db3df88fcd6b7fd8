// A recording as the screen recorder leaves it (a fragmented movie, perhaps
// cut short by a full disk or a kill, perhaps damaged), cut back in place by
// trimRecording, which walks its boxes and sample tables in the file. The
// first byte picks the time to keep (0: all of it), the rest is the file.
// The trim writes no more than a few fields and shortens the file: one it
// left as it was has the same bytes, one it cut is no longer, and a second
// trim to the same time leaves the cut file as it is.
#include "FuzzSupport.h"

#include "record/RecordingTrim.h"

#include <QFile>

#include <limits>

namespace {

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const QString path = Fuzz::privateFolder() + QStringLiteral("/recording.mov");
    const QByteArray recording = Fuzz::bytesOf(data + 1, size - 1);
    QFile file(path);
    Fuzz::require(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(recording) == recording.size(),
        "the recording could not be written");
    file.close();
    const double seconds = data[0] == 0 ? std::numeric_limits<double>::infinity() : data[0] / 16.0;
    const TrimOutcome outcome = trimRecording(path, seconds);
    Fuzz::require(outcome != TrimOutcome::Unreadable && outcome != TrimOutcome::Unwritable,
        "a file of our own could not be read or written");
    const QByteArray after = contentOf(path);
    if (outcome != TrimOutcome::Trimmed) {
        Fuzz::require(after == recording, "a file left as it was has changed");
        return 0;
    }
    Fuzz::require(after.size() <= recording.size(), "a cut file has grown");
    const TrimOutcome again = trimRecording(path, seconds);
    Fuzz::require(again == TrimOutcome::Untouched || again == TrimOutcome::NotFragmented,
        "a cut file is cut again by a second trim");
    Fuzz::require(contentOf(path) == after, "a second trim changed a cut file");
    return 0;
}
