#pragma once

#include <QByteArray>
#include <QString>

// A mark that only this program writes, on a file a process of ours made for
// its own use (an unfinished output): an extended attribute naming the boot,
// the PID namespace, the pid and the start time of that process. A file of
// someone else's, however it is named, carries none and is never taken for
// ours; and the process that marked a file is gone only when no process of
// that pid and start time runs on the same boot.
namespace OwnerMark {

// The attribute that holds the mark.
inline constexpr const char* kAttribute = "user.quillon.owner";

enum class Owner {
    None, // no mark of ours, or a file system that keeps no such attributes
    Running, // its process runs, or lives where this one cannot tell (another PID namespace)
    Gone, // its process has ended: the file is abandoned
};

// Marks the open file `fd` as this process's; false when the file system
// keeps no attributes of users (the file is then never removed as ours).
bool mark(int fd);
// Marks the plain file at `path` as this process's.
bool mark(const QString& path);
// Takes the mark off the file at `path`, which is ours no more (a finished output).
void clear(const QString& path);
// Whose mark the file at `path` carries; a symbolic link is not followed.
Owner ownerOf(const QString& path);
// Whether the file at `path` carries this process's own mark.
bool isOwn(const QString& path);

// The mark this process writes: "<boot id> <PID namespace> <pid> <start time>".
QByteArray ownMark();

} // namespace OwnerMark
