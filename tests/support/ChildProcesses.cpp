#include "support/ChildProcesses.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

QStringList childProcesses()
{
    QStringList children;
    for (const QString& task :
        QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile list("/proc/self/task/" + task + "/children");
        if (list.open(QIODevice::ReadOnly))
            children << QString::fromLatin1(list.readAll()).split(' ', Qt::SkipEmptyParts);
    }
    return children;
}

int childProcessCount()
{
    int count = 0;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!entry.toInt() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        count += fields.size() > 1 && fields[1].toInt() == ::getpid() ? 1 : 0;
    }
    return count;
}

QStringList processGroupMembers(int group)
{
    QStringList members;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!entry.toInt() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[0] != "Z" && fields[2].toInt() == group)
            members << entry;
    }
    return members;
}
