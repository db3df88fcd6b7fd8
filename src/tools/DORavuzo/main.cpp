// DORavuzo: the player tool. Runs mplayer with the player protocol's command
// line rewritten for Linux (see MPlayerArguments.h), passes its commands on,
// forwards its standard output byte for byte, and hands its pictures to our
// program over the frame link. Standard error is mplayer's own.
#include "CommandRelay.h"
#include "FrameLinkClient.h"
#include "MPlayerArguments.h"
#include "MPlayerOutput.h"
#include "ShownRange.h"
#include "Y4mStream.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kNeverPlayed = 2;
constexpr int kCannotStart = 127;
// Our pipes live above the descriptors mplayer is given, so that placing
// one of them can never overwrite another.
constexpr int kFirstOwnDescriptor = 10;
// How long mplayer may take to follow a "quit" before its group is killed.
constexpr auto kQuitGrace = std::chrono::seconds(2);

using Clock = std::chrono::steady_clock;

// How long mplayer may go without a picture or a new status line while it is
// not paused: QUILLON_STALL_LIMIT_MS, which our program sets, else two minutes.
std::chrono::milliseconds stallLimit()
{
    const char* given = std::getenv("QUILLON_STALL_LIMIT_MS");
    const long long limit = given ? std::atoll(given) : 0;
    return std::chrono::milliseconds(limit > 0 ? limit : 120000);
}

struct Pipe {
    int read = -1;
    int write = -1;
};

bool makePipe(Pipe& pipe)
{
    std::array<int, 2> fds {};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0)
        return false;
    pipe.read = ::fcntl(fds[0], F_DUPFD_CLOEXEC, kFirstOwnDescriptor);
    pipe.write = ::fcntl(fds[1], F_DUPFD_CLOEXEC, kFirstOwnDescriptor);
    ::close(fds[0]);
    ::close(fds[1]);
    return pipe.read >= 0 && pipe.write >= 0;
}

// We die with the program that started us (it serves our frame link) and
// mplayer dies with us: it plays on when its input ends, with "-loop 0" for
// ever. The signal follows the thread that forked, and both forks are made by
// a thread that lives as long as its process.
bool dieWithParent(pid_t expectedParent)
{
    return ::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && ::getppid() == expectedParent;
}

[[noreturn]] void failChild(int statusFd)
{
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(statusFd, &error, sizeof error);
    ::_exit(kCannotStart);
}

// mplayer's pipes: its commands, its output and its pictures.
struct PlayerPipes {
    Pipe commands;
    Pipe output;
    Pipe pictures;
};

// Between fork and exec: only async-signal-safe calls. mplayer leads a
// process group of its own, which its forks (the network cache) join.
[[noreturn]] void execMPlayer(
    std::vector<char*>& argv, pid_t tool, const PlayerPipes& pipes, int statusFd)
{
    if (!dieWithParent(tool) || ::setpgid(0, 0) != 0)
        ::_exit(kCannotStart);
    // yuv4mpeg opens "/dev/fd/3" for writing: whatever sits on 3 gets the
    // pictures, so our pipe must be there and nothing else.
    if (::dup2(pipes.commands.read, STDIN_FILENO) < 0
        || ::dup2(pipes.output.write, STDOUT_FILENO) < 0
        || ::dup2(pipes.pictures.write, kPictureDescriptor) < 0)
        failChild(statusFd);
    ::close_range(kPictureDescriptor + 1, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execvp("mplayer", argv.data());
    failChild(statusFd);
}

// The errno of a failed exec, or 0 once mplayer runs.
int readExecError(int statusFd)
{
    int error = 0;
    ssize_t count = 0;
    do
        count = ::read(statusFd, &error, sizeof error);
    while (count < 0 && errno == EINTR);
    return count == sizeof error ? error : 0;
}

int exitCodeOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

int waitFor(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return 1;
    return exitCodeOf(status);
}

void writeAll(int fd, const char* bytes, std::size_t count)
{
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // our reader has gone: mplayer's output is dropped, never blocks it
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

// A child of the tool in mplayer's process group that waits for the tool to
// go, however it goes (the lifeline's only write end closes with the tool),
// and then kills the whole group, itself last. While it lives, the group's
// number cannot pass to anyone else's group. Only async-signal-safe calls.
[[noreturn]] void keepGroup(pid_t group, int lifeline)
{
    if (::setpgid(0, group) != 0 || ::dup2(lifeline, STDIN_FILENO) < 0)
        ::_exit(1);
    ::close_range(STDOUT_FILENO, ~0U, 0);
    char byte = 0;
    while (::read(STDIN_FILENO, &byte, 1) < 0 && errno == EINTR) { }
    ::kill(-group, SIGKILL);
    ::_exit(0);
}

// mplayer's process group, which holds mplayer and its forks (the network
// cache): they end together, when mplayer ends, when the tool ends, or when
// mplayer has not followed a "quit" in time.
class PlayerGroup {
public:
    explicit PlayerGroup(pid_t leader)
        : m_leader(leader)
        , m_endedFd(static_cast<int>(::syscall(SYS_pidfd_open, leader, 0)))
    {
        Pipe lifeline;
        if (!makePipe(lifeline)) {
            std::perror("DORavuzo: cannot make a pipe");
            return;
        }
        m_keeper = ::fork();
        if (m_keeper == 0)
            keepGroup(leader, lifeline.read);
        if (m_keeper < 0)
            std::perror("DORavuzo: cannot start the keeper of mplayer's group");
        ::close(lifeline.read);
        m_lifeline = lifeline.write;
    }
    ~PlayerGroup()
    {
        if (m_endedFd >= 0)
            ::close(m_endedFd);
        if (m_lifeline >= 0)
            ::close(m_lifeline);
        if (m_keeper > 0)
            waitFor(m_keeper);
    }
    PlayerGroup(const PlayerGroup&) = delete;
    PlayerGroup& operator=(const PlayerGroup&) = delete;

    // Readable once mplayer has ended (it stays unreaped, and so does its
    // group's number, until the tool waits for it); -1 once the group ended.
    int endedFd() const { return m_ended ? -1 : m_endedFd; }
    void end()
    {
        m_ended = true;
        ::kill(-m_leader, SIGKILL);
    }

private:
    pid_t m_leader;
    int m_endedFd;
    pid_t m_keeper = -1;
    int m_lifeline = -1;
    bool m_ended = false;
};

// A picture kept until its status line tells whether it is shown.
struct HeldPicture {
    explicit HeldPicture(const Y4mStream::Picture& picture)
        : width(picture.width)
        , height(picture.height)
    {
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane == 0 ? height : (height + 1) / 2;
            strides[plane] = picture.strides[plane];
            bytes[plane].assign(picture.planes[plane],
                picture.planes[plane] + static_cast<std::size_t>(strides[plane]) * rows);
        }
    }
    Y4mStream::Picture view() const
    {
        Y4mStream::Picture picture { width, height, {}, {} };
        for (int plane = 0; plane < 3; ++plane) {
            picture.planes[plane] = bytes[plane].data();
            picture.strides[plane] = strides[plane];
        }
        return picture;
    }

    int width;
    int height;
    std::vector<std::uint8_t> bytes[3];
    int strides[3] = {};
};

// Pictures waiting for their status lines: more means mplayer stopped
// writing them, and the pictures are shown as they come.
constexpr std::size_t kMostHeldPictures = 8;

// Reads mplayer's two outputs until both end, passing our commands on.
class Session {
public:
    Session(int outputFd, int picturesFd, CommandRelay& commands, PlayerGroup& group,
        std::optional<FrameLinkClient>& link, std::optional<ShownRange> range)
        : m_outputFd(outputFd)
        , m_picturesFd(picturesFd)
        , m_commands(commands)
        , m_group(group)
        , m_link(link)
        , m_pictures([this](int width, int height) { beginStream(width, height); },
              [this](const Y4mStream::Picture& picture) { showPicture(picture); })
        , m_stallLimit(stallLimit())
        , m_lastMove(Clock::now())
        , m_range(std::move(range))
    { }

    void run()
    {
        std::vector<char> buffer(1 << 20);
        while (m_outputFd >= 0 || m_picturesFd >= 0) {
            pollfd watched[4] = { { m_outputFd, POLLIN, 0 }, { m_picturesFd, POLLIN, 0 },
                { m_commands.inputFd(), POLLIN, 0 }, { m_group.endedFd(), POLLIN, 0 } };
            if (::poll(watched, 4, msUntilNextLook()) < 0 && errno != EINTR)
                break;
            if (watched[0].revents != 0)
                forwardOutput(buffer);
            if (watched[1].revents != 0)
                readPictures(buffer);
            if (watched[2].revents != 0 && m_commands.relay() && !m_quitDeadline)
                m_quitDeadline = Clock::now() + kQuitGrace;
            // What is left of the group holds the pipes open: it goes with mplayer.
            if (watched[3].revents != 0 || (m_quitDeadline && Clock::now() >= *m_quitDeadline)) {
                m_group.end();
                m_quitDeadline.reset();
            }
            endIfStalled();
        }
        if (m_link)
            m_link->stop();
        if (!m_pictures.fault().empty())
            std::fprintf(stderr, "DORavuzo: %s\n", m_pictures.fault().c_str());
    }

    // mplayer says "Starting playback..." also for data it then cannot decode
    // a single frame of: playback began when something was shown or heard.
    bool played() const
    {
        return m_output.playbackStarted() && (m_pictureSeen || m_output.audioPlayed());
    }

    // The stall limit ended mplayer.
    bool stalled() const { return m_stalled; }

private:
    // Until the quit deadline or the next look at mplayer's progress.
    int msUntilNextLook() const
    {
        Clock::time_point next = m_lastMove + m_stallLimit;
        if (m_quitDeadline)
            next = std::min(next, *m_quitDeadline);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
        return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1000));
    }

    // mplayer waiting for ever (on a cache process that died, printing one
    // cache fill again and again) is ended with its group; a paused one is
    // left alone.
    void endIfStalled()
    {
        const std::string mark = std::to_string(m_picturesShown) + ' ' + m_output.lastStatus();
        const Clock::time_point now = Clock::now();
        if (m_stalled || mark != m_lastMark || m_output.paused()) {
            m_lastMark = mark;
            m_lastMove = now;
            return;
        }
        if (now - m_lastMove < m_stallLimit)
            return;
        std::fprintf(stderr, "DORavuzo: mplayer made no progress for %g s\n",
            static_cast<double>(m_stallLimit.count()) / 1000);
        m_stalled = true;
        m_group.end();
    }

    void forwardOutput(std::vector<char>& buffer)
    {
        const ssize_t count = readSome(m_outputFd, buffer);
        if (count <= 0)
            return;
        writeAll(STDOUT_FILENO, buffer.data(), static_cast<std::size_t>(count));
        m_output.feed(buffer.data(), static_cast<std::size_t>(count));
        releaseHeldPictures();
    }

    void readPictures(std::vector<char>& buffer)
    {
        const ssize_t count = readSome(m_picturesFd, buffer);
        if (count > 0)
            m_pictures.feed(reinterpret_cast<const std::uint8_t*>(buffer.data()),
                static_cast<std::size_t>(count));
    }

    // One read; closes the descriptor at its end.
    static ssize_t readSome(int& fd, std::vector<char>& buffer)
    {
        ssize_t count = 0;
        do
            count = ::read(fd, buffer.data(), buffer.size());
        while (count < 0 && errno == EINTR);
        if (count <= 0) {
            ::close(fd);
            fd = -1;
        }
        return count;
    }

    // A stream is announced with its first picture, not its header: mplayer
    // writes the header before it has worked out the display aspect.
    void beginStream(int width, int height)
    {
        if (m_link)
            m_link->stop();
        m_pendingStream = true;
        m_width = width;
        m_height = height;
    }

    void showPicture(const Y4mStream::Picture& picture)
    {
        m_pictureSeen = true;
        ++m_picturesShown;
        if (!m_link)
            return;
        if (!m_range) {
            render(picture);
            return;
        }
        m_held.emplace_back(picture);
        releaseHeldPictures();
    }

    // Pairs the held pictures with their status lines, in order, and shows
    // those in the range.
    void releaseHeldPictures()
    {
        if (!m_range || m_releasing)
            return;
        m_releasing = true;
        m_range->setFramesPerSecond(m_output.framesPerSecond());
        std::deque<double>& times = m_output.pictureTimes();
        while (!m_held.empty() && !times.empty()) {
            if (m_range->shows(times.front()))
                render(m_held.front().view());
            times.pop_front();
            m_held.pop_front();
        }
        for (; m_held.size() > kMostHeldPictures; m_held.pop_front())
            render(m_held.front().view());
        m_releasing = false;
    }

    void render(const Y4mStream::Picture& picture)
    {
        if (m_pendingStream) {
            m_pendingStream = false;
            takeWaitingOutput();
            const int aspect = m_output.aspectTimes100();
            m_link->start(m_width, m_height, aspect > 0 ? aspect : m_width * 100 / m_height);
        }
        m_link->render(picture);
    }

    // The aspect line was written before this picture: take what is waiting.
    void takeWaitingOutput()
    {
        std::vector<char> buffer(1 << 16);
        pollfd watched { m_outputFd, POLLIN, 0 };
        while (m_outputFd >= 0 && ::poll(&watched, 1, 0) > 0 && watched.revents != 0) {
            forwardOutput(buffer);
            watched.fd = m_outputFd;
        }
    }

    int m_outputFd;
    int m_picturesFd;
    CommandRelay& m_commands;
    PlayerGroup& m_group;
    std::optional<FrameLinkClient>& m_link;
    std::optional<Clock::time_point> m_quitDeadline;
    MPlayerOutput m_output;
    Y4mStream m_pictures;
    bool m_pendingStream = false;
    bool m_pictureSeen = false;
    unsigned long long m_picturesShown = 0;
    const std::chrono::milliseconds m_stallLimit;
    std::string m_lastMark;
    Clock::time_point m_lastMove;
    bool m_stalled = false;
    std::optional<ShownRange> m_range;
    std::deque<HeldPicture> m_held;
    bool m_releasing = false;
    int m_width = 0;
    int m_height = 0;
};

std::string audioOutputs()
{
    // No sound server: the null output takes over at once.
    const char* chosen = std::getenv("QUILLON_PLAYER_AO");
    return chosen && *chosen ? chosen : "pulse,alsa,null,";
}

// Starts mplayer on our pipes; its pid, or -1 with the reason told.
pid_t startMPlayer(std::vector<std::string> words, const PlayerPipes& pipes)
{
    Pipe status;
    if (!makePipe(status)) {
        std::perror("DORavuzo: cannot make a pipe");
        return -1;
    }
    words.insert(words.begin(), "mplayer");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t tool = ::getpid();
    const pid_t mplayer = ::fork();
    if (mplayer == 0)
        execMPlayer(argv, tool, pipes, status.write);
    // Also here, so that the group stands before anything is sent to it.
    if (mplayer > 0)
        ::setpgid(mplayer, mplayer);
    ::close(status.write);
    const int execError = mplayer > 0 ? readExecError(status.read) : errno;
    ::close(status.read);
    if (execError == 0)
        return mplayer;
    std::fprintf(stderr, "DORavuzo: cannot start mplayer: %s\n", std::strerror(execError));
    if (mplayer > 0)
        waitFor(mplayer);
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    const pid_t server = ::getppid();
    if (!dieWithParent(server))
        return 1;
    std::signal(SIGPIPE, SIG_IGN);
    const MPlayerArguments arguments
        = rewriteArguments(std::vector<std::string>(argv + 1, argv + argc), audioOutputs());
    PlayerPipes pipes;
    if (!makePipe(pipes.commands) || !makePipe(pipes.output) || !makePipe(pipes.pictures)) {
        std::perror("DORavuzo: cannot make pipes");
        return kCannotStart;
    }
    std::optional<FrameLinkClient> link;
    if (arguments.bufferName)
        link.emplace(server, *arguments.bufferName);
    const pid_t mplayer = startMPlayer(arguments.words, pipes);
    ::close(pipes.commands.read);
    ::close(pipes.output.write);
    ::close(pipes.pictures.write);
    if (mplayer < 0)
        return kCannotStart;
    PlayerGroup group(mplayer);
    CommandRelay commands(STDIN_FILENO, pipes.commands.write);
    std::optional<ShownRange> range;
    if (arguments.showFrom || arguments.showTo)
        range.emplace(arguments.showFrom.value_or(0),
            arguments.showTo.value_or(std::numeric_limits<double>::infinity()), arguments.startAt);
    Session session(pipes.output.read, pipes.pictures.read, commands, group, link, range);
    session.run();
    link.reset();
    const int exitCode = waitFor(mplayer);
    // A player that stopped moving could not play the media on.
    if (!session.played() || session.stalled()) {
        std::fprintf(stderr, "DORavuzo: the media could not be played\n");
        return kNeverPlayed;
    }
    return exitCode;
}
