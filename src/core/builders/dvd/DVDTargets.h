#pragma once

// The dispatchers and core builders the DVD table's entries lead to; each
// builder family adds its header here.
#include "builders/dvd/H264.h"
