#include "support/RunFfmpeg.h"

#include <QProcess>

#include <gtest/gtest.h>

bool runFfmpeg(const QStringList& arguments, QByteArray* output)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList { "-v", "error", "-nostdin", "-y" } + arguments);
    if (!ffmpeg.waitForFinished(60'000) || ffmpeg.exitCode() != 0) {
        ADD_FAILURE() << ffmpeg.readAllStandardError().toStdString();
        return false;
    }
    if (output)
        *output = ffmpeg.readAllStandardOutput();
    return true;
}

QByteArray decodeComplaints(const QString& path)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", { "-v", "error", "-nostdin", "-i", "file:" + path, "-f", "null", "-" });
    if (!ffmpeg.waitForFinished(60'000))
        return "ffmpeg did not end";
    const QByteArray said = ffmpeg.readAllStandardError();
    return ffmpeg.exitCode() == 0 || !said.isEmpty() ? said : "ffmpeg failed";
}
