#include "core/player/PlayerTestSupport.h"

#include "fixtures/TestMedia.h"
#include "player/PlayerProcesses.h"
#include "support/ChildProcesses.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLockFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <unistd.h>

namespace {

constexpr const char* kStamp = "player clips 4\n";

QString clipFolder()
{
    return TestMedia::folder() + "-player";
}

QStringList shades(int seconds, int keyFrameSeconds = 1)
{
    const QString box = "geq=lum='if(lt(X,64)*lt(Y,64),30+20*floor(T),128)':cb=128:cr=128";
    return { "-f", "lavfi", "-i",
        QStringLiteral("nullsrc=size=320x240:rate=10:duration=%1,%2").arg(seconds).arg(box), "-c:v",
        "libx264", "-preset", "ultrafast", "-g", QString::number(10 * keyFrameSeconds), "-pix_fmt",
        "yuv420p" };
}

QStringList testPattern(const QString& size, const QStringList& codec)
{
    return QStringList { "-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=10:duration=1" }
    + codec;
}

// An RGB source keeps odd sides through the conversion to 4:2:0, which the
// MPEG-4 Part 2 encoder then stores as they are.
QStringList oddPattern(const QString& size)
{
    return { "-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=10:duration=1", "-c:v", "mpeg4" };
}

bool ffmpeg(const QString& folder, const QStringList& arguments, const QString& output)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start("ffmpeg",
        QStringList { "-nostdin", "-v", "error", "-y" } + arguments + QStringList { output });
    return process.waitForFinished(60'000) && process.exitCode() == 0;
}

bool makeClips(const QString& folder)
{
    const QStringList mpeg2 { "-c:v", "mpeg2video", "-f", "mpegts" };
    if (!QDir().mkpath(folder) || !ffmpeg(folder, shades(3), PlayerClips::kShades3)
        || !ffmpeg(folder, shades(10), PlayerClips::kShades10)
        || !ffmpeg(folder, shades(10, 10), PlayerClips::kShades10OneKeyFrame)
        || !ffmpeg(folder, testPattern("853x480", { "-c:v", "libx264", "-preset", "ultrafast" }),
            PlayerClips::kOddWidth)
        || !ffmpeg(folder, oddPattern("853x480"), PlayerClips::kOddWidthMpeg4)
        || !ffmpeg(folder, oddPattern("321x241"), PlayerClips::kOddSidesMpeg4)
        || !ffmpeg(folder, oddPattern("1x1"), PlayerClips::kOnePixelMpeg4)
        || !ffmpeg(folder,
            testPattern("720x480", { "-c:v", "mpeg2video", "-aspect", "16:9", "-f", "vob" }),
            PlayerClips::kWideMpeg2)
        || !ffmpeg(folder, testPattern("320x240", mpeg2), "first.ts")
        || !ffmpeg(folder, testPattern("160x120", mpeg2), "second.ts")
        || !ffmpeg(folder, { "-i", "concat:first.ts|second.ts", "-c", "copy", "-f", "mpegts" },
            PlayerClips::kSizeChange))
        return false;
    QByteArray random;
    QRandomGenerator generator(26);
    while (random.size() < 65536)
        random.append(static_cast<char>(generator.bounded(256)));
    return writeAll(folder + "/" + PlayerClips::kRandomBytes, random)
        && writeAll(folder + "/" + PlayerClips::kEmpty, {})
        && writeAll(folder + "/.complete", kStamp);
}

bool isComplete(const QString& folder)
{
    QFile stamp(folder + "/.complete");
    return stamp.open(QIODevice::ReadOnly) && stamp.readAll() == kStamp;
}

// The box is grey, so any channel gives back its luma: (Y - 16) x 255 / 219.
// A picture too small for the box has no second (-1).
int secondOf(const QImage& picture)
{
    if (picture.width() <= 32 || picture.height() <= 32)
        return -1;
    const double luma = 16 + qRed(picture.pixel(32, 32)) * 219.0 / 255.0;
    return static_cast<int>(std::lround((luma - 30) / 20));
}

} // namespace

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString PlayerClips::path(const char* name)
{
    const QString folder = clipFolder();
    if (!isComplete(folder)) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        QLockFile lock(folder + ".lock");
        lock.setStaleLockTime(0);
        if (!lock.lock() || (!isComplete(folder) && !makeClips(folder)))
            ADD_FAILURE() << "cannot make the player clips in " << folder.toStdString();
    }
    return folder + "/" + QString::fromUtf8(name);
}

RecordedServer::RecordedServer(const QString& name, MPlayerOSXVOProto::PixelFormat format)
    : server(name)
{
    // Direct: the reports are taken on the server's thread, as they come.
    QObject::connect(
        &server, &FrameLinkServer::mplayerWillStart, &server,
        [this](QSize size, int aspect) {
            record(
                QStringLiteral("start %1x%2 %3").arg(size.width()).arg(size.height()).arg(aspect));
        },
        Qt::DirectConnection);
    QObject::connect(
        &server, &FrameLinkServer::pictureReady, &server,
        [this] {
            const QImage picture = server.takePicture();
            {
                const std::lock_guard lock(m_mutex);
                m_lastPicture = picture;
            }
            record(QStringLiteral("picture %1").arg(secondOf(picture)));
        },
        Qt::DirectConnection);
    QObject::connect(
        &server, &FrameLinkServer::mplayerDidEnded, &server, [this] { record("stop"); },
        Qt::DirectConnection);
    server.setPixFormat(format);
    EXPECT_TRUE(server.listen());
}

RecordedServer::~RecordedServer()
{
    server.terminateConnection();
}

QImage RecordedServer::lastPicture() const
{
    const std::lock_guard lock(m_mutex);
    return m_lastPicture;
}

void RecordedServer::record(const QString& event)
{
    const std::lock_guard lock(m_mutex);
    m_events << event;
    m_changed.notify_all();
}

bool RecordedServer::waitUntil(
    const std::function<bool(const QStringList&)>& condition, std::chrono::milliseconds bound)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, bound, [&] { return condition(m_events); });
}

bool RecordedServer::waitFor(const QString& event, std::chrono::milliseconds bound)
{
    return waitUntil([&](const QStringList& events) { return events.contains(event); }, bound);
}

QStringList RecordedServer::events() const
{
    const std::lock_guard lock(m_mutex);
    QStringList events;
    for (const QString& event : m_events)
        if (events.isEmpty() || events.last() != event)
            events << event;
    return events;
}

int RecordedServer::count(const QString& prefix) const
{
    const std::lock_guard lock(m_mutex);
    return static_cast<int>(std::ranges::count_if(
        m_events, [&](const QString& event) { return event.startsWith(prefix); }));
}

int playerGroupOf(qint64 tool)
{
    const QString children = readAll(QStringLiteral("/proc/%1/task/%1/children").arg(tool));
    for (const QString& child : children.split(' ', Qt::SkipEmptyParts))
        if (processGroupMembers(child.toInt()).contains(child))
            return child.toInt();
    return 0;
}

QStringList ToolRun::previewArguments(const QString& media, const QString& bufferName)
{
    return { media, "-identify", "-slave", "-osdlevel", "0", "-ao", "coreaudio", "-vf",
        "screenshot", "-vo", "corevideo:shared_buffer:buffer_name=\"" + bufferName + "\"",
        "-volume", "100.00" };
}

ToolRun::ToolRun(const QStringList& arguments, const QStringList& environment)
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert("QUILLON_PLAYER_AO", "null");
    for (const QString& variable : environment)
        variables.insert(variable.section('=', 0, 0), variable.section('=', 1));
    process.setProcessEnvironment(variables);
    process.setWorkingDirectory(QDir::tempPath());
    process.start(PlayerProcesses::toolPath(), arguments);
    EXPECT_TRUE(process.waitForStarted()) << PlayerProcesses::toolPath().toStdString();
}

ToolRun::~ToolRun()
{
    process.kill();
    process.waitForFinished();
}

void ToolRun::send(const QByteArray& command)
{
    process.write(command);
    process.waitForBytesWritten();
}

bool ToolRun::waitForOutput(const QByteArray& text, int occurrence)
{
    QElapsedTimer timer;
    timer.start();
    while (output().count(text) < occurrence) {
        const qint64 left = 10'000 - timer.elapsed();
        if (left <= 0 || process.state() == QProcess::NotRunning)
            return false;
        process.waitForReadyRead(static_cast<int>(left));
    }
    return true;
}

int ToolRun::waitForExit(std::chrono::milliseconds bound)
{
    if (!process.waitForFinished(static_cast<int>(bound.count())))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QByteArray ToolRun::output()
{
    m_output += process.readAllStandardOutput();
    return m_output;
}

namespace {

QByteArray procFile(const QString& pid, const char* name)
{
    QFile file("/proc/" + pid + "/" + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 parentOf(const QString& pid)
{
    const QByteArray stat = procFile(pid, "stat");
    return stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
}

} // namespace

QList<QByteArray> ourMPlayerArguments()
{
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        if (procFile(pid, "comm").trimmed() != "mplayer")
            continue;
        const QString tool = QString::number(parentOf(pid));
        if (parentOf(tool) == ::getpid())
            return procFile(pid, "cmdline").split('\0');
    }
    return {};
}
