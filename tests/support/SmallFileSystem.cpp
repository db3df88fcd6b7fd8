#include "support/SmallFileSystem.h"

#include <QFile>

#include <sys/mount.h>

SmallFileSystem::SmallFileSystem(const QString& folder, const char* size)
    : m_folder(QFile::encodeName(folder))
{
    const QByteArray options = QByteArrayLiteral("size=") + size;
    m_mounted = ::mount("tmpfs", m_folder.constData(), "tmpfs", 0, options.constData()) == 0;
}

SmallFileSystem::~SmallFileSystem()
{
    // Detached: an engine that is still being reaped may hold a file open.
    if (m_mounted)
        ::umount2(m_folder.constData(), MNT_DETACH);
}
