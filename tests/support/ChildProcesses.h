#pragma once

#include <QStringList>

// The pids of this process's children, from every thread's list.
QStringList childProcesses();

// How many processes name this one as their parent, from every process's
// stat file: counts children however and by whichever thread they were made.
int childProcessCount();

// The pids of the live processes (zombies left out) in the process group
// `group`, whoever started them.
QStringList processGroupMembers(int group);
