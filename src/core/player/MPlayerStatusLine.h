#pragma once

#include <QRegularExpression>

// The player's status line ("A:   0.1 V:   0.1 A-V: -0.021 ct: -0.004   0/  0
// ??% ??% ??,?% 0 0 26%"), every part optional. Capture 2 is the video
// position; the last capture is the cache fill in percent, when the player
// reads through a cache.
const QRegularExpression& mplayerStatusPattern();
