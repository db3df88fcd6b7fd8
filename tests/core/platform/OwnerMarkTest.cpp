#include "platform/OwnerMark.h"

#include "support/OwnerMarks.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using OwnerMark::Owner;

// A mark as another process of ours wrote it: this one's with some of its
// words replaced ("<boot id> <PID namespace> <pid> <start time>").
QByteArray markWith(int word, const QByteArray& replacement)
{
    QList<QByteArray> words = OwnerMark::ownMark().split(' ');
    words[word] = replacement;
    return words.join(' ');
}

// Marks as processes of ours, alive, gone or out of sight, wrote them, and
// files that only look like ours.
TEST(OwnerMark, AFileIsAbandonedOnlyWhenTheProcessThatMarkedItIsGone)
{
    ASSERT_EQ(OwnerMark::ownMark().split(' ').size(), 4);
    const struct {
        const char* what;
        QByteArray mark; // empty: none written
        Owner owner;
    } cases[] = {
        { "this process's", OwnerMark::ownMark(), Owner::Running },
        { "no mark", {}, Owner::None },
        { "a mark of another program", "ours", Owner::None },
        { "a process that ended", markOfAnEndedProcess(), Owner::Gone },
        { "a pid taken since by another process", markWith(3, "1"), Owner::Gone },
        { "an earlier boot", markWith(0, "00000000-0000-0000-0000-000000000000"), Owner::Gone },
        // Its pid means another process here, or none: it cannot be told.
        { "another PID namespace", markWith(1, "pid:[1]"), Owner::Running },
        // Four words with a number third, in any other shape, are no mark of ours.
        { "four words of another's", "draft by 3 anna", Owner::None },
        { "no boot id", markWith(0, "796481e5-80cb-4903-92ce"), Owner::None },
        { "a boot id in capitals", markWith(0, "796481E5-80CB-4903-92CE-9F6494414DB7"),
            Owner::None },
        { "no PID namespace", markWith(1, "net:[4026531840]"), Owner::None },
        { "a signed pid", markWith(2, "+1"), Owner::None },
        { "no start time", markWith(3, "soon"), Owner::None },
        { "a line end after it", OwnerMark::ownMark() + '\n', Owner::None },
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = dir.filePath(c.what);
        ASSERT_TRUE(writeTestFile(path, "partial"));
        if (!c.mark.isEmpty() && !putOwnerMark(path, c.mark))
            GTEST_SKIP() << "this file system keeps no attributes of users";
        EXPECT_EQ(OwnerMark::ownerOf(path), c.owner);
    }
}

} // namespace
