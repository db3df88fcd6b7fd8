#pragma once

#include <QString>

// The title every download file name is built from: "/" becomes "_", an
// empty title is "Untitled", and a long one is cut at a character boundary so
// that the longest name derived from it, a " (n)" counter included, still
// fits the 255 bytes a file name may take.
QString DNYoutubeSafeTitle(const QString& title);

// The names under which one part of a download is written. `partIndex` is
// the index of the part's URL: the second and later parts carry their number
// after the title. Final and stream files are made unique in their folder;
// the partial files are not, so that a later download of the same title and
// container resumes them.
namespace DNYoutubeFileNames {

// The finished video, in the job's output folder.
QString outputFile(
    const QString& folder, const QString& title, int partIndex, const QString& container);
// Where the video stream lands before it is merged or moved.
QString tempVideoFile(
    const QString& folder, const QString& title, int partIndex, const QString& container);
// The separate audio stream, in the output file's folder.
QString tempAudioFile(const QString& folder, const QString& title);
// The partial downloads, in the Downloads folder.
QString partialVideoFile(const QString& title, int partIndex, const QString& container);
QString partialAudioFile(const QString& title);

} // namespace DNYoutubeFileNames
