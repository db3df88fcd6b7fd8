#include "EngineOutput.h"

#include <QByteArray>

#include <cerrno>

#include <unistd.h>

namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(100);

// A reader that has gone away must not stop the render: the bytes are dropped.
void writeWhole(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written
            = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        done += written;
    }
}

} // namespace

namespace EngineOutput {

// The program hands the line on as its reason, which names what failed and
// never this helper.
void complain(const QString& line)
{
    writeWhole(STDERR_FILENO, line.toUtf8() + '\n');
}

void result(int code, const QString& target)
{
    writeWhole(STDOUT_FILENO, "result:" + QByteArray::number(code) + ':' + target.toUtf8() + '\n');
}

void photoRead(const QString& photo)
{
    writeWhole(STDOUT_FILENO, "reading:" + photo.toUtf8() + '\n');
}

void written(qint64 bytes)
{
    writeWhole(STDOUT_FILENO, "written:" + QByteArray::number(bytes) + '\n');
}

void waitedForFfmpeg(std::chrono::milliseconds waited)
{
    writeWhole(STDOUT_FILENO, "waited:ffmpeg:" + QByteArray::number(waited.count()) + '\n');
}

Progress::Progress(qint64 totalFrames)
    : m_total(totalFrames)
{ }

void Progress::photoShown(qint64 framesWritten, const QString& photo)
{
    m_photo = photo;
    frameWritten(framesWritten);
}

void Progress::frameWritten(qint64 framesWritten)
{
    if (std::chrono::steady_clock::now() - m_lastSent >= kProgressInterval)
        send(framesWritten);
}

void Progress::send(qint64 framesWritten)
{
    m_lastSent = std::chrono::steady_clock::now();
    writeWhole(STDOUT_FILENO,
        "progress:" + QByteArray::number(m_total) + ':' + QByteArray::number(framesWritten) + ':'
            + m_photo.toUtf8() + '\n');
}

} // namespace EngineOutput
