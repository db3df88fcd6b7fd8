// One running copy: two copies started at the same moment, and a later start
// against a copy that is hung.
#include "platform/SingleInstance.h"
#include "platform/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstring>
#include <future>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Runs the main thread's events, where the server answers, until `handed` is done.
bool finishes(std::future<bool>& handed, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (handed.wait_for(10ms) != std::future_status::ready) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
    }
    return true;
}

TEST(SingleInstance, OfTwoCopiesStartedAtOnceOneListensAndTakesTheOthersFiles)
{
    InstanceServer first;
    InstanceServer second;
    EXPECT_TRUE(first.listen());
    EXPECT_FALSE(second.listen()) << "the second took the first one's socket";
    QStringList received;
    QObject::connect(&first, &InstanceServer::filesReceived,
        [&received](const QStringList& files) { received = files; });
    auto handed = std::async(
        std::launch::async, [] { return SingleInstance::handOver({ "/videos/a.mkv" }, 5s); });
    ASSERT_TRUE(finishes(handed, 10s));
    EXPECT_TRUE(handed.get());
    EXPECT_EQ(received, QStringList { "/videos/a.mkv" });
}

TEST(SingleInstance, AHandOverToAHungCopyEndsWithinItsTimeLimit)
{
    // A copy hung with its socket open: a connection waits in its queue, unread.
    const QByteArray path = QFile::encodeName(SingleInstance::socketPath());
    ASSERT_TRUE(AppPaths::ensurePrivateFolder(QFileInfo(SingleInstance::socketPath()).path()));
    ::unlink(path.constData());
    const int hung = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    ASSERT_EQ(::bind(hung, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(hung, 1), 0);
    // More than the socket's buffer holds: the sending itself must not wait for ever.
    const QStringList files(4000, "/videos/" + QString(1000, 'a') + ".mkv");
    auto handed = std::async(
        std::launch::async, [&files] { return SingleInstance::handOver(files, 300ms); });
    const bool ended = handed.wait_for(10s) == std::future_status::ready;
    ::close(hung); // lets a send that waits end
    ::unlink(path.constData());
    EXPECT_TRUE(ended);
    EXPECT_FALSE(handed.get());
}

} // namespace
