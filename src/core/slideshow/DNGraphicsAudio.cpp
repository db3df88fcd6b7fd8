#include "slideshow/DNGraphicsAudio.h"

#include <QFileInfo>

#include <memory>
#include <mutex>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace {

struct ContextCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

} // namespace

DNGraphicsAudio DNGraphicsAudio::graphicsAudio(const QString& path)
{
    // An unreadable file is a length of 0, not a message on the console.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    DNGraphicsAudio audio { path, 0 };
    // Opening a FIFO waits for a writer that may never come.
    if (!refusalOf(path).isEmpty())
        return audio;
    // The "file:" prefix keeps a name with a colon from being read as a protocol.
    const QByteArray url = "file:" + QFileInfo(path).absoluteFilePath().toUtf8();
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, url.constData(), nullptr, nullptr) < 0)
        return audio;
    const std::unique_ptr<AVFormatContext, ContextCloser> context(raw);
    if (avformat_find_stream_info(context.get(), nullptr) < 0 || context->duration <= 0)
        return audio;
    audio.audioDuration = static_cast<int>(context->duration / AV_TIME_BASE);
    return audio;
}

QString DNGraphicsAudio::refusalOf(const QString& path)
{
    const QFileInfo file(path);
    if (!file.exists())
        return QStringLiteral("it is not there");
    if (!file.isFile())
        return QStringLiteral("it is not a regular file");
    return {};
}
