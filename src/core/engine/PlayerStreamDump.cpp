// The stream-dump bridge over Debian 12's mplayer 1.5, which takes the
// builder's words as written: "dvd://" and "dvdnav://" both end with the
// title, "-ss 3 ... -endpos 5" dumps 5 s, and its last line "Core dumped ;)"
// is its normal farewell, not a failure.
#include "engine/PlayerStreamDump.h"

#include "services/DVDTitleReader.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

constexpr const char* kPlayer = "mplayer";
constexpr qint64 kSectorBytes = 2048;

ToolBridge& bridge()
{
    static ToolBridge instance("stream dump");
    return instance;
}

QString valueAfter(const QStringList& words, const char* option)
{
    const qsizetype at = words.indexOf(QLatin1String(option));
    return at >= 0 && at + 1 < words.size() ? words[at + 1] : QString();
}

int titleOf(const QStringList& words)
{
    static const QRegularExpression source(QStringLiteral(R"(^dvd(?:nav)?://(\d+))"));
    for (const QString& word : words) {
        const QRegularExpressionMatch match = source.match(word);
        if (match.hasMatch())
            return match.captured(1).toInt();
    }
    return 0;
}

// The title the list dumps as the title reader finds it on the disc; nothing,
// with the reason, when the reader refuses the disc or leaves the title out.
std::optional<DVDTitleFacts> dumpedTitle(const QStringList& words, QString& failure)
{
    const QString device = valueAfter(words, "-dvd-device");
    const int number = titleOf(words);
    const std::optional<DVDDiscFacts> disc = readDVDTitles(device, failure);
    if (!disc)
        return std::nullopt;
    const auto title = std::find_if(disc->titles.begin(), disc->titles.end(),
        [number](const DVDTitleFacts& each) { return each.titleNumber == number; });
    if (title != disc->titles.end())
        return *title;
    failure = QStringLiteral("%1 has no readable title %2").arg(device).arg(number);
    return std::nullopt;
}

// The dump's size against what the list covers of the title: the whole
// title, or `duration` seconds of it.
ToolBridge::ProgressSource dumpProgress(
    const DVDTitleFacts& title, const QString& dump, int duration)
{
    const double share
        = duration > 0 && title.length > 0 ? std::min(1.0, double(duration) / title.length) : 1.0;
    const double expected = double(title.sectors * kSectorBytes) * share;
    return [expected, dump, duration](ProgressInfo& progress) {
        if (expected <= 0)
            return;
        const double written = double(QFileInfo(dump).size());
        progress.percent = std::min(100.0, written * 100.0 / expected);
        progress.convertedTime = progress.percent * duration / 100.0;
    };
}

} // namespace

QStringList PlayerStreamDumpAdaptArguments(const QStringList& builderArguments)
{
    // No configuration of the user's may change what is dumped; no remote
    // control is looked for.
    return QStringList { "-noconfig", "all", "-nolirc" } + builderArguments;
}

int PlayerStreamDumpEncode(int argc, const char* const* argv, int duration)
{
    const ToolBridge::Call call(bridge());
    const QStringList words = bridge().listOf(argc, argv);
    if (words.isEmpty())
        return kToolBridgeFailed;
    const QString dump = valueAfter(words, "-dumpfile");
    if (dump.isEmpty())
        return bridge().fail(QStringLiteral("the list names no dump file"));
    const ToolBridgeOutput output(dump);
    // mplayer would overwrite it, and a failed run must not cost a file.
    if (output.existedBefore())
        return bridge().fail(QStringLiteral("\"%1\" is there already").arg(dump));
    QString failure;
    const std::optional<DVDTitleFacts> title = dumpedTitle(words, failure);
    if (!title)
        return bridge().fail(failure);
    bridge().start(dumpProgress(*title, dump, duration));
    const int status = bridge().run(
        { .program = kPlayer, .arguments = PlayerStreamDumpAdaptArguments(words), .output = dump },
        ToolBridge::LineReader());
    bridge().settle(output, status);
    bridge().finish(status);
    return status;
}

ProgressInfo PlayerStreamDumpProgress()
{
    return bridge().progress();
}

void PlayerStreamDumpStop()
{
    bridge().stop();
}

void PlayerStreamDumpSetStateCallback(ToolBridgeStateCallback callback, void* context)
{
    bridge().setStateCallback(callback, context);
}

QStringList PlayerStreamDumpLastCommand()
{
    return bridge().lastCommand();
}

QString PlayerStreamDumpLastFailure()
{
    return bridge().lastFailure();
}
