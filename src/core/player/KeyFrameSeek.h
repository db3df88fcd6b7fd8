#pragma once

#include <QString>

#include <optional>

// Where a player that seeks to key frames lands before `seconds` (counted
// from the media's start): the time of the last key frame of the first
// picture stream at or before it, as the media's index gives it. None when
// the media cannot be read there, or the key frame found lies after it.
std::optional<double> keyFrameAtOrBefore(const QString& path, double seconds);
