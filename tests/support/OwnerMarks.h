#pragma once

#include <QByteArray>
#include <QString>

// Marks as a process of ours would write them, for files that stand for
// partials other runs left (see OwnerMark).

// This process's mark with the pid of a process that has ended since.
QByteArray markOfAnEndedProcess();
// Puts `mark` on the file at `path`; false where the file system keeps none.
bool putOwnerMark(const QString& path, const QByteArray& mark);
