#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Runs ffmpeg quiet, overwriting and without reading a terminal; its standard
// output into `output` when given. A run that fails is a test failure that
// shows ffmpeg's complaint.
bool runFfmpeg(const QStringList& arguments, QByteArray* output = nullptr);

// What ffmpeg says while it decodes the whole file to nowhere: empty for a
// file that plays through cleanly.
QByteArray decodeComplaints(const QString& path);
