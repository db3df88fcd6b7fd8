#pragma once

#include "platform/Fd.h"

#include <QString>
#include <QStringList>

#include <optional>

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

// Makes the partial output for `target`, empty, at a name as
// partialOutputPath gives, and marks it as this process's (OwnerMark), so
// that it is removed as abandoned should this process die before it does.
// Returns its path; an empty text with `reason` when it cannot be made.
QString claimPartialOutput(const QString& target, QString* reason);

// Removes from `folder` the partial outputs that a writer killed outright left
// behind: plain files of our user named as partial outputs
// (".<name>.<pid>.<token>.partial[.<extension>]") that carry the mark of a
// process of ours that has ended. Whatever else stands there is left alone.
// Returns what it removed.
QStringList removeAbandonedPartials(const QString& folder);

// Gives the finished file at `partial` the name `wanted`, or, when something
// has taken that name by then, the next free one ("name (n).ext", counting on
// from the number `wanted` has), never replacing anything. Returns the name
// it got; an empty text with `reason` when it could not take one, and
// `partial` is then where it was. The file it names is no longer marked as a
// partial of ours.
QString publishOutput(const QString& partial, const QString& wanted, QString* reason);

// Takes the name `wanted`, or the next free one, by creating an empty file
// there that no other writer can have made: for an output that is written in
// place because it must outlive its writer (a recording is the user's even
// when the application dies while it grows). Returns the name it got; an
// empty text with `reason` when it could not take one.
QString claimOutputName(const QString& wanted, QString* reason);

// Whether a line an engine wrote says that its output's disk is full.
bool saysDiskIsFull(const QString& engineLine);

// What a folder has left for an output.
struct FolderRoom {
    qint64 bytes = 0;
    bool noMoreFiles = false; // room for bytes, maybe, but for no other file
    bool little = false; // under 4 MB: worth a note beside a reason
};

// The room the folder of `path` has left now; none when it cannot be read.
std::optional<FolderRoom> roomOfFolder(const QString& folder);

// The one sentence for a run that failed for want of room, whichever program
// wrote: "the disk is full: <program> could not write all of its output into
// "<folder>", which has <n> KB left", with what the program said when it said
// so; the folder and the room where they are known.
QString fullDiskReason(const QString& program, const QString& folder,
    const std::optional<FolderRoom>& room, const QString& said);
// Whether `reason` is, or tells, such a sentence.
bool isFullDiskReason(const QString& reason);
// That sentence for a program that filled the temporary folder with what it
// wrote there for a run: "... could not write all it had to into the
// temporary folder "<folder>", which has <n> KB left".
QString temporaryFolderFullReason(const QString& program, const QString& said);

// Why a run of `program` that wrote `output` failed for `reason`, told by the
// room the output's folder has left now, before the output is removed. The
// disk is full when the program said so (`fullLine`, its first line that did)
// or when the output stopped at the room there was: less is left than one of
// an engine's writes takes, or no room for a file. Otherwise the reason
// stands, with the room left as a note when little is. A program that said so
// while its output's folder has more than little room left filled another
// disk: the temporary folder's when that has little ("... could not write all
// it had to into the temporary folder "<folder>", which has <n> KB left"),
// else one not named.
QString reasonWithRoom(
    const QString& program, const QString& output, const QString& fullLine, const QString& reason);

// The folder a partial output is written in, held open while the engine
// writes: a folder moved or deleted under a running engine takes the partial
// with it, where no path of ours reaches it any more.
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
    // Removes the plain file `name` from the folder held, wherever it is now;
    // true once no file of that name is left there.
    bool removeFile(const QString& name) const;

private:
    QString m_path;
    Fd m_fd;
};
