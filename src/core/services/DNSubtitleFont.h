#pragma once

#include <QString>

// The font file the DVD engine draws a text subtitle in, by the subtitle's
// language key (any case): a Chinese font for "zh-hans", a Latin, Greek and
// Thai one for every other or missing key. Never empty: a font file that is
// not installed falls back to the Latin one, with a log line.
QString DNSubtitleFontPath(const QString& language);
