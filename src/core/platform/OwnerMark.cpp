#include "platform/OwnerMark.h"

#include "platform/Fd.h"

#include <QFile>
#include <QList>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Marks are short; a longer value is none of ours.
constexpr std::size_t kLongestMark = 256;

QByteArray firstLineOf(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readLine(kLongestMark).trimmed() : QByteArray();
}

// The kernel's name for this boot; a process of an earlier boot has ended.
const QByteArray& bootId()
{
    static const QByteArray id = firstLineOf("/proc/sys/kernel/random/boot_id");
    return id;
}

// "pid:[4026531836]": a pid means a process only within its namespace.
const QByteArray& pidNamespace()
{
    static const QByteArray name = QFile::encodeName(
        QFile::symLinkTarget(QStringLiteral("/proc/self/ns/pid")).section('/', -1));
    return name;
}

// Field 22 of /proc/<pid>/stat, in clock ticks since the boot; empty when no
// such process runs. The fields are counted after the name, which may hold
// spaces and parentheses of its own.
QByteArray startTimeOf(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.read(4096); // a stat line is well under 1 KiB
    const qsizetype nameEnd = line.lastIndexOf(')');
    if (nameEnd < 0)
        return {};
    const QList<QByteArray> fields = line.mid(nameEnd + 2).split(' ');
    constexpr qsizetype kStartTime = 22 - 3; // the state, field 3, comes first
    return fields.size() > kStartTime ? fields[kStartTime] : QByteArray();
}

// The mark on the file at `path`; empty when it carries none.
QByteArray markOf(const QString& path)
{
    char value[kLongestMark];
    const ssize_t size = ::lgetxattr(
        QFile::encodeName(path).constData(), OwnerMark::kAttribute, value, sizeof value);
    return size > 0 ? QByteArray(value, size) : QByteArray();
}

// Whether `mark` has the shape of ours, each word as the kernel writes it: a
// boot id, a PID namespace, a pid and a start time. An attribute of that name
// in any other shape was not written by us, and its file is no one's we know.
bool hasOurShape(const QByteArray& mark)
{
    static const QRegularExpression shape(QRegularExpression::anchoredPattern(
        QStringLiteral("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12} "
                       "pid:\\[[0-9]{1,20}\\] [1-9][0-9]{0,9} [0-9]{1,20}")));
    return shape.match(QString::fromLatin1(mark)).hasMatch();
}

} // namespace

namespace OwnerMark {

QByteArray ownMark()
{
    static const QByteArray mark = [] {
        const QByteArray started = startTimeOf(::getpid());
        if (bootId().isEmpty() || pidNamespace().isEmpty() || started.isEmpty())
            return QByteArray();
        return bootId() + ' ' + pidNamespace() + ' ' + QByteArray::number(::getpid()) + ' '
            + started;
    }();
    return mark;
}

bool mark(int fd)
{
    const QByteArray value = ownMark();
    return !value.isEmpty() && ::fsetxattr(fd, kAttribute, value.constData(), value.size(), 0) == 0;
}

bool mark(const QString& path)
{
    const Fd file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    return file.valid() && mark(file.get());
}

void clear(const QString& path)
{
    ::lremovexattr(QFile::encodeName(path).constData(), kAttribute);
}

Owner ownerOf(const QString& path)
{
    const QByteArray mark = markOf(path);
    if (!hasOurShape(mark))
        return Owner::None;
    const QList<QByteArray> words = mark.split(' ');
    bool isPid = false;
    const pid_t pid = words[2].toInt(&isPid);
    if (!isPid)
        return Owner::None;
    if (bootId().isEmpty())
        return Owner::Running; // nothing here to tell by
    if (words[0] != bootId())
        return Owner::Gone;
    if (pidNamespace().isEmpty() || words[1] != pidNamespace())
        return Owner::Running;
    return startTimeOf(pid) == words[3] ? Owner::Running : Owner::Gone;
}

bool isOwn(const QString& path)
{
    return !ownMark().isEmpty() && markOf(path) == ownMark();
}

} // namespace OwnerMark
