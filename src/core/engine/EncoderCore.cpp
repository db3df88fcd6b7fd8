#include "engine/EncoderCore.h"

#include "engine/ToolBridge.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/ProcessRunner.h"
#include "platform/RunFolder.h"
#include "services/OutputPublishing.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr const char* kEncoder = "mencoder";
constexpr const char* kFinisher = "ffmpeg";
// mencoder ends within milliseconds of SIGINT and ffmpeg writes its trailer;
// a program that has not ended by then is killed.
constexpr std::chrono::milliseconds kStopGrace = 1000ms;
// Reading a title's first frame takes a fraction of a second.
constexpr std::chrono::seconds kProbeLimit = 20s;
// The folder of a run's own files in the temporary folder.
constexpr const char* kRunFolderPrefix = "quillon-encoder-";

ToolBridge& bridge()
{
    static ToolBridge instance("encoder core");
    return instance;
}
static_assert(kEncoderCoreStateRunning == kToolBridgeStateRunning,
    "the shared start reports this bridge's running state");

// A FIFO in the run's folder for one finishing stage, removed with the
// object. The bridge holds it open for reading and writing, so neither
// program waits in open() for the other (ffmpeg would wait there for ever,
// deaf to SIGTERM, when mencoder ends without opening it); ffmpeg sees the
// end of its input once mencoder has ended and the bridge has let go.
class FinishingFifo {
public:
    explicit FinishingFifo(const RunFolder& folder)
    {
        const QString path = folder.filePath(QStringLiteral("encoder.nut"));
        const QByteArray native = QFile::encodeName(path);
        if (path.isEmpty()) {
            m_error = folder.error();
            return;
        }
        if (::mkfifo(native.constData(), 0600) != 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        m_path = path;
        m_descriptor = ::open(native.constData(), O_RDWR | O_CLOEXEC);
        if (m_descriptor < 0)
            m_error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~FinishingFifo()
    {
        closeWriteEnd();
        if (!m_path.isEmpty())
            QFile::remove(m_path);
    }
    FinishingFifo(const FinishingFifo&) = delete;
    FinishingFifo& operator=(const FinishingFifo&) = delete;

    bool isOpen() const { return m_descriptor >= 0; }
    QString path() const { return m_path; }
    QString error() const { return m_error; }

    // Who waits on whom, from any thread: an empty FIFO keeps ffmpeg waiting
    // for mencoder, a full one mencoder for ffmpeg. Neither, once closed.
    bool isEmpty() const { return lacks(POLLIN); }
    bool isFull() const { return lacks(POLLOUT); }

    void closeWriteEnd()
    {
        const std::lock_guard lock(m_mutex);
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = -1;
    }

private:
    bool lacks(short event) const
    {
        const std::lock_guard lock(m_mutex);
        pollfd look { m_descriptor, event, 0 };
        return m_descriptor >= 0 && ::poll(&look, 1, 0) == 0;
    }

    QString m_path;
    QString m_error;
    mutable std::mutex m_mutex; // guards m_descriptor once the programs run
    int m_descriptor = -1;
};

// mencoder writes its messages on both streams and its status lines on
// standard output.
ToolBridge::Lines encoderLines(int duration)
{
    return { [duration](const QString& line, ProgressInfo& progress) {
                return EncoderCoreReadProgressLine(line, duration, progress);
            },
        {}, {} };
}

ToolBridge::Child encoderChild(const QStringList& arguments, const QString& output)
{
    return { kEncoder, arguments, SIGINT, kStopGrace, output };
}

ToolBridge::Child finisherChild(const QStringList& arguments, const QString& output)
{
    return { kFinisher, arguments, SIGINT, kStopGrace, output };
}

// 0, or the failure of one program with its reason in the log, kept as the
// call's.
int statusOf(
    const QString& program, const ProcessRunner::Result& result, const QString& lastMessage)
{
    const QString failure = ToolBridge::failureOf(program, result, lastMessage);
    if (failure.isEmpty())
        return 0;
    DNLog(failure);
    bridge().keepFailure(failure);
    // mencoder may answer its gentle stop with status 0.
    return result.started && !result.stalled && result.signal == 0 ? result.exitCode
                                                                   : kEncoderCoreFailed;
}

int stoppedStatus()
{
    DNLog(QStringLiteral("The encoder core was stopped before it finished."));
    return kEncoderCoreStopped;
}

// One program alone: mencoder, or ffmpeg for a join.
int runAlone(const ToolBridge::Child& child, ToolBridge::Lines lines)
{
    const ProcessRunner::Result result = bridge().runChild(child, lines);
    return bridge().stopRequested() ? stoppedStatus()
                                    : statusOf(child.program, result, lines.lastMessage);
}

// mencoder into the FIFO, ffmpeg from it to the output, side by side; either
// failing ends the other, and a stop ends both.
int runWithFinishing(const EncoderCorePlan& plan, int duration, const RunFolder& folder)
{
    FinishingFifo fifo(folder);
    if (!fifo.isOpen()) {
        DNLog(
            QStringLiteral("No FIFO for the finishing stage could be made: %1").arg(fifo.error()));
        return kEncoderCoreFailed;
    }
    QStringList encoderArguments = plan.arguments;
    const QString output = encoderArguments[plan.outputAt];
    encoderArguments[plan.outputAt] = fifo.path();
    const ToolBridge::Child encoderRun = encoderChild(encoderArguments, output);
    const ToolBridge::Child finisherRun = finisherChild(
        EncoderCoreFinishingArguments(*plan.finishing, fifo.path(), output), output);
    const QStringList encoderCommand = QStringList { kEncoder } + encoderRun.arguments;
    const QStringList finisherCommand = QStringList { kFinisher } + finisherRun.arguments;
    bridge().setLastCommand(encoderCommand + QStringList { "|" } + finisherCommand);
    DNLog(QStringLiteral("The encoder core runs: ") + shellCommandLine(encoderCommand));
    DNLog(QStringLiteral("Its finishing stage runs: ") + shellCommandLine(finisherCommand));

    ToolBridge::Lines fromEncoder = encoderLines(duration);
    ToolBridge::Lines fromFinisher;
    ProcessRunner encoder;
    ProcessRunner finisher;
    // When one of them stops, the other soon stops too, waiting on the FIFO:
    // only the one that stopped first runs into its stall limit.
    bridge().prepare(encoder, encoderRun, fromEncoder, [&fifo] { return fifo.isFull(); });
    bridge().prepare(finisher, finisherRun, fromFinisher, [&fifo] { return fifo.isEmpty(); });
    bridge().attach(encoder);
    bridge().attach(finisher);
    ProcessRunner::Result finisherResult;
    // ffmpeg first: mencoder's output has somewhere to go from its start. When
    // ffmpeg ends, nothing reads the FIFO any more: mencoder must end too.
    std::thread finishing([&] {
        finisherResult = finisher.run(kFinisher, finisherRun.arguments);
        encoder.stop();
    });
    const ProcessRunner::Result encoderResult = encoder.run(kEncoder, encoderRun.arguments);
    fifo.closeWriteEnd();
    if (!encoderResult.succeeded())
        finisher.stop();
    finishing.join();
    bridge().detach(finisher);
    bridge().detach(encoder);

    if (bridge().stopRequested())
        return stoppedStatus();
    if (!encoderResult.stopped) {
        if (const int status = statusOf(kEncoder, encoderResult, fromEncoder.lastMessage);
            status != 0)
            return status;
    }
    return statusOf(kFinisher, finisherResult, fromFinisher.lastMessage) == 0 ? 0
                                                                              : kEncoderCoreFailed;
}

// Runs mplayer on a title for what it tells of it, each line of its standard
// output to `line`; it is stopped when it has not ended within the limit.
void probe(
    const QString& program, const QStringList& arguments, const ProcessRunner::LineHandler& line)
{
    ProcessRunner runner;
    runner.setStdoutHandler(line);
    bridge().attach(runner);
    std::promise<void> ended;
    std::thread limit([&runner, done = ended.get_future()] {
        if (done.wait_for(kProbeLimit) == std::future_status::timeout)
            runner.stop();
    });
    runner.run(program, arguments);
    ended.set_value();
    limit.join();
    bridge().detach(runner);
}

void probeTitle(const QStringList& arguments, const ProcessRunner::LineHandler& line)
{
    probe(QStringLiteral("mplayer"), arguments, line);
}

// The display aspect of the title a list reads ("1.7778") and its rate: as
// a disc folder's IFO files name them, or else as mplayer reports them once
// it has decoded a frame; empty and 0 when it cannot tell within the time
// limit. Reading the files spares a run the tenth of a second mplayer takes
// to start.
EncoderCoreTitleShape titleShape(const QString& title, const QString& device)
{
    static const QLatin1StringView aspectKey("ID_VIDEO_ASPECT=");
    static const QLatin1StringView rateKey("ID_VIDEO_FPS=");
    const int number = title.mid(qsizetype(qstrlen("dvd://"))).toInt();
    if (const std::optional<EncoderCoreTitleShape> named
        = EncoderCoreFolderTitleShape(device, number))
        return *named;
    EncoderCoreTitleShape shape;
    probeTitle({ "-noconfig", "all", "-really-quiet", "-identify", "-nosound", "-vo", "null",
                   "-frames", "1", "-vc", "mpeg12,", title, "-dvd-device", device },
        [&shape](const QString& line) {
            if (line.startsWith(aspectKey) && line.mid(aspectKey.size()).toDouble() > 0)
                shape.aspect = line.mid(aspectKey.size());
            if (line.startsWith(rateKey))
                shape.rate = line.mid(rateKey.size()).toDouble();
        });
    return shape;
}

// Where a trimmed title's picture and sound start on the disc's clock, from
// the first packet of each that the demuxer queues, and its frame duration;
// nothing when mplayer cannot tell.
std::optional<EncoderCoreTitleStart> probeTitleStart(const EncoderCoreTrimmedTitle& trim)
{
    static const QRegularExpression packet(
        QStringLiteral(R"(^DEMUX: Append packet to d_(video|audio), len=(\d+).*\bpts=([\d.]+))"));
    static const QLatin1StringView rateKey("ID_VIDEO_FPS=");
    static const QLatin1StringView lengthKey("ID_LENGTH=");
    static const QLatin1StringView formatKey("ID_AUDIO_FORMAT=");
    std::optional<double> picture;
    std::optional<double> sound;
    double rate = 0;
    double length = 0;
    QString soundFormat;
    QStringList arguments { "-noconfig", "all", "-msglevel", "all=-1:demuxer=7:identify=4",
        "-identify", "-vo", "null", "-ao", "null", "-frames", "1", "-vc", "ffmpeg12,", trim.title,
        "-dvd-device", trim.device };
    if (!trim.sound)
        arguments << "-nosound";
    else if (!trim.audioId.isEmpty())
        arguments << "-aid" << trim.audioId;
    probeTitle(arguments, [&](const QString& line) {
        if (line.startsWith(rateKey))
            rate = line.mid(rateKey.size()).toDouble();
        if (line.startsWith(lengthKey))
            length = line.mid(lengthKey.size()).toDouble();
        if (line.startsWith(formatKey))
            soundFormat = line.mid(formatKey.size());
        const QRegularExpressionMatch match = packet.match(line);
        if (!match.hasMatch())
            return;
        const bool video = match.captured(1) == QLatin1String("video");
        std::optional<double>& first = video ? picture : sound;
        if (first)
            return;
        first = match.captured(3).toDouble();
    });
    if (!picture || rate <= 0 || (trim.sound && !sound))
        return std::nullopt;
    EncoderCoreTitleStart start;
    start.picture = *picture;
    start.sound = sound.value_or(*picture);
    start.frameSeconds = 1 / rate;
    start.titleSeconds = length;
    start.soundFormat = soundFormat;
    return start;
}

// libavcodec's MPEG-2 decoder, which the bridge chooses, tells mencoder no
// aspect before its first frame: a title read without "-aspect" would be
// scaled as square pixels (a 16:9 PAL title to 720x576, 5:4). The title's
// own aspect is named instead. A list that changes the title's rate lets
// mencoder repeat and drop pictures, which is how it changes a rate.
void addTitleShape(EncoderCorePlan& plan)
{
    const QStringList& words = plan.arguments;
    const bool namesAspect = words.contains(QLatin1String("-aspect"));
    const qsizetype rate = words.indexOf(QLatin1String("-ofps"));
    if (plan.join || (namesAspect && rate < 0))
        return;
    const auto title = std::find_if(words.begin(), words.end(),
        [](const QString& word) { return word.startsWith(QLatin1String("dvd://")); });
    const qsizetype device = words.indexOf(QLatin1String("-dvd-device"));
    if (title == words.end() || device < 0 || device + 1 >= words.size())
        return;
    const EncoderCoreTitleShape shape = titleShape(*title, words[device + 1]);
    if (rate >= 0 && EncoderCoreChangesRate(words.value(rate + 1), shape.rate))
        plan.arguments.removeAll(QStringLiteral("-noskip"));
    if (namesAspect)
        return;
    if (shape.aspect.isEmpty())
        DNLog(QStringLiteral("The aspect of %1 could not be read; mencoder takes its own.")
                  .arg(*title));
    else
        plan.arguments << "-aspect" << shape.aspect;
}

// Concat lists of a join's own, in the run's folder.
class JoinLists {
public:
    explicit JoinLists(const RunFolder& folder)
        : m_folder(folder)
    { }
    // False when a list cannot be written (or holds a path no list can).
    bool add(const QString& text)
    {
        QFile file(m_folder.filePath(QStringLiteral("join-%1.txt").arg(m_paths.size())));
        const QByteArray bytes = text.toUtf8();
        if (text.isEmpty() || file.fileName().isEmpty() || !file.open(QIODevice::NewOnly)
            || file.write(bytes) != bytes.size() || !file.flush())
            return false;
        m_paths << file.fileName();
        return true;
    }
    QStringList paths() const { return m_paths; }

private:
    const RunFolder& m_folder;
    QStringList m_paths;
};

// The converted titles joined on ffmpeg, each measured first; nothing when
// they cannot be measured.
std::optional<int> runTitleJoin(const EncoderCoreTitleJoin& join, const RunFolder& folder)
{
    QString failure;
    std::optional<EncoderCoreJoinFacts> facts = EncoderCoreMeasureTitles(join.titles, failure);
    if (!facts) {
        DNLog(failure);
        return std::nullopt;
    }
    const QString encoder = EncoderCoreJoinSoundEncoder(join, *facts);
    const bool encoded = encoder != QLatin1String("copy");
    if (encoded)
        facts->encoderDelay = EncoderCoreEncoderDelay(encoder, facts->firstSound);
    // The joined list, then one list for each title's sound.
    JoinLists lists(folder);
    bool written = lists.add(EncoderCoreJoinList(facts->titles, encoded));
    for (const EncoderCoreJoinedTitle& title : facts->titles)
        written = written && lists.add(EncoderCoreJoinList({ title }, encoded));
    if (!written)
        return bridge().fail(QStringLiteral("The list of titles to join cannot be written."));
    const QStringList arguments = EncoderCoreJoinArguments(join, lists.paths(), *facts);
    return runAlone(finisherChild(arguments, join.output), {});
}

// The builders' join lists leave each title where its headers say it ends;
// a program stream's say so before its sound has ended, and the next title's
// sound started under it, its first 60 ms lost. The list is
// written again with each title's measured length; a list that cannot be
// read so runs as it is.
int runListJoin(QStringList arguments, const RunFolder& folder)
{
    constexpr qint64 kLongestList = 1 << 20;
    const qsizetype input = arguments.indexOf(
        QStringLiteral("-i"), std::max<qsizetype>(0, arguments.indexOf(QStringLiteral("concat"))));
    QFile original(arguments.value(input + 1));
    const QStringList files = input >= 0 && original.open(QIODevice::ReadOnly)
        ? EncoderCoreConcatListFiles(QString::fromUtf8(original.read(kLongestList)))
        : QStringList();
    QString failure;
    const std::optional<EncoderCoreJoinFacts> facts
        = files.isEmpty() ? std::nullopt : EncoderCoreMeasureTitles(files, failure);
    JoinLists lists(folder);
    if (facts && lists.add(EncoderCoreJoinList(facts->titles, false)))
        arguments[input + 1] = lists.paths().front();
    // ffmpeg's join list ends with the output path.
    return runAlone(finisherChild(arguments, arguments.value(arguments.size() - 1)), {});
}

// mencoder into a file of its own, then ffmpeg from it to the output: an AVI
// file is finished with its index, which a FIFO cannot take.
int runThenFinish(const EncoderCorePlan& plan, int duration, const RunFolder& folder)
{
    const QString picture = folder.filePath(QStringLiteral("picture.avi"));
    if (picture.isEmpty())
        return bridge().fail(
            QStringLiteral("The picture's file cannot be made: ") + folder.error());
    QStringList encoderArguments = plan.arguments;
    const QString output = encoderArguments[plan.outputAt];
    encoderArguments[plan.outputAt] = picture;
    if (const int status = runAlone(encoderChild(encoderArguments, output), encoderLines(duration));
        status != 0)
        return status;
    return runAlone(
        finisherChild(EncoderCoreFinishingArguments(*plan.finishing, picture, output), output), {});
}

int runPlan(const EncoderCorePlan& plan, int duration, const RunFolder& folder)
{
    if (plan.titleJoin) {
        if (const std::optional<int> status = runTitleJoin(*plan.titleJoin, folder))
            return *status;
    }
    if (plan.join)
        return runListJoin(plan.arguments, folder);
    const bool copied = plan.finishing && plan.finishing->audioCodec == QLatin1String("copy");
    if (copied && plan.outputAt >= 0 && plan.finishing->audioOnly) {
        const QString output = plan.arguments[plan.outputAt];
        return runAlone(
            finisherChild(EncoderCoreFinishingArguments(*plan.finishing, {}, output), output), {});
    }
    if (copied && plan.outputAt >= 0 && plan.finishing->format == QLatin1String("avi"))
        return runThenFinish(plan, duration, folder);
    if (plan.finishing && plan.outputAt >= 0)
        return runWithFinishing(plan, duration, folder);
    return runAlone(
        encoderChild(plan.arguments, plan.arguments.value(plan.outputAt)), encoderLines(duration));
}

// How far past the trim's start a title's scan goes: beyond the unit that
// holds it, and a second more for each restart of the clock, since a run's
// length is known only roughly while the scan goes on.
constexpr double kScanBeyondTrim = 2;
// A picture's time that falls more than this below the last one's is on a
// clock that restarted.
constexpr double kClockRestart = 1;
// Pictures decoded at the end of a run of the clock: more than a unit holds.
constexpr const char* kRunEndPictures = "120";

// The title's units from its start to a little past the trim's start, as
// mplayer's demuxer and DVD reader tell them: nothing is decoded.
std::vector<EncoderCoreTitleUnit> scanTitle(const EncoderCoreTrimmedTitle& trim)
{
    EncoderCoreTitleScan scan;
    ProcessRunner runner;
    // The title's time reached, roughly: each run of the clock counts from
    // its start, the runs before it as long as their last unit plus a second.
    struct {
        double runStart = -1;
        double runTitleTime = 0;
        double last = -1;
        std::size_t units = 0;
        int restarts = 0;
    } reached;
    const auto readLine = [&](const QString& line, ProgressInfo&) {
        if (!scan.readLine(line))
            return false;
        const auto& units = scan.units();
        while (reached.units + 1 < units.size()) {
            const double time = units[reached.units++].firstPicture;
            if (time < 0)
                continue;
            if (reached.runStart >= 0 && EncoderCoreClockRestarts(reached.last, time)) {
                reached.runTitleTime += reached.last + 1 - reached.runStart;
                reached.runStart = -1;
                ++reached.restarts;
            }
            if (reached.runStart < 0)
                reached.runStart = time;
            reached.last = time;
        }
        if (reached.runStart >= 0
            && reached.runTitleTime + reached.last - reached.runStart
                > trim.start + kScanBeyondTrim + reached.restarts)
            runner.stop();
        return true;
    };
    ToolBridge::Lines lines { readLine, readLine, {} };
    const ToolBridge::Child child { QStringLiteral("mplayer"),
        { "-noconfig", "all", "-msglevel", "all=-1:demuxer=7:dvd=7", "-nosound", "-vc", "null",
            "-vo", "null", "-benchmark", "-nosub", trim.title, "-dvd-device", trim.device },
        SIGINT, kStopGrace, {} };
    bridge().prepare(runner, child, lines);
    bridge().attach(runner);
    runner.run(child.program, child.arguments);
    bridge().detach(runner);
    return scan.units();
}

// The time of the last picture of a run of the title's clock whose last
// unit is `unit`: mplayer decodes from there until the clock restarts.
std::optional<double> lastPictureOf(const EncoderCoreTrimmedTitle& trim, qint64 unitByte)
{
    static const QLatin1StringView key("PTS: ");
    std::optional<double> last;
    if (unitByte < 0)
        return last;
    bool restarted = false;
    probeTitle(
        { "-noconfig", "all", "-msglevel", "all=-1:vfilter=6", "-nosound", "-vo", "null", "-vc",
            "ffmpeg12,", "-benchmark", "-nosub", "-sb", QString::number(unitByte), "-frames",
            kRunEndPictures, "-vf", "fixpts=print", trim.title, "-dvd-device", trim.device },
        [&](const QString& line) {
            if (!line.startsWith(key) || restarted)
                return;
            const double time = line.mid(key.size()).toDouble();
            restarted = last && time < *last - kClockRestart;
            if (!restarted && (!last || time > *last))
                last = time;
        });
    return last;
}

// Where the trim's part of the title is read from: the title's units and the
// runs of its clock, each run's time in the title told by its last picture.
// False when that cannot be told; `start` then reads from the title's start.
bool placeTrim(const EncoderCoreTrimmedTitle& trim, EncoderCoreTitleStart& start)
{
    const std::vector<EncoderCoreTitleUnit> units = scanTitle(trim);
    const std::vector<EncoderCoreClockRun> runs = EncoderCoreClockRuns(units);
    // Without units to tell by, the title is read from its start, as the
    // probe found it.
    if (runs.empty()) {
        DNLog(QStringLiteral("The units of %1 could not be read; it is read from its start.")
                  .arg(trim.title));
        return !bridge().stopRequested();
    }
    std::vector<double> runTitleTimes;
    for (std::size_t run = 0; run < runs.size() && !bridge().stopRequested(); ++run) {
        if (run == 0) {
            runTitleTimes.push_back(0);
            continue;
        }
        const std::optional<double> last
            = lastPictureOf(trim, EncoderCoreUnitByte(units, runs[run - 1].endUnit - 1));
        if (!last)
            break;
        runTitleTimes.push_back(
            runTitleTimes.back() + *last + start.frameSeconds - runs[run - 1].clockStart);
        if (runTitleTimes.back() > trim.start)
            break;
    }
    if (runs.size() > 1)
        DNLog(QStringLiteral("The clock of %1 restarts %2 times before its trim's start.")
                  .arg(trim.title)
                  .arg(runTitleTimes.size() - 1));
    return EncoderCorePlaceTrim(trim, units, runs, runTitleTimes, start);
}

// What mplayer's demuxer told of the sound it read: where its first frame
// lies, and the packet its format probe had it write twice.
struct SoundRead {
    std::optional<double> firstFrame;
    qint64 firstPosition = -1;
    qint64 firstPacket = 0;
    qint64 repeatedBytes = 0;
    qint64 appendedBytes = 0;
    qint64 largestPacket = 0;
};

ToolBridge::LineReader soundPacketReader(SoundRead& read)
{
    return [&read](const QString& line, ProgressInfo&) {
        static const QRegularExpression packet(QStringLiteral(
            R"(^DEMUX: Append packet to d_audio, len=(\d+)\s+pts=(\d+\.\d+)\s+pos=(\d+))"));
        const QRegularExpressionMatch match = packet.match(line);
        if (!match.hasMatch())
            return false;
        const qint64 bytes = match.captured(1).toLongLong();
        const qint64 position = match.captured(3).toLongLong();
        if (!read.firstFrame) {
            read.firstFrame = match.captured(2).toDouble();
            read.firstPosition = position;
            read.firstPacket = bytes;
        } else if (read.appendedBytes == read.firstPacket && position == read.firstPosition) {
            read.repeatedBytes = bytes;
        }
        read.appendedBytes += bytes;
        read.largestPacket = std::max(read.largestPacket, bytes);
        return true;
    };
}

// A writer of the run's own files fills the temporary folder when less is
// left there than one of its writes takes.
constexpr qint64 kWriteRoom = 256 * 1024;

bool temporaryFolderFilled()
{
    const std::optional<FolderRoom> room = roomOfFolder(AppPaths::temporaryFolder());
    return room && (room->noMoreFiles || room->bytes < kWriteRoom);
}

// A step that wrote the run's own files into the temporary folder until it
// filled: the reason names that folder and what is left in it, told while
// those files still take their room; mplayer does not say that a write
// failed.
int failTemporaryFolderFull(const QString& program, const QString& said)
{
    bridge().settleFailure(temporaryFolderFullReason(program, said));
    return kEncoderCoreFailed;
}

// Runs mplayer over the title's sound (a dump, or a decode) into `file`,
// reading its demuxer's lines into `read`; 0, or why it failed.
int readSound(const QStringList& arguments, const QString& file, SoundRead& read)
{
    const ToolBridge::LineReader reader = soundPacketReader(read);
    ToolBridge::Lines lines { reader, reader, {} };
    const ToolBridge::Child child { QStringLiteral("mplayer"), arguments, SIGINT, kStopGrace,
        file };
    const ProcessRunner::Result result = bridge().runChild(child, lines);
    if (bridge().stopRequested())
        return stoppedStatus();
    if (!result.succeeded() && temporaryFolderFilled())
        return failTemporaryFolderFull(child.program, {});
    if (const int status = statusOf(child.program, result, lines.lastMessage); status != 0)
        return status;
    if (!read.firstFrame)
        return bridge().fail(
            QStringLiteral("mplayer read no sound of the trimmed title into %1.").arg(file));
    return 0;
}

// 0 when the dump holds what mplayer read (all but the packet that passed
// the trim's end, which it may not write).
int checkDumpWhole(const QString& dump, const SoundRead& read)
{
    const qint64 written = QFileInfo(dump).size();
    if (written >= read.appendedBytes - read.largestPacket)
        return 0;
    if (temporaryFolderFilled())
        return failTemporaryFolderFull(QStringLiteral("mplayer"), {});
    return bridge().fail(QStringLiteral("mplayer wrote %1 of the %2 bytes of the title's sound "
                                        "into %3")
                             .arg(written)
                             .arg(read.appendedBytes)
                             .arg(dump));
}

// ffmpeg decoding a dump into `wav`: a full temporary folder is the reason
// when it says so.
int decodeDump(const QStringList& arguments, const QString& wav)
{
    QString full;
    const ToolBridge::LineReader reader = [&full](const QString& line, ProgressInfo&) {
        if (full.isEmpty() && saysDiskIsFull(line))
            full = line.trimmed();
        return false;
    };
    ToolBridge::Lines lines { reader, reader, {} };
    const ToolBridge::Child child = finisherChild(arguments, wav);
    const ProcessRunner::Result result = bridge().runChild(child, lines);
    if (bridge().stopRequested())
        return stoppedStatus();
    if (!result.succeeded() && (!full.isEmpty() || temporaryFolderFilled()))
        return failTemporaryFolderFull(child.program, full);
    return statusOf(child.program, result, lines.lastMessage);
}

// Where ffmpeg's clock puts the first whole frame of a dump (past `skipBytes`):
// a piece of a frame the dump starts with (a unit's first packet holds the
// end of a frame before) counts as one frame there.
std::optional<double> firstWholeFrameOf(const QString& dump, qint64 skipBytes)
{
    std::optional<double> time;
    probe(QStringLiteral("ffprobe"),
        { "-v", "error", "-skip_initial_bytes", QString::number(skipBytes), "-select_streams",
            "a:0", "-show_entries", "frame=pts_time", "-read_intervals", "%+#4", "-of", "csv=p=0",
            "file:" + dump },
        [&time](const QString& line) {
            bool number = false;
            const double value = line.section(QLatin1Char(','), 0, 0).toDouble(&number);
            if (number && !time)
                time = value;
        });
    return time;
}

// The disc's sound dumped as it lies, from where the title is read: the
// bytes to skip (a packet written twice), and where ffmpeg's clock puts
// the dump's first frame, whose time on the disc's clock is `start.sound`.
struct Dump {
    qint64 skipBytes = 0;
    double firstFrame = 0;
};
int dumpSound(const EncoderCoreTrimmedTitle& trim, EncoderCoreTitleStart& start,
    const QString& file, Dump& dump)
{
    SoundRead read;
    const QStringList arguments = EncoderCoreTrimSoundDumpArguments(trim, start, file);
    DNLog(QStringLiteral("The trimmed title's sound is dumped first: ")
        + shellCommandLine(QStringList { "mplayer" } + arguments));
    if (const int status = readSound(arguments, file, read); status != 0)
        return status;
    if (const int status = checkDumpWhole(file, read); status != 0)
        return status;
    const std::optional<double> firstFrame = firstWholeFrameOf(file, read.repeatedBytes);
    if (bridge().stopRequested())
        return stoppedStatus();
    if (!firstFrame)
        return bridge().fail(
            QStringLiteral("ffprobe finds no sound frame in the trimmed title's dump %1.")
                .arg(file));
    start.sound = *read.firstFrame;
    dump = { read.repeatedBytes, *firstFrame };
    return 0;
}

// The least a sound file starts after the frame before the first picture:
// mencoder put the sound a second off with a "-delay" of 0 or more.
constexpr double kLeastSoundLead = 0.1;

// The trimmed title's sound decoded into `wav`, 16-bit, from where the title
// is read: ffmpeg decodes the disc's own frames as they were dumped, or, for
// sound a dump cannot hold, mplayer decodes the disc. `start.sound` is then
// where the file starts.
int decodeSound(const EncoderCoreTrimmedTitle& trim, EncoderCoreTitleStart& start,
    const RunFolder& folder, const QString& wav)
{
    if (!EncoderCoreDumpsSound(start.soundFormat)) {
        SoundRead read;
        const QStringList arguments = EncoderCoreTrimSoundArguments(trim, start, wav);
        DNLog(QStringLiteral("The trimmed title's sound is decoded first: ")
            + shellCommandLine(QStringList { "mplayer" } + arguments));
        if (const int status = readSound(arguments, wav, read); status != 0)
            return status;
        // mplayer's sound output writes on past a full disk.
        if (temporaryFolderFilled())
            return failTemporaryFolderFull(QStringLiteral("mplayer"), {});
        start.sound = *read.firstFrame;
        return 0;
    }
    const QString file = folder.filePath(QStringLiteral("sound.dump"));
    Dump dump;
    if (const int status = dumpSound(trim, start, file, dump); status != 0)
        return status;
    const double lead = std::max(0.0, start.frameSeconds + kLeastSoundLead - start.sound);
    const QStringList arguments = EncoderCoreTrimSoundDecodeArguments(
        trim, start.soundFormat, file, dump.skipBytes, dump.firstFrame + lead, wav);
    DNLog(QStringLiteral("The trimmed title's sound is decoded first: ")
        + shellCommandLine(QStringList { kFinisher } + arguments));
    const int status = decodeDump(arguments, wav);
    QFile::remove(file);
    start.sound += lead;
    return status;
}

// Has the finishing stage copy the trimmed title's sound from a dump of the
// disc's own, cut at the first picture kept; 0, or why it cannot run.
int dumpCopiedSound(EncoderCorePlan& plan, EncoderCoreTitleStart& start, const QString& dump)
{
    // An AVI or sound-only list has mencoder write its output and copy the
    // sound itself.
    if (!plan.finishing) {
        const qsizetype of = plan.arguments.indexOf(QStringLiteral("-of"));
        plan.finishing.emplace();
        plan.finishing->audioCodec = QStringLiteral("copy");
        plan.finishing->audioOnly
            = of >= 0 && plan.arguments.value(of + 1) == QLatin1String("rawaudio");
        const bool ac3 = start.soundFormat == QLatin1String("8192");
        plan.finishing->format = plan.finishing->audioOnly ? (ac3 ? "ac3" : "mp2") : "avi";
    }
    Dump read;
    if (const int status = dumpSound(*plan.trim, start, dump, read); status != 0)
        return status;
    plan.finishing->soundFile = dump;
    plan.finishing->soundSkipBytes = read.skipBytes;
    plan.finishing->soundCut = EncoderCoreTrimSoundCut(*plan.trim, start);
    plan.finishing->soundCut.from += read.firstFrame;
    plan.finishing->soundFrameSeconds = EncoderCoreSoundFrameSeconds(start.soundFormat);
    return 0;
}

// Sets a trimmed title's run to read the title from a unit before the trim
// and cut it exactly, its sound decoded first; 0, or why it cannot run. A
// title whose start mplayer cannot read runs with mencoder's seek.
int prepareTrimmedTitle(EncoderCorePlan& plan, const RunFolder& folder)
{
    const std::optional<EncoderCoreTrimmedTitle>& trim = plan.trim;
    if (!trim || plan.join)
        return 0;
    std::optional<EncoderCoreTitleStart> start = probeTitleStart(*trim);
    if (bridge().stopRequested())
        return stoppedStatus();
    if (!start) {
        DNLog(QStringLiteral("Where %1 starts could not be read; mencoder seeks to the trim.")
                  .arg(trim->title));
        return 0;
    }
    // A dump of any other sound holds no frames ffmpeg could find.
    if (trim->copiedSound && !EncoderCoreDumpsSound(start->soundFormat)) {
        DNLog(QStringLiteral("The copied sound of %1 is neither AC-3 nor MPEG audio; mencoder "
                             "seeks to the trim.")
                  .arg(trim->title));
        return 0;
    }
    if (!folder.isValid())
        return bridge().fail(
            QStringLiteral("The trimmed title's files cannot be made: %1").arg(folder.error()));
    if (!placeTrim(*trim, *start)) {
        if (bridge().stopRequested())
            return stoppedStatus();
        DNLog(QStringLiteral("Where the trim of %1 lies on the disc's clock could not be read; "
                             "mencoder seeks to the trim.")
                  .arg(trim->title));
        return 0;
    }
    const QString cutList = folder.filePath(QStringLiteral("cut.edl"));
    QFile cut(cutList);
    const QByteArray cutText = EncoderCoreTrimCutList(*trim, *start).toUtf8();
    if (!cut.open(QIODevice::NewOnly) || cut.write(cutText) != cutText.size() || !cut.flush()) {
        if (temporaryFolderFilled())
            return failTemporaryFolderFull(QStringLiteral("the encoder core"), cut.errorString());
        return bridge().fail(QStringLiteral("The trimmed title's cut list %1 cannot be written: %2")
                                 .arg(cutList, cut.errorString()));
    }
    cut.close();
    const bool decodesSound = trim->sound && !trim->copiedSound;
    const QString soundFile
        = decodesSound ? folder.filePath(QStringLiteral("sound.wav")) : QString();
    if (trim->copiedSound) {
        const QString dump = folder.filePath(QStringLiteral("sound.dump"));
        if (const int status = dumpCopiedSound(plan, *start, dump); status != 0)
            return status;
    } else if (decodesSound) {
        if (const int status = decodeSound(*trim, *start, folder, soundFile); status != 0)
            return status;
    }
    std::optional<QStringList> arguments
        = EncoderCoreReadTrimFromStart(plan.arguments, *trim, *start, cutList, soundFile);
    if (!arguments) {
        DNLog(QStringLiteral("The sound of %1 starts too early on the disc's clock to be placed; "
                             "mencoder seeks to the trim.")
                  .arg(trim->title));
        return 0;
    }
    plan.arguments = std::move(*arguments);
    // The sound's place moved the output's.
    const qsizetype output = plan.arguments.lastIndexOf(QStringLiteral("-o"));
    plan.outputAt = output >= 0 && output + 1 < plan.arguments.size() ? output + 1 : -1;
    return 0;
}

} // namespace

void EncoderCoreSetStateCallback(EncoderCoreStateCallback callback, void* context)
{
    bridge().setStateCallback(callback, context);
}

int EncoderCoreEncode(int argc, const char* const* argv, int duration)
{
    const ToolBridge::Call call(bridge());
    const QStringList builderArguments = bridge().listOf(argc, argv);
    if (builderArguments.isEmpty())
        return kEncoderCoreFailed;
    EncoderCorePlan plan = EncoderCoreAdaptArguments(builderArguments);
    bridge().start();
    addTitleShape(plan);
    // A run killed outright left its folder behind.
    for (const QString& left : RunFolder::removeAbandoned(QLatin1String(kRunFolderPrefix)))
        DNLog(QStringLiteral("Removed the folder %1 that an ended run left.").arg(left));
    const RunFolder folder { QLatin1String(kRunFolderPrefix) };
    int status = prepareTrimmedTitle(plan, folder);
    if (status == 0)
        status = runPlan(plan, duration, folder);
    // mencoder's last status line comes a frame or so before its end.
    bridge().finish(status);
    return status;
}

ProgressInfo EncoderCoreProgress()
{
    return bridge().progress();
}

void EncoderCoreStop()
{
    bridge().stop();
}

QStringList EncoderCoreLastCommand()
{
    return bridge().lastCommand();
}

QString EncoderCoreLastFailure()
{
    return bridge().lastFailure();
}
