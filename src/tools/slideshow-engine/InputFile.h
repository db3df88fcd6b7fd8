#pragma once

#include <QFile>
#include <QString>

#include <memory>

// The files a job names are taken only when they are regular files: a FIFO
// would block the render for ever and a device would never end. They are
// looked at before they are opened, since opening some devices does
// something, and opened without blocking and looked at again, since the name
// may have changed hands meanwhile.
namespace InputFile {

// Whether `path` is a regular file; if not, why not in `error`.
bool isRegular(const QString& path, QString& error);

// `path` open for reading when it is a regular file of at most `largest`
// bytes; otherwise null, with the reason in `error`.
std::unique_ptr<QFile> open(const QString& path, qint64 largest, QString& error);

} // namespace InputFile
