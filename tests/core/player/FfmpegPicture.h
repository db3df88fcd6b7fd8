#pragma once

// Pictures and clips for the editor picture tests, made with the installed
// ffmpeg from its lavfi sources.

#include <QImage>
#include <QProcess>
#include <QStringList>

// Runs ffmpeg, quiet and overwriting; true on success.
inline bool runFfmpegTool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"), QStringList { "-v", "error", "-y" } + arguments);
    return process.waitForFinished(60'000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

// The first picture of the lavfi `source` graph, saved to `path` (PNG) and read back.
inline QImage lavfiPicture(const QString& source, const QString& path)
{
    if (!runFfmpegTool({ "-f", "lavfi", "-i", source, "-frames:v", "1", path }))
        return {};
    return QImage(path);
}
