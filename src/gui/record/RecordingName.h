#pragma once

#include <QDateTime>
#include <QString>

// The date part of a recording's name, "yyyy-MM-dd 'at' a KK.mm.ss": "a" is
// "AM" or "PM" whatever the user's language, and "KK" the hour of the half
// day from 00 to 11 (Qt's own patterns have no 0-11 hour). Shared by the
// screen and camera recorders and the slideshow's movie names.
QString recordingDateString(const QDateTime& date);

// "<prefix> <date>.mov", e.g. "Quillon Screen Recorder 2026-12-06 at PM 09.05.07.mov".
QString recordingFileName(const QString& prefix, const QDateTime& date);
