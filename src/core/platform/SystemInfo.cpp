#include "platform/SystemInfo.h"

#include <QRegularExpression>
#include <QSysInfo>

#include <sched.h>
#include <unistd.h>

namespace SystemInfo {

int processorCount()
{
    // The affinity mask, not the machine's total: a container or taskset may
    // give us fewer processors than the machine has.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

QString osName()
{
    return QSysInfo::prettyProductName();
}

QString osVersion()
{
    static const QRegularExpression numbers(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const QRegularExpressionMatch match = numbers.match(QSysInfo::kernelVersion());
    const auto part = [&](int index) {
        const QString text = match.captured(index);
        return text.isEmpty() ? QStringLiteral("0") : text;
    };
    return part(1) + '.' + part(2) + '.' + part(3);
}

} // namespace SystemInfo
