#pragma once

// The file encoder bridge's join of a merge's members (AVEncoderJoin.cpp),
// and what it shares with the rest of the bridge (AVEncoder.cpp).

#include <QLatin1StringView>
#include <QString>
#include <QStringList>

#include <functional>

class QTemporaryFile;

// The label of a join's sound, the output of its graph: the bridge's
// placement of the sound in its container goes last in that graph.
inline constexpr QLatin1StringView kAVEncoderJoinedSound("[sound]");

// The format of the output: the "-f" after the last input, else the output
// path's suffix (a join names no format).
QString AVEncoderOutputFormat(const QStringList& arguments);

// The builder's list (argument 0 included) as it runs. A join of a merge's
// members through a concat list ("-f concat -i LIST") has each member
// measured first: `list` gives each member the length after which the next
// one's first picture follows its last, and each member's sound, read from
// its own file, is cut to its picture (or filled with silence up to its end)
// before the members' sound is joined and encoded again, by the list's
// encoder or like the first member's sound. Any other list, a join whose
// members cannot be measured or whose sound no encoder can write again,
// comes back as it is (with a log line). The members are read until
// `stopped` says the run is to end.
using AVEncoderStopQuery = std::function<bool()>;
QStringList AVEncoderMeasuredJoin(
    const QStringList& builderArguments, QTemporaryFile& list, const AVEncoderStopQuery& stopped);
