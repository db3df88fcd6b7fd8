#include "platform/DNLogger.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <cstdio>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The log tells what the user converted and where: only they may read it.
constexpr mode_t kLogMode = S_IRUSR | S_IWUSR;

// Opens `path` for writing at its end, from empty with `truncate`, refusing to
// follow a link there. Always appending: another instance may write to the
// same file, and a write at our own offset would overwrite its lines.
int openPrivately(const QString& path, bool truncate)
{
    return ::open(QFile::encodeName(path).constData(),
        O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | (truncate ? O_TRUNC : 0),
        kLogMode);
}

// rename() replaces whatever lies at the destination, a link included,
// without following it.
bool moveWithoutFollowing(const QString& from, const QString& to)
{
    const QByteArray target = QFile::encodeName(to);
    if (::rename(QFile::encodeName(from).constData(), target.constData()) != 0)
        return false;
    const int descriptor = ::open(target.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const bool restricted = ::fchmod(descriptor, kLogMode) == 0;
    ::close(descriptor);
    return restricted;
}

} // namespace

DNLogger& DNLogger::shareRoughLog()
{
    static DNLogger shared(AppPaths::dataFolder() + "/Quillon.log");
    return shared;
}

DNLogger::DNLogger(QString path, std::function<QDateTime()> clock)
    : m_path(std::move(path))
    , m_clock(std::move(clock))
    , m_runLock(m_path + QStringLiteral(".lock"))
{
    // Only a dead owner makes the lock stale, never its age: a run can last days.
    m_runLock.setStaleLockTime(0);
}

DNLogger::~DNLogger()
{
    close();
}

QString DNLogger::formatDate(const QDateTime& date)
{
    // The C locale keeps "AM"/"PM" and the digits the same whatever the user's language.
    return QLocale::c().toString(date, QStringLiteral("yyyy:MM:dd h:mm AP"));
}

void DNLogger::log(const QString& message)
{
    const QString line = QStringLiteral("%1 [%2]: %3\n")
                             .arg(formatDate(m_clock()), AppPaths::productName(), message);
    write(line.toUtf8());
}

void DNLogger::logEngineLine(const QString& line)
{
    if (line.startsWith(QLatin1String("frame=")))
        return;
    write('\t' + line.toUtf8() + '\n');
}

bool DNLogger::anotherCopyHoldsTheLog()
{
    const std::lock_guard lock(m_mutex);
    openOnce();
    // After close() the lock is ours to take again; only a live holder keeps it.
    return !m_runLock.isLocked() && !m_runLock.tryLock(0)
        && m_runLock.error() == QLockFile::LockFailedError;
}

void DNLogger::close()
{
    const std::lock_guard lock(m_mutex);
    m_file.close();
    m_runLock.unlock();
}

QString DNLogger::previousRunPath() const
{
    const QFileInfo log(m_path);
    return log.absolutePath() + QStringLiteral("/previous-run/") + log.fileName();
}

bool DNLogger::openForRun()
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    const bool startsTheLog = m_runLock.tryLock(0);
    if (startsTheLog && QFileInfo::exists(m_path)) {
        // Keep the previous run's log for one more run, in a folder of ours
        // that no other user can read or plant a link in.
        const QString previous = previousRunPath();
        if (!AppPaths::ensurePrivateFolder(QFileInfo(previous).absolutePath())
            || !moveWithoutFollowing(m_path, previous))
            QFile::remove(m_path);
    }
    const int descriptor = openPrivately(m_path, startsTheLog);
    if (descriptor < 0
        || !m_file.open(descriptor, QIODevice::WriteOnly | QIODevice::Unbuffered,
            QFileDevice::AutoCloseHandle)) {
        if (descriptor >= 0)
            ::close(descriptor);
        std::fprintf(stderr, "Quillon: cannot open the log %s\n", qPrintable(m_path));
        return false;
    }
    m_file.write(("Log Created on " + formatDate(m_clock()) + '\n').toUtf8());
    return true;
}

void DNLogger::openOnce()
{
    if (m_opened)
        return;
    m_opened = true;
    m_failed = !openForRun();
}

void DNLogger::write(const QByteArray& bytes)
{
    const std::lock_guard lock(m_mutex);
    openOnce();
    if (m_failed || !m_file.isOpen() || m_file.size() >= kMaxLogBytes)
        return;
    m_file.write(bytes);
}

void DNLog(const QString& message)
{
    DNLogger::shareRoughLog().log(message);
}
