#pragma once

#include "engine/ArgumentBlock.h"

#include <QString>

#include <cstdint>

class DNAppSetting;
class DNMainWindowSetting;

// The engine options of one run, built from the settings when a conversion
// starts and passed by value to every builder, which may change its own copy.
// Paths are NUL-terminated UTF-8 in fixed fields, as the engines take them.
struct EncodeConfig {
    // Read the DVD as "dvdnav://": on when safe mode is off.
    bool dvdNav = false;
    bool deinterlace = false;
    // Rebuild the timestamps of a source whose sound drifts: safe mode on and
    // high quality off.
    bool avSyncFix = false;
    bool safeMode = false;
    bool highQuality = false;
    int32_t cpuCore = 0;
    char outputDir[MaxCharLength] = {};
    bool twoPass = false;
    // 0 for the first pass of a two-pass run, 1 for the second.
    int32_t passIndex = 0;
    // The statistics file both passes share.
    char passLog[MaxCharLength] = {};
    // A merge member without sound gets silence as long as its picture, so
    // that its part has the same streams as the others' and the join keeps
    // its pictures and everyone's sound in place.
    bool silenceWithoutSound = false;

    // The file builders' name for avSyncFix.
    bool resetTimestamps() const { return avSyncFix; }
};

// The options of a run from the settings. An output folder too long for its
// field is replaced by the home folder, with a log line saying so.
EncodeConfig makeEncodeConfig(const DNMainWindowSetting& engine, const DNAppSetting& app);

// Stores a path in one of the record's path fields; false, leaving the field
// empty, when its UTF-8 form has no room for the terminating NUL.
bool setConfigPath(char (&field)[MaxCharLength], const QString& path);
// A path field as text.
QString configPath(const char (&field)[MaxCharLength]);
