#pragma once

#include "support/TestFiles.h"

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

// A program named ffmpeg, first on the PATH while this lives: a shell
// script, which may hand on to the real ffmpeg.
class StandInFfmpeg {
public:
    StandInFfmpeg() { qputenv("PATH", QFile::encodeName(m_folder.path()) + ':' + m_path); }
    ~StandInFfmpeg() { qputenv("PATH", m_path); }
    StandInFfmpeg(const StandInFfmpeg&) = delete;
    StandInFfmpeg& operator=(const StandInFfmpeg&) = delete;

    bool write(const QByteArray& script) const
    {
        return writeTestScript(m_folder.filePath("ffmpeg"), "#!/bin/sh\n" + script);
    }
    // The real ffmpeg, quoted for the script.
    QByteArray realProgram() const { return "'" + m_real + "'"; }
    // The script's line that runs the real ffmpeg with the stand-in's arguments.
    QByteArray real() const { return "exec " + realProgram() + " \"$@\"\n"; }

private:
    const QByteArray m_path = qgetenv("PATH");
    const QByteArray m_real = QFile::encodeName(QStandardPaths::findExecutable("ffmpeg"));
    QTemporaryDir m_folder;
};
