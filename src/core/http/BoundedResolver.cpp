#include "http/BoundedResolver.h"

#include <QHostAddress>
#include <QNetworkInterface>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace BoundedResolver {
namespace {

constexpr int kMaxOutstanding = 4;
std::atomic<int> outstanding { 0 };

struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    QString address;
};

} // namespace

QString systemLookup(const QByteArray& host)
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.constData(), nullptr, &hints, &found) != 0 || !found)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool ok = ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
    ::freeaddrinfo(found);
    return ok ? QString::fromLatin1(text) : QString();
}

QString resolveIpv4(const QString& host, std::chrono::milliseconds limit, const Lookup& lookup)
{
    const QHostAddress literal(host);
    if (!literal.isNull())
        return literal.protocol() == QAbstractSocket::IPv4Protocol ? literal.toString() : QString();
    if (host.isEmpty())
        return {};
    if (outstanding.fetch_add(1) >= kMaxOutstanding) {
        outstanding.fetch_sub(1);
        return {};
    }
    auto pending = std::make_shared<Pending>();
    std::thread([pending, lookup, name = host.toUtf8()] {
        const QString address = lookup(name);
        {
            const std::lock_guard lock(pending->mutex);
            pending->address = address;
            pending->finished = true;
        }
        pending->done.notify_all();
        outstanding.fetch_sub(1);
    }).detach();
    std::unique_lock lock(pending->mutex);
    pending->done.wait_for(lock, limit, [&] { return pending->finished; });
    return pending->address;
}

QString localIpv4Address()
{
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress& address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            return address.toString();
    }
    return QStringLiteral("127.0.0.1");
}

} // namespace BoundedResolver
