#include "record/DNScreenRecorder.h"

#include "platform/DNLogger.h"
#include "platform/ProcessRunner.h"
#include "record/AudioDevice.h"
#include "record/AudioPassThrough.h"
#include "record/CatchUp.h"
#include "record/PulseAudio.h"
#include "record/RecordedFile.h"
#include "record/RecordingTrim.h"
#include "services/OutputPublishing.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <limits>

namespace {

using namespace std::chrono_literals;

// ffmpeg writes its last fragment after SIGINT; one that has not ended by
// then is killed, which the fragmented file survives.
constexpr std::chrono::milliseconds kStopGrace = 5000ms;
// After a stop, an encoder that is catching up works as fast as it can; on a
// very busy machine its count of pictures may stand for seconds while it
// works. One that has neither encoded a picture nor used the processor for
// this long is not catching up (it is stopped, or blocked on a device), and
// waiting for it only keeps the user from their recording.
constexpr std::chrono::milliseconds kCatchUpStill = 5000ms;
constexpr int kPreviewIntervalMs = 200;
const QString kNoSoundServer = QStringLiteral("No sound server found: recording video only.");

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// What ffmpeg reports on standard output under -progress, and when the first
// picture was taken.
struct CaptureProgress {
    int frameRate = 1;
    qint64 frames = 0;
    qint64 dropped = 0;
    std::optional<Clock::time_point> firstPicture;

    // True at the end of a report.
    bool read(const QString& line, Clock::time_point now)
    {
        if (line.startsWith(QLatin1String("frame=")))
            frames = line.mid(6).toLongLong();
        else if (line.startsWith(QLatin1String("drop_frames=")))
            dropped = line.mid(12).toLongLong();
        const bool reportEnds = line.startsWith(QLatin1String("progress="));
        if (reportEnds && frames > 0)
            noteFirstPicture(now);
        return reportEnds && firstPicture;
    }

    // The screen input stamps its pictures by its own schedule from the
    // moment it was opened, and the output's constant rate turns the frames
    // written into that time. The encoder only ever trails it (most while
    // it starts up), so the report that puts the first picture earliest is
    // the nearest.
    void noteFirstPicture(Clock::time_point now)
    {
        const Clock::time_point estimate = now
            - std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(double(frames) / frameRate));
        firstPicture = std::min(firstPicture.value_or(estimate), estimate);
    }

    // The time since the first picture, by the clock.
    double secondsAt(Clock::time_point now) const
    {
        return firstPicture ? secondsBetween(*firstPicture, now) : 0.0;
    }

    // Whether the pictures written reach the time recorded up to `stop`.
    bool reaches(Clock::time_point stop) const
    {
        return double(frames) >= secondsAt(stop) * frameRate;
    }
};

// A recording is good when it holds pictures and ffmpeg ended it cleanly:
// by itself, or on our stop (255 after SIGINT, or killed after the grace).
bool endedWell(const ProcessRunner::Result& run)
{
    if (run.exitCode == 0)
        return true;
    return run.stopped && (run.exitCode == 255 || run.signal == SIGKILL);
}

// Lines of ffmpeg's that say the file was not written whole, in the words of
// this ffmpeg and of later ones.
bool saysWriteFailed(const QString& line)
{
    static const QLatin1String kWriteFailures[] = {
        QLatin1String("Error writing trailer"),
        QLatin1String("av_interleaved_write_frame"),
        QLatin1String("Error closing file"),
        QLatin1String("Error submitting a packet to the muxer"),
        QLatin1String("Error muxing a packet"),
    };
    return saysDiskIsFull(line)
        || std::any_of(std::begin(kWriteFailures), std::end(kWriteFailures),
            [&line](QLatin1String failure) { return line.contains(failure); });
}

// What ffmpeg said on standard error: its last error, the first that said the
// file was not written whole, and the first that said the disk is full, which
// the errors after it only follow from.
struct EngineErrors {
    QString last;
    QString writeFailed;
    QString diskFull;

    void read(const QString& line)
    {
        last = engineReason(line);
        if (writeFailed.isEmpty() && saysWriteFailed(line))
            writeFailed = last;
        if (diskFull.isEmpty() && saysDiskIsFull(line))
            diskFull = last;
    }
};

// What is known of a recording once ffmpeg has ended.
struct RecordedFacts {
    QString path;
    double recorded = 0; // seconds, by the clock
    int frameRate = 1;
    bool withSound = false;
    PictureCheck check;
    // Its folder's, measured before a file without a picture went.
    std::optional<FolderRoom> room;
};

// A good recording whose picture does not last as long as it was recorded
// for is reported: a short file taken for a whole one is lost work.
QString lengthProblem(const RecordedFacts& facts)
{
    const std::optional<double> inFile = recordedPictureSeconds(facts.path);
    return recordedLengthProblem(inFile.value_or(0.0), facts.recorded, facts.frameRate);
}

// The sound of a recording that stops well before its picture: the sound
// server went away (or its source did), and ffmpeg recorded the screen on
// without it. The picture is kept; the recording is not taken for a whole one.
QString soundProblem(const RecordedFacts& facts, const QString& said)
{
    if (!facts.withSound)
        return {};
    const std::optional<double> picture = recordedPictureSeconds(facts.path);
    if (!picture)
        return {};
    QString problem = recordedSoundProblem(recordedSoundSeconds(facts.path), *picture);
    if (!problem.isEmpty() && !said.isEmpty())
        problem += QStringLiteral(" (ffmpeg said \"%1\")").arg(said);
    return problem;
}

// What is wrong with a recording, or empty when it is good. An ffmpeg that
// ended badly is taken at its last word. One that ended well may still have
// complained along the way (a grab that came late, a sound server that
// hiccuped): only a write that failed, even after our stop (the last fragment
// not written to a full disk), fails the recording then.
QString recordingProblem(
    const ProcessRunner::Result& run, const EngineErrors& errors, const RecordedFacts& facts)
{
    if (!run.started)
        return run.error;
    if (!errors.diskFull.isEmpty())
        return fullDiskReason(QStringLiteral("ffmpeg"), QFileInfo(facts.path).absolutePath(),
            facts.room, errors.diskFull);
    if (run.stalled)
        return QStringLiteral("ffmpeg %1 and was ended").arg(stallReason(engineStallLimit()));
    const bool ended = endedWell(run);
    const QString said = ended ? errors.writeFailed : errors.last;
    if (!said.isEmpty())
        return said;
    if (run.signal != 0 && !run.stopped)
        return QStringLiteral("ffmpeg was ended by ") + signalText(run.signal);
    if (facts.check.pictures == RecordedPictures::Unchecked)
        return QStringLiteral("the recording could not be checked");
    if (facts.check.pictures == RecordedPictures::None)
        return QStringLiteral("nothing was recorded");
    if (!ended)
        return QStringLiteral("ffmpeg failed with exit status %1").arg(run.exitCode);
    if (const QString length = lengthProblem(facts); !length.isEmpty())
        return length;
    return soundProblem(facts, errors.last);
}

// How far a catch-up that stood still had come.
struct CatchUpShortfall {
    qint64 encoded = 0; // the pictures ffmpeg had encoded, by its count
    qint64 recorded = 0; // the pictures taken up to the stop, by the clock
    bool killed = false; // told to finish the file, it did not end within the grace
};

// How the encoder stood still for `seconds`.
QString stoodStill(const CatchUp::Stand& stand, const QString& seconds, bool encodedAny)
{
    using Way = CatchUp::Stand::Way;
    if (stand.way == Way::Idle)
        return QStringLiteral(" and then stood still for %1 s, encoding no picture and using no "
                              "processor time")
            .arg(seconds);
    const QString unencoded = encodedAny
        ? QStringLiteral(" and encoded nothing more for %1 s").arg(seconds)
        : QStringLiteral(" and encoded none in the %1 s after the stop").arg(seconds);
    return stand.way == Way::InputSilent
        ? unencoded + QStringLiteral(" while the sound server did not answer")
        : unencoded;
}

// What ffmpeg had encoded when it stood still, how far short of the stop
// where the clock says it was short, and how it stood. Its count is of the
// pictures encoded: they reach the file a fragment at a time, so the file
// (as keptNote says) may hold fewer.
QString standStillNote(const CatchUpShortfall& shortfall, const CatchUp::Stand& stand)
{
    QString encoded;
    if (shortfall.encoded <= 0)
        encoded = QStringLiteral("had encoded no picture");
    else if (shortfall.recorded > shortfall.encoded)
        encoded = QStringLiteral("had encoded %1 of the %2 pictures recorded up to the stop")
                      .arg(shortfall.encoded)
                      .arg(shortfall.recorded);
    else
        encoded = QStringLiteral("had encoded %1 pictures").arg(shortfall.encoded);
    QString note = QStringLiteral("ffmpeg ") + encoded
        + stoodStill(
            stand, QString::number(stand.time.count() / 1000.0, 'f', 1), shortfall.encoded > 0)
        + QStringLiteral(", so it was told to finish the file");
    if (shortfall.killed)
        note += QStringLiteral(", which it had not done %1 s later, and was killed")
                    .arg(QString::number(kStopGrace.count() / 1000.0));
    return note;
}

// What the file holds; empty when it could not be read.
QString fileHolds(const RecordedFacts& facts)
{
    if (facts.check.pictures == RecordedPictures::None)
        return QStringLiteral("the file holds no whole picture");
    const std::optional<double> seconds = recordedPictureSeconds(facts.path);
    if (facts.check.pictures == RecordedPictures::Unchecked || !seconds)
        return {};
    return QStringLiteral("the file holds %1 s of pictures").arg(QString::number(*seconds, 'f', 1));
}

// Settled once ffmpeg's run has returned: a catch-up that stood still is
// logged with what the file holds, and said after the reason of a recording
// that failed, whose kept note then says what the file holds.
QString catchUpProblem(const CatchUp& catchUp, const RecordedFacts& facts, bool succeeded,
    const CatchUpShortfall& shortfall)
{
    if (catchUp.end() != CatchUp::End::StoodStill)
        return {};
    const QString note = standStillNote(shortfall, catchUp.stand());
    const QString holds = fileHolds(facts);
    DNLog(QStringLiteral("The screen recording \"%1\": %2%3")
              .arg(facts.path, note, holds.isEmpty() ? QString() : QStringLiteral("; ") + holds));
    return succeeded ? QString() : QStringLiteral(" (%1)").arg(note);
}

// What is left of a failed recording: the pictures that lie whole in its
// file, which then plays; nothing, and the file is gone; or what could not
// be read, which stays as it is.
QString keptNote(const RecordedFacts& facts)
{
    const QString name = QFileInfo(facts.path).fileName();
    switch (facts.check.pictures) {
    case RecordedPictures::None:
        return QStringLiteral("nothing of it could be played, and \"%1\" was removed").arg(name);
    case RecordedPictures::Unchecked:
        return QStringLiteral("\"%1\" could not be read (%2), and is kept as it was")
            .arg(name, facts.check.problem);
    case RecordedPictures::Found:
        break;
    }
    return QStringLiteral("\"%1\" keeps the first %2 s of it")
        .arg(name, QString::number(recordedPictureSeconds(facts.path).value_or(0.0), 'f', 1));
}

// What ffmpeg wrote after the stop was not meant to be recorded, and a
// picture cut short by a full disk or a kill keeps the file from playing.
void trimToStop(const QString& path, double seconds)
{
    QString problem;
    const TrimOutcome outcome = trimRecording(path, seconds, &problem);
    if (outcome == TrimOutcome::Unreadable)
        DNLog(QStringLiteral("The screen recording \"%1\" could not be read to cut it back to its "
                             "stop: %2")
                  .arg(path, problem));
    else if (outcome == TrimOutcome::Unwritable)
        DNLog(QStringLiteral("The screen recording \"%1\" could not be cut back to its stop: %2")
                  .arg(path, problem));
}

// Low-level diagnostics go to the standard error stream, the reason also to the caller.
bool reportNoSound(const QString& reason, QString* problem)
{
    std::fprintf(stderr, "%s\n", qPrintable(reason));
    if (problem)
        *problem = reason;
    return false;
}

} // namespace

std::unique_ptr<DNScreenRecorder> DNScreenRecorder::create(QString* error)
{
    std::unique_ptr<DNScreenRecorder> recorder(new DNScreenRecorder);
    if (!recorder->createCaptureSession(error))
        return nullptr;
    undoLeftoverRouting();
    return recorder;
}

bool DNScreenRecorder::createCaptureSession(QString* error)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty()) {
        if (error)
            *error = QStringLiteral("cannot find ffmpeg, which records the screen");
        return false;
    }
    m_displayID = qEnvironmentVariable("DISPLAY");
    if (m_displayID.isEmpty()) {
        if (error)
            *error = QStringLiteral("cannot open the X display: DISPLAY is not set");
        return false;
    }
    const std::optional<QSize> size = probeDisplaySize(m_displayID, error);
    if (!size)
        return false;
    m_screenSize = *size;
    m_cropRect = QRect(QPoint(0, 0), m_screenSize);
    return true;
}

DNScreenRecorder::~DNScreenRecorder()
{
    m_delegate = nullptr;
    // A stopped recording is let finish writing what was recorded, while it writes.
    if (m_runner && m_stopAsked.load() == Clock::time_point::max())
        m_runner->stop();
    if (m_worker.joinable())
        m_worker.join();
    m_catchUp.reset();
    waitForSoundWork();
    restoreSystemOutputDevice();
    unloadVirtualDevice();
}

void DNScreenRecorder::addCaptureVideoPreview()
{
    if (m_previewTimer)
        return;
    m_previewTimer = new QTimer(this);
    connect(m_previewTimer, &QTimer::timeout, this, &DNScreenRecorder::grabPreview);
    m_previewTimer->start(kPreviewIntervalMs);
}

// Qt grabs in its device-independent pixels, relative to the screen, whose
// top-left corner it keeps at the X root's pixel.
void DNScreenRecorder::grabPreview()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    const QRect region = captureRegion();
    for (QScreen* const screen : QGuiApplication::screens()) {
        const QRect geometry = screen->geometry();
        const qreal ratio = screen->devicePixelRatio();
        if (!QRect(geometry.topLeft(), geometry.size() * ratio).contains(region.center()))
            continue;
        const QRect grabbed = QRectF(
            QPointF(region.topLeft() - geometry.topLeft()) / ratio, QSizeF(region.size()) / ratio)
                                  .toRect();
        emit previewFrameReady(
            screen->grabWindow(0, grabbed.x(), grabbed.y(), grabbed.width(), grabbed.height())
                .toImage());
        return;
    }
}

bool DNScreenRecorder::setAudioDevice(const QString& uniqueID, QString* problem)
{
    m_audioSource.clear();
    const bool reachable = PulseAudio::serverReachable();
    m_systemAudioRecord = reachable && uniqueID == QLatin1String(kSystemAudioDeviceID);
    if (!reachable)
        return reportNoSound(kNoSoundServer, problem);
    if (m_systemAudioRecord && virtualDeviceInstalled())
        loadVirtualDevice(nullptr);
    if (m_systemAudioRecord)
        initConnections();
    const AudioCaptureDevice device = audioCaptureDevice(uniqueID);
    if (device.source.isEmpty())
        return reportNoSound(
            QStringLiteral("can not add audio input device: no device \"%1\"").arg(uniqueID),
            problem);
    m_audioSource = device.source;
    return true;
}

void DNScreenRecorder::addDislayInputTocaptureSession(const QString& display, const QRect& cropRect)
{
    if (display != m_displayID) {
        // Another display that cannot be opened is skipped: the crop then
        // applies to the display we have.
        const std::optional<QSize> size = probeDisplaySize(display, nullptr);
        if (size) {
            m_displayID = display;
            m_screenSize = *size;
            m_framerate = m_maxFramerate;
        }
    }
    m_cropRect = cropRect;
}

CapturePlan DNScreenRecorder::capturePlan(const QString& path) const
{
    CapturePlan plan;
    plan.display = m_displayID;
    plan.area = captureRegion();
    plan.frameRate = wholeFrameRate(m_framerate);
    plan.audioSource = m_audioSource;
    plan.preset = m_preset;
    plan.outputPath = path;
    return plan;
}

bool DNScreenRecorder::startRecord(const QString& path, QString* problem)
{
    if (isRecording())
        return false;
    const QString refusal = captureProblem(m_cropRect, m_framerate, m_screenSize);
    if (!refusal.isEmpty()) {
        DNLog(QStringLiteral("The screen recording \"%1\" is refused: %2").arg(path, refusal));
        if (problem)
            *problem = refusal;
        refuseStart();
        return false;
    }
    // The name is taken before ffmpeg writes: another recorder that chose the
    // same free name takes the next one. The recording grows under its own
    // name, so that what was recorded stays the user's however we end.
    QString reason;
    const QString claimed = claimOutputName(QFileInfo(path).absoluteFilePath(), &reason);
    if (claimed.isEmpty()) {
        DNLog(QStringLiteral("The screen recording \"%1\" cannot start: %2").arg(path, reason));
        if (problem)
            *problem = reason;
        refuseStart();
        return false;
    }
    const QStringList arguments = captureArguments(capturePlan(claimed));
    m_lastCommand = QStringList { QStringLiteral("ffmpeg") } + arguments;
    DNLog(QStringLiteral("The screen recorder runs: ") + shellCommandLine(m_lastCommand));
    m_stopAsked = Clock::time_point::max();
    m_catchUp = std::make_unique<CatchUp>();
    m_runner = std::make_unique<ProcessRunner>();
    m_runner->setGentleStop({ SIGINT, {} }, kStopGrace);
    m_worker = std::thread([this, arguments, claimed, frameRate = wholeFrameRate(m_framerate),
                               withSound = !m_audioSource.isEmpty()] {
        runCapture(arguments, claimed, frameRate, withSound);
    });
    return true;
}

// A start refused on the caller's thread, which already routed the sound
// there: it is given back there before the refusal is told.
void DNScreenRecorder::refuseStart()
{
    restoreSystemOutputDevice();
    m_systemAudioRecord = false;
}

// On the worker thread: runs ffmpeg to its end, judges the file and hands the
// result to the recorder's thread.
void DNScreenRecorder::runCapture(
    const QStringList& arguments, const QString& path, int frameRate, bool withSound)
{
    CaptureProgress progress;
    progress.frameRate = frameRate;
    EngineErrors errors;
    m_runner->setStdoutHandler([this, &progress](const QString& line) {
        const Clock::time_point now = Clock::now();
        if (!progress.read(line, now))
            return;
        m_catchUp->noteWritten(progress.frames);
        const Clock::time_point stop = m_stopAsked.load();
        if (now < stop)
            emit recordingProgress(progress.secondsAt(now));
        else if (progress.reaches(stop) && m_catchUp->settle(CatchUp::End::Reached))
            m_runner->stop();
    });
    m_runner->setStderrHandler([&errors](const QString& line) { errors.read(line); });
    // A recording reports ten times a second, before a stop and while it
    // catches up after one: an ffmpeg whose count stands still and that uses
    // no processor has stopped (frozen, or blocked on a file system that
    // went away). It is ended as a stop ends it, and the file keeps what it
    // wrote.
    m_runner->setStallLimit(engineStallLimit(), [&progress] {
        return QByteArray::number(progress.frames) + ' ' + QByteArray::number(progress.dropped);
    });
    const ProcessRunner::Result run = m_runner->run(QStringLiteral("ffmpeg"), arguments);
    m_catchUp->settle(CatchUp::End::Ended);
    const Clock::time_point ended = std::min(Clock::now(), m_stopAsked.load());
    const double recorded = progress.secondsAt(ended);
    trimToStop(path, progress.firstPicture ? recorded : std::numeric_limits<double>::infinity());
    const RecordedFacts facts { path, recorded, frameRate, withSound, checkRecordedPictures(path),
        roomOfFolder(QFileInfo(path).absolutePath()) };
    // A file read through without finding a picture is of no use to anyone;
    // the name was ours. One that could not be read may hold the recording.
    if (facts.check.pictures == RecordedPictures::None)
        QFile::remove(path);
    DNRecordingResult result { path, false, {}, progress.frames, progress.dropped };
    // The file stays: a recording shorter than the time recorded is still
    // what there is of it.
    result.reason = recordingProblem(run, errors, facts);
    result.succeeded = result.reason.isEmpty();
    const CatchUpShortfall shortfall { progress.frames, std::llround(recorded * frameRate),
        run.stopped && run.signal == SIGKILL };
    result.reason += catchUpProblem(*m_catchUp, facts, result.succeeded, shortfall);
    if (!result.succeeded && run.started)
        result.reason += QStringLiteral("; ") + keptNote(facts);
    if (result.succeeded && !errors.last.isEmpty())
        DNLog(QStringLiteral("The screen recording \"%1\" is kept, though ffmpeg said \"%2\"")
                  .arg(path, errors.last));
    QMetaObject::invokeMethod(
        this, [this, result] { finishRecording(result); }, Qt::QueuedConnection);
}

void DNScreenRecorder::finishRecording(DNRecordingResult result)
{
    m_worker.join();
    m_catchUp.reset();
    m_runner.reset();
    // A recording that ended by itself (a full disk, a failed start) ends the
    // routing as a stop would: the user must hear the system again.
    if (m_systemAudioRecord)
        giveSoundBack();
    if (m_soundWork.joinable()) {
        m_heldResult = std::move(result);
        return;
    }
    handOut(result);
}

void DNScreenRecorder::soundGivenBack(quint64 work)
{
    if (work != m_soundWorks)
        return;
    waitForSoundWork();
    if (m_heldResult)
        handOut(*std::exchange(m_heldResult, std::nullopt));
}

void DNScreenRecorder::handOut(const DNRecordingResult& result)
{
    DNLog(result.succeeded
            ? QStringLiteral("The screen recording \"%1\" is finished.").arg(result.path)
            : QStringLiteral("The screen recording \"%1\" failed: %2")
                  .arg(result.path, result.reason));
    if (m_delegate)
        m_delegate->screenRecorder(*this, result);
}

void DNScreenRecorder::stopRecord()
{
    if (m_runner && m_stopAsked.load() == Clock::time_point::max()) {
        const Clock::time_point now = Clock::now();
        m_stopAsked = now;
        endOnceWritten();
    }
    if (m_systemAudioRecord)
        giveSoundBack();
}

// Told to stop, ffmpeg drops the pictures it has taken but not yet written:
// on a busy machine the encoder trails the screen by a second or more, and
// its first report may come after the stop. So it is told once its progress
// reaches the time recorded up to the stop (see runCapture), and is let write
// until then, however long, as long as it works (see CatchUp). One that
// stands still is told at once, and keeps what it wrote.
void DNScreenRecorder::endOnceWritten()
{
    // One that encodes nothing while it works otherwise (it drops all it
    // takes) is told at the engines' stall limit; one whose sound server
    // does not answer waits for its sound, however long it grabs the screen.
    std::function<bool()> soundServerAnswers;
    if (!m_audioSource.isEmpty())
        soundServerAnswers = [] { return PulseAudio::serverReachable(); };
    m_catchUp->watch(
        pid_t(m_runner->pid()), kCatchUpStill, engineStallLimit(), [this] { m_runner->stop(); },
        std::move(soundServerAnswers));
}

qint64 DNScreenRecorder::enginePid() const
{
    return m_runner ? m_runner->pid() : -1;
}
