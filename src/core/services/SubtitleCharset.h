#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Character sets and discovery of external subtitle files.

// The character set name of `bytes` as the charset detector sees it (such as
// "UTF-8", "ISO-8859-1", "UTF-16LE"); "" when it cannot tell.
QString detectCharset(const QByteArray& bytes);

// Real subtitle files stay far below: a three-hour film's text takes a few
// hundred kilobytes, styled karaoke a few megabytes.
inline constexpr qint64 kMostSubtitleBytes = qint64(16) << 20;

// The bytes of the subtitle file at `path`: a regular file (not a device or a
// FIFO, which are never waited on) of at most kMostSubtitleBytes. Nothing,
// with the reason in `failure`, otherwise.
std::optional<QByteArray> readSubtitleFile(const QString& path, QString& failure);

// The character set of the file at `path`, read by readSubtitleFile; "" when
// it cannot be read or the detector cannot tell.
QString detectFileCharset(const QString& path);

// The character set to read a subtitle file's `bytes` in, as its track's
// code page keeps it: the detector's name, or "UTF-8", the most common today,
// with a log line naming `path` when the detector cannot tell.
QString subtitleCodePage(const QByteArray& bytes, const QString& path);

// subtitleCodePage of the file at `path`, read by readSubtitleFile; "UTF-8"
// when it cannot be read, which whoever uses the file then tells.
QString subtitleFileCodePage(const QString& path);

// The subtitle files beside `mediaPath` that share its name without extension
// ("film.mkv" finds "film.srt", "film.ASS"), sorted by name.
QStringList externalSubtitleFiles(const QString& mediaPath);
