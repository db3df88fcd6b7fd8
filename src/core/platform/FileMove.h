#pragma once

#include <QString>

#include <chrono>

// Gives the file at `from` the name `to`, never over anything that stands at
// `to`: a rename that refuses a taken name (a hard link on a file system
// without such a rename; on one without hard links either, a copy written at
// `to` only if no file stands there), and across file systems a copy made
// under a hidden name in the folder of `to` that then takes the name the same
// way. Copies reach the disk before the source goes. On success `from` is
// gone; on failure it is where it was and nothing of it is left beside `to`.
// Returns 0, or the errno value of the failure: EEXIST when the name is taken.
int moveFileWithoutReplacing(const QString& from, const QString& to);

// A copy across file systems that was killed halfway leaves its hidden
// fragment in the target's folder. Removes ours there (by their name, and
// only regular files of this user) that nothing has written to for this long:
// done before a move makes a new fragment and when a download starts.
inline constexpr std::chrono::hours kStaleMoveFragmentAge { 1 };
void removeStaleMoveFragments(const QString& folder);
