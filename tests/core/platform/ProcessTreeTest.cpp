#include "platform/ProcessTree.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A folder laid out as /proc, written process by process.
class FakeProc {
public:
    QString path() const { return m_folder.path(); }

    // A process whose threads' lists name `children`, and whose counters say
    // it read `rchar` bytes through calls and `readBytes` from the disk.
    void put(pid_t pid, pid_t parent, const QList<pid_t>& children, quint64 rchar,
        quint64 readBytes = 0) const
    {
        const QString folder = QStringLiteral("%1/%2").arg(path()).arg(pid);
        ASSERT_TRUE(QDir().mkpath(QStringLiteral("%1/task/%2").arg(folder).arg(pid)));
        QByteArray list;
        for (const pid_t child : children)
            list += QByteArray::number(child) + ' ';
        ASSERT_TRUE(
            writeTestFile(QStringLiteral("%1/task/%2/children").arg(folder).arg(pid), list));
        ASSERT_TRUE(writeTestFile(folder + "/stat",
            QByteArray::number(pid) + " (a (b) c) S " + QByteArray::number(parent) + " 1 1\n"));
        setIo(pid,
            "rchar: " + QByteArray::number(rchar) + "\nwchar: 999999\nsyscr: 7\n"
                + "read_bytes: " + QByteArray::number(readBytes) + "\nwrite_bytes: 8192\n");
    }

    void setIo(pid_t pid, const QByteArray& io) const
    {
        ASSERT_TRUE(writeTestFile(QStringLiteral("%1/%2/io").arg(path()).arg(pid), io));
    }

    // The descriptor `fd` of `pid` open on `target`; closed when `target` is empty.
    void setDescriptor(pid_t pid, int fd, const QString& target) const
    {
        const QString folder = QStringLiteral("%1/%2/fd").arg(path()).arg(pid);
        const QString link = QStringLiteral("%1/%2").arg(folder).arg(fd);
        QFile::remove(link);
        ASSERT_TRUE(QDir().mkpath(folder));
        if (!target.isEmpty()) {
            ASSERT_TRUE(QFile::link(target, link));
        }
    }

    void remove(pid_t pid) const
    {
        ASSERT_TRUE(QDir(QStringLiteral("%1/%2").arg(path()).arg(pid)).removeRecursively());
    }

private:
    QTemporaryDir m_folder;
};

} // namespace

// Each step changes the fake /proc, then looks: the total is what the whole
// tree has read since the first look, and never goes down.
TEST(ProcessTreeReads, SumsWhatTheWholeTreeReadSinceTheFirstLook)
{
    const FakeProc proc;
    ProcessTreeReads reads(100, proc.path());
    const struct {
        const char* what;
        std::function<void()> change;
        quint64 total;
    } steps[] = {
        { "the first look is the start",
            [&] {
                proc.put(100, 1, { 101 }, 5000);
                proc.put(101, 100, { 102 }, 70, 4096);
                proc.put(102, 101, {}, 10);
                proc.put(200, 1, {}, 10); // not of the tree
            },
            0 },
        { "writing and reading elsewhere are no reads of the tree",
            [&] {
                proc.setIo(102, "rchar: 10\nwchar: 123456789\nread_bytes: 0\n");
                proc.put(200, 1, {}, 99999);
            },
            0 },
        { "a grandchild reads a pipe", [&] { proc.put(102, 101, {}, 510); }, 500 },
        { "a child reads from the disk through a mapping",
            [&] { proc.put(101, 100, { 102 }, 70, 8192); }, 4596 },
        { "a process that ends takes nothing back",
            [&] {
                proc.remove(102);
                proc.put(101, 100, {}, 70, 8192);
            },
            4596 },
        { "what the parent reaped counts in its figures",
            [&] {
                proc.remove(101);
                proc.put(100, 1, { 103 }, 5000 + 70 + 8192);
                proc.put(103, 100, {}, 300);
            },
            4596 + 8262 + 300 },
        { "counters that cannot be read are left out",
            [&] {
                proc.setIo(103, "rchar: lots\n");
                proc.setIo(100, QByteArray(1 << 20, 'x'));
            },
            4596 + 8262 + 300 },
        { "lists that name a process twice, or go round, end",
            [&] {
                proc.put(100, 1, { 103, 103 }, 13262);
                proc.put(103, 100, { 100 }, 301);
            },
            4596 + 8262 + 300 + 1 },
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        EXPECT_EQ(reads.look().bytes, step.total);
    }
}

// The processor time the whole tree used since the first look, from each
// process's stat line: it stands while the tree is stopped.
TEST(ProcessTreeReads, SumsTheProcessorTimeOfTheTree)
{
    const FakeProc proc;
    const auto put
        = [&proc](pid_t pid, pid_t parent, const QList<pid_t>& children, int user, int system) {
              proc.put(pid, parent, children, 0);
              ASSERT_TRUE(writeTestFile(QStringLiteral("%1/%2/stat").arg(proc.path()).arg(pid),
                  QByteArray::number(pid) + " (ff mpeg) R " + QByteArray::number(parent)
                      + " 1 1 0 -1 0 10 0 0 0 " + QByteArray::number(user) + ' '
                      + QByteArray::number(system) + " 0 0 20 0 3\n"));
          };
    put(100, 1, { 101 }, 50, 10);
    put(101, 100, {}, 7, 3);
    put(200, 1, {}, 7, 3);
    ProcessTreeReads reads(100, proc.path());
    EXPECT_EQ(reads.look().processorTicks, 0u);
    put(101, 100, {}, 20, 5);
    put(200, 1, {}, 900, 900);
    EXPECT_EQ(reads.look().processorTicks, 15u);
    EXPECT_EQ(reads.look().processorTicks, 15u);
    put(100, 1, { 101 }, 51, 10);
    EXPECT_EQ(reads.look().processorTicks, 16u);
}

TEST(ProcessTreeReads, FindsChildrenByTheirParentWhereTheKernelKeepsNoLists)
{
    const FakeProc proc;
    proc.put(100, 1, {}, 0);
    proc.put(101, 100, {}, 0);
    proc.put(102, 7, {}, 0);
    ASSERT_TRUE(QFile::remove(proc.path() + "/100/task/100/children"));
    EXPECT_EQ(childProcessesOf(100, proc.path()), std::vector<pid_t> { 101 });

    ProcessTreeReads reads(100, proc.path());
    reads.look();
    proc.put(101, 100, {}, 64);
    EXPECT_EQ(reads.look().bytes, 64u);
}

// What the files the tree reads hold: each regular file one of its processes
// holds open, counted once however many hold it, at the largest it was seen,
// and kept once closed; a device holds nothing. Reads through calls are told
// apart from pages brought in from the disk.
TEST(ProcessTreeReads, NotesWhatTheFilesItReadsHold)
{
    const FakeProc proc;
    QTemporaryDir files;
    const QString input = files.filePath("input");
    const QString subtitles = files.filePath("subtitles");
    ASSERT_TRUE(writeTestFile(input, QByteArray(1000, 'i')));
    ASSERT_TRUE(writeTestFile(subtitles, QByteArray(500, 's')));
    proc.put(100, 1, { 101 }, 5000);
    proc.put(101, 100, {}, 0);
    ProcessTreeReads reads(100, proc.path());
    EXPECT_EQ(reads.look().inputBytes, 0u);
    proc.setDescriptor(100, 3, input);
    proc.setDescriptor(101, 3, input);
    proc.setDescriptor(101, 0, "/dev/null");
    EXPECT_EQ(reads.look().inputBytes, 1000u);
    proc.setDescriptor(100, 3, {});
    proc.setDescriptor(101, 3, {});
    proc.setDescriptor(100, 4, subtitles);
    ASSERT_TRUE(writeTestFile(subtitles, QByteArray(800, 's')));
    proc.put(100, 1, { 101 }, 6000, 4096);
    const ProcessTreeReads::Reads last = reads.look();
    EXPECT_EQ(last.inputBytes, 1800u);
    EXPECT_EQ(last.bytes, 1000u + 4096u);
    EXPECT_EQ(last.byCalls, 1000u);
}
