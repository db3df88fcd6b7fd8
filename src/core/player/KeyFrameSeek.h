#pragma once

#include <QString>

#include <optional>

// Where a player that seeks to key frames must start to show a media file from
// a time on: the last key frame of its first picture stream at or before it.
struct KeyFrameStart {
    // The key frame's time, counted from the media's first picture.
    double picture = 0;
    // What "-ss" or an absolute seek names to land the player on that key
    // frame when it reads the media with libavformat and the media has no
    // index (a transport or program stream): the first packet at or after the
    // time asked, counted from the media's start, is taken by its decoding
    // time, so the time asked lies a hair before the key frame's. In a
    // program stream it lies half a second before: the player lands a few
    // pictures early there, which it cannot name exactly.
    double seek = 0;
};

// The key frame at or before `seconds` (counted from the first picture). None
// when the media cannot be read there, or holds no key frame before it.
std::optional<KeyFrameStart> keyFrameAtOrBefore(const QString& path, double seconds);

// The time of an absolute seek command ("seek T 2", in tenths) that lands a
// player reading the media by decoding time on the key frame at or before
// `seconds`: KeyFrameStart::seek taken down to a tenth, so that it stays
// before the key frame. `seconds` when no key frame is found.
double keyFrameSeekTime(const QString& path, double seconds);
