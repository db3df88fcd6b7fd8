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
