#pragma once

#include <QStringList>

// The pids of the processes that name this one as their parent, from every
// process's stat file: children however and by whichever thread they were
// made (the kernel's own children lists are not built into every kernel).
QStringList childProcesses();
int childProcessCount();

// The pids of the live processes (zombies left out) in the process group
// `group`, whoever started them.
QStringList processGroupMembers(int group);
