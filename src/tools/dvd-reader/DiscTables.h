#pragma once

#include <string>

// Reads the title tables of the DVD at `path` (a drive's device, a folder
// holding VIDEO_TS or the VIDEO_TS folder itself, or an ISO image) with
// libdvdread and appends the answer lines README.md describes to `answer`.
// True when at least one title was read; false after a "refused" line.
bool readDiscTables(const std::string& path, std::string& answer);
