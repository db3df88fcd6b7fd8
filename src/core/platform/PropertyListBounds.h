#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The bounds put on a property list before libplist parses it: profiles,
// engine jobs and presets are input like any other file, and libplist has
// none of its own. It reads the whole of what it is given and recurses once
// for each level of nesting: a list nested 200,000 deep ended its stack.

// Deeper than any list we write (profiles nest four levels), far below
// what a thread's stack takes.
constexpr int kMaxPropertyListDepth = 256;

// Why `bytes`, an XML or binary property list, nests arrays and dictionaries
// deeper than kMaxPropertyListDepth, or empty when it does not (or is no
// property list at all, which its parse then says).
QString propertyListDepthProblem(const QByteArray& bytes);

// The bytes of the file at `path` when it holds at most `largest`; nothing,
// with the reason in `error`, when it holds more, cannot be read or is a FIFO
// (whose opening waits for a writer). Never reads more than `largest` + 1
// bytes: /dev/zero has no size to look at.
std::optional<QByteArray> readFileUpTo(const QString& path, qint64 largest, QString& error);
