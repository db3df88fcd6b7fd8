#include "engine/CoverArt.h"

#include "platform/DNLogger.h"
#include "platform/OwnerMark.h"
#include "platform/PathStatus.h"
#include "platform/ProcessRunner.h"
#include "platform/TemporaryFile.h"
#include "services/OutputPublishing.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

using namespace std::chrono_literals;

constexpr const char* kFrameGrabber = "ffmpeg";
constexpr const char* kTagger = "AtomicParsley";
// AtomicParsley rewrites the whole file; it is given time to finish its copy
// before it is killed, and the copy is thrown away either way.
constexpr std::chrono::milliseconds kStopGrace = 1000ms;

// Far enough in to miss a black first frame, near enough to exist in a
// short clip.
double frameTime(double sourceDuration)
{
    return std::clamp(sourceDuration / 10.0, 0.0, 10.0);
}

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 3); // QString::number ignores the locale
}

// What moves while a tool works: the size and the last write of the file it makes.
QByteArray fileMark(const QString& path)
{
    const QFileInfo file(path);
    return QByteArray::number(file.size()) + ' '
        + QByteArray::number(file.lastModified().toMSecsSinceEpoch());
}

// Which of the source and the output is no regular file; empty when both
// are. A FIFO or a device would keep the tools waiting for what may never
// come. The source may be a link to the user's file; the output is ours.
QString irregularFileOf(const QString& sourcePath, const QString& outputPath)
{
    if (!QFileInfo(sourcePath).isFile())
        return sourcePath;
    if (!isRegularFile(outputPath))
        return outputPath;
    return {};
}

} // namespace

bool CoverArtTagger::wantsCoverArt(const QString& outputPath)
{
    static const QStringList taggable { "mp4", "m4v", "3gp" };
    return taggable.contains(QFileInfo(outputPath).suffix(), Qt::CaseInsensitive);
}

bool CoverArtTagger::tag(
    const QString& outputPath, const QString& sourcePath, double sourceDuration)
{
    if (const QString irregular = irregularFileOf(sourcePath, outputPath); !irregular.isEmpty()) {
        DNLog(QStringLiteral("No cover art for %1: %2 is not a regular file")
                  .arg(outputPath, irregular));
        return false;
    }
    const QString image = makeTemporaryFile(QStringLiteral("dt_"), QStringLiteral("jpg"));
    if (image.isEmpty())
        return false;
    const auto removeImage = qScopeGuard([&image] { QFile::remove(image); });
    if (!grabFrame(sourcePath, sourceDuration, image)) {
        DNLog(QStringLiteral("No cover art for %1: no picture could be taken from %2")
                  .arg(outputPath, sourcePath));
        return false;
    }
    return writeArtwork(outputPath, image);
}

void CoverArtTagger::stop()
{
    const std::lock_guard lock(m_mutex);
    m_stopped = true;
    if (m_runner)
        m_runner->stop();
}

bool CoverArtTagger::grabFrame(
    const QString& sourcePath, double sourceDuration, const QString& imagePath)
{
    // "file:" keeps a name with a colon from being read as a protocol.
    const QStringList arguments { "-nostdin", "-hide_banner", "-v", "error", "-y", "-ss",
        secondsText(frameTime(sourceDuration)), "-i", "file:" + sourcePath, "-map", "0:v:0",
        "-frames:v", "1", "-an", "-f", "image2", "-c:v", "mjpeg", "file:" + imagePath };
    return runTool(kFrameGrabber, arguments, imagePath) && QFileInfo(imagePath).size() > 0;
}

bool CoverArtTagger::writeArtwork(const QString& outputPath, const QString& imagePath)
{
    // The copy lies beside the output, so that it replaces it by a rename. It
    // is a partial output of ours, so that one left by a run killed outright
    // is removed by the next run into the folder.
    QString refusal;
    QFile tagged(claimPartialOutput(outputPath, &refusal));
    if (tagged.fileName().isEmpty()) {
        DNLog(QStringLiteral("No cover art for %1: %2").arg(outputPath, refusal));
        return false;
    }
    // Gone by the rename once the cover is in, else thrown away.
    const auto removeCopy = qScopeGuard([&tagged] { tagged.remove(); });
    const QStringList arguments { outputPath, "--artwork", imagePath, "-o", tagged.fileName() };
    if (!runTool(kTagger, arguments, tagged.fileName())
        || QFileInfo(tagged.fileName()).size() == 0) {
        DNLog(
            QStringLiteral("No cover art for %1: AtomicParsley did not write it").arg(outputPath));
        return false;
    }
    QFile::setPermissions(tagged.fileName(), QFile::permissions(outputPath));
    if (std::rename(QFile::encodeName(tagged.fileName()).constData(),
            QFile::encodeName(outputPath).constData())
        != 0) {
        DNLog(QStringLiteral("No cover art for %1: %2")
                  .arg(outputPath, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    OwnerMark::clear(outputPath); // the copy's mark, should the tool have kept it
    DNLog(QStringLiteral("Cover art added to %1").arg(outputPath));
    return true;
}

bool CoverArtTagger::runTool(
    const QString& program, const QStringList& arguments, const QString& writes)
{
    ProcessRunner runner;
    runner.setGentleStop({ SIGTERM, {} }, kStopGrace);
    runner.setStallLimit(engineStallLimit(), [writes] { return fileMark(writes); });
    runner.setStderrHandler(
        [](const QString& line) { DNLogger::shareRoughLog().logEngineLine(line); });
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopped)
            return false;
        m_runner = &runner;
    }
    const ProcessRunner::Result result = runner.run(program, arguments);
    {
        const std::lock_guard lock(m_mutex);
        m_runner = nullptr;
    }
    if (!result.started)
        DNLog(QStringLiteral("Cannot run %1: %2").arg(program, result.error));
    if (result.stalled)
        DNLog(QStringLiteral("%1 %2.").arg(program, stallReason(engineStallLimit())));
    return result.succeeded() && !result.stopped;
}
