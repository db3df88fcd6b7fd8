#include "core/player/PlayerTestSupport.h"

#include "fixtures/TestMedia.h"
#include "player/PlayerProcesses.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr const char* kStamp = "player clips 1\n";

QString clipFolder()
{
    return TestMedia::folder() + "-player";
}

QStringList shades(int seconds)
{
    const QString box = "geq=lum='if(lt(X,64)*lt(Y,64),30+20*floor(T),128)':cb=128:cr=128";
    return { "-f", "lavfi", "-i",
        QStringLiteral("nullsrc=size=320x240:rate=10:duration=%1,%2").arg(seconds).arg(box), "-c:v",
        "libx264", "-preset", "ultrafast", "-g", "10", "-pix_fmt", "yuv420p" };
}

QStringList testPattern(const QString& size, const QStringList& codec)
{
    return QStringList { "-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=10:duration=1" }
    + codec;
}

bool ffmpeg(const QString& folder, const QStringList& arguments, const QString& output)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start("ffmpeg",
        QStringList { "-nostdin", "-v", "error", "-y" } + arguments + QStringList { output });
    return process.waitForFinished(60'000) && process.exitCode() == 0;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool makeClips(const QString& folder)
{
    const QStringList mpeg2 { "-c:v", "mpeg2video", "-f", "mpegts" };
    if (!QDir().mkpath(folder) || !ffmpeg(folder, shades(3), PlayerClips::kShades3)
        || !ffmpeg(folder, shades(10), PlayerClips::kShades10)
        || !ffmpeg(folder, testPattern("853x480", { "-c:v", "libx264", "-preset", "ultrafast" }),
            PlayerClips::kOddWidth)
        || !ffmpeg(folder,
            testPattern("720x480", { "-c:v", "mpeg2video", "-aspect", "16:9", "-f", "vob" }),
            PlayerClips::kWideMpeg2)
        || !ffmpeg(folder, testPattern("320x240", mpeg2), "first.ts")
        || !ffmpeg(folder, testPattern("160x120", mpeg2), "second.ts"))
        return false;
    QFile first(folder + "/first.ts");
    QFile second(folder + "/second.ts");
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly))
        return false;
    QByteArray random(65536, 0);
    QRandomGenerator generator(26);
    for (char& byte : random)
        byte = static_cast<char>(generator.bounded(256));
    return writeFile(folder + "/" + PlayerClips::kSizeChange, first.readAll() + second.readAll())
        && writeFile(folder + "/" + PlayerClips::kRandomBytes, random)
        && writeFile(folder + "/" + PlayerClips::kEmpty, {})
        && writeFile(folder + "/.complete", kStamp);
}

bool isComplete(const QString& folder)
{
    QFile stamp(folder + "/.complete");
    return stamp.open(QIODevice::ReadOnly) && stamp.readAll() == kStamp;
}

} // namespace

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

int secondOf(const QImage& picture)
{
    // The box is grey, so any channel gives back the luma: (Y - 16) x 255 / 219.
    const int grey = qRed(picture.pixel(32, 32));
    const double luma = 16 + grey * 219.0 / 255.0;
    return static_cast<int>(std::lround((luma - 30) / 20));
}

LinkRecorder::LinkRecorder(FrameLinkServer& server)
{
    // Direct: the recorder takes the server's reports on the server's thread.
    const auto direct = Qt::DirectConnection;
    QObject::connect(
        &server, &FrameLinkServer::mplayerWillStart, &server,
        [this](QSize size, int aspect) {
            const std::lock_guard lock(m_mutex);
            starts.push_back({ size, aspect });
            events << "start";
            m_changed.notify_all();
        },
        direct);
    QObject::connect(
        &server, &FrameLinkServer::pictureReady, &server,
        [this, &server] {
            const QImage picture = server.takePicture();
            const std::lock_guard lock(m_mutex);
            seconds.push_back(secondOf(picture));
            events << "picture";
            m_changed.notify_all();
        },
        direct);
    QObject::connect(
        &server, &FrameLinkServer::mplayerDidEnded, &server,
        [this] {
            const std::lock_guard lock(m_mutex);
            ++ends;
            events << "stop";
            m_changed.notify_all();
        },
        direct);
}

bool LinkRecorder::waitUntil(
    const std::function<bool(const LinkRecorder&)>& condition, std::chrono::milliseconds bound)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, bound, [&] { return condition(*this); });
}

bool LinkRecorder::waitForPictureOf(int second, std::chrono::milliseconds bound)
{
    return waitUntil(
        [second](const LinkRecorder& link) {
            return !link.seconds.empty() && link.seconds.back() == second;
        },
        bound);
}

std::size_t LinkRecorder::pictureCount() const
{
    const std::lock_guard lock(m_mutex);
    return seconds.size();
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
    m_process.setProcessEnvironment(variables);
    m_process.setWorkingDirectory(QDir::tempPath());
    m_process.start(PlayerProcesses::toolPath(), arguments);
    EXPECT_TRUE(m_process.waitForStarted()) << PlayerProcesses::toolPath().toStdString();
}

ToolRun::~ToolRun()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

void ToolRun::send(const QByteArray& command)
{
    m_process.write(command);
    m_process.waitForBytesWritten();
}

bool ToolRun::waitForOutput(const QByteArray& text, int occurrence, std::chrono::milliseconds bound)
{
    QElapsedTimer timer;
    timer.start();
    while (output().count(text) < occurrence) {
        const qint64 left = bound.count() - timer.elapsed();
        if (left <= 0 || m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(static_cast<int>(left));
    }
    return true;
}

int ToolRun::waitForExit(std::chrono::milliseconds bound)
{
    if (!m_process.waitForFinished(static_cast<int>(bound.count())))
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QByteArray ToolRun::output()
{
    m_output += m_process.readAllStandardOutput();
    return m_output;
}

QByteArray ToolRun::errors()
{
    return m_process.readAllStandardError();
}
