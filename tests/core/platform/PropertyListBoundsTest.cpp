#include "platform/PropertyListBounds.h"

#include "support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include <sys/stat.h>

namespace {

QByteArray xmlNested(int depth, const QByteArray& inside = "<string>x</string>")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
        + QByteArray("<array>").repeated(depth) + inside + QByteArray("</array>").repeated(depth)
        + "</plist>\n";
}

void appendBigEndian(QByteArray& bytes, quint64 value, int size)
{
    for (int shift = (size - 1) * 8; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xFF));
}

// A binary list of arrays, each holding the next; with `shared`, every
// array holds the next one twice (a chain of shared members, as libplist
// writes a value that stands in two places).
QByteArray binaryNested(int depth, bool shared = false)
{
    QByteArray bytes = "bplist00";
    std::vector<quint64> offsets;
    for (int index = 0; index < depth; ++index) {
        offsets.push_back(quint64(bytes.size()));
        const bool last = index == depth - 1;
        const int members = last ? 0 : (shared ? 2 : 1);
        bytes.append(char(0xA0 | members));
        for (int member = 0; member < members; ++member)
            appendBigEndian(bytes, quint64(index + 1), 4);
    }
    const quint64 table = quint64(bytes.size());
    for (const quint64 offset : offsets)
        appendBigEndian(bytes, offset, 4);
    bytes.append(QByteArray(6, '\0'));
    bytes.append(char(4)).append(char(4));
    appendBigEndian(bytes, quint64(depth), 8);
    appendBigEndian(bytes, 0, 8);
    appendBigEndian(bytes, table, 8);
    return bytes;
}

TEST(PropertyListBounds, ListsNestedTooDeepAreRefusedBeforeParsing)
{
    const QByteArray comment = "<!-- <array><array><array> -->";
    const struct {
        const char* what;
        QByteArray bytes;
        bool refused;
    } cases[] = {
        { "a profile's depth", xmlNested(4), false },
        { "at the limit", xmlNested(kMaxPropertyListDepth), false },
        { "past the limit", xmlNested(kMaxPropertyListDepth + 1), true },
        { "200,000 deep", xmlNested(200000), true },
        { "empty arrays side by side", xmlNested(2, QByteArray("<array/>").repeated(1000)), false },
        { "dictionaries", QByteArray("<dict><key>k</key>").repeated(300), true },
        { "tags in a comment", xmlNested(kMaxPropertyListDepth - 1, comment), false },
        { "binary, shallow", binaryNested(5), false },
        { "binary, 200,000 deep", binaryNested(200000), true },
        { "binary, shared members", binaryNested(kMaxPropertyListDepth + 1, true), true },
        { "binary, shared members within", binaryNested(64, true), false },
        { "binary, cut", binaryNested(200000).left(100000), false },
        { "not a list", "frames please", false },
    };
    for (const auto& row : cases)
        EXPECT_EQ(!propertyListDepthProblem(row.bytes).isEmpty(), row.refused) << row.what;
}

TEST(PropertyListBounds, FilesAreReadUpToTheirBound)
{
    QTemporaryDir folder;
    const QString profile = folder.filePath("profile.plist");
    ASSERT_TRUE(writeTestFile(profile, "0123456789"));
    QString error;
    EXPECT_EQ(readFileUpTo(profile, 10, error), QByteArray("0123456789"));
    EXPECT_FALSE(readFileUpTo(profile, 9, error));
    EXPECT_EQ(error, "it is larger than 9 bytes");
    EXPECT_FALSE(readFileUpTo("/dev/zero", 1024 * 1024, error));
    EXPECT_FALSE(readFileUpTo(folder.filePath("missing.plist"), 10, error));
    EXPECT_FALSE(error.isEmpty());
}

// A FIFO among the profiles would hold the reader at its opening for ever.
TEST(PropertyListBounds, AFIFOIsRefusedWithoutWaitingForAWriter)
{
    QTemporaryDir folder;
    const QString fifo = folder.filePath("Waiting.plist");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QString error;
    auto reading = std::async(std::launch::async, [&] { return readFileUpTo(fifo, 1024, error); });
    const bool answered = reading.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!answered) {
        // Lets the reader's opening go, so that the test can end.
        QFile writer(fifo);
        writer.open(QIODevice::WriteOnly);
    }
    ASSERT_TRUE(answered);
    EXPECT_FALSE(reading.get());
    EXPECT_EQ(error, "it is a FIFO, not a file");
}

} // namespace
