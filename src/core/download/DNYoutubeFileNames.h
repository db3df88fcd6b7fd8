#pragma once

#include <QString>

// The title every download file name is built from: "/", control characters
// (line breaks, escapes) and the invisible marks that reorder text become
// "_", as does a leading dot (no hidden files); an empty title is "Untitled";
// a long one is cut at a character boundary so that the longest name derived
// from it, a " (n)" counter included, still fits the 255 bytes a file name
// may take.
QString DNYoutubeSafeTitle(const QString& title);

// The names under which one part of a download is written. `partIndex` is
// the index of the part's URL: the second and later parts carry their number
// after the title. Final and merged files are made unique in their folder.
// Partial and stream files are not: their names carry a key of the stream
// they hold (`streamKey`), so that a later download of the same stream
// resumes them and another stream of the same title never touches them.
namespace DNYoutubeFileNames {

// The finished video, in the job's output folder.
QString outputFile(
    const QString& folder, const QString& title, int partIndex, const QString& container);
// Where the video stream lands before it is merged or moved, and the
// separate audio stream: named after the stream they hold, like the partials.
QString tempVideoFile(const QString& folder, const QString& title, int partIndex,
    const QString& container, const QString& streamKey);
QString tempAudioFile(const QString& folder, const QString& title, const QString& streamKey);
// What the merge writes, in the Downloads folder, before it takes the
// output file's name.
QString mergedFile(const QString& title, int partIndex, const QString& container);
// The partial downloads, in the Downloads folder.
QString partialVideoFile(
    const QString& title, int partIndex, const QString& container, const QString& streamKey);
QString partialAudioFile(const QString& title, const QString& streamKey);
// The key of a stream in partial file names: 12 hexadecimal digits from a
// text that names the stream (page, variant, part, size).
QString streamKey(const QString& identity);

} // namespace DNYoutubeFileNames
