#pragma once

#include <QStringList>

// The pids of this process's children, from every thread's list.
QStringList childProcesses();

// How many processes name this one as their parent, from every process's
// stat file: counts children however and by whichever thread they were made.
int childProcessCount();
