#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

// Name resolution that gives up after a time limit. The system resolver has no
// limit of its own that we control, so a lookup runs on a thread of its own
// which is left to finish by itself when the caller stops waiting; only a few
// such lookups may be outstanding at once, and beyond them a name counts as
// unresolvable at once.
namespace BoundedResolver {

// Asks the system resolver; blocks as long as the resolver takes.
QString systemLookup(const QByteArray& host);

using Lookup = std::function<QString(const QByteArray& host)>;

// The first IPv4 address of `host` in dotted form; empty when there is none
// or the answer does not come within `limit`.
QString resolveIpv4(
    const QString& host, std::chrono::milliseconds limit, const Lookup& lookup = systemLookup);

// An IPv4 address of this machine other than loopback; "127.0.0.1" without one.
QString localIpv4Address();

} // namespace BoundedResolver
