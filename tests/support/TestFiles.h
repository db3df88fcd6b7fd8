#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The bytes of the file at `path`, empty when it cannot be read.
inline QByteArray readTestFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// `bytes` as the whole of the file at `path`; false when it could not be written.
inline bool writeTestFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// `script` as a program at `path` that its owner may run.
inline bool writeTestScript(const QString& path, const QByteArray& script)
{
    return writeTestFile(path, script)
        && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
