#include "slideshow/NXImageEngine.h"

#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/TemporaryFile.h"
#include "services/DNAppSetting.h"
#include "services/DNHelpers.h"
#include "services/DNSetting.h"
#include "services/OutputPublishing.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScopeGuard>

#include <plist/plist.h>

#include <csignal>
#include <memory>

namespace {

const QString kTargetPathKey = QStringLiteral("targetPath");
// The engine ends within a second of SIGTERM; ffmpeg under it may take longer
// on a loaded machine before it is killed.
constexpr auto kStopGrace = std::chrono::seconds(5);

// "2026-12-06 at PM 09.05.03": the hour runs from 0 to 11 after the marker,
// which Qt's date patterns cannot say, and the marker is the C locale's so
// the name does not change with the user's language.
QString targetDateText(const QDateTime& now)
{
    const int hour = now.time().hour();
    return QLocale::c().toString(now, QStringLiteral("yyyy-MM-dd 'at' "))
        + (hour < 12 ? QStringLiteral("AM ") : QStringLiteral("PM "))
        + QStringLiteral("%1").arg(hour % 12, 2, 10, QLatin1Char('0'))
        + QLocale::c().toString(now, QStringLiteral(".mm.ss"));
}

QString targetPath()
{
    const QString folder = DNSetting::shareSetting().appSetting().videoOutputDirectory();
    const QString name
        = QStringLiteral("Quillon %1.mov").arg(targetDateText(QDateTime::currentDateTime()));
    return DNUniqueFilePath(folder, name, 0);
}

QString imageResource(const QString& name)
{
    return QDir(AppPaths::resourcesFolder()).filePath(QStringLiteral("images/") + name);
}

// The first count - 1 colons separate fields; the last field keeps the rest,
// so a path with colons in it stays whole.
QStringList leadingFields(const QString& message, int count)
{
    QStringList fields;
    qsizetype start = 0;
    while (fields.size() < count - 1) {
        const qsizetype colon = message.indexOf(QLatin1Char(':'), start);
        if (colon < 0)
            break;
        fields << message.mid(start, colon - start);
        start = colon + 1;
    }
    fields << message.mid(start);
    return fields;
}

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPointer = std::unique_ptr<void, PlistFree>;

plist_t plistOf(const QVariant& value);

plist_t plistArrayOf(const QVariantList& items)
{
    plist_t array = plist_new_array();
    for (const QVariant& item : items)
        if (plist_t node = plistOf(item))
            plist_array_append_item(array, node);
    return array;
}

// The job holds texts, reals, lists of texts and lists of transition numbers.
plist_t plistOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return plist_new_string(value.toString().toUtf8().constData());
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::LongLong:
    case QMetaType::Int:
        // A negative number names no transition; the engine could only cut there.
        return value.toLongLong() < 0 ? nullptr : plist_new_uint(value.toULongLong());
    case QMetaType::QStringList:
    case QMetaType::QVariantList:
        return plistArrayOf(value.toList());
    default:
        return nullptr;
    }
}

QByteArray xmlOf(const QVariantMap& job)
{
    const PlistPointer dictionary(plist_new_dict());
    for (auto entry = job.begin(); entry != job.end(); ++entry)
        if (plist_t node = plistOf(entry.value()))
            plist_dict_set_item(dictionary.get(), entry.key().toUtf8().constData(), node);
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(dictionary.get(), &xml, &length);
    const QByteArray bytes(xml, static_cast<qsizetype>(length));
    plist_to_xml_free(xml);
    return bytes;
}

} // namespace

NXImageEngine::NXImageEngine()
{
    m_runner.setStdoutHandler([this](const QString& line) { handleOutput(line); });
    // The engine says why it failed in its last line there.
    m_runner.setStderrHandler([this](const QString& line) {
        DNLogger::shareRoughLog().logEngineLine(line);
        const std::lock_guard lock(m_mutex);
        m_lastComplaint = line;
    });
    m_runner.setGentleStop({ SIGTERM, {} }, kStopGrace);
}

QVariantMap NXImageEngine::storage()
{
    const std::lock_guard lock(m_mutex);
    if (m_storage.isEmpty()) {
        m_storage.insert(QStringLiteral("shadingImage"), imageResource("NXI2VShading.tiff"));
        m_storage.insert(QStringLiteral("blankImage"), imageResource("NXI2VBlank.jpg"));
        m_storage.insert(kTargetPathKey, targetPath());
    }
    return m_storage;
}

// Every setter goes through here, so the first one makes the job.
void NXImageEngine::setJobValue(const QString& key, const QVariant& value)
{
    storage();
    const std::lock_guard lock(m_mutex);
    m_storage.insert(key, value);
}

// The job has always carried the duration and the rate in single precision.
void NXImageEngine::setShowDuration(double seconds)
{
    setJobValue(QStringLiteral("showDuration"), double(float(seconds)));
}

void NXImageEngine::setEffectList(const QList<qint64>& transitions)
{
    QVariantList numbers;
    for (const qint64 transition : transitions)
        numbers << qlonglong(transition);
    setJobValue(QStringLiteral("effectList"), numbers);
}

void NXImageEngine::setDataSource(const QStringList& photos)
{
    setJobValue(QStringLiteral("imageSquenes"), photos);
}

void NXImageEngine::setAudioList(const QStringList& music)
{
    setJobValue(QStringLiteral("audioList"), music);
}

void NXImageEngine::setVideoFrameResolution(const QSizeF& size)
{
    setJobValue(QStringLiteral("videoSize"),
        QStringLiteral("{%1, %2}")
            .arg(QLocale::c().toString(size.width(), 'g', 10),
                QLocale::c().toString(size.height(), 'g', 10)));
}

void NXImageEngine::setFrameRate(double framesPerSecond)
{
    setJobValue(QStringLiteral("videoFPS"), double(float(framesPerSecond)));
}

void NXImageEngine::setTargetPath(const QString& path)
{
    setJobValue(kTargetPathKey, path);
}

QString NXImageEngine::execute_bin_path()
{
    DNLog(QStringLiteral("Convert image to video, use QT engine"));
    return QDir(AppPaths::toolsFolder()).filePath(QStringLiteral("quillon-slideshow-engine"));
}

QVariant NXImageEngine::currentImagePath() const
{
    const std::lock_guard lock(m_mutex);
    return m_currentImagePath;
}

QString NXImageEngine::finiallyVideoPath() const
{
    const std::lock_guard lock(m_mutex);
    return m_moviePath;
}

QString NXImageEngine::failureReason() const
{
    if (m_stopped)
        return QStringLiteral("the render was stopped");
    const std::lock_guard lock(m_mutex);
    return m_lastComplaint.isEmpty() ? QStringLiteral("the slideshow engine made no movie")
                                     : m_lastComplaint;
}

// The job goes to a file of its own that lives as long as the run.
QString NXImageEngine::writeJob()
{
    const QString path = makeTemporaryFile(QStringLiteral("NXImageEngineJob"), "plist");
    if (path.isEmpty()) {
        const std::lock_guard lock(m_mutex);
        m_lastComplaint = QStringLiteral("cannot make a file for the slideshow job");
        return {};
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(xmlOf(storage()));
        if (file.commit())
            return path;
    }
    const QString complaint
        = QStringLiteral("cannot write the slideshow job %1: %2").arg(path, file.errorString());
    DNLog(complaint);
    QFile::remove(path);
    const std::lock_guard lock(m_mutex);
    m_lastComplaint = complaint;
    return {};
}

void NXImageEngine::beginEncoding()
{
    const QString jobPath = writeJob();
    if (jobPath.isEmpty())
        return;
    const auto removeJob = qScopeGuard([&jobPath] { QFile::remove(jobPath); });
    // It moves on photo by photo while it reads them, then frame by frame;
    // the movie grows under a hidden name of the engine's own, so those
    // counts are the mark.
    const std::chrono::milliseconds limit = engineStallLimit();
    m_photosRead = 0;
    m_written = 0;
    m_ffmpegWaited = -1;
    m_runner.setStallLimit(limit, [this] {
        return QByteArray::number(m_photosRead.load()) + ' ' + QByteArray::number(m_current.load())
            + ' ' + QByteArray::number(m_written.load());
    });
    const ProcessRunner::Result run = m_runner.run(execute_bin_path(), { jobPath });
    if (!run.started && !run.stopped) {
        DNLog(QStringLiteral("The slideshow engine did not start: %1").arg(run.error));
        const std::lock_guard lock(m_mutex);
        m_lastComplaint = run.error;
    }
    if (const QString complaint = endingOf(run, limit); !complaint.isEmpty()) {
        DNLog(complaint);
        const std::lock_guard lock(m_mutex);
        m_lastComplaint = complaint;
    }
    keepMovieOnlyIfComplete(run);
    removeEnginePartials();
}

// Why the run ended, when the engine could not say it: the stall limit, or
// a signal. A stalled engine found waiting on its ffmpeg for most of the
// limit says so, as it is then ffmpeg that stood still.
QString NXImageEngine::endingOf(const ProcessRunner::Result& run, std::chrono::milliseconds limit)
{
    if (run.stalled) {
        const bool ffmpegStood = m_ffmpegWaited.load() >= (limit / 2).count();
        return (ffmpegStood ? QStringLiteral("ffmpeg in the slideshow engine ")
                            : QStringLiteral("the slideshow engine "))
            + stallReason(limit);
    }
    if (run.signal != 0 && !m_stopped)
        return QStringLiteral("the slideshow engine was ended by ") + signalText(run.signal);
    return {};
}

// An engine ended by a signal it could not answer (killed after the stall
// limit's grace, or stopped and then killed) has left its partial movie; as
// its pid is gone now, it is among the abandoned ones in the target's folder.
void NXImageEngine::removeEnginePartials()
{
    const QString folder = QFileInfo(storage().value(kTargetPathKey).toString()).path();
    for (const QString& path : removeAbandonedPartials(folder))
        DNLog(QStringLiteral("The slideshow engine's unfinished movie %1 was removed.").arg(path));
}

// A movie counts only when the engine said so, ended well and was not
// stopped, and the file is there. Otherwise the movie the engine said it
// made is removed; nothing else is ours: the engine writes under a hidden
// name until the movie is complete, and whatever stands at the target may be
// another writer's.
void NXImageEngine::keepMovieOnlyIfComplete(const ProcessRunner::Result& run)
{
    const std::lock_guard lock(m_mutex);
    const bool complete = !m_moviePath.isEmpty() && run.succeeded() && !m_stopped
        && QFileInfo(m_moviePath).isFile();
    if (complete || m_moviePath.isEmpty())
        return;
    DNLog(QStringLiteral("The slideshow movie %1 is not kept: the render %2")
              .arg(m_moviePath, m_stopped ? "was stopped" : "did not end well"));
    QFile::remove(m_moviePath);
    m_moviePath.clear();
}

void NXImageEngine::stopEncoding()
{
    m_stopped = true;
    m_runner.stop();
}

void NXImageEngine::handleOutput(const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n]"));
    for (const QStringView line : QStringView(text).split(lineBreak, Qt::SkipEmptyParts))
        handleMessage(line.toString());
}

void NXImageEngine::handleMessage(const QString& message)
{
    if (message.startsWith(QLatin1String("progress:"))) {
        const QStringList fields = leadingFields(message, 4);
        bool totalRead = false;
        bool currentRead = false;
        const quint64 total = fields.value(1).toULongLong(&totalRead);
        const quint64 current = fields.value(2).toULongLong(&currentRead);
        if (fields.size() != 4 || !totalRead || !currentRead)
            return;
        m_total = total;
        m_current = current;
        const std::lock_guard lock(m_mutex);
        m_currentImagePath = fields[3];
    } else if (message.startsWith(QLatin1String("reading:"))) {
        ++m_photosRead;
    } else if (message.startsWith(QLatin1String("written:"))) {
        m_written = message.mid(8).toLongLong();
    } else if (message.startsWith(QLatin1String("waited:ffmpeg:"))) {
        m_ffmpegWaited = message.mid(14).toLongLong();
    } else if (message.startsWith(QLatin1String("result:"))) {
        const QStringList fields = leadingFields(message, 3);
        if (fields.size() == 3)
            handleResult(fields[1], fields[2]);
    }
}

void NXImageEngine::handleResult(const QString& code, const QString& path)
{
    bool read = false;
    const int result = code.toInt(&read);
    const std::lock_guard lock(m_mutex);
    if (read && result == 0 && !path.isEmpty()) {
        m_moviePath = path;
        DNLog(QStringLiteral("success for encode image to video:%1").arg(path));
        return;
    }
    m_moviePath.clear();
    DNLog(QStringLiteral("err for encode image to video"));
}
