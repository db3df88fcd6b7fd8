#include "platform/ProcessTree.h"

#include <QDir>
#include <QFile>

#include <optional>
#include <set>
#include <utility>

namespace {

// A stat line is a few hundred bytes, an io file about a hundred and fifty.
constexpr qint64 kLongestStat = 1024;
constexpr qint64 kLongestIo = 4096;
// A few bytes a child; far more than any engine's tree starts.
constexpr qint64 kLongestChildList = 64 * 1024;
// Beyond this many processes the tree is no engine's.
constexpr std::size_t kMostProcesses = 256;

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

// "rchar" and "read_bytes" of "<proc>/<pid>/io" added up; nothing when the
// process has gone or its counters cannot be read. A read the kernel saw only
// as a page brought in (a mapped file) is in the second alone.
std::optional<quint64> readsOf(const QString& proc, pid_t pid)
{
    const QByteArray io = readUpTo(QStringLiteral("%1/%2/io").arg(proc).arg(pid), kLongestIo);
    quint64 sum = 0;
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
        sum += value;
        found = true;
    }
    return found ? std::optional(sum) : std::nullopt;
}

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

quint64 ProcessTreeReads::look()
{
    std::map<pid_t, quint64> now = readsNow();
    for (const auto& [pid, reads] : now) {
        // A process first seen after the first look started since the last
        // one: all it read is new.
        const auto before = m_reads.find(pid);
        const quint64 since = before != m_reads.end() ? before->second : (m_looked ? 0 : reads);
        m_total += reads > since ? reads - since : 0;
    }
    m_reads = std::move(now);
    m_looked = true;
    return m_total;
}

std::map<pid_t, quint64> ProcessTreeReads::readsNow() const
{
    std::map<pid_t, quint64> reads;
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
        if (const std::optional<quint64> count = readsOf(m_proc, pid))
            reads[pid] = *count;
        else if (const auto before = m_reads.find(pid); before != m_reads.end())
            reads[pid] = before->second;
        const std::vector<pid_t> children = childProcessesOf(pid, m_proc);
        pending.insert(pending.end(), children.begin(), children.end());
    }
    return reads;
}
