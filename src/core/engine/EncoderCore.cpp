#include "engine/EncoderCore.h"

#include "engine/ToolBridge.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/ProcessRunner.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryFile>

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
// mplayer's ID_AUDIO_FORMAT of AC-3 sound.
constexpr const char* kAC3Format = "8192";

ToolBridge& bridge()
{
    static ToolBridge instance("encoder core");
    return instance;
}
static_assert(kEncoderCoreStateRunning == kToolBridgeStateRunning,
    "the shared start reports this bridge's running state");

// A FIFO in the temporary folder for one finishing stage, removed with the
// object. The bridge holds it open for reading and writing, so neither
// program waits in open() for the other (ffmpeg would wait there for ever,
// deaf to SIGTERM, when mencoder ends without opening it); ffmpeg sees the
// end of its input once mencoder has ended and the bridge has let go.
class FinishingFifo {
public:
    FinishingFifo()
    {
        for (int attempt = 0; attempt < 16 && m_descriptor < 0; ++attempt) {
            const QString path = AppPaths::temporaryFolder()
                + QStringLiteral("/encoder-%1.nut")
                      .arg(QRandomGenerator::global()->generate64(), 16, 16, QChar('0'));
            const QByteArray native = QFile::encodeName(path);
            if (::mkfifo(native.constData(), 0600) != 0) {
                m_error = QString::fromLocal8Bit(std::strerror(errno));
                continue;
            }
            m_path = path;
            m_descriptor = ::open(native.constData(), O_RDWR | O_CLOEXEC);
            if (m_descriptor < 0)
                m_error = QString::fromLocal8Bit(std::strerror(errno));
        }
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
int runWithFinishing(const EncoderCorePlan& plan, int duration)
{
    FinishingFifo fifo;
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
void probeTitle(const QStringList& arguments, const ProcessRunner::LineHandler& line)
{
    ProcessRunner runner;
    runner.setStdoutHandler(line);
    bridge().attach(runner);
    std::promise<void> ended;
    std::thread limit([&runner, done = ended.get_future()] {
        if (done.wait_for(kProbeLimit) == std::future_status::timeout)
            runner.stop();
    });
    runner.run(QStringLiteral("mplayer"), arguments);
    ended.set_value();
    limit.join();
    bridge().detach(runner);
}

// The display aspect of the title a list reads ("1.7778"), as mplayer
// reports it once it has decoded a frame; empty when it cannot tell within
// the time limit.
QString probeTitleAspect(const QString& title, const QString& device)
{
    QString aspect;
    probeTitle({ "-noconfig", "all", "-really-quiet", "-identify", "-nosound", "-vo", "null",
                   "-frames", "1", "-vc", "mpeg12,", title, "-dvd-device", device },
        [&aspect](const QString& line) {
            static const QLatin1StringView key("ID_VIDEO_ASPECT=");
            if (line.startsWith(key) && line.mid(key.size()).toDouble() > 0)
                aspect = line.mid(key.size());
        });
    return aspect;
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
    qint64 firstSoundPacket = 0;
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
        if (!video)
            firstSoundPacket = match.captured(2).toLongLong();
    });
    if (!picture || rate <= 0 || (trim.sound && !sound))
        return std::nullopt;
    return EncoderCoreTitleStart { *picture, sound.value_or(*picture), 1 / rate, length,
        soundFormat, firstSoundPacket };
}

// libavcodec's MPEG-2 decoder, which the bridge chooses, tells mencoder no
// aspect before its first frame: a title read without "-aspect" would be
// scaled as square pixels (a 16:9 PAL title to 720x576, 5:4). The title's
// own aspect is named instead.
void addTitleAspect(EncoderCorePlan& plan)
{
    const QStringList& words = plan.arguments;
    if (plan.join || words.contains(QLatin1String("-aspect")))
        return;
    const auto title = std::find_if(words.begin(), words.end(),
        [](const QString& word) { return word.startsWith(QLatin1String("dvd://")); });
    const qsizetype device = words.indexOf(QLatin1String("-dvd-device"));
    if (title == words.end() || device < 0 || device + 1 >= words.size())
        return;
    const QString aspect = probeTitleAspect(*title, words[device + 1]);
    if (aspect.isEmpty())
        DNLog(QStringLiteral("The aspect of %1 could not be read; mencoder takes its own.")
                  .arg(*title));
    else
        plan.arguments << "-aspect" << aspect;
}

// Concat lists of a join's own, in the temporary folder while the join runs.
class JoinLists {
public:
    // False when a list cannot be written (or holds a path no list can).
    bool add(const QString& text)
    {
        auto& file = m_files.emplace_back(std::make_unique<QTemporaryFile>(
            AppPaths::temporaryFolder() + QStringLiteral("/join-XXXXXX.txt")));
        if (text.isEmpty() || !file->open() || file->write(text.toUtf8()) < 0 || !file->flush())
            return false;
        m_paths << file->fileName();
        return true;
    }
    QStringList paths() const { return m_paths; }

private:
    std::vector<std::unique_ptr<QTemporaryFile>> m_files;
    QStringList m_paths;
};

// The converted titles joined on ffmpeg, each measured first; nothing when
// they cannot be measured.
std::optional<int> runTitleJoin(const EncoderCoreTitleJoin& join)
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
    JoinLists lists;
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
int runListJoin(QStringList arguments)
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
    JoinLists lists;
    if (facts && lists.add(EncoderCoreJoinList(facts->titles, false)))
        arguments[input + 1] = lists.paths().front();
    // ffmpeg's join list ends with the output path.
    return runAlone(finisherChild(arguments, arguments.value(arguments.size() - 1)), {});
}

// mencoder into a file of its own, then ffmpeg from it to the output: an AVI
// file is finished with its index, which a FIFO cannot take.
int runThenFinish(const EncoderCorePlan& plan, int duration)
{
    QTemporaryFile picture(AppPaths::temporaryFolder() + QStringLiteral("/picture-XXXXXX.avi"));
    if (!picture.open())
        return bridge().fail(QStringLiteral("The picture's file cannot be made."));
    picture.close();
    QStringList encoderArguments = plan.arguments;
    const QString output = encoderArguments[plan.outputAt];
    encoderArguments[plan.outputAt] = picture.fileName();
    if (const int status = runAlone(encoderChild(encoderArguments, output), encoderLines(duration));
        status != 0)
        return status;
    return runAlone(
        finisherChild(
            EncoderCoreFinishingArguments(*plan.finishing, picture.fileName(), output), output),
        {});
}

int runPlan(const EncoderCorePlan& plan, int duration)
{
    if (plan.titleJoin) {
        if (const std::optional<int> status = runTitleJoin(*plan.titleJoin))
            return *status;
    }
    if (plan.join)
        return runListJoin(plan.arguments);
    const bool copied = plan.finishing && plan.finishing->audioCodec == QLatin1String("copy");
    if (copied && plan.outputAt >= 0 && plan.finishing->audioOnly) {
        const QString output = plan.arguments[plan.outputAt];
        return runAlone(
            finisherChild(EncoderCoreFinishingArguments(*plan.finishing, {}, output), output), {});
    }
    if (copied && plan.outputAt >= 0 && plan.finishing->format == QLatin1String("avi"))
        return runThenFinish(plan, duration);
    if (plan.finishing && plan.outputAt >= 0)
        return runWithFinishing(plan, duration);
    return runAlone(
        encoderChild(plan.arguments, plan.arguments.value(plan.outputAt)), encoderLines(duration));
}

// The files a trimmed title's run reads besides the disc, removed with it.
struct TrimFiles {
    QTemporaryFile cutList { AppPaths::temporaryFolder() + QStringLiteral("/cut-XXXXXX.edl") };
    QTemporaryFile sound { AppPaths::temporaryFolder() + QStringLiteral("/sound-XXXXXX.wav") };
    QTemporaryFile dump { AppPaths::temporaryFolder() + QStringLiteral("/sound-XXXXXX.ac3") };
};

// mplayer's dump of a title's sound from its start writes the first packet
// its format probe read twice: the bytes to skip, 0 when it did not.
qint64 repeatedFirstPacket(QFile& dump, qint64 packet)
{
    if (packet <= 0 || !dump.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray head = dump.read(2 * packet);
    dump.close();
    return head.size() == 2 * packet && head.first(packet) == head.sliced(packet) ? packet : 0;
}

// Dumps a trimmed title's copied sound for the finishing stage, which cuts it
// at the first picture kept; 0, or why it cannot run.
int dumpCopiedSound(EncoderCorePlan& plan, const EncoderCoreTitleStart& start, QTemporaryFile& dump)
{
    if (!dump.open())
        return bridge().fail(QStringLiteral("The trimmed title's sound cannot be dumped."));
    // An AVI or sound-only list has mencoder write its output and copy the
    // sound itself.
    if (!plan.finishing) {
        const qsizetype of = plan.arguments.indexOf(QStringLiteral("-of"));
        plan.finishing.emplace();
        plan.finishing->audioCodec = QStringLiteral("copy");
        plan.finishing->audioOnly
            = of >= 0 && plan.arguments.value(of + 1) == QLatin1String("rawaudio");
        plan.finishing->format
            = plan.finishing->audioOnly ? QStringLiteral("ac3") : QStringLiteral("avi");
    }
    dump.close();
    const ToolBridge::Child dumper { QStringLiteral("mplayer"),
        EncoderCoreTrimSoundDumpArguments(*plan.trim, dump.fileName()), SIGINT, kStopGrace,
        dump.fileName() };
    DNLog(QStringLiteral("The trimmed title's sound is dumped first: ")
        + shellCommandLine(QStringList { dumper.program } + dumper.arguments));
    if (const int status = runAlone(dumper, {}); status != 0)
        return status;
    plan.finishing->soundFile = dump.fileName();
    plan.finishing->soundCut = EncoderCoreTrimSoundCut(*plan.trim, start);
    plan.finishing->soundSkipBytes = repeatedFirstPacket(dump, start.firstSoundPacket);
    return 0;
}

// Sets a trimmed title's run to read the title from its start and cut it
// exactly, its sound decoded first; 0, or why it cannot run. A title whose
// start mplayer cannot read runs with mencoder's seek.
int prepareTrimmedTitle(EncoderCorePlan& plan, TrimFiles& files)
{
    const std::optional<EncoderCoreTrimmedTitle>& trim = plan.trim;
    if (!trim || plan.join)
        return 0;
    const std::optional<EncoderCoreTitleStart> start = probeTitleStart(*trim);
    if (bridge().stopRequested())
        return stoppedStatus();
    if (!start) {
        DNLog(QStringLiteral("Where %1 starts could not be read; mencoder seeks to the trim.")
                  .arg(trim->title));
        return 0;
    }
    // A dump of any other sound holds no frames ffmpeg could find.
    if (trim->copiedSound && start->soundFormat != QLatin1String(kAC3Format)) {
        DNLog(QStringLiteral("The copied sound of %1 is not AC-3; mencoder seeks to the trim.")
                  .arg(trim->title));
        return 0;
    }
    const QByteArray cutList = EncoderCoreTrimCutList(*trim, *start).toUtf8();
    const bool decodesSound = trim->sound && !trim->copiedSound;
    if (!files.cutList.open() || files.cutList.write(cutList) != cutList.size()
        || !files.cutList.flush() || (decodesSound && !files.sound.open()))
        return bridge().fail(QStringLiteral("The trimmed title's cut list cannot be written."));
    files.sound.close();
    const QString soundFile = decodesSound ? files.sound.fileName() : QString();
    std::optional<QStringList> arguments = EncoderCoreReadTrimFromStart(
        plan.arguments, *trim, *start, files.cutList.fileName(), soundFile);
    if (!arguments) {
        DNLog(QStringLiteral("The sound of %1 starts too early on the disc's clock to be placed; "
                             "mencoder seeks to the trim.")
                  .arg(trim->title));
        return 0;
    }
    if (trim->copiedSound) {
        if (const int status = dumpCopiedSound(plan, *start, files.dump); status != 0)
            return status;
    } else if (!soundFile.isEmpty()) {
        const ToolBridge::Child decoder { QStringLiteral("mplayer"),
            EncoderCoreTrimSoundArguments(*trim, soundFile), SIGINT, kStopGrace, soundFile };
        DNLog(QStringLiteral("The trimmed title's sound is decoded first: ")
            + shellCommandLine(QStringList { decoder.program } + decoder.arguments));
        if (const int status = runAlone(decoder, {}); status != 0)
            return status;
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
    addTitleAspect(plan);
    TrimFiles trimFiles;
    int status = prepareTrimmedTitle(plan, trimFiles);
    if (status == 0)
        status = runPlan(plan, duration);
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
