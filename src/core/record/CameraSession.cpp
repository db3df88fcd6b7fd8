#include "record/CameraSession.h"

#include "platform/DNLogger.h"
#include "platform/ProcessRunner.h"
#include "record/RecordedFile.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

// ffmpeg writes the end of the file after SIGINT; one that has not ended by
// then is killed.
constexpr int kStopGraceMs = 5000;

// A line of the progress report ("key=value", the value padded on the left
// as in "speed=   1x") or of the level printout ("[Parsed_ametadata_3 @
// 0x...] frame:12 pts:..."): none of them says what went wrong.
bool isReportLine(const QString& line)
{
    static const QRegularExpression report(
        QStringLiteral("^[a-z_0-9]+= *\\S*$|Parsed_ametadata|Peak_level"));
    return report.match(line).hasMatch();
}

} // namespace

CameraSession::CameraSession(QObject* parent)
    : QObject(parent)
{
    connect(&m_stallWatch, &QTimer::timeout, this, &CameraSession::watchProgress);
}

CameraSession::~CameraSession()
{
    stop();
}

bool CameraSession::start(const CameraSessionPlan& plan, QString* error)
{
    stop();
    m_plan = plan;
    m_pendingPicture.clear();
    m_pendingMessages.clear();
    m_lastComplaint.clear();
    m_framesShown = 0;
    m_framesShownAtStop = 0;
    m_framesRecorded = 0;
    m_levelsRead = 0;
    m_markAtLook = -1;
    m_endReason.clear();
    m_stopping = false;
    const QStringList arguments = cameraSessionArguments(plan);
    m_lastCommand = QStringList { QStringLiteral("ffmpeg") } + arguments;
    DNLog(QStringLiteral("The camera recorder runs: ") + shellCommandLine(m_lastCommand));
    m_child = std::make_unique<QProcess>();
    connect(m_child.get(), &QProcess::readyReadStandardOutput, this, &CameraSession::readFrames);
    connect(m_child.get(), &QProcess::readyReadStandardError, this, &CameraSession::readMessages);
    connect(m_child.get(), &QProcess::finished, this, &CameraSession::childEnded);
    m_child->start(QStringLiteral("ffmpeg"), arguments);
    if (m_child->waitForStarted()) {
        using std::chrono::milliseconds;
        m_sinceMove.start();
        m_stallWatch.start(
            std::clamp(engineStallLimit() / 8, milliseconds(10), milliseconds(1000)));
        return true;
    }
    if (error)
        *error = QStringLiteral("cannot start ffmpeg: ") + m_child->errorString();
    m_child.reset();
    return false;
}

void CameraSession::stop()
{
    // A stop asked for by a report handed out while we wait is this one.
    if (!isRunning() || m_waitingForEnd)
        return;
    const bool cutHere = !m_stopping;
    requestStop();
    m_waitingForEnd = true;
    if (!m_child->waitForFinished(kStopGraceMs)) {
        killAfterGrace();
        m_child->waitForFinished();
    }
    m_waitingForEnd = false;
    if (const std::optional<double> seconds = recordingCutSeconds(); cutHere && seconds)
        cutRecording(m_plan.outputPath, *seconds);
}

void CameraSession::requestStop()
{
    if (!isRunning() || m_stopping)
        return;
    // The recording ends with the last picture shown. A microphone that hands
    // out its sound in large pieces (two seconds) has by now recorded sound
    // up to a piece past it, which ffmpeg writes out before it ends.
    m_framesShownAtStop = m_framesShown;
    m_stopping = true;
    endChild();
}

void CameraSession::endChild()
{
    // A preview alone has nothing to finish; ffmpeg asked to end would wait
    // for the sound server's next piece of sound, up to two seconds.
    if (m_plan.outputPath.isEmpty()) {
        m_child->kill();
        return;
    }
    ::kill(static_cast<pid_t>(m_child->processId()), SIGINT);
    // Goes with the child: a later session's child is never killed by it, and
    // one that has ended is not signalled again.
    QTimer::singleShot(kStopGraceMs, m_child.get(), [this] { killAfterGrace(); });
}

// An ffmpeg that has not finished its file within the grace is stuck (frozen,
// or waiting on a device that stopped answering); the fragments it wrote stay.
void CameraSession::killAfterGrace()
{
    if (!isRunning())
        return;
    if (m_endReason.isEmpty())
        m_endReason = QStringLiteral("ffmpeg had not finished the recording %1 s after it was "
                                     "told to, and was killed")
                          .arg(kStopGraceMs / 1000);
    DNLog(QStringLiteral("The camera recorder's ") + m_endReason);
    m_child->kill();
}

std::optional<double> CameraSession::recordingCutSeconds() const
{
    const bool recordsSound = m_plan.camera.hasSound || !m_plan.microphoneSource.isEmpty();
    if (!m_stopping || m_plan.outputPath.isEmpty() || !recordsSound || m_framesShownAtStop <= 0)
        return std::nullopt;
    return double(m_framesShownAtStop) / std::max(1, m_plan.previewFrameRate);
}

void cutRecording(const QString& recording, double seconds)
{
    const QString failed
        = QStringLiteral("The camera recording could not be cut at its last picture");
    QTemporaryFile cut(recording + QStringLiteral(".XXXXXX.mov"));
    if (!cut.open()) {
        DNLog(failed + QStringLiteral(": no file for the cut: ") + cut.errorString());
        return;
    }
    const QStringList arguments = recordingCutArguments(recording, cut.fileName(), seconds);
    QString complaint;
    ProcessRunner runner;
    runner.setStderrHandler([&complaint](const QString& line) { complaint = line; });
    // The copy grows while ffmpeg works; a recording on a file system that
    // stopped answering would keep it waiting for ever.
    runner.setStallLimit(engineStallLimit(),
        [path = cut.fileName()] { return QByteArray::number(QFileInfo(path).size()); });
    const ProcessRunner::Result result = runner.run(QStringLiteral("ffmpeg"), arguments);
    if (result.stalled)
        complaint = QStringLiteral("ffmpeg %1 and was ended").arg(stallReason(engineStallLimit()));
    // A cut that could not be read back is not taken for the recording; the
    // recording stays as it is.
    const PictureCheck check
        = result.succeeded() ? checkRecordedPictures(cut.fileName()) : PictureCheck {};
    if (check.pictures == RecordedPictures::Unchecked && result.succeeded())
        complaint = QStringLiteral("the cut could not be read: ") + check.problem;
    if (check.pictures == RecordedPictures::Found
        && std::rename(QFile::encodeName(cut.fileName()).constData(),
               QFile::encodeName(recording).constData())
            == 0) {
        cut.setAutoRemove(false);
        return;
    }
    DNLog(failed + QStringLiteral(": ")
        + shellCommandLine(QStringList { QStringLiteral("ffmpeg") } + arguments)
        + QStringLiteral(": ") + (complaint.isEmpty() ? result.error : complaint));
}

qint64 CameraSession::enginePid() const
{
    return isRunning() ? m_child->processId() : -1;
}

bool CameraSession::isRunning() const
{
    return m_child && m_child->state() != QProcess::NotRunning;
}

// A live session moves all the time: the camera's pictures, ffmpeg's count of
// the pictures recorded and the sound's levels keep coming. One where none
// has come for the stall limit has stopped (a camera that hangs, a file
// system that went away) and is ended as a stop ends it, for that reason.
void CameraSession::watchProgress()
{
    const qint64 mark = m_framesShown + m_framesRecorded + m_levelsRead;
    if (mark != m_markAtLook) {
        m_markAtLook = mark;
        m_sinceMove.restart();
        return;
    }
    const std::chrono::milliseconds limit = engineStallLimit();
    if (m_stopping || !m_endReason.isEmpty() || m_sinceMove.elapsed() < limit.count())
        return;
    m_endReason = QStringLiteral("ffmpeg %1 and was ended").arg(stallReason(limit));
    DNLog(QStringLiteral("The camera recorder's ") + m_endReason);
    endChild();
}

void CameraSession::readFrames()
{
    const QSize size = m_plan.previewSize;
    const qsizetype frameBytes = qsizetype(size.width()) * size.height() * 3;
    m_pendingPicture += m_child->readAllStandardOutput();
    while (frameBytes > 0 && m_pendingPicture.size() >= frameBytes) {
        QImage picture(size, QImage::Format_RGB888);
        for (int row = 0; row < size.height(); ++row)
            std::memcpy(picture.scanLine(row),
                m_pendingPicture.constData() + qsizetype(row) * size.width() * 3,
                size_t(size.width()) * 3);
        m_pendingPicture.remove(0, frameBytes);
        ++m_framesShown;
        emit previewFrameReady(picture);
    }
}

void CameraSession::readMessages()
{
    m_pendingMessages += m_child->readAllStandardError();
    qsizetype end = 0;
    while ((end = m_pendingMessages.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_pendingMessages.left(end)).trimmed();
        m_pendingMessages.remove(0, end + 1);
        if (!line.isEmpty())
            readMessage(line);
    }
}

void CameraSession::readMessage(const QString& line)
{
    if (const std::optional<double> level = peakLevel(line)) {
        ++m_levelsRead;
        emit audioLevel(*level);
    } else if (const std::optional<qint64> frames = progressFrames(line)) {
        m_framesRecorded = *frames;
        emit recordingProgress(double(*frames) / std::max(1, m_plan.previewFrameRate));
    } else if (!isReportLine(line))
        m_lastComplaint = line;
}

void CameraSession::childEnded()
{
    m_stallWatch.stop();
    readFrames();
    readMessages();
    const int exitCode = m_child->exitStatus() == QProcess::NormalExit ? m_child->exitCode() : -1;
    emit finished(m_stopping, exitCode, m_endReason.isEmpty() ? m_lastComplaint : m_endReason);
}
