#include "support/ChildProcesses.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

// The pids of the processes whose stat fields after the name (the state
// first, then the parent and the group) `keep` takes.
template<typename Keep> QStringList processesWhere(const Keep& keep)
{
    QStringList pids;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!entry.toInt() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && keep(fields))
            pids << entry;
    }
    return pids;
}

} // namespace

QStringList childProcesses()
{
    return processesWhere(
        [](const QList<QByteArray>& fields) { return fields[1].toInt() == ::getpid(); });
}

int childProcessCount()
{
    return int(childProcesses().size());
}

QStringList processGroupMembers(int group)
{
    return processesWhere([group](const QList<QByteArray>& fields) {
        return fields[0] != "Z" && fields[2].toInt() == group;
    });
}
