#pragma once

#include <QString>

// Small helpers shared across the program.

// The product name as the log and the window titles show it.
QString DNApplicationName();
