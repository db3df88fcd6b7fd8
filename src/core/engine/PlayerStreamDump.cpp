// The stream-dump bridge over Debian 12's mplayer 1.5, which takes the
// builder's words as written: "dvd://" and "dvdnav://" both end with the
// title, "-ss 3 ... -endpos 5" dumps 5 s, and its last line "Core dumped ;)"
// is its normal farewell, not a failure.
#include "engine/PlayerStreamDump.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>

#include <algorithm>
#include <memory>

namespace {

constexpr const char* kPlayer = "mplayer";
constexpr qint64 kSectorBytes = 2048;

ToolBridge& bridge()
{
    static ToolBridge instance("stream dump");
    return instance;
}

struct ReaderCloser {
    void operator()(dvd_reader_t* reader) const { DVDClose(reader); }
};
struct IfoCloser {
    void operator()(ifo_handle_t* ifo) const { ifoClose(ifo); }
};

int fromBCD(uint8_t value)
{
    return (value >> 4) * 10 + (value & 0x0f);
}

// The bytes and seconds of a title's first program chain, or zeros when
// the disc cannot tell.
struct TitleExtent {
    qint64 bytes = 0;
    double seconds = 0;
};

TitleExtent titleExtent(const QString& device, int title)
{
    const std::unique_ptr<dvd_reader_t, ReaderCloser> reader(
        DVDOpen(QFile::encodeName(device).constData()));
    const std::unique_ptr<ifo_handle_t, IfoCloser> manager(
        reader ? ifoOpen(reader.get(), 0) : nullptr);
    if (!manager || !manager->tt_srpt || title < 1 || title > manager->tt_srpt->nr_of_srpts)
        return {};
    const title_info_t& info = manager->tt_srpt->title[title - 1];
    const std::unique_ptr<ifo_handle_t, IfoCloser> titleSet(
        ifoOpen(reader.get(), info.title_set_nr));
    if (!titleSet || !titleSet->vts_ptt_srpt || !titleSet->vts_pgcit
        || info.vts_ttn > titleSet->vts_ptt_srpt->nr_of_srpts)
        return {};
    const int chain = titleSet->vts_ptt_srpt->title[info.vts_ttn - 1].ptt[0].pgcn;
    if (chain < 1 || chain > titleSet->vts_pgcit->nr_of_pgci_srp)
        return {};
    const pgc_t* pgc = titleSet->vts_pgcit->pgci_srp[chain - 1].pgc;
    TitleExtent extent;
    for (int cell = 0; pgc && pgc->cell_playback && cell < pgc->nr_of_cells; ++cell) {
        const cell_playback_t& playback = pgc->cell_playback[cell];
        extent.bytes += qint64(playback.last_sector - playback.first_sector + 1) * kSectorBytes;
    }
    if (pgc)
        extent.seconds = fromBCD(pgc->playback_time.hour) * 3600.0
            + fromBCD(pgc->playback_time.minute) * 60.0 + fromBCD(pgc->playback_time.second);
    return extent;
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

// The dump's size against what the list covers of the title: the whole
// title, or `duration` seconds of it.
ToolBridge::ProgressSource dumpProgress(const QStringList& words, int duration)
{
    const TitleExtent extent = titleExtent(valueAfter(words, "-dvd-device"), titleOf(words));
    const double share
        = duration > 0 && extent.seconds > 0 ? std::min(1.0, duration / extent.seconds) : 1.0;
    const double expected = double(extent.bytes) * share;
    const QString dump = valueAfter(words, "-dumpfile");
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
    bridge().start(dumpProgress(words, duration));
    const int status = bridge().run(
        { kPlayer, PlayerStreamDumpAdaptArguments(words) }, ToolBridge::LineReader());
    output.settle(status);
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
