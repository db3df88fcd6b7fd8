#pragma once

#include <cstdint>

// Where the running engine is: what the progress sheet polls once a second.
struct ProgressInfo {
    double convertedTime = 0; // seconds of output written so far
    double fps = 0; // frames encoded per second of wall time
    int64_t frameNumber = 0; // frames written so far
    double percent = 0; // convertedTime against the run's duration, 0 to 100
};
