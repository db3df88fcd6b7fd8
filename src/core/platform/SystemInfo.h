#pragma once

#include <QString>

// Facts about the machine we run on. The home folder is AppPaths::homeFolder().
namespace SystemInfo {

// The processors this process may run on (at least 1): what engines are told
// to use for their threads.
int processorCount();
// The distribution's name and release, e.g. "Debian GNU/Linux 12 (bookworm)".
QString osName();
// The system's version as "major.minor.patch" numbers (the kernel release,
// missing parts as 0), e.g. "6.1.0".
QString osVersion();

} // namespace SystemInfo
