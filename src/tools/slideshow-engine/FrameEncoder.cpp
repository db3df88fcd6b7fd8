#include "FrameEncoder.h"

#include "platform/ProcessRunner.h"
#include "services/OutputPublishing.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Frames drawn ahead of ffmpeg: enough to keep both busy, few enough that a
// stop does not wait for a backlog.
constexpr std::size_t kQueuedFrames = 3;
// How often a wait looks at the stop request.
constexpr auto kStopPoll = 20ms;
// ffmpeg closes the file on SIGTERM; a run that takes longer is killed.
constexpr auto kStopGrace = 300ms;
// How often the output's size is looked at while we wait for ffmpeg.
constexpr auto kGrowthLook = 500ms;
// A frame of 1080p is 3 MB: a larger pipe means fewer trips through the kernel.
constexpr int kPipeBytes = 1024 * 1024;

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString frameRate(double framesPerSecond)
{
    // Six digits keep 29.97 from turning into 29.9699993 (the job stores it
    // as a 32-bit float).
    return QString::number(framesPerSecond, 'g', 6);
}

// The frames in the order they come, to their times: with a hold, each
// photo's still and then its transition. ffmpeg's fps filter repeats the
// still until the transition's first frame is due.
QString videoGraph(const FrameEncoder::Settings& settings)
{
    if (settings.holdFrames == 0)
        return QStringLiteral("[0:v]null[video]");
    const int sent = 1 + settings.transitionFrames;
    const int shown = settings.holdFrames + settings.transitionFrames;
    const QString shownIndex = QStringLiteral("floor(N/%1)*%2+if(mod(N,%1),%3+mod(N,%1),0)")
                                   .arg(sent)
                                   .arg(shown)
                                   .arg(settings.holdFrames - 1);
    return QStringLiteral("[0:v]setpts='(%1)/(FR*TB)',fps=%2[video]")
        .arg(shownIndex, frameRate(settings.framesPerSecond));
}

// How the frames are coloured, so that players and ffmpeg itself read them
// with the matrix they were made with. The photos' primaries and transfer are
// sRGB's, which are BT.709's.
QStringList colourTags(QSize frameSize)
{
    const bool hd = YuvFrame::matrixFor(frameSize) == YuvFrame::Matrix::Bt709;
    return { "-colorspace", hd ? "bt709" : "smpte170m", "-color_primaries", "bt709", "-color_trc",
        "bt709", "-color_range", "tv" };
}

// The music joined, padded with silence or cut to the movie's length, and
// faded out over its last two seconds.
QString musicGraph(int musicCount, double seconds)
{
    QString inputs;
    for (int index = 1; index <= musicCount; ++index)
        inputs += QStringLiteral("[%1:a:0]").arg(index);
    const double fade = std::min(2.0, seconds);
    return inputs
        + QStringLiteral("concat=n=%1:v=0:a=1,apad,atrim=0:%2,afade=t=out:st=%3:d=%4[music]")
              .arg(musicCount)
              .arg(number(seconds, 6), number(seconds - fade, 6), number(fade, 6));
}

struct ChildPlan {
    QByteArray program;
    std::vector<QByteArray> words;
    std::vector<char*> argv;
    int input = -1;
    int complaints = -1;
    pid_t parent = 0;
};

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void execChild(const ChildPlan& plan)
{
    prepareForkedChild(plan.parent);
    const int nothing = ::open("/dev/null", O_WRONLY);
    if (::dup2(plan.input, STDIN_FILENO) < 0 || ::dup2(nothing, STDOUT_FILENO) < 0
        || ::dup2(plan.complaints, STDERR_FILENO) < 0)
        ::_exit(127);
    ::execv(plan.program.constData(), plan.argv.data());
    ::_exit(127);
}

// Reaps the child when it has ended; true also when it is not ours to wait for.
bool hasEnded(pid_t pid)
{
    int status = 0;
    pid_t done = 0;
    do
        done = ::waitpid(pid, &status, WNOHANG);
    while (done < 0 && errno == EINTR);
    return done != 0;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

FrameEncoder::FrameEncoder(std::function<bool()> stopRequested, Complaint complain, Written written)
    : m_stopRequested(std::move(stopRequested))
    , m_complain(std::move(complain))
    , m_written(std::move(written))
{ }

FrameEncoder::~FrameEncoder()
{
    abort();
}

QStringList FrameEncoder::arguments(const Settings& settings)
{
    QStringList words { "-nostdin", "-hide_banner", "-loglevel", "error", "-f", "rawvideo",
        "-pix_fmt", "yuv420p", "-s",
        QStringLiteral("%1x%2").arg(settings.frameSize.width()).arg(settings.frameSize.height()),
        "-r", frameRate(settings.framesPerSecond), "-i", "pipe:0" };
    // "file:" keeps a name with a colon from being read as a protocol.
    for (const QString& path : settings.music)
        words << "-i"
              << "file:" + path;
    QString graph = videoGraph(settings);
    if (!settings.music.isEmpty())
        graph += ';' + musicGraph(int(settings.music.size()), settings.seconds);
    words << "-filter_complex" << graph << "-map"
          << "[video]";
    if (!settings.music.isEmpty())
        words << "-map"
              << "[music]";
    words << "-c:v"
          << "libx264"
          << "-preset"
          << "veryfast"
          << "-crf"
          << "18"
          << "-pix_fmt"
          << "yuv420p" << colourTags(settings.frameSize);
    if (!settings.music.isEmpty())
        words << "-c:a"
              << "aac"
              << "-b:a"
              << "160k";
    words << "-t" << number(settings.seconds, 6);
    if (!settings.muxer.isEmpty())
        words << "-f" << settings.muxer;
    return words << "-y"
                 << "file:" + settings.output;
}

bool FrameEncoder::start(const Settings& settings, QString& error)
{
    ChildPlan plan;
    plan.program = QFile::encodeName(QStandardPaths::findExecutable("ffmpeg"));
    if (plan.program.isEmpty()) {
        error = QStringLiteral("cannot find ffmpeg");
        return false;
    }
    plan.words.push_back(plan.program);
    for (const QString& word : arguments(settings))
        plan.words.push_back(word.toUtf8());
    for (QByteArray& word : plan.words)
        plan.argv.push_back(word.data());
    plan.argv.push_back(nullptr);
    std::array<int, 2> input {};
    std::array<int, 2> complaints {};
    if (::pipe2(input.data(), O_CLOEXEC) != 0 || ::pipe2(complaints.data(), O_CLOEXEC) != 0) {
        error = QStringLiteral("cannot make pipes for ffmpeg");
        return false;
    }
    plan.input = input[0];
    plan.complaints = complaints[1];
    plan.parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0)
        execChild(plan);
    ::close(input[0]);
    ::close(complaints[1]);
    if (m_pid < 0) {
        ::close(input[1]);
        ::close(complaints[0]);
        error = QStringLiteral("cannot start ffmpeg");
        return false;
    }
    m_input = input[1];
    m_output = settings.output;
    m_lastTaken = std::chrono::steady_clock::now();
    ::fcntl(m_input, F_SETPIPE_SZ, kPipeBytes);
    m_writer = std::thread([this] { writeFrames(); });
    m_reader = std::thread([this, fd = complaints[0]] { readComplaints(fd); });
    return true;
}

bool FrameEncoder::write(Frame frame)
{
    std::unique_lock lock(m_mutex);
    while (m_queue.size() >= kQueuedFrames && !m_writeFailed && !m_stopRequested()) {
        m_changed.wait_for(lock, kStopPoll);
        lock.unlock();
        reportGrowth();
        lock.lock();
    }
    if (m_writeFailed || m_stopRequested())
        return false;
    m_queue.push_back(std::move(frame));
    m_changed.notify_all();
    return true;
}

void FrameEncoder::writeFrames()
{
    while (true) {
        Frame frame;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_queue.empty() || m_inputEnded; });
            if (m_queue.empty())
                break;
            frame = std::move(m_queue.front());
            m_queue.pop_front();
            m_writing = true;
            m_changed.notify_all();
        }
        const bool written = writeAll(m_input, *frame);
        const std::lock_guard lock(m_mutex);
        m_writing = false;
        m_lastTaken = std::chrono::steady_clock::now();
        if (!written) {
            m_writeFailed = true;
            m_queue.clear();
            m_changed.notify_all();
            break;
        }
    }
    // The end of the input is the end of the movie for ffmpeg.
    ::close(m_input);
}

void FrameEncoder::readComplaints(int fd)
{
    QByteArray pending;
    std::array<char, 4096> buffer {};
    while (true) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        pending.append(buffer.data(), count);
        qsizetype end = 0;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            if (line.isEmpty())
                continue;
            m_complain("ffmpeg: " + line);
            const std::lock_guard lock(m_mutex);
            m_lastComplaint = line;
            if (m_diskFullLine.isEmpty() && saysDiskIsFull(line))
                m_diskFullLine = line;
        }
    }
    ::close(fd);
}

bool FrameEncoder::finish(QString& error)
{
    {
        const std::lock_guard lock(m_mutex);
        m_inputEnded = true;
        m_changed.notify_all();
    }
    int status = 0;
    if (!waitForExit(status)) {
        error = QStringLiteral("stopped");
        return false;
    }
    endThreads();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    error = failureReason(status);
    return false;
}

// Waits for ffmpeg to end; false, with ffmpeg still running, when a stop is
// requested first.
bool FrameEncoder::waitForExit(int& status)
{
    while (true) {
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid || (done < 0 && errno != EINTR)) {
            m_pid = -1;
            return true;
        }
        if (m_stopRequested())
            return false;
        std::this_thread::sleep_for(kStopPoll);
        reportGrowth();
    }
}

void FrameEncoder::reportGrowth()
{
    const auto now = std::chrono::steady_clock::now();
    if (!m_written || now - m_lastSizeLook < kGrowthLook)
        return;
    m_lastSizeLook = now;
    const qint64 size = QFileInfo(m_output).size();
    if (size > m_outputSize)
        m_written(size);
    m_outputSize = std::max(size, m_outputSize);
}

std::optional<std::chrono::milliseconds> FrameEncoder::waitingForFfmpeg() const
{
    const std::lock_guard lock(m_mutex);
    if (m_pid <= 0 || !(m_writing || m_inputEnded || m_queue.size() >= kQueuedFrames))
        return std::nullopt;
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - m_lastTaken);
}

void FrameEncoder::abort()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        const auto killAt = std::chrono::steady_clock::now() + kStopGrace;
        while (!hasEnded(m_pid)) {
            if (std::chrono::steady_clock::now() >= killAt) {
                ::kill(m_pid, SIGKILL);
                int status = 0;
                while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        m_pid = -1;
    }
    endThreads();
}

// With ffmpeg gone its pipes are closed, so both threads come to an end.
void FrameEncoder::endThreads()
{
    {
        const std::lock_guard lock(m_mutex);
        m_inputEnded = true;
        m_changed.notify_all();
    }
    if (m_writer.joinable())
        m_writer.join();
    if (m_reader.joinable())
        m_reader.join();
}

QString FrameEncoder::diskFullLine() const
{
    const std::lock_guard lock(m_mutex);
    return m_diskFullLine;
}

QString FrameEncoder::failureReason(int status) const
{
    QString last;
    {
        const std::lock_guard lock(m_mutex);
        last = m_lastComplaint;
    }
    if (WIFSIGNALED(status))
        return QStringLiteral("ffmpeg was ended by ") + signalText(WTERMSIG(status));
    const int code = WEXITSTATUS(status);
    if (code == 127 && last.isEmpty())
        return QStringLiteral("ffmpeg could not be run");
    return last.isEmpty() ? QStringLiteral("ffmpeg ended with status %1").arg(code)
                          : QStringLiteral("ffmpeg ended with status %1: %2").arg(code).arg(last);
}
