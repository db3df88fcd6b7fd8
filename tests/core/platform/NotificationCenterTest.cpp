#include "platform/NotificationCenter.h"

#include <QThread>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

struct Received {
    QString observer;
    QString name;
    const void* sender = nullptr;
    QVariantMap userInfo;
    QThread* thread = nullptr;
};

class Recorder {
public:
    NotificationCenter::Token observe(NotificationCenter& center, const QString& observer,
        const QString& name, const void* sender, QObject* context = nullptr)
    {
        return center.addObserver(name, sender, context, [this, observer](const Notification& n) {
            received.push_back(
                { observer, n.name, n.sender, n.userInfo, QThread::currentThread() });
        });
    }

    QStringList observers() const
    {
        QStringList names;
        for (const Received& r : received)
            names << r.observer;
        return names;
    }

    std::vector<Received> received;
};

const int senderOne = 1;
const int senderTwo = 2;

} // namespace

TEST(NotificationCenter, MatchesByNameAndSender)
{
    NotificationCenter center;
    Recorder recorder;
    recorder.observe(center, "name only", "NXMediaFileLoadFinished o.o", nullptr);
    recorder.observe(center, "name and sender", "NXMediaFileLoadFinished o.o", &senderOne);
    recorder.observe(center, "other name", "NXProgressDidEndNotification 8_8", nullptr);
    recorder.observe(center, "sender only", {}, &senderTwo);
    recorder.observe(center, "everything", {}, nullptr);

    struct Case {
        QString name;
        const void* sender;
        QStringList expected;
    };
    const QList<Case> cases {
        { "NXMediaFileLoadFinished o.o", &senderOne,
            { "name only", "name and sender", "everything" } },
        { "NXMediaFileLoadFinished o.o", &senderTwo, { "name only", "sender only", "everything" } },
        { "NXMediaFileLoadFinished o.o", nullptr, { "name only", "everything" } },
        { "NXProgressDidEndNotification 8_8", nullptr, { "other name", "everything" } },
        // The emoticon is part of the name.
        { "NXMediaFileLoadFinished", &senderOne, { "everything" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        recorder.received.clear();
        center.post(c.name, c.sender, { { "keyMediaLoadType_", 1 } });
        EXPECT_EQ(recorder.observers(), c.expected);
        for (const Received& r : recorder.received) {
            EXPECT_EQ(r.name, c.name);
            EXPECT_EQ(r.sender, c.sender);
            EXPECT_EQ(r.userInfo.value("keyMediaLoadType_").toInt(), 1);
        }
    }
}

TEST(NotificationCenter, DeliversOnTheMainThreadWhateverThreadPosts)
{
    NotificationCenter center;
    Recorder recorder;
    recorder.observe(center, "observer", "DNNotificationFinishedDownloadProcess", nullptr);

    std::thread worker([&] {
        center.post("DNNotificationFinishedDownloadProcess", &senderOne, { { "path", "/a b" } });
    });
    worker.join();
    // Queued: nothing arrives until the main event loop runs.
    EXPECT_TRUE(recorder.received.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.received.empty(); }, 5000));
    EXPECT_EQ(recorder.received.front().thread, QCoreApplication::instance()->thread());
    EXPECT_EQ(recorder.received.front().sender, &senderOne);
    EXPECT_EQ(recorder.received.front().userInfo.value("path").toString(), "/a b");

    // From the main thread the observer runs before post() returns.
    center.post("DNNotificationFinishedDownloadProcess");
    EXPECT_EQ(recorder.received.size(), 2U);
}

TEST(NotificationCenter, CenterMadeOnAWorkerThreadStillDeliversOnTheMainThread)
{
    std::unique_ptr<NotificationCenter> center;
    std::thread maker([&] { center = std::make_unique<NotificationCenter>(); });
    maker.join();
    Recorder recorder;
    recorder.observe(*center, "observer", "Youtube_StreamMergeDoneNotification", nullptr);
    center->post("Youtube_StreamMergeDoneNotification");
    ASSERT_EQ(recorder.received.size(), 1U);
    EXPECT_EQ(recorder.received.front().thread, QCoreApplication::instance()->thread());
}

TEST(NotificationCenter, ObserversGoAwayByTokenContextOrDuringDelivery)
{
    NotificationCenter center;
    Recorder recorder;
    const QString name = "NXMediaTableViewRefreshAllCells 0.0";
    const auto byToken = recorder.observe(center, "by token", name, nullptr);
    auto dying = std::make_unique<QObject>();
    recorder.observe(center, "dying context", name, nullptr, dying.get());
    QObject kept;
    recorder.observe(center, "removed context", name, nullptr, &kept);
    recorder.observe(center, "removed context", name, nullptr, &kept);
    // The first observer to run removes a later one from the same delivery.
    NotificationCenter::Token later = 0;
    center.addObserver(
        name, nullptr, nullptr, [&](const Notification&) { center.removeObserver(later); });
    later = recorder.observe(center, "removed during delivery", name, nullptr);
    recorder.observe(center, "stays", name, nullptr);

    center.removeObserver(byToken);
    dying.reset();
    center.removeObserver(&kept);
    center.post(name);
    EXPECT_EQ(recorder.observers(), QStringList { "stays" });
}

TEST(NotificationCenter, PostWhenIdleCoalescesNameAndSender)
{
    NotificationCenter center;
    Recorder recorder;
    recorder.observe(center, "progress", "NXProgressDidEndNotification 8_8", nullptr);
    recorder.observe(center, "other", "DNScreenRecorderDidDisappear_", nullptr);

    center.postWhenIdle("NXProgressDidEndNotification 8_8", &senderOne, { { "failed", false } });
    center.postWhenIdle("NXProgressDidEndNotification 8_8", &senderTwo, { { "failed", false } });
    center.postWhenIdle("DNScreenRecorderDidDisappear_", &senderOne);
    std::thread worker([&] {
        center.postWhenIdle("NXProgressDidEndNotification 8_8", &senderOne, { { "failed", true } });
    });
    worker.join();
    EXPECT_TRUE(recorder.received.empty());

    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.received.size() >= 3; }, 5000));
    QCoreApplication::processEvents();
    ASSERT_EQ(recorder.received.size(), 3U);
    int fromOne = 0;
    for (const Received& r : recorder.received) {
        EXPECT_EQ(r.thread, QCoreApplication::instance()->thread());
        if (r.observer == "progress" && r.sender == &senderOne) {
            ++fromOne;
            EXPECT_TRUE(r.userInfo.value("failed").toBool()) << "the latest post wins";
        }
    }
    EXPECT_EQ(fromOne, 1);
}
