#pragma once

#include "model/NXBasicMediaNode.h"
#include "player/NXMPlayerOutputReader.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// One run of the player tool, as every preview runs it: started from the
// tools folder in a working folder, registered with PlayerProcesses while it
// runs, its output handed out line by line, whatever the pieces it comes in.
// Its complaints are read as they come (they must never fill a pipe), and the
// last of them go to the log when the tool fails. Main thread only.
class PlayerTask : public QObject {
    Q_OBJECT
public:
    // The tool's exit status when the media never started playing, and when
    // mplayer itself could not be started.
    static constexpr int kUnplayable = 2;
    static constexpr int kWithoutPlayer = 127;

    explicit PlayerTask(QObject* parent = nullptr);
    // A tool still running is killed and waited for (bounded); nothing is
    // reported any more.
    ~PlayerTask() override;

    void start(const QStringList& arguments, const QString& workingDirectory);
    // A tool still starting gets the command once it runs (a stop asked for at
    // once must not be lost); one that has gone takes nothing.
    void write(const QByteArray& command);
    void terminate();
    // Ends the tool without telling anyone and deletes this task once the
    // tool is reaped, so that a player dropped for a new one leaves nothing
    // behind: no process, no entry in PlayerProcesses.
    void dismiss();
    QString workingDirectory() const { return m_process.workingDirectory(); }
    QString errorString() const { return m_process.errorString(); }

signals:
    // A line of output without the tool's prefix; blank lines are skipped.
    void lineRead(const QString& line);
    void failedToStart();
    // Every line the tool wrote was handed out before.
    void finished(int exitCode, QProcess::ExitStatus status);

private:
    void readOutput();
    void readComplaints();
    void handOut(const QStringList& lines);
    void processFinished(int exitCode, QProcess::ExitStatus status);
    void logFailure(int exitCode) const;

    QProcess m_process;
    pid_t m_pid = 0;
    NXMPlayerOutputReader m_reader;
    QByteArray m_complaints; // the end of the tool's standard error
};

// A number of a player command, in the C locale whatever the user's is:
// mplayer reads "12,3" as 12.
QByteArray playerCommandNumber(double value, int digits);
// The commands every player control sends, each one line: a jump to `seconds`
// from the start, a skip of `seconds` from here (back when negative), and the
// volume from 0 to 100.
QByteArray playerSeekCommand(double seconds);
QByteArray playerSkipCommand(double seconds);
QByteArray playerVolumeCommand(double volume);
// The subtitle file the node converts with, for a preview to draw what the
// output will hold: "-sub" with its path and "-subcp" with its character set;
// nothing when the output has no subtitle file.
QStringList playerSubtitleArguments(const NXBasicMediaNode* node);
// The video position (the "V:" value) of a status line; 0 without one.
double playerStatusPosition(const QString& line);
// The value after "NAME=" of an identification line; 0 when it is no number.
double playerIdentificationValue(const QString& line);
