#include "platform/ProcessTree.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include <dirent.h>
#include <sys/stat.h>

namespace {

// A stat line is a few hundred bytes, an io file about a hundred and fifty.
constexpr qint64 kLongestStat = 1024;
constexpr qint64 kLongestIo = 4096;
// A few bytes a child; far more than any engine's tree starts.
constexpr qint64 kLongestChildList = 64 * 1024;
// Beyond this many processes the tree is no engine's.
constexpr std::size_t kMostProcesses = 256;
// Beyond these, what the files a tree reads hold is not told.
constexpr int kMostDescriptors = 1024;
constexpr std::size_t kMostInputs = 4096;

QByteArray readUpTo(const QString& path, qint64 most)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(most);
}

// The fields of the line "<proc>/<pid>/stat" after the process's name, from
// its state on (state, ppid, ...); empty when it cannot be read.
QList<QByteArray> statFieldsOf(const QString& proc, pid_t pid)
{
    const QByteArray line = readUpTo(QStringLiteral("%1/%2/stat").arg(proc).arg(pid), kLongestStat);
    // The name in parentheses may hold spaces and parentheses of its own.
    const qsizetype nameEnd = line.lastIndexOf(')');
    if (nameEnd < 0)
        return {};
    return line.mid(nameEnd + 1).simplified().split(' ');
}

// The processes under `proc` whose parent is `pid`, found by reading the
// line of each: one small read a process, a few hundred on a desktop.
std::vector<pid_t> childrenByParent(const QString& proc, pid_t pid)
{
    constexpr qsizetype kParent = 1;
    std::vector<pid_t> children;
    for (const QString& entry : QDir(proc).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isProcess = false;
        const auto id = static_cast<pid_t>(entry.toInt(&isProcess));
        if (!isProcess)
            continue;
        const QList<QByteArray> fields = statFieldsOf(proc, id);
        if (fields.size() > kParent && fields[kParent].toInt() == pid)
            children.push_back(id);
    }
    return children;
}

// The user and system time of all the process's threads, fields 14 and 15
// of its stat line; 0 when the line holds none.
quint64 processorTicksOf(const QString& proc, pid_t pid)
{
    constexpr qsizetype kUserTime = 11; // counted from the state, field 3
    const QList<QByteArray> fields = statFieldsOf(proc, pid);
    if (fields.size() <= kUserTime + 1)
        return 0;
    return fields[kUserTime].toULongLong() + fields[kUserTime + 1].toULongLong();
}

// "rchar" and "read_bytes" of "<proc>/<pid>/io"; nothing when the process
// has gone or its counters cannot be read. A read the kernel saw only as a
// page brought in (a mapped file) is in the second alone.
std::optional<ProcessTreeReads::Counters> readsOf(const QString& proc, pid_t pid)
{
    const QByteArray io = readUpTo(QStringLiteral("%1/%2/io").arg(proc).arg(pid), kLongestIo);
    ProcessTreeReads::Counters counters;
    bool found = false;
    for (const QByteArray& line : io.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray key = line.left(colon);
        if (colon < 0 || (key != "rchar" && key != "read_bytes"))
            continue;
        bool isNumber = false;
        const quint64 value = line.mid(colon + 1).trimmed().toULongLong(&isNumber);
        if (!isNumber)
            return std::nullopt;
        (key == "rchar" ? counters.byCalls : counters.fromDisk) = value;
        found = true;
    }
    if (!found)
        return std::nullopt;
    counters.processorTicks = processorTicksOf(proc, pid);
    return counters;
}

quint64 sinceBefore(quint64 now, quint64 before)
{
    return now > before ? now - before : 0;
}

quint64 saturatingSum(quint64 a, quint64 b)
{
    return a > std::numeric_limits<quint64>::max() - b ? std::numeric_limits<quint64>::max()
                                                       : a + b;
}

struct CloseDirectory {
    void operator()(DIR* directory) const { ::closedir(directory); }
};
using Directory = std::unique_ptr<DIR, CloseDirectory>;

} // namespace

std::vector<pid_t> childProcessesOf(pid_t pid, const QString& proc)
{
    std::vector<pid_t> children;
    bool listed = false;
    const QDir tasks(QStringLiteral("%1/%2/task").arg(proc).arg(pid));
    // A process that has gone since it was listed has no children to find.
    if (!tasks.exists())
        return children;
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        // Each thread's list of the children it started, where the kernel
        // keeps them.
        QFile list(tasks.filePath(task + QStringLiteral("/children")));
        if (!list.open(QIODevice::ReadOnly))
            continue;
        listed = true;
        for (const QByteArray& child : list.read(kLongestChildList).simplified().split(' '))
            if (const pid_t id = static_cast<pid_t>(child.toInt()); id > 0)
                children.push_back(id);
    }
    return listed ? children : childrenByParent(proc, pid);
}

ProcessTreeReads::ProcessTreeReads(pid_t root, QString proc)
    : m_root(root)
    , m_proc(std::move(proc))
{ }

ProcessTreeReads::Reads ProcessTreeReads::look()
{
    std::map<pid_t, Counters> now = readsNow();
    for (const auto& [pid, reads] : now) {
        // A process first seen after the first look started since the last
        // one: all it read is new.
        const auto before = m_reads.find(pid);
        const Counters since
            = before != m_reads.end() ? before->second : (m_looked ? Counters {} : reads);
        m_total.byCalls += sinceBefore(reads.byCalls, since.byCalls);
        m_total.fromDisk += sinceBefore(reads.fromDisk, since.fromDisk);
        m_total.processorTicks += sinceBefore(reads.processorTicks, since.processorTicks);
    }
    m_reads = std::move(now);
    m_looked = true;
    return { m_total.byCalls + m_total.fromDisk, m_total.byCalls, inputBytes(),
        m_total.processorTicks };
}

std::map<pid_t, ProcessTreeReads::Counters> ProcessTreeReads::readsNow()
{
    std::map<pid_t, Counters> reads;
    std::set<pid_t> seen;
    std::vector<pid_t> pending { m_root };
    while (!pending.empty() && seen.size() < kMostProcesses) {
        const pid_t pid = pending.back();
        pending.pop_back();
        // A list read while a pid was reused may name a process twice.
        if (!seen.insert(pid).second)
            continue;
        // Counters that cannot be read this time (a process changing its
        // rights as it starts a program) stand where they were.
        if (const std::optional<Counters> count = readsOf(m_proc, pid))
            reads[pid] = *count;
        else if (const auto before = m_reads.find(pid); before != m_reads.end())
            reads[pid] = before->second;
        noteInputsOf(pid);
        const std::vector<pid_t> children = childProcessesOf(pid, m_proc);
        pending.insert(pending.end(), children.begin(), children.end());
    }
    return reads;
}

// The files behind the process's descriptors: a link's own mode says whether
// its descriptor was opened for reading, and the file it leads to is the
// file read.
void ProcessTreeReads::noteInputsOf(pid_t pid)
{
    const QByteArray folder = QFile::encodeName(QStringLiteral("%1/%2/fd").arg(m_proc).arg(pid));
    const Directory descriptors(::opendir(folder.constData()));
    if (!descriptors)
        return;
    int looked = 0;
    while (const dirent* entry = ::readdir(descriptors.get())) {
        if (entry->d_name[0] == '.')
            continue;
        if (++looked > kMostDescriptors || m_inputs.size() >= kMostInputs) {
            m_inputsUnknown = true;
            return;
        }
        const QByteArray link = folder + '/' + entry->d_name;
        struct stat opened { };
        struct stat file { };
        if (::lstat(link.constData(), &opened) != 0 || (opened.st_mode & S_IRUSR) == 0
            || ::stat(link.constData(), &file) != 0)
            continue;
        if (S_ISBLK(file.st_mode))
            m_inputsUnknown = true;
        if (!S_ISREG(file.st_mode))
            continue;
        quint64& size = m_inputs[{ file.st_dev, file.st_ino }];
        size = std::max(size, static_cast<quint64>(std::max<off_t>(file.st_size, 0)));
    }
}

std::optional<quint64> ProcessTreeReads::inputBytes() const
{
    if (m_inputsUnknown)
        return std::nullopt;
    quint64 sum = 0;
    for (const auto& [file, size] : m_inputs)
        sum = saturatingSum(sum, size);
    return sum;
}
