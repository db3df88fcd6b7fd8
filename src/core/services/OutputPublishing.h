#pragma once

#include "platform/Fd.h"

#include <QString>
#include <QStringList>

// A finished output takes its name only once it is whole and checked: until
// then the engine writes under a hidden name of this process's own, so that
// two conversions that chose the same free name (two windows, or any other
// writer) never write into one file, and a run that fails removes only what
// it wrote.

// A hidden name beside `target` to write it under until it is complete,
// ".<name>.<pid>.<token>.partial.<extension>" within the longest file name.
// It keeps the target's extension, which tells the engines the container.
// Nothing stands at it when it is given; nothing is created.
QString partialOutputPath(const QString& target);

// Removes from `folder` the partial outputs that a writer killed outright left
// behind: plain files of our user whose name is a partial one of ours
// (".<name>.<pid>.<token>.partial[.<extension>]") and whose pid no longer
// runs. Whatever else stands there is left alone. Returns what it removed.
QStringList removeAbandonedPartials(const QString& folder);

// Gives the finished file at `partial` the name `wanted`, or, when something
// has taken that name by then, the next free one ("name (n).ext", counting on
// from the number `wanted` has), never replacing anything. Returns the name
// it got; an empty text with `reason` when it could not take one, and
// `partial` is then where it was.
QString publishOutput(const QString& partial, const QString& wanted, QString* reason);

// Takes the name `wanted`, or the next free one, by creating an empty file
// there that no other writer can have made: for an output that is written in
// place because it must outlive its writer (a recording is the user's even
// when the application dies while it grows). Returns the name it got; an
// empty text with `reason` when it could not take one.
QString claimOutputName(const QString& wanted, QString* reason);

// Whether a line an engine wrote says that its output's disk is full.
bool saysDiskIsFull(const QString& engineLine);

// The folder a partial output is written in, held open while the engine
// writes: a folder moved or deleted under a running engine takes the partial
// with it, where no path of ours reaches it any more, and a run that fails
// with no room left in it failed because the disk is full, whatever the
// engine said.
class OutputFolder {
public:
    // Holds `path` open; an invalid hold when it cannot be opened.
    explicit OutputFolder(const QString& path);

    bool isValid() const { return m_fd.valid(); }
    QString path() const { return m_path; }
    // Whether the folder held is no longer the one at its path: moved away,
    // renamed or deleted (and maybe another made at its path).
    bool hasMoved() const;
    // Where the folder held is now; empty when it was deleted.
    QString whereNow() const;
    // What a failed run should give as its reason when the folder has too
    // little room left for an output: "the disk is full", with the folder
    // and what is left in it; empty when there is room.
    QString fullDiskReason() const;
    // Removes the plain file `name` from the folder held, wherever it is now;
    // true once no file of that name is left there.
    bool removeFile(const QString& name) const;

private:
    QString m_path;
    Fd m_fd;
};
