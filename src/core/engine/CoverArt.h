#pragma once

#include <QString>

#include <mutex>

class ProcessRunner;

// Puts a picture of the source into an MP4, M4V or 3GP output as its cover
// art: ffmpeg takes one frame of the source into a "dt_" temporary image,
// AtomicParsley writes a tagged copy beside the output, and the copy replaces
// the output only once it is complete. Whatever fails (a source or an output
// that is no regular file, a tool that stalls), the output stays as the
// engine wrote it. tag() runs on the conversion worker thread; stop() may be
// called from any other.
class CoverArtTagger {
public:
    // The output's extension is one AtomicParsley can tag (mp4, m4v, 3gp).
    static bool wantsCoverArt(const QString& outputPath);

    // Tags the output with a frame taken a little way into the source
    // (`sourceDuration` in seconds, 0 when unknown). True when the output
    // now carries the picture.
    bool tag(const QString& outputPath, const QString& sourcePath, double sourceDuration);

    // Abandons the tagging under way, or the next one: the output is left
    // untagged.
    void stop();

private:
    bool grabFrame(const QString& sourcePath, double sourceDuration, const QString& imagePath);
    bool writeArtwork(const QString& outputPath, const QString& imagePath);
    // Runs one tool under the engines' stall limit; `writes` is the file it
    // makes, whose growth is its progress.
    bool runTool(const QString& program, const QStringList& arguments, const QString& writes);

    std::mutex m_mutex;
    ProcessRunner* m_runner = nullptr;
    bool m_stopped = false;
};
