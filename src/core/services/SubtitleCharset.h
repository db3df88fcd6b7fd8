#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Character sets and discovery of external subtitle files.

// The character set name of `bytes` as the charset detector sees it (such as
// "UTF-8", "ISO-8859-1", "UTF-16LE"); "" when it cannot tell.
QString detectCharset(const QByteArray& bytes);

// The character set of the file at `path`, read whole; "" when it cannot be
// read or the detector cannot tell.
QString detectFileCharset(const QString& path);

// The subtitle files beside `mediaPath` that share its name without extension
// ("film.mkv" finds "film.srt", "film.ASS"), sorted by name.
QStringList externalSubtitleFiles(const QString& mediaPath);
