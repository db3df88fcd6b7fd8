#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Character sets and discovery of external subtitle files.

// The character set name of `bytes` as chooseSubtitleCharset tells it
// without a language (such as "UTF-8", "ISO-8859-1", "UTF-16LE"); "" when it
// cannot tell.
QString detectCharset(const QByteArray& bytes);

// `bytes` read in `charset` and written in UTF-8 without a byte-order mark,
// through the C library's converter, which the engines and the preview's
// player use, or failing that ICU's, which knows a few names the detectors
// give and the C library does not ("HZ-GB-2312"); nothing when neither knows
// the set or the bytes are not valid in it.
std::optional<QByteArray> subtitleTextInUtf8(const QByteArray& bytes, const QString& charset);

// Real subtitle files stay far below: a three-hour film's text takes a few
// hundred kilobytes, styled karaoke a few megabytes.
inline constexpr qint64 kMostSubtitleBytes = qint64(16) << 20;

// The bytes of the subtitle file at `path`: a regular file (not a device or a
// FIFO, which are never waited on) of at most `most` bytes. Nothing, with the
// reason in `failure`, otherwise.
std::optional<QByteArray> readSubtitleFile(
    const QString& path, QString& failure, qint64 most = kMostSubtitleBytes);

// detectCharset of the file at `path`, read by readSubtitleFile; "" when it
// cannot be read or its set cannot be told.
QString detectFileCharset(const QString& path);

// The character set to read a subtitle file's `bytes` in, as its track's
// code page keeps it, told with the language the user chose for the file at
// `path` or its name's tag (subtitleTextLanguage): "" with a log line naming
// `path` when it cannot be told; "UTF-8" for a file without a letter to
// tell a set by.
QString subtitleCodePage(const QByteArray& bytes, const QString& path, const QString& language);

// subtitleCodePage of the file at `path`, read by readSubtitleFile; "UTF-8"
// when it cannot be read, which whoever uses the file then tells.
QString subtitleFileCodePage(const QString& path, const QString& language);

// Why the character set of the subtitle file at `path` in `language` cannot
// be told, in words for the user; "" when it can, or the file cannot be read.
QString subtitleFileCharsetDoubt(const QString& path, const QString& language);

// The subtitle files beside `mediaPath` that share its name without extension
// ("film.mkv" finds "film.srt", "film.ASS"), sorted by name.
QStringList externalSubtitleFiles(const QString& mediaPath);
