#pragma once

#include <optional>

// Which pictures fall in the part of the media that is shown. mplayer starts
// at a key frame, which may lie before the part, and names each picture's
// time in tenths of a second only: the pictures after a start, a loop or a
// seek are counted from where it landed, at the stream's rate.
class ShownRange {
public:
    ShownRange(double from, double to, double startAt);

    void setFramesPerSecond(double rate) { m_framesPerSecond = rate; }
    // Whether the next picture, whose status line said `reported`, is shown.
    bool shows(double reported);

private:
    double m_from;
    double m_to;
    double m_startAt; // the picture mplayer was asked to start at: a key frame
    double m_framesPerSecond = 0;
    std::optional<double> m_time; // of the last picture
};
