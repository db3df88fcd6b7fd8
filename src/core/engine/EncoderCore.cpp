#include "engine/EncoderCore.h"

#include "engine/ArgumentBlock.h"
#include "platform/AppPaths.h"
#include "platform/ProcessRunner.h"
#include "services/DNLogger.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
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

// The bridge's module state: one run at a time behind `run`; what other
// threads read or change while it runs behind `state`.
struct Bridge {
    std::mutex run;
    std::mutex state;
    bool active = false; // a call holds `run`
    bool stopRequested = false; // EncoderCoreStop() during the active call
    ProcessRunner* encoder = nullptr;
    ProcessRunner* finisher = nullptr;
    ProgressInfo progress;
    int duration = 0;
    EncoderCoreStateCallback callback = nullptr;
    void* context = nullptr;
    QStringList lastCommand;
};

Bridge& bridge()
{
    static Bridge instance;
    return instance;
}

// One call of the bridge, from taking the run lock to its end: a stop that
// comes at any point of it, even before the engines are started, ends this
// call and no later one.
class ActiveCall {
public:
    ActiveCall()
        : m_run(bridge().run)
    {
        const std::lock_guard lock(bridge().state);
        bridge().active = true;
        bridge().stopRequested = false;
    }
    ~ActiveCall()
    {
        const std::lock_guard lock(bridge().state);
        bridge().active = false;
        bridge().encoder = nullptr;
        bridge().finisher = nullptr;
    }
    ActiveCall(const ActiveCall&) = delete;
    ActiveCall& operator=(const ActiveCall&) = delete;

    // Makes the runners reachable by EncoderCoreStop(); a stop asked for
    // already reaches them at once, and they then do not start.
    static void attach(ProcessRunner& encoder, ProcessRunner* finisher)
    {
        const std::lock_guard lock(bridge().state);
        bridge().encoder = &encoder;
        bridge().finisher = finisher;
        if (!bridge().stopRequested)
            return;
        encoder.stop();
        if (finisher)
            finisher->stop();
    }

    static void detach()
    {
        const std::lock_guard lock(bridge().state);
        bridge().encoder = nullptr;
        bridge().finisher = nullptr;
    }

    static bool stopped()
    {
        const std::lock_guard lock(bridge().state);
        return bridge().stopRequested;
    }

private:
    std::lock_guard<std::mutex> m_run;
};

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

    void closeWriteEnd()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = -1;
    }

private:
    QString m_path;
    QString m_error;
    int m_descriptor = -1;
};

void readProgressOrLog(const QString& line, QString& lastMessage)
{
    {
        const std::lock_guard lock(bridge().state);
        if (EncoderCoreReadProgressLine(line, bridge().duration, bridge().progress))
            return;
    }
    DNLogger::shareRoughLog().logEngineLine(line);
    lastMessage = line;
}

// mencoder writes its messages on both streams and its status lines on
// standard output.
void configureEncoder(ProcessRunner& runner, QString& lastMessage)
{
    runner.setGentleStop({ SIGINT, {} }, kStopGrace);
    runner.setStdoutHandler(
        [&lastMessage](const QString& line) { readProgressOrLog(line, lastMessage); });
    runner.setStderrHandler([&lastMessage](const QString& line) {
        DNLogger::shareRoughLog().logEngineLine(line);
        lastMessage = line;
    });
}

void configureFinisher(ProcessRunner& runner, QString& lastMessage)
{
    runner.setGentleStop({ SIGINT, {} }, kStopGrace);
    runner.setStderrHandler([&lastMessage](const QString& line) {
        DNLogger::shareRoughLog().logEngineLine(line);
        lastMessage = line;
    });
}

// 0, or the failure of one program with its reason in the log.
int statusOf(const char* program, const ProcessRunner::Result& result, const QString& lastMessage)
{
    if (!result.started) {
        DNLog(QStringLiteral("%1 could not start: %2").arg(program, result.error));
        return kEncoderCoreFailed;
    }
    if (result.signal != 0) {
        DNLog(QStringLiteral("%1 was ended by signal %2.").arg(program).arg(result.signal));
        return kEncoderCoreFailed;
    }
    if (result.exitCode != 0)
        DNLog(QStringLiteral("%1 failed with exit status %2: %3")
                  .arg(program, QString::number(result.exitCode), lastMessage));
    return result.exitCode;
}

int stoppedStatus()
{
    DNLog(QStringLiteral("The encoder core was stopped before it finished."));
    return kEncoderCoreStopped;
}

void setLastCommand(const QStringList& command)
{
    const std::lock_guard lock(bridge().state);
    bridge().lastCommand = command;
}

// One program alone: mencoder, or ffmpeg for a join.
int runAlone(const char* program, const QStringList& arguments)
{
    const QStringList command = QStringList { program } + arguments;
    setLastCommand(command);
    DNLog(QStringLiteral("The encoder core runs: ") + shellCommandLine(command));
    QString lastMessage;
    ProcessRunner runner;
    if (qstrcmp(program, kEncoder) == 0)
        configureEncoder(runner, lastMessage);
    else
        configureFinisher(runner, lastMessage);
    ActiveCall::attach(runner, nullptr);
    const ProcessRunner::Result result = runner.run(program, arguments);
    ActiveCall::detach();
    return ActiveCall::stopped() ? stoppedStatus() : statusOf(program, result, lastMessage);
}

// mencoder into the FIFO, ffmpeg from it to the output, side by side; either
// failing ends the other, and a stop ends both.
int runWithFinishing(const EncoderCorePlan& plan)
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
    const QStringList finisherArguments
        = EncoderCoreFinishingArguments(*plan.finishing, fifo.path(), output);
    const QStringList encoderCommand = QStringList { kEncoder } + encoderArguments;
    const QStringList finisherCommand = QStringList { kFinisher } + finisherArguments;
    setLastCommand(encoderCommand + QStringList { "|" } + finisherCommand);
    DNLog(QStringLiteral("The encoder core runs: ") + shellCommandLine(encoderCommand));
    DNLog(QStringLiteral("Its finishing stage runs: ") + shellCommandLine(finisherCommand));

    QString encoderMessage;
    QString finisherMessage;
    ProcessRunner encoder;
    ProcessRunner finisher;
    configureEncoder(encoder, encoderMessage);
    configureFinisher(finisher, finisherMessage);
    ActiveCall::attach(encoder, &finisher);
    ProcessRunner::Result finisherResult;
    // ffmpeg first: mencoder's output has somewhere to go from its start. When
    // ffmpeg ends, nothing reads the FIFO any more: mencoder must end too.
    std::thread finishing([&] {
        finisherResult = finisher.run(kFinisher, finisherArguments);
        encoder.stop();
    });
    const ProcessRunner::Result encoderResult = encoder.run(kEncoder, encoderArguments);
    fifo.closeWriteEnd();
    if (!encoderResult.succeeded())
        finisher.stop();
    finishing.join();
    ActiveCall::detach();

    if (ActiveCall::stopped())
        return stoppedStatus();
    if (!encoderResult.stopped) {
        if (const int status = statusOf(kEncoder, encoderResult, encoderMessage); status != 0)
            return status;
    }
    return statusOf(kFinisher, finisherResult, finisherMessage) == 0 ? 0 : kEncoderCoreFailed;
}

// A list that no argument block could hold did not come from a builder.
bool checkList(int argc, const char* const* argv)
{
    if (argv == nullptr || argc < 1 || argc >= MaxArguNumber) {
        DNLog(QStringLiteral("The encoder core was given no usable command line (%1 arguments).")
                  .arg(argc));
        return false;
    }
    return std::all_of(argv, argv + argc, [](const char* word) { return word != nullptr; });
}

void reportState(int state)
{
    EncoderCoreStateCallback callback = nullptr;
    void* context = nullptr;
    {
        const std::lock_guard lock(bridge().state);
        callback = bridge().callback;
        context = bridge().context;
    }
    if (callback)
        callback(state, context);
}

void startProgress(int duration)
{
    const std::lock_guard lock(bridge().state);
    bridge().progress = {};
    bridge().duration = duration;
}

// mencoder's last status line comes a frame or so before its end.
void finishProgress(int status)
{
    const std::lock_guard lock(bridge().state);
    if (status == 0)
        bridge().progress.percent = 100;
}

} // namespace

void EncoderCoreSetStateCallback(EncoderCoreStateCallback callback, void* context)
{
    const std::lock_guard lock(bridge().state);
    bridge().callback = callback;
    bridge().context = context;
}

int EncoderCoreEncode(int argc, const char* const* argv, int duration)
{
    const ActiveCall call;
    if (!checkList(argc, argv))
        return kEncoderCoreFailed;
    QStringList builderArguments;
    for (int i = 0; i < argc; ++i)
        builderArguments << QString::fromUtf8(argv[i]);
    const EncoderCorePlan plan = EncoderCoreAdaptArguments(builderArguments);
    startProgress(duration);
    reportState(kEncoderCoreStateRunning);
    const int status = plan.join               ? runAlone(kFinisher, plan.arguments)
        : plan.finishing && plan.outputAt >= 0 ? runWithFinishing(plan)
                                               : runAlone(kEncoder, plan.arguments);
    finishProgress(status);
    return status;
}

ProgressInfo EncoderCoreProgress()
{
    const std::lock_guard lock(bridge().state);
    return bridge().progress;
}

void EncoderCoreStop()
{
    const std::lock_guard lock(bridge().state);
    if (!bridge().active)
        return;
    bridge().stopRequested = true;
    if (bridge().encoder)
        bridge().encoder->stop();
    if (bridge().finisher)
        bridge().finisher->stop();
}

QStringList EncoderCoreLastCommand()
{
    const std::lock_guard lock(bridge().state);
    return bridge().lastCommand;
}
