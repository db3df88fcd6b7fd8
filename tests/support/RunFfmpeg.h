#pragma once

#include <QByteArray>
#include <QStringList>

// Runs ffmpeg quiet, overwriting and without reading a terminal; its standard
// output into `output` when given. A run that fails is a test failure that
// shows ffmpeg's complaint.
bool runFfmpeg(const QStringList& arguments, QByteArray* output = nullptr);
