#pragma once

// The dispatchers and core builders the DVD table's entries lead to; each
// builder family adds its header here.
#include "builders/dvd/AVI.h"
#include "builders/dvd/Backup.h"
#include "builders/dvd/FlashWindowsMedia.h"
#include "builders/dvd/H264.h"
#include "builders/dvd/HandBrake.h"
#include "builders/dvd/MPEG2.h"
#include "builders/dvd/MPEG4.h"
#include "builders/dvd/Sound.h"
