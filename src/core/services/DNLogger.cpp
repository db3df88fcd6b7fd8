#include "services/DNLogger.h"

#include "platform/AppPaths.h"
#include "services/DNHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <cstdio>

DNLogger& DNLogger::shareRoughLog()
{
    static DNLogger shared(AppPaths::dataFolder() + "/Quillon.log");
    return shared;
}

DNLogger::DNLogger(QString path, std::function<QDateTime()> clock)
    : m_path(std::move(path))
    , m_clock(std::move(clock))
{ }

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
    const QString line
        = QStringLiteral("%1 [%2]: %3\n").arg(formatDate(m_clock()), DNApplicationName(), message);
    write(line.toUtf8());
}

void DNLogger::logEngineLine(const QString& line)
{
    if (line.startsWith(QLatin1String("frame=")))
        return;
    write('\t' + line.toUtf8() + '\n');
}

void DNLogger::close()
{
    const std::lock_guard lock(m_mutex);
    m_file.close();
}

QString DNLogger::previousRunPath() const
{
    return AppPaths::temporaryFolder() + '/' + QFileInfo(m_path).fileName();
}

bool DNLogger::openForRun()
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    if (QFileInfo::exists(m_path)) {
        // Keep the previous run's log for one more run, out of the data folder.
        const QString previous = previousRunPath();
        QFile::remove(previous);
        if (!QFile::rename(m_path, previous))
            QFile::remove(m_path);
    }
    m_file.setFileName(m_path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        std::fprintf(stderr, "Quillon: cannot open the log %s\n", qPrintable(m_path));
        return false;
    }
    m_file.write(("Log Created on " + formatDate(m_clock()) + '\n').toUtf8());
    return true;
}

void DNLogger::write(const QByteArray& bytes)
{
    const std::lock_guard lock(m_mutex);
    if (m_failed)
        return;
    if (!m_opened) {
        m_opened = true;
        m_failed = !openForRun();
        if (m_failed)
            return;
    }
    if (!m_file.isOpen() || m_file.size() >= kMaxLogBytes)
        return;
    m_file.write(bytes);
}

void DNLog(const QString& message)
{
    DNLogger::shareRoughLog().log(message);
}
