#include "download/NXStreamMergeOperation.h"

#include "engine/AVEncoder.h"
#include "platform/DNLogger.h"
#include "platform/NotificationCenter.h"
#include "platform/ProcessRunner.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QRegularExpression>

namespace {

using namespace std::chrono_literals;

// ffmpeg 5.1 reads "AC:DC [VideoStream].mp4" as a protocol name and a path:
// "file:" in front of an absolute path leaves nothing to read that way.
QString filePathArgument(const QString& path)
{
    return QStringLiteral("file:") + QFileInfo(path).absoluteFilePath();
}

// The demuxers of the containers a stream is kept in (mp4, m4a, 3gp, mov;
// mkv, webm; flv; mp3; ogg, opus; aac; wav), and local files only.
const QStringList kMediaInputOptions { QStringLiteral("-format_whitelist"),
    QStringLiteral("mov,matroska,flv,mp3,ogg,aac,wav"), QStringLiteral("-protocol_whitelist"),
    QStringLiteral("file") };

// What the whitelist refused, named after the demuxer that starts ffmpeg's
// line ("[mpegts @ 0x...] Format not on whitelist ...").
QString refusedInput(const QString& line)
{
    static const QRegularExpression demuxer(QStringLiteral("^\\[([A-Za-z0-9_]+) @"));
    const QString name = demuxer.match(line).captured(1);
    if (name == QLatin1String("hls") || name == QLatin1String("concat"))
        return QStringLiteral("a playlist or a list of other files");
    if (name == QLatin1String("mpegts"))
        return QStringLiteral("an MPEG-TS stream");
    if (name.isEmpty())
        return QStringLiteral("in a format");
    return QStringLiteral("in the format %1").arg(name);
}

// Where a merge is: what it has written. Its reads of the streams count as
// moves too (see ProcessRunner::setStallLimit).
QByteArray mergeMark(const QString& destination)
{
    const QFileInfo written(destination);
    return QByteArray::number(written.size()) + ' '
        + QByteArray::number(written.lastModified().toMSecsSinceEpoch());
}

} // namespace

QStringList AVEncoderAVSynthetizeArguments(
    const QString& videoStream, const QString& audioStream, const QString& destination)
{
    const QStringList vector { "AVED", "-d", "-y", "-i", filePathArgument(videoStream), "-i",
        filePathArgument(audioStream), "-c", "copy", filePathArgument(destination) };
    // The bridge's table makes the vector fit the installed ffmpeg ("-d" goes).
    QStringList arguments = AVEncoderAdaptArguments(vector);
    // Exactly the two downloaded streams: without the maps ffmpeg picks the
    // best audio of all inputs, and a video stream that carries its own
    // sound would keep it in place of the downloaded audio.
    arguments.insert(arguments.size() - 1, QStringLiteral("-map"));
    arguments.insert(arguments.size() - 1, QStringLiteral("0:v:0"));
    arguments.insert(arguments.size() - 1, QStringLiteral("-map"));
    arguments.insert(arguments.size() - 1, QStringLiteral("1:a:0"));
    // Each input is one media file: a playlist or a list (HLS, concat) that
    // names other files, local ones included, is refused, not followed.
    QStringList guarded;
    for (const QString& argument : std::as_const(arguments)) {
        if (argument == QLatin1String("-i"))
            guarded << kMediaInputOptions;
        guarded << argument;
    }
    arguments = guarded;
    // A merge never reads keys; ffmpeg stops on SIGTERM.
    arguments.prepend(QStringLiteral("-nostdin"));
    return arguments;
}

StreamMergeResult AVEncoderAVSynthetize(const QString& videoStream, const QString& audioStream,
    const QString& destination, ProcessRunner& runner)
{
    for (const QString& stream : { videoStream, audioStream }) {
        if (!QFileInfo(stream).isFile())
            return { false, QStringLiteral("The stream file %1 is missing").arg(stream) };
    }
    const QStringList arguments
        = AVEncoderAVSynthetizeArguments(videoStream, audioStream, destination);
    DNLog(QStringLiteral("Merging: ffmpeg %1").arg(shellCommandLine(arguments)));
    QString lastLine;
    QString refusal;
    runner.setStderrHandler([&lastLine, &refusal](const QString& line) {
        DNLog(QStringLiteral("\t") + line);
        lastLine = line;
        if (line.contains(QLatin1String("not on whitelist")))
            refusal = line;
    });
    runner.setGentleStop({ 15, {} }, 2000ms);
    // A merge that hangs (an input on a file system that stopped answering)
    // would otherwise hold the job's queue until the user stops it.
    runner.setStallLimit(engineStallLimit(), [destination] { return mergeMark(destination); });
    const ProcessRunner::Result result = runner.run(QStringLiteral("ffmpeg"), arguments);
    if (result.succeeded() && QFileInfo(destination).size() > 0)
        return { true, {} };
    // What ffmpeg left there is broken; it is ours, made under a unique name.
    QFile::remove(destination);
    if (!result.started)
        return { false, QStringLiteral("ffmpeg could not be started: %1").arg(result.error) };
    if (result.stalled)
        return { false,
            QStringLiteral("ffmpeg %1 while merging the streams into %2, and was ended")
                .arg(stallReason(engineStallLimit()), destination) };
    if (result.stopped)
        return { false, QStringLiteral("The merge was stopped") };
    if (!refusal.isEmpty())
        return { false,
            QStringLiteral("A stream is %1, which the merge does not take: %2")
                .arg(refusedInput(refusal), refusal) };
    return { false,
        QStringLiteral("ffmpeg could not merge the streams into %1 (exit status %2): %3")
            .arg(destination,
                QString::number(result.signal != 0 ? -result.signal : result.exitCode), lastLine) };
}

NXStreamMergeOperation::NXStreamMergeOperation()
    : m_runner(std::make_unique<ProcessRunner>())
{ }

NXStreamMergeOperation::~NXStreamMergeOperation()
{
    cancel();
    if (m_worker.joinable())
        m_worker.join();
}

void NXStreamMergeOperation::start(QObject* context, Completion completion)
{
    m_worker = std::thread([this, context, completion = std::move(completion)] {
        const StreamMergeResult result = run();
        QMetaObject::invokeMethod(
            context, [completion, result] { completion(result); }, Qt::QueuedConnection);
    });
}

void NXStreamMergeOperation::cancel()
{
    m_runner->stop();
}

StreamMergeResult NXStreamMergeOperation::run()
{
    const StreamMergeResult result
        = AVEncoderAVSynthetize(videoStreamFile, audioStreamFile, destFile, *m_runner);
    if (result.succeeded)
        NotificationCenter::defaultCenter().post(
            kMergeDoneNotification, nullptr, { { QStringLiteral("dest"), destFile } });
    return result;
}
