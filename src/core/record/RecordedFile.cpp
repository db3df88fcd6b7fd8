#include "record/RecordedFile.h"

#include "platform/Fd.h"

#include <QFile>
#include <QtEndian>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kReadBufferBytes = 64 * 1024;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The recording read through a descriptor of our own: a failed open or read
// (no free descriptor, an I/O error on a drive that went away) is kept, so
// that a file that could not be read is never taken for one that holds
// nothing.
class RecordingInput {
public:
    explicit RecordingInput(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {
        if (!m_fd.valid()) {
            m_missing = errno == ENOENT;
            m_problem = errorText(errno);
            return;
        }
        struct stat status { };
        if (::fstat(m_fd.get(), &status) != 0) {
            m_problem = errorText(errno);
            return;
        }
        if (!S_ISREG(status.st_mode)) {
            m_problem = QStringLiteral("it is not a plain file");
            return;
        }
        auto* buffer = static_cast<unsigned char*>(av_malloc(kReadBufferBytes));
        m_io = buffer ? avio_alloc_context(buffer, kReadBufferBytes, 0, this, &read, nullptr, &seek)
                      : nullptr;
        if (!m_io) {
            av_free(buffer);
            m_problem = errorText(ENOMEM);
        }
    }
    ~RecordingInput()
    {
        if (!m_io)
            return;
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    RecordingInput(const RecordingInput&) = delete;
    RecordingInput& operator=(const RecordingInput&) = delete;

    // Nothing is there: nothing was recorded, and nothing can be lost.
    bool isMissing() const { return m_missing; }
    quint64 mediaDataBytes() const;
    // Why it could not be opened or read through; empty while it could.
    QString problem() const { return m_problem; }
    AVIOContext* io() const { return m_io; }

private:
    static int read(void* opaque, uint8_t* buffer, int size)
    {
        auto& input = *static_cast<RecordingInput*>(opaque);
        ssize_t got = 0;
        do
            got = ::read(input.m_fd.get(), buffer, size_t(size));
        while (got < 0 && errno == EINTR);
        if (got > 0)
            return int(got);
        if (got == 0)
            return AVERROR_EOF;
        const int error = errno;
        if (input.m_problem.isEmpty())
            input.m_problem = errorText(error);
        return AVERROR(error);
    }
    static int64_t seek(void* opaque, int64_t offset, int whence)
    {
        const int fd = static_cast<RecordingInput*>(opaque)->m_fd.get();
        if (whence == AVSEEK_SIZE) {
            struct stat status { };
            return ::fstat(fd, &status) == 0 ? int64_t(status.st_size) : AVERROR(errno);
        }
        // A seek past the end or before the start is the file's content
        // speaking, not a failure to read it.
        const off_t at = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : int64_t(at);
    }

    Fd m_fd;
    bool m_missing = false;
    QString m_problem;
    AVIOContext* m_io = nullptr;
};

// What the media data boxes at the file's top level hold: a QuickTime file
// whose writer was killed before its index holds its pictures there all the
// same, though no reader finds them without the index. Only the box headers
// are read, a bounded number of them.
quint64 RecordingInput::mediaDataBytes() const
{
    constexpr int kMostBoxes = 64;
    struct stat status { };
    if (::fstat(m_fd.get(), &status) != 0)
        return 0;
    const qint64 fileSize = status.st_size;
    quint64 held = 0;
    qint64 at = 0;
    for (int boxes = 0; boxes < kMostBoxes && at + 8 <= fileSize; ++boxes) {
        unsigned char header[16] = {};
        const ssize_t got = ::pread(m_fd.get(), header, sizeof header, off_t(at));
        if (got < 8)
            break;
        const qint64 left = fileSize - at;
        quint64 size = qFromBigEndian<quint32>(header);
        qint64 headerSize = 8;
        if (size == 1 && got == 16) {
            size = qFromBigEndian<quint64>(header + 8);
            headerSize = 16;
        } else if (size == 0) {
            size = quint64(left); // runs to the file's end
        }
        if (size < quint64(headerSize))
            break;
        // A box the writer never closed runs past the end: it holds what is there.
        const qint64 reach = size > quint64(left) ? left : qint64(size);
        if (std::memcmp(header + 4, "mdat", 4) == 0)
            held += quint64(std::max<qint64>(reach - headerSize, 0));
        if (reach < qint64(size))
            break;
        at += reach;
    }
    return held;
}

// A file that no reader opens (no index) but holds recorded data is not
// empty: it could not be read, and is kept.
PictureCheck withoutIndex(const RecordingInput& input, PictureCheck check)
{
    if (check.pictures != RecordedPictures::None)
        return check;
    const quint64 held = input.mediaDataBytes();
    if (held == 0)
        return check;
    return { RecordedPictures::Unchecked,
        QStringLiteral("it holds %1 MB of recorded data, but no index that says where its "
                       "pictures lie")
            .arg(QString::number(double(held) / 1e6, 'f', 1)) };
}

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

// The file opened with its picture stream found. The input outlives the
// context that reads through it.
struct OpenedRecording {
    std::unique_ptr<RecordingInput> input;
    std::unique_ptr<AVFormatContext, InputCloser> context;
    int video = -1;
};

// What a step that failed with `code` says of the file: nothing when our own
// read failed or memory ran out; otherwise the file holds no (more) pictures.
PictureCheck checkAfter(const RecordingInput& input, int code)
{
    if (!input.problem().isEmpty())
        return { RecordedPictures::Unchecked, input.problem() };
    if (code == AVERROR(ENOMEM))
        return { RecordedPictures::Unchecked, errorText(ENOMEM) };
    return { RecordedPictures::None, {} };
}

struct Opening {
    std::optional<OpenedRecording> recording;
    PictureCheck failure; // when there is none
};

Opening openRecording(const QString& path)
{
    // A cut-short file is expected here; its complaints would only be noise.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    auto input = std::make_unique<RecordingInput>(path);
    if (input->isMissing())
        return { std::nullopt, { RecordedPictures::None, {} } };
    if (!input->problem().isEmpty())
        return { std::nullopt, { RecordedPictures::Unchecked, input->problem() } };
    AVFormatContext* opened = avformat_alloc_context();
    if (!opened)
        return { std::nullopt, { RecordedPictures::Unchecked, errorText(ENOMEM) } };
    opened->pb = input->io();
    opened->flags |= AVFMT_FLAG_CUSTOM_IO;
    // A context that fails to open is freed by the call.
    if (const int code
        = avformat_open_input(&opened, QFile::encodeName(path).constData(), nullptr, nullptr);
        code < 0)
        return { std::nullopt, withoutIndex(*input, checkAfter(*input, code)) };
    OpenedRecording recording { std::move(input),
        std::unique_ptr<AVFormatContext, InputCloser>(opened), -1 };
    if (const int code = avformat_find_stream_info(opened, nullptr); code < 0)
        return { std::nullopt, checkAfter(*recording.input, code) };
    recording.video = av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (recording.video < 0)
        return { std::nullopt, checkAfter(*recording.input, recording.video) };
    return { std::move(recording), {} };
}

} // namespace

PictureCheck checkRecordedPictures(const QString& path)
{
    const Opening opening = openRecording(path);
    if (!opening.recording)
        return opening.failure;
    const OpenedRecording& recording = *opening.recording;
    const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    if (!packet)
        return { RecordedPictures::Unchecked, errorText(ENOMEM) };
    // An index written up front describes streams that may never have got a
    // single sample: only a packet read back whole proves a picture, and the
    // file ends where one was cut short (or where a read failed).
    for (;;) {
        const int code = av_read_frame(recording.context.get(), packet.get());
        if (code < 0)
            return checkAfter(*recording.input, code);
        const bool cut = (packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
        const bool isPicture = packet->stream_index == recording.video;
        av_packet_unref(packet.get());
        if (cut)
            return checkAfter(*recording.input, 0);
        if (isPicture)
            return { RecordedPictures::Found, {} };
    }
}

bool hasRecordedPictures(const QString& path)
{
    return checkRecordedPictures(path).pictures == RecordedPictures::Found;
}

namespace {

// How long the stream's packets last, from the first to the end of the last,
// read up to where the file is cut short.
std::optional<double> streamSeconds(const OpenedRecording& recording, int streamIndex)
{
    const AVStream& stream = *recording.context->streams[streamIndex];
    std::optional<int64_t> first;
    int64_t end = 0;
    const std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    while (packet && av_read_frame(recording.context.get(), packet.get()) >= 0) {
        // A file cut short (a full disk) ends inside a packet that its index,
        // written before the pictures, still counts whole: what follows is not there.
        const bool cut = (packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
        if (!cut && packet->stream_index == streamIndex && packet->pts != AV_NOPTS_VALUE) {
            first = std::min(first.value_or(packet->pts), packet->pts);
            end = std::max(end, packet->pts + packet->duration);
        }
        av_packet_unref(packet.get());
        if (cut)
            break;
    }
    if (!first || !recording.input->problem().isEmpty())
        return std::nullopt;
    return av_q2d(stream.time_base) * double(end - *first);
}

} // namespace

std::optional<double> recordedPictureSeconds(const QString& path)
{
    const Opening opening = openRecording(path);
    if (!opening.recording)
        return std::nullopt;
    return streamSeconds(*opening.recording, opening.recording->video);
}

std::optional<double> recordedSoundSeconds(const QString& path)
{
    const Opening opening = openRecording(path);
    if (!opening.recording)
        return std::nullopt;
    const int sound = av_find_best_stream(
        opening.recording->context.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (sound < 0)
        return std::nullopt;
    return streamSeconds(*opening.recording, sound);
}
