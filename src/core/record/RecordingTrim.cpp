#include "record/RecordingTrim.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace {

quint32 u32(const QByteArray& bytes, qint64 at)
{
    if (at < 0 || at + 4 > bytes.size())
        return 0;
    return qFromBigEndian<quint32>(bytes.constData() + at);
}

quint64 u64(const QByteArray& bytes, qint64 at)
{
    if (at < 0 || at + 8 > bytes.size())
        return 0;
    return qFromBigEndian<quint64>(bytes.constData() + at);
}

// A box of the file, or of a box held in memory: offsets are those of the
// bytes it was read from.
struct Box {
    qint64 at = 0;
    qint64 size = 0; // the header included
    qint64 header = 8;
    QByteArray type;

    qint64 end() const { return at + size; }
    qint64 content() const { return at + header; }
};

// The box whose header starts at `at` of `bytes`, which may run past the
// bytes' end; a size of 0 runs to `end`.
std::optional<Box> boxAt(const QByteArray& bytes, qint64 at, qint64 end)
{
    if (at + 8 > bytes.size())
        return std::nullopt;
    Box box { at, qint64(u32(bytes, at)), 8, bytes.mid(at + 4, 4) };
    if (box.size == 1) {
        if (at + 16 > bytes.size())
            return std::nullopt;
        box.size = qint64(u64(bytes, at + 8));
        box.header = 16;
    } else if (box.size == 0) {
        box.size = end - at;
    }
    if (box.size < box.header)
        return std::nullopt;
    // How far a box that runs past the end reaches does not matter (a file
    // cut short ends inside its last box); a damaged size is never added to
    // its place: it would overflow.
    if (box.size > end - at)
        box.size = end - at + 1;
    return box;
}

// The whole boxes of bytes[from, to).
std::vector<Box> children(const QByteArray& bytes, qint64 from, qint64 to)
{
    std::vector<Box> boxes;
    for (std::optional<Box> box = boxAt(bytes, from, to); box && box->end() <= to;
         box = boxAt(bytes, box->end(), to))
        boxes.push_back(*box);
    return boxes;
}

std::optional<Box> child(const QByteArray& bytes, const Box& parent, const char* type)
{
    for (const Box& box : children(bytes, parent.content(), parent.end()))
        if (box.type == type)
            return box;
    return std::nullopt;
}

// A full box's version and flags.
quint32 flagsOf(const QByteArray& bytes, const Box& box)
{
    return u32(bytes, box.content()) & 0xffffff;
}

bool isVersion1(const QByteArray& bytes, const Box& box)
{
    return box.content() < bytes.size() && bytes[box.content()] == 1;
}

struct Track {
    quint32 timescale = 0;
    quint32 duration = 0; // the defaults of its fragments
    quint32 size = 0;
    std::optional<quint64> firstTime; // in the timescale
    quint64 nextTime = 0;
};

// The tracks of the index up front: their timescales and the defaults of
// their fragments.
std::map<quint32, Track> readTracks(const QByteArray& moov, const Box& box)
{
    std::map<quint32, Track> tracks;
    for (const Box& trak : children(moov, box.content(), box.end())) {
        if (trak.type != "trak")
            continue;
        const std::optional<Box> tkhd = child(moov, trak, "tkhd");
        const std::optional<Box> mdia = child(moov, trak, "mdia");
        const std::optional<Box> mdhd = mdia ? child(moov, *mdia, "mdhd") : std::nullopt;
        if (!tkhd || !mdhd)
            continue;
        // Both put their field after two times of 4 bytes, or of 8 in version 1.
        const quint32 id = u32(moov, tkhd->content() + (isVersion1(moov, *tkhd) ? 20 : 12));
        tracks[id].timescale = u32(moov, mdhd->content() + (isVersion1(moov, *mdhd) ? 20 : 12));
    }
    const std::optional<Box> mvex = child(moov, box, "mvex");
    for (const Box& trex :
        mvex ? children(moov, mvex->content(), mvex->end()) : std::vector<Box> {})
        if (trex.type == "trex") {
            Track& track = tracks[u32(moov, trex.content() + 4)];
            track.duration = u32(moov, trex.content() + 12);
            track.size = u32(moov, trex.content() + 16);
        }
    return tracks;
}

// What of one fragment stays: the sample counts to write (file offset, new
// count) and the end of the last sample kept.
struct FragmentCut {
    std::vector<std::pair<qint64, quint32>> counts;
    qint64 keptEnd = 0;
    bool keepsAny = false;
    bool dropsAny = false;
};

struct Limits {
    // Where the fragment's samples must lie: within its data box (a damaged
    // header may claim some of their bytes), as far as the file holds it.
    qint64 dataStart = 0;
    qint64 dataEnd = 0;
    double seconds = 0;
};

// What a track's fragment header says of its runs: where their data is
// counted from, and the samples' duration and size where a run gives none.
struct RunDefaults {
    qint64 base = -1; // -1: nowhere in the data, as a damaged offset may say
    quint32 duration = 0;
    quint32 size = 0;
};

RunDefaults runDefaults(
    const QByteArray& moof, const Box& tfhd, qint64 moofAt, const Track& track, qint64 dataEnd)
{
    const quint32 flags = flagsOf(moof, tfhd);
    qint64 field = tfhd.content() + 8;
    const quint64 base = (flags & 0x1) ? u64(moof, field) : quint64(moofAt);
    field += (flags & 0x1) ? 8 : 0;
    field += (flags & 0x2) ? 4 : 0;
    RunDefaults defaults;
    defaults.base = base <= quint64(dataEnd) ? qint64(base) : -1;
    defaults.duration = (flags & 0x8) ? u32(moof, field) : track.duration;
    field += (flags & 0x8) ? 4 : 0;
    defaults.size = (flags & 0x10) ? u32(moof, field) : track.size;
    return defaults;
}

// The bytes of each sample's entry in a run with `flags`.
qint64 entryBytes(quint32 flags)
{
    qint64 bytes = 0;
    for (const quint32 field : { 0x100U, 0x200U, 0x400U, 0x800U })
        bytes += (flags & field) ? 4 : 0;
    return bytes;
}

// The samples of one track's run of a fragment: kept while they lie whole in
// its data and their middle lies within the time. A sample of no bytes, or
// one the run has no entry for, is not whole.
void cutTrackFragment(const QByteArray& moof, qint64 moofAt, const Box& traf, Track& track,
    const Limits& limits, FragmentCut& cut)
{
    const std::optional<Box> tfhd = child(moof, traf, "tfhd");
    if (!tfhd)
        return;
    const RunDefaults defaults = runDefaults(moof, *tfhd, moofAt, track, limits.dataEnd);
    if (const std::optional<Box> tfdt = child(moof, traf, "tfdt"))
        track.nextTime = isVersion1(moof, *tfdt) ? u64(moof, tfdt->content() + 4)
                                                 : u32(moof, tfdt->content() + 4);
    const double endTime = limits.seconds * track.timescale;
    qint64 place = defaults.base;
    bool dropping = false;
    for (const Box& trun : children(moof, traf.content(), traf.end())) {
        if (trun.type != "trun")
            continue;
        const quint32 runFlags = flagsOf(moof, trun);
        const quint32 count = u32(moof, trun.content() + 4);
        qint64 entry = trun.content() + 8;
        if (runFlags & 0x1) {
            place = defaults.base < 0 ? -1 : defaults.base + qint32(u32(moof, entry));
            entry += 4;
        }
        entry += (runFlags & 0x4) ? 4 : 0;
        const qint64 bytes = entryBytes(runFlags);
        const qint64 listed
            = bytes == 0 ? count : std::min<qint64>(count, (trun.end() - entry) / bytes);
        quint32 kept = 0;
        for (; kept < listed && !dropping; ++kept) {
            const quint32 duration = (runFlags & 0x100) ? u32(moof, entry) : defaults.duration;
            entry += (runFlags & 0x100) ? 4 : 0;
            const quint32 size = (runFlags & 0x200) ? u32(moof, entry) : defaults.size;
            entry += (runFlags & 0x200) ? 4 : 0;
            entry += (runFlags & 0x400) ? 4 : 0;
            entry += (runFlags & 0x800) ? 4 : 0;
            const quint64 first = track.firstTime.value_or(track.nextTime);
            const double middle = double(track.nextTime - first) + duration / 2.0;
            // Compared with the room left, so that a damaged size never overflows.
            dropping = place < limits.dataStart || size == 0 || size > limits.dataEnd - place
                || middle > endTime;
            if (dropping)
                break;
            track.firstTime = first;
            track.nextTime += duration;
            place += size;
            cut.keptEnd = std::max(cut.keptEnd, place);
            cut.keepsAny = true;
        }
        if (kept < count) {
            cut.counts.emplace_back(moofAt + trun.content() + 4, kept);
            cut.dropsAny = true;
        }
    }
}

FragmentCut cutFragment(
    const QByteArray& moof, qint64 moofAt, std::map<quint32, Track>& tracks, const Limits& limits)
{
    FragmentCut cut;
    for (const Box& traf : children(moof, 8, moof.size())) {
        const std::optional<Box> tfhd = child(moof, traf, "tfhd");
        if (traf.type != "traf" || !tfhd)
            continue;
        cutTrackFragment(moof, moofAt, traf, tracks[u32(moof, tfhd->content() + 4)], limits, cut);
    }
    return cut;
}

// A box header of the file, read at `at`.
std::optional<Box> fileBoxAt(QFile& file, qint64 at)
{
    if (!file.seek(at))
        return std::nullopt;
    std::optional<Box> box = boxAt(file.read(16), 0, file.size() - at);
    if (box)
        box->at = at;
    return box;
}

QByteArray readBox(QFile& file, const Box& box)
{
    return file.seek(box.at) ? file.read(box.size) : QByteArray();
}

bool writeAt(QFile& file, qint64 at, const QByteArray& bytes)
{
    return file.seek(at) && file.write(bytes) == bytes.size();
}

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// The fragment's last samples dropped: its counts, its data box's size, and
// the file's end at its last sample kept.
bool writeCut(QFile& file, const FragmentCut& cut, const Box& mdat)
{
    for (const auto& [at, count] : cut.counts)
        if (!writeAt(file, at, bigEndian32(count)))
            return false;
    const quint64 size = quint64(cut.keptEnd - mdat.at);
    QByteArray field(mdat.header == 16 ? 8 : 4, '\0');
    if (mdat.header == 16)
        qToBigEndian(size, field.data());
    else
        qToBigEndian(quint32(size), field.data());
    return writeAt(file, mdat.at + (mdat.header == 16 ? 8 : 0), field) && file.flush()
        && file.resize(cut.keptEnd);
}

// Why the trim could not go on: the file's error, which is set by a read or
// a write that failed.
TrimOutcome failed(const QFile& file, TrimOutcome outcome, QString* problem)
{
    if (problem)
        *problem = file.errorString();
    return outcome;
}

} // namespace

TrimOutcome trimRecording(const QString& path, double seconds, QString* problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return failed(file, TrimOutcome::Unreadable, problem);
    const qint64 fileSize = file.size();
    std::map<quint32, Track> tracks;
    bool fragmented = false;
    qint64 wholeEnd = 0; // the end of the last whole box or fragment
    // A read that failed looks like the end of the file: nothing is cut then.
    const auto readFailed = [&file] { return file.error() != QFileDevice::NoError; };
    for (std::optional<Box> box = fileBoxAt(file, 0); box && box->end() <= fileSize;
         box = fileBoxAt(file, wholeEnd)) {
        if (box->type == "moov") {
            const QByteArray moov = readBox(file, *box);
            tracks = readTracks(moov, Box { 0, box->size, box->header, box->type });
        }
        if (box->type != "moof" || tracks.empty()) {
            wholeEnd = box->end();
            continue;
        }
        fragmented = true;
        const std::optional<Box> mdat = fileBoxAt(file, box->end());
        if (!mdat || mdat->type != "mdat")
            break;
        const Limits limits { mdat->at, std::min(mdat->end(), fileSize), seconds };
        const FragmentCut cut = cutFragment(readBox(file, *box), box->at, tracks, limits);
        if (readFailed())
            return failed(file, TrimOutcome::Unreadable, problem);
        if (!cut.keepsAny)
            break;
        // Every sample there, whole, and yet a data box said to run past the
        // end: its size is damaged, and the fragments after it are not cut
        // off for it.
        if (!cut.dropsAny && cut.keptEnd < fileSize && mdat->end() > fileSize)
            return TrimOutcome::NotFragmented;
        if (cut.dropsAny || mdat->end() > fileSize)
            return writeCut(file, cut, *mdat) ? TrimOutcome::Trimmed
                                              : failed(file, TrimOutcome::Unwritable, problem);
        wholeEnd = mdat->end();
    }
    if (readFailed())
        return failed(file, TrimOutcome::Unreadable, problem);
    if (!fragmented)
        return TrimOutcome::NotFragmented;
    if (wholeEnd == fileSize)
        return TrimOutcome::Untouched;
    return file.resize(wholeEnd) ? TrimOutcome::Trimmed
                                 : failed(file, TrimOutcome::Unwritable, problem);
}
