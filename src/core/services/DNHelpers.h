#pragma once

#include <QSizeF>
#include <QString>
#include <QStringList>

#include <cstdint>

// Small helpers shared across the program.

// The product name as the log and the window titles show it.
QString DNApplicationName();

// The longest file name the file systems take, in bytes.
constexpr int kDNLongestFileName = 255;

// `fileName` with `mark` put before its extension (after the whole name when
// it has none; a leading point is no extension), its part before the
// extension cut so that the whole stays within kDNLongestFileName bytes of
// UTF-8. The cut falls between characters.
QString DNFileNameWithin(const QString& fileName, const QString& mark = QString());

// A path in `folder` for `fileName` that names no existing file, folder or link;
// nothing is created. A counter of 0 or less tries the plain name first; then
// "name (n).ext" for n = max(counter, 1), 2, 3 ... A name without an extension
// gives "name (n)", never "name (n).". An empty folder gives the bare name.
// Every name tried keeps within kDNLongestFileName bytes, " (n)" included: a
// long name loses the end of its part before the extension.
QString DNUniqueFilePath(const QString& folder, const QString& fileName, int counter);

// Whether a profile's file name suffix names only an extension: no slash and
// no "..", which would put an output outside its folder.
bool DNIsPlainFileNameSuffix(const QString& suffix);

// A program's words as a message quotes them: whole when they are short,
// else their first `limit` characters and "… (cut)", so
// that a program printing a runaway line never makes a runaway message.
QString DNQuotedWords(const QString& words, qsizetype limit = 300);

// The absolute value of `seconds` as "HH:MM:SS" (hours may take more digits).
QString DNTimeStringFromSeconds(int seconds);

// `size` fitted into `box` keeping its proportions, both sides truncated to
// whole numbers. Sizes whose ratios differ by at most 0.0001 give the box; a
// size or box with no area gives the box, since there is no ratio to keep.
QSizeF DNAspectFitSize(QSizeF size, QSizeF box);

// The running system's version in the binary-coded form the callers compare
// with (0x1060 for 10.6.0). We always run on the modern branch.
std::uint32_t DNSystemVersion();

// The picture types a watermark may be chosen from.
QStringList DNWatermarkImageTypes();
