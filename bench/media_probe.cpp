// Time to load one media file into a file node (the in-process probe through
// libmediainfo and libavformat) against one `mediainfo` process per file, over
// 200 files of five containers. Run by hand: build/<dir>/bench/media_probe
#include "model/DNFileNode.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kFiles = 200;

struct Source {
    const char* name;
    QStringList codecs;
};

// Ten seconds of 640x360 picture and stereo sound in each container.
const Source kSources[] = {
    { "sample.mp4", { "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac" } },
    { "sample.mkv", { "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "libmp3lame" } },
    { "sample.ts", { "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-f", "mpegts" } },
    { "sample.avi", { "-c:v", "mpeg4", "-c:a", "libmp3lame" } },
    { "sample.mpg", { "-c:v", "mpeg2video", "-c:a", "mp2", "-f", "vob" } },
};

bool makeSource(const QString& path, const QStringList& codecs)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        QStringList { "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
            "testsrc2=size=640x360:rate=25:duration=10", "-f", "lavfi", "-i",
            "sine=frequency=440:sample_rate=48000:duration=10", "-ac", "2" }
            + codecs + QStringList { path });
    return ffmpeg.waitForFinished(120'000) && ffmpeg.exitCode() == 0;
}

// kFiles copies, the five containers taking turns.
QStringList makeFiles(const QString& folder)
{
    QStringList files;
    for (const Source& source : kSources) {
        if (!makeSource(folder + "/" + source.name, source.codecs))
            return {};
    }
    for (int i = 0; i < kFiles; ++i) {
        const Source& source = kSources[i % std::size(kSources)];
        const QString copy
            = QStringLiteral("%1/%2 %3").arg(folder).arg(i, 3, 10, QChar('0')).arg(source.name);
        if (!QFile::copy(folder + "/" + source.name, copy))
            return {};
        files.append(copy);
    }
    return files;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

template<typename Probe>
std::vector<double> timeEach(const QStringList& files, Probe probe, int& failures)
{
    std::vector<double> milliseconds;
    for (const QString& file : files) {
        QElapsedTimer timer;
        timer.start();
        failures += probe(file) ? 0 : 1;
        milliseconds.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return milliseconds;
}

bool loadNode(const QString& file)
{
    return DNFileNode::fileNodeWithFile(file) != nullptr;
}

bool runMediainfo(const QString& file)
{
    QProcess mediainfo;
    mediainfo.start("mediainfo", { file });
    return mediainfo.waitForFinished(30'000) && mediainfo.exitCode() == 0
        && !mediainfo.readAllStandardOutput().isEmpty();
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir work;
    if (!work.isValid())
        return 2;
    // Keep the probe's log lines out of the user's own log.
    qputenv("XDG_DATA_HOME", QFile::encodeName(work.filePath("data")));
    QCoreApplication app(argc, argv);
    std::printf("making %d files...\n", kFiles);
    const QStringList files = makeFiles(work.path());
    if (files.isEmpty()) {
        std::fprintf(stderr, "could not make the sample files with ffmpeg\n");
        return 1;
    }
    int warmupFailures = 0;
    timeEach(files, loadNode, warmupFailures); // both runs read from a warm page cache
    int probeFailures = 0;
    int mediainfoFailures = 0;
    const double probe = median(timeEach(files, loadNode, probeFailures));
    const double process = median(timeEach(files, runMediainfo, mediainfoFailures));
    std::printf("files: %d (mp4, mkv, ts, avi, mpg; 10 s, 640x360)\n", int(files.size()));
    std::printf("median per file, in-process probe: %8.2f ms (%d failed)\n", probe, probeFailures);
    std::printf(
        "median per file, mediainfo process: %7.2f ms (%d failed)\n", process, mediainfoFailures);
    std::printf("ratio: %.2f (target: at most 0.33)\n", probe / process);
    return probeFailures || mediainfoFailures ? 1 : 0;
}
