// Memory of the conversion list: the main window empty, then with 10,000
// entries made directly (not probed) and shown. Run by hand:
//   build/<dir>/bench/list_memory [entries]
// The offscreen platform is used unless QT_QPA_PLATFORM says otherwise.
#include "common/NXDialogs.h"
#include "model/DNFileNode.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "BenchSupport.h"

#include <cstdio>
#include <malloc.h>
#include <vector>

namespace {

constexpr int kDefaultEntries = 10'000;
constexpr double kTargetBytesPerEntry = 2048;

struct Memory {
    double heapBytes = 0; // allocated and not freed
    double residentBytes = 0;
};

double residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() * 1024;
    }
    return 0;
}

Memory measure()
{
    malloc_trim(0);
    const struct mallinfo2 heap = mallinfo2();
    return { double(heap.uordblks + heap.hblkhd), residentBytes() };
}

// A node as the probe would leave it for a short clip: one picture and one
// sound stream.
NXBasicMediaNode::Ptr makeEntry(int number)
{
    auto node = std::make_shared<DNFileNode>(
        QStringLiteral("/media/clips/clip_%1.mp4").arg(number, 5, 10, QChar('0')));
    node->setFileFormat(QStringLiteral("MPEG-4"));
    node->setDuration(95.5);
    DNTVideo video;
    video.duration = 95.5f;
    video.fps = 25;
    video.codec = QStringLiteral("avc1");
    video.aspectRatio = QStringLiteral("16:9");
    video.vid = 1;
    video.width = 1280;
    video.height = 720;
    node->setVideoTracks({ video });
    DNTAudio audio;
    audio.duration = 95;
    audio.aid = 2;
    audio.codec = QStringLiteral("AAC");
    audio.channels = 2;
    audio.sampleRate = 48000;
    node->setAudioTracks({ audio });
    return node;
}

// Lets the window lay itself out and paint what is visible now.
void settle(QWidget& window)
{
    QCoreApplication::processEvents();
    window.repaint();
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv)
{
    const auto entryCount
        = bench::numberArgument(argc, argv, kDefaultEntries, "list_memory [entries]");
    if (!entryCount)
        return 2;
    const int entries = int(*entryCount);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings and log go to a folder of our own, not the user's.
    const QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + "/.cache").toLocal8Bit());

    QApplication application(argc, argv);
    NXQtDialogs dialogs;
    const NXSystemActions system = NXSystemActions::desktop();
    NXApplicationDelegate delegate(dialogs, system);
    delegate.applicationDidFinishLaunching({});
    NXAppController& window = *delegate.controller();
    settle(window);
    const Memory empty = measure();

    std::vector<NXBasicMediaNode::Ptr> nodes;
    nodes.reserve(std::size_t(entries));
    for (int i = 0; i < entries; ++i)
        nodes.push_back(makeEntry(i));
    const Memory made = measure();

    QElapsedTimer timer;
    timer.start();
    for (const auto& node : nodes)
        window.addMediaNode(node);
    settle(window);
    const double addMs = double(timer.nsecsElapsed()) / 1e6;
    nodes = {};
    const Memory full = measure();

    const auto perEntry = [entries](double from, double to) { return (to - from) / entries; };
    std::printf("entries: %d (list shows %zu), added and painted in %.0f ms\n", entries,
        window.mediaNodes().size(), addMs);
    std::printf("empty window: heap %.1f MiB, resident %.1f MiB\n", empty.heapBytes / 1048576,
        empty.residentBytes / 1048576);
    std::printf("per entry beyond the empty window: heap %.0f B, resident %.0f B "
                "(target: under %.0f B)\n",
        perEntry(empty.heapBytes, full.heapBytes),
        perEntry(empty.residentBytes, full.residentBytes), kTargetBytesPerEntry);
    std::printf("  of which the node as made: heap %.0f B; its profile and its row: heap %.0f B\n",
        perEntry(empty.heapBytes, made.heapBytes), perEntry(made.heapBytes, full.heapBytes));
    return 0;
}
