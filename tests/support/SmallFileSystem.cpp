#include "support/SmallFileSystem.h"

#include <QFile>

#include <sys/mount.h>

SmallFileSystem::SmallFileSystem(const QString& folder, const char* size, int files)
    : m_folder(QFile::encodeName(folder))
{
    QByteArray options = QByteArrayLiteral("size=") + size;
    if (files > 0)
        options += ",nr_inodes=" + QByteArray::number(files);
    m_mounted = ::mount("tmpfs", m_folder.constData(), "tmpfs", 0, options.constData()) == 0;
}

SmallFileSystem::~SmallFileSystem()
{
    // Detached: an engine that is still being reaped may hold a file open.
    if (m_mounted)
        ::umount2(m_folder.constData(), MNT_DETACH);
}
