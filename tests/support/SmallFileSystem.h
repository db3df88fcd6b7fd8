#pragma once

#include <QByteArray>
#include <QString>

// A tmpfs of `size` ("256k") mounted on the existing folder `folder` for as
// long as this lives: a disk that fills up under an engine. With `files`, it
// holds at most that many files and folders, its own included. Mounting
// needs root, which CI has; a test skips when isMounted() is false.
class SmallFileSystem {
public:
    SmallFileSystem(const QString& folder, const char* size, int files = 0);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool isMounted() const { return m_mounted; }

private:
    const QByteArray m_folder;
    bool m_mounted = false;
};
