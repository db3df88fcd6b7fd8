#pragma once

#include <QString>

// A program that dies of a fatal signal (a memory fault, an abort, ...) or of
// an exception nobody caught says so in one line on standard error and at the
// end of the log at `logPath`. Then the action that stood before for that
// signal takes it: by default the process dies of it, so that a shell, a
// debugger or a core dump sees the real cause; a sanitizer reports it. The log
// is only appended to, never created: a run that had not opened its log yet
// leaves the line in the previous run's, the one the next start offers to
// show. Install once, early in main(); the line is written with
// async-signal-safe calls only.
namespace FatalEndReport {

void install(const QString& logPath);

} // namespace FatalEndReport
