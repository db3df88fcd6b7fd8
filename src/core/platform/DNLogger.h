#pragma once

#include <QDateTime>
#include <QFile>
#include <QLockFile>
#include <QString>

#include <functional>
#include <mutex>

// The application log, "Quillon.log" in the data folder, readable by its
// user only. The first line of a run moves the previous run's log into the
// private folder "previous-run" beside it and starts the file with "Log
// Created on <date>". A second instance started while the first runs appends
// to the running log instead, so neither loses the other's lines. Lines stop
// being written once the file holds 10 MiB. Every function is safe to call
// from any thread.
class DNLogger {
public:
    static constexpr qint64 kMaxLogBytes = 10'485'760;

    // The shared log of the running program, in AppPaths::dataFolder().
    static DNLogger& shareRoughLog();

    // A log at an explicit path, for tests; `clock` gives the line dates.
    explicit DNLogger(QString path, std::function<QDateTime()> clock = &QDateTime::currentDateTime);
    ~DNLogger();
    DNLogger(const DNLogger&) = delete;
    DNLogger& operator=(const DNLogger&) = delete;

    // "<date> [Quillon]: <message>\n".
    void log(const QString& message);
    // A line printed by an engine: a tab and the line; "frame=" lines are dropped.
    void logEngineLine(const QString& line);
    void close();

    // Whether another running copy of the program started the log and this
    // one only appends to it. Opens the log for this run when no line has.
    bool anotherCopyHoldsTheLog();

    QString path() const { return m_path; }
    // Where the first line of this run moved the previous run's log.
    QString previousRunPath() const;
    // The date as log lines show it: "yyyy:MM:dd h:mm a".
    static QString formatDate(const QDateTime& date);

private:
    void write(const QByteArray& bytes);
    // The first line of a run, or the first question about it, opens the log.
    void openOnce();
    bool openForRun();

    const QString m_path;
    const std::function<QDateTime()> m_clock;
    std::mutex m_mutex;
    QFile m_file;
    // Held by the instance that started the log, until close().
    QLockFile m_runLock;
    bool m_opened = false;
    bool m_failed = false;
};

// Writes one line to the shared log.
void DNLog(const QString& message);
