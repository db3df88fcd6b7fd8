// The DVD-to-MKV bridge's translation of the HandBrake-style lists for
// Debian 12's HandBrakeCLI 1.6.1. "-E faac", "-f mkv", "-f mp4" and
// "-e ffmpeg4" are still accepted there as legacy names (faac gives AAC), so
// they need no row.
#include "engine/DVDToMKV.h"

#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace {

constexpr const char* kProgram = "HandBrakeCLI";

ToolBridge& bridge()
{
    static ToolBridge instance("DVD-to-MKV library");
    return instance;
}

// A run of the builder's words and what replaces it.
struct Translation {
    QStringList words;
    QStringList replacement;
};

const std::vector<Translation>& translations()
{
    static const std::vector<Translation> table {
        // "unknown option (-4)": HandBrakeCLI then exits 0 without a file.
        // Large-file MP4 is its default anyway.
        { { "-4" }, {} },
        // A copy limited to AC-3 drops every other track ("Passthru requested
        // and input codec is not the same as output codec", the MP2 of a PAL
        // title); copying what is AC-3 and encoding the rest to AC-3 keeps
        // one output track per title track.
        { { "-E", "copy:ac3" },
            { "-E", "copy", "--audio-copy-mask", "ac3", "--audio-fallback", "ac3" } },
    };
    return table;
}

const Translation* translationAt(const QStringList& words, qsizetype at)
{
    for (const Translation& row : translations()) {
        if (words.mid(at, row.words.size()) == row.words)
            return &row;
    }
    return nullptr;
}

} // namespace

QStringList DVDToMKVAdaptArguments(const QStringList& builderArguments, int duration)
{
    QStringList arguments;
    // Argument 0 names the engine ("encoder"); the program is ours to choose.
    for (qsizetype at = 1; at < builderArguments.size();) {
        const Translation* row = translationAt(builderArguments, at);
        if (row == nullptr) {
            arguments << builderArguments[at++];
            continue;
        }
        arguments << row->replacement;
        at += row->words.size();
    }
    // The stop limit, for a list that carries no end of its own; the
    // builders' lists of trimmed titles carry theirs to the millisecond.
    if (duration > 0 && !builderArguments.contains(QStringLiteral("--stop-at")))
        arguments << "--stop-at" << QStringLiteral("duration:%1").arg(duration);
    return arguments;
}

bool DVDToMKVReadProgressLine(const QString& line, int duration, ProgressInfo& progress)
{
    static const QRegularExpression encoding(
        QStringLiteral(R"(Encoding: task (\d+) of (\d+), ([\d.]+) %)"));
    const QRegularExpressionMatch match = encoding.match(line);
    if (!match.hasMatch())
        return false;
    const int task = match.captured(1).toInt();
    const int tasks = std::max(1, match.captured(2).toInt());
    // QString::toDouble ignores the locale.
    const double done = (std::max(0, task - 1) + match.captured(3).toDouble() / 100.0) / tasks;
    progress.percent = std::min(100.0, done * 100.0);
    // A run of unknown length (0 or less) has no time to tell.
    progress.convertedTime = done * std::max(0, duration);
    return true;
}

int appMain(int argc, const char* const* argv, int duration)
{
    const ToolBridge::Call call(bridge());
    const QStringList words = bridge().listOf(argc, argv);
    if (words.isEmpty())
        return kToolBridgeFailed;
    const qsizetype outputAt = words.lastIndexOf(QStringLiteral("-o"));
    if (outputAt < 0 || outputAt + 1 >= words.size())
        return bridge().fail(QStringLiteral("the list names no output"));
    const ToolBridgeOutput output(words[outputAt + 1]);
    bridge().start();
    const int status = bridge().run({ .program = kProgram,
                                        .arguments = DVDToMKVAdaptArguments(words, duration),
                                        .output = words[outputAt + 1] },
        [duration](const QString& line, ProgressInfo& progress) {
            return DVDToMKVReadProgressLine(line, duration, progress);
        });
    bridge().settle(output, status);
    bridge().finish(status);
    return status;
}

void HBStopJob()
{
    bridge().stop();
}

ProgressInfo DVDToMKVProgress()
{
    return bridge().progress();
}

void DVDToMKVSetStateCallback(ToolBridgeStateCallback callback, void* context)
{
    bridge().setStateCallback(callback, context);
}

QStringList DVDToMKVLastCommand()
{
    return bridge().lastCommand();
}

QString DVDToMKVLastFailure()
{
    return bridge().lastFailure();
}
