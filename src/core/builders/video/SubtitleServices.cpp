#include "builders/video/BuilderServices.h"

#include "model/DNFileNode.h"
#include "platform/DNLogger.h"
#include "platform/TemporaryFile.h"
#include "services/EngineStreamProbe.h"
#include "services/SubtitleCharset.h"
#include "services/SubtitleCharsetChoice.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <memory>

namespace {

void reportFailure(const char* message)
{
    DNLog(QString::fromLatin1(message));
    qWarning("%s", message);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size() && file.flush();
}

// Where the editor's subtitle position puts the lines. A burnt subtitle
// takes it as the style's alignment, which libass reads in the old SSA
// numbering whatever the file's kind (measured with ffmpeg 5.1: 2 bottom,
// 6 top, 10 middle; 8, the keypad's top, lands in the middle). A subtitle
// stream takes it as an override tag opening every cue, in the keypad
// numbering that players and libass read there. The bottom is everyone's
// default: it writes nothing, so a styled file keeps its own placement.
struct SubtitlePlacement {
    quint32 position;
    int styleAlignment;
    const char* cueTag;
};

constexpr SubtitlePlacement kPlacements[] = {
    { DNBaseEditSetting::kSubtitleTop, 6, "{\\an8}" },
    { DNBaseEditSetting::kSubtitleCentre, 10, "{\\an5}" },
};

const SubtitlePlacement* placementOf(quint32 position)
{
    for (const SubtitlePlacement& placement : kPlacements)
        if (placement.position == position)
            return &placement;
    return nullptr;
}

// How the log names the subtitle the user chose: `name` as the caller gives
// it, or the file at `path`; never the copy, which means nothing to the user.
QString subtitleName(const QString& path, const QString& name)
{
    return name.isEmpty() ? QStringLiteral("file \"%1\"").arg(path) : name;
}

// A subtitle on its way into an output: the file given, and the caller's
// name for it, empty for a file the user chose.
struct Subtitle {
    QString path;
    QString name;

    QString shown() const { return subtitleName(path, name); }
};

// Logs why `subtitle` cannot go into the output (`why` goes on from its
// name: "has no cue ..."). A file the user chose is noted for the driver
// too, which fails the run: an output without it is not the one asked for.
// A stream the caller took out of the source is the caller's to copy as it
// is, or leave out.
void leaveOut(const Subtitle& subtitle, const QString& why)
{
    const QString reason = QStringLiteral("The subtitle %1 %2.").arg(subtitle.shown(), why);
    DNLog(reason);
    if (subtitle.name.isEmpty())
        noteBuildSubtitleLeftOut(reason);
}

// Our UTF-8 copy of a file no larger than kMostSubtitleBytes: a byte of the
// user's file gives at most three of UTF-8. The limit applies to what the
// user gave, once; the copy is ours, and only bounded.
constexpr qint64 kMostCopyBytes = 3 * kMostSubtitleBytes;

// Whether the engine reads `copy`, the copy of `subtitle`, as subtitles and
// nothing else. An empty file fails to open, and random bytes can pass for
// an MP3 stream; either would fail the whole run as a second input or in the
// subtitle filter.
bool isReadableSubtitle(const QString& copy, const Subtitle& subtitle)
{
    const EngineStreamList list = probeEngineStreams(copy);
    const int subtitles = list.count(EngineStream::Type::Subtitle);
    if (list.ok && subtitles > 0 && static_cast<std::size_t>(subtitles) == list.streams.size())
        return true;
    leaveOut(subtitle,
        QStringLiteral("holds no subtitle the engine can read (%1)")
            .arg(list.ok ? QStringLiteral("no subtitle stream") : list.error));
    return false;
}

// Why the subtitle file at `path`, of which `copy` is the copy in UTF-8,
// holds nothing to show, when it does not: an empty file, or one of a
// byte-order mark (which the copy drops) or blank lines alone, gives the
// engine no cue. More blank lines than a few kilobytes the engine tells.
QString emptiness(const QString& path, const QString& copy)
{
    constexpr qint64 kMostBlank = 4096;
    QFile file(copy);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMostBlank
        || !file.read(kMostBlank).trimmed().isEmpty())
        return {};
    if (QFileInfo(path).size() == 0)
        return QStringLiteral("holds no subtitle: it is empty");
    return file.size() == 0 ? QStringLiteral("holds no subtitle: nothing but a byte-order mark")
                            : QStringLiteral("holds no subtitle: nothing but blank lines");
}

// ConvertSubtitleToUTF8 without its log: why it makes no copy goes into
// `why`, going on from the file's name.
std::optional<QString> convertedCopy(const QString& path, QString& charset, QString& why)
{
    QString failure;
    const std::optional<QByteArray> bytes = readSubtitleFile(path, failure);
    if (!bytes) {
        why = QStringLiteral("cannot be read (%1)").arg(failure);
        return std::nullopt;
    }
    // Every way into an output takes UTF-8: the subtitle filter fails the
    // run on other bytes, and a stream copy would carry them as they are.
    // Without a name, the set is told by the letters and the name's tag; a
    // file without letters to tell it by goes to the engine as it is.
    const SubtitleCharsetChoice told = charset.isEmpty()
        ? chooseSubtitleCharset(*bytes, subtitleFileLanguageTag(path))
        : SubtitleCharsetChoice { charset, {} };
    if (!told.doubt.isEmpty()) {
        why = QStringLiteral("cannot be used: %1").arg(told.doubt);
        return std::nullopt;
    }
    const QString& from = told.name;
    // The set was told from a part of a large file; the whole of it is read,
    // and checked, here.
    const std::optional<QByteArray> text
        = from.isEmpty() ? bytes : subtitleTextInSet(*bytes, from, failure);
    if (!text) {
        why = QStringLiteral("cannot be read as %1 text: %2").arg(from, failure);
        reportFailure("can not read srt subtitle file");
        return std::nullopt;
    }
    const QString copy = makeTemporaryFile(QStringLiteral("qzsub"), QFileInfo(path).suffix());
    if (copy.isEmpty() || !writeFile(copy, *text)) {
        why = QStringLiteral("cannot be copied into the temporary folder");
        if (!copy.isEmpty())
            QFile::remove(copy);
        reportFailure("convert srt file to utf-8 failed");
        return std::nullopt;
    }
    if (!from.isEmpty())
        charset = QStringLiteral("UTF-8");
    return copy;
}

// ConvertSubtitleToUTF8's copy of `subtitle`, when the engine reads it as
// subtitles. The engine probes the copy, never the file itself: a FIFO would
// block its probe and a huge file fill its memory, while the copy is a
// regular file no larger than kMostCopyBytes.
std::optional<QString> readableCopy(const Subtitle& subtitle, QString& charset)
{
    QString why;
    const std::optional<QString> copy = convertedCopy(subtitle.path, charset, why);
    if (!copy) {
        leaveOut(subtitle, why);
        return std::nullopt;
    }
    if (why = emptiness(subtitle.path, *copy); why.isEmpty() && isReadableSubtitle(*copy, subtitle))
        return copy;
    if (!why.isEmpty())
        leaveOut(subtitle, why);
    QFile::remove(*copy);
    return std::nullopt;
}

// A cue's times in milliseconds, from an SRT timing line.
struct CueTimes {
    qint64 start = 0;
    qint64 end = 0;
    QByteArray rest; // position hints after the end time
};

std::optional<CueTimes> cueTimesOf(const QByteArray& line)
{
    static const QRegularExpression timing(QStringLiteral(
        R"(^\s*(\d+):(\d\d):(\d\d)[,.](\d{3})\s*-->\s*(\d+):(\d\d):(\d\d)[,.](\d{3})(.*)$)"));
    const QRegularExpressionMatch match = timing.match(QString::fromLatin1(line));
    if (!match.hasMatch())
        return std::nullopt;
    const auto milliseconds = [&match](int first) {
        return ((match.captured(first).toLongLong() * 60 + match.captured(first + 1).toLongLong())
                       * 60
                   + match.captured(first + 2).toLongLong())
            * 1000
            + match.captured(first + 3).toLongLong();
    };
    return CueTimes { milliseconds(1), milliseconds(5), match.captured(9).toLatin1() };
}

QByteArray timingLine(const CueTimes& cue)
{
    const auto text = [](qint64 ms) {
        return QString::asprintf("%02lld:%02lld:%02lld,%03lld", ms / 3'600'000, ms / 60'000 % 60,
            ms / 1000 % 60, ms % 1000)
            .toLatin1();
    };
    return text(cue.start) + " --> " + text(cue.end) + cue.rest;
}

qint64 millisecondsOf(double seconds)
{
    return std::llround(seconds * 1000);
}

// What becomes of a cue on its way to the engine.
enum class CueFate {
    Dropped,
    Kept, // in the text, outside the trim: the engine's to drop
    Shown, // in the output
};

// How the cues of a subtitle copy change on their way to the engine.
struct CueChange {
    QByteArray tag; // opens every cue, when not empty
    // The engine cuts a trimmed output after reading its inputs, and drops
    // every subtitle packet that starts before the cut, even one still on
    // screen there. A cue overlapping the kept part is therefore narrowed to
    // it; the others are the engine's to drop.
    std::optional<Trim> trim;
    // Milliseconds of the source the engine skips before decoding: the cues
    // move back by them, and a cue over by then goes.
    qint64 seek = 0;
    // Where the picture ends, in milliseconds of the source; 0 when unknown.
    // A cue after it goes and one over it is cut, or the subtitle would make
    // the output longer than its picture.
    qint64 pictureEnd = 0;

    bool movesTimes() const { return trim || seek > 0 || pictureEnd > 0; }

    CueFate apply(CueTimes& cue) const
    {
        const bool inTrim = !trim || overlapsTrim(cue);
        if (inTrim && trim)
            narrowToTrim(cue);
        if (pictureEnd > 0) {
            if (cue.start >= pictureEnd)
                return CueFate::Dropped;
            cue.end = std::min(cue.end, pictureEnd);
        }
        if (cue.end <= seek)
            return CueFate::Dropped;
        cue.start = std::max<qint64>(0, cue.start - seek);
        cue.end -= seek;
        return inTrim ? CueFate::Shown : CueFate::Kept;
    }

private:
    qint64 trimFirst() const { return millisecondsOf(trim->start); }
    qint64 trimLast() const { return millisecondsOf(trim->start + trim->length); }
    bool overlapsTrim(const CueTimes& cue) const
    {
        return cue.end > trimFirst() && cue.start < trimLast();
    }
    void narrowToTrim(CueTimes& cue) const
    {
        cue.start = std::max(cue.start, trimFirst());
        cue.end = std::min(cue.end, trimLast());
    }
};

// A subtitle text after its cues changed, and how many of them show.
struct AdjustedText {
    QByteArray text;
    int shownCues = 0;
};

std::optional<CueTimes> cueTimesOfLine(const QByteArray& line)
{
    return cueTimesOf(line.endsWith('\r') ? line.chopped(1) : line);
}

bool isCueNumber(const QByteArray& line)
{
    bool number = false;
    line.trimmed().toULongLong(&number);
    return number;
}

// Whether a cue starts at lines[at]: its number, or its timing in a file
// that numbers none.
bool startsCue(const QList<QByteArray>& lines, qsizetype at)
{
    if (cueTimesOfLine(lines[at]))
        return true;
    return isCueNumber(lines[at]) && at + 1 < lines.size() && cueTimesOfLine(lines[at + 1]);
}

// The last line of the cue whose timing is at lines[at]: the end of its text,
// or its blank line; a file that leaves out blank lines ends it before the next.
qsizetype endOfCue(const QList<QByteArray>& lines, qsizetype at)
{
    while (at + 1 < lines.size() && !lines[at + 1].trimmed().isEmpty() && !startsCue(lines, at + 1))
        ++at;
    return at + 1 < lines.size() && lines[at + 1].trimmed().isEmpty() ? at + 1 : at;
}

// An SRT text with every cue changed as `change` says. A cue that goes takes
// its number, its text and its blank line along.
AdjustedText adjustedSrt(const QByteArray& srt, const CueChange& change)
{
    const QList<QByteArray> lines = srt.split('\n');
    QList<QByteArray> kept;
    int shown = 0;
    for (qsizetype at = 0; at < lines.size(); ++at) {
        const bool windowsLine = lines[at].endsWith('\r');
        std::optional<CueTimes> cue = cueTimesOfLine(lines[at]);
        if (!cue || at + 1 == lines.size()) {
            kept << lines[at];
            continue;
        }
        const CueFate fate = change.apply(*cue);
        if (fate == CueFate::Dropped) {
            if (!kept.isEmpty() && isCueNumber(kept.last()))
                kept.removeLast();
            at = endOfCue(lines, at);
            continue;
        }
        shown += fate == CueFate::Shown ? 1 : 0;
        kept << (change.movesTimes() ? timingLine(*cue) + (windowsLine ? "\r" : "") : lines[at]);
        if (!lines[at + 1].trimmed().isEmpty())
            kept << change.tag + lines[++at];
    }
    return { kept.join('\n'), shown };
}

// The events of an SSA/ASS text: each "Dialogue:" line holds its start and
// end among fields separated by commas, at the places its section's
// "Format:" line names, in hours, minutes, seconds and hundredths.
class AssEvents {
public:
    // Whether `line` (without its line end) is the events' format, which it reads.
    bool readFormat(const QByteArray& line)
    {
        if (!line.startsWith("Format:"))
            return false;
        const QList<QByteArray> names = line.mid(7).split(',');
        for (qsizetype at = 0; at < names.size(); ++at) {
            const QByteArray name = names[at].trimmed().toLower();
            if (name == "start")
                m_start = int(at);
            else if (name == "end")
                m_end = int(at);
        }
        return true;
    }

    // The dialogue `line` with its times changed as `change` says; none when it goes.
    std::optional<QByteArray> changed(
        const QByteArray& line, const CueChange& change, CueFate& fate) const
    {
        QList<QByteArray> fields = line.mid(9).split(',');
        // A dialogue whose times cannot be read stays as it is, and may show.
        fate = CueFate::Shown;
        const int last = std::max(m_start, m_end);
        if (fields.size() <= last)
            return line;
        const std::optional<qint64> start = timeOf(fields[m_start]);
        const std::optional<qint64> end = timeOf(fields[m_end]);
        if (!start || !end)
            return line;
        CueTimes cue { *start, *end, {} };
        fate = change.apply(cue);
        if (fate == CueFate::Dropped)
            return std::nullopt;
        fields[m_start] = timeText(cue.start);
        fields[m_end] = timeText(cue.end);
        return "Dialogue:" + fields.join(',');
    }

private:
    static std::optional<qint64> timeOf(const QByteArray& field)
    {
        static const QRegularExpression time(
            QStringLiteral(R"(^\s*(\d+):(\d\d):(\d\d)\.(\d\d)\s*$)"));
        const QRegularExpressionMatch match = time.match(QString::fromLatin1(field));
        if (!match.hasMatch())
            return std::nullopt;
        return ((match.captured(1).toLongLong() * 60 + match.captured(2).toLongLong()) * 60
                   + match.captured(3).toLongLong())
            * 1000
            + match.captured(4).toLongLong() * 10;
    }
    // Hundredths rounded up: a cue narrowed to a cut between two of them
    // then starts at the cut or after it, not before it, where the engine
    // would drop it.
    static QByteArray timeText(qint64 ms)
    {
        const qint64 hundredths = (ms + 9) / 10;
        return QString::asprintf("%lld:%02lld:%02lld.%02lld", hundredths / 360'000,
            hundredths / 6000 % 60, hundredths / 100 % 60, hundredths % 100)
            .toLatin1();
    }

    int m_start = 1;
    int m_end = 2;
};

// An SSA/ASS text with the times of its dialogue changed as `change` says; a
// dialogue that goes takes its line along. Styles and everything else stay.
AdjustedText adjustedAss(const QByteArray& ass, const CueChange& change)
{
    const QList<QByteArray> lines = ass.split('\n');
    QList<QByteArray> kept;
    AssEvents events;
    int shown = 0;
    for (const QByteArray& line : lines) {
        const bool windowsLine = line.endsWith('\r');
        const QByteArray bare = windowsLine ? line.chopped(1) : line;
        if (events.readFormat(bare) || !bare.startsWith("Dialogue:")) {
            kept << line;
            continue;
        }
        CueFate fate = CueFate::Shown;
        const std::optional<QByteArray> dialogue = events.changed(bare, change, fate);
        if (!dialogue)
            continue;
        shown += fate == CueFate::Shown ? 1 : 0;
        kept << *dialogue + (windowsLine ? "\r" : "");
    }
    return { kept.join('\n'), shown };
}

bool isAssFile(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("ass") || suffix == QLatin1String("ssa");
}

// What became of a copy whose cues were changed.
enum class CopyState { Ready, NoCue, Failed };

// Rewrites the text copy at `copy` (SRT, or SSA/ASS when `ass`) of
// `subtitle` as `change` says. The copy is removed, and the subtitle
// left out, when it cannot be rewritten or no cue of it shows: the engine
// cannot read a text without cues.
CopyState adjustCopy(
    const QString& copy, const CueChange& change, bool ass, const Subtitle& subtitle)
{
    QString failure;
    const std::optional<QByteArray> text = readSubtitleFile(copy, failure, kMostCopyBytes);
    if (!text) {
        leaveOut(subtitle,
            QStringLiteral("cannot be read back from its copy in UTF-8 (%1)").arg(failure));
        QFile::remove(copy);
        return CopyState::Failed;
    }
    const AdjustedText adjusted = ass ? adjustedAss(*text, change) : adjustedSrt(*text, change);
    if (adjusted.shownCues == 0) {
        leaveOut(
            subtitle, QStringLiteral("has no cue in the part of the source that is converted"));
        QFile::remove(copy);
        return CopyState::NoCue;
    }
    if (writeFile(copy, adjusted.text))
        return CopyState::Ready;
    leaveOut(subtitle, QStringLiteral("cannot have its position and times written into its copy"));
    QFile::remove(copy);
    return CopyState::Failed;
}

// Fits the cues of the copy of `subtitle` to `trim`, which the
// engine seeks to: they move back by its start. False, with the copy removed,
// when they cannot be moved (a copy that is no SRT: they would show at the
// wrong times) or none shows.
bool fittedToSeek(const QString& copy, const Trim& trim, const Subtitle& subtitle)
{
    CueChange change;
    change.trim = trim;
    change.seek = millisecondsOf(trim.start);
    if (IsSrtFile(copy))
        return adjustCopy(copy, change, false, subtitle) == CopyState::Ready;
    leaveOut(subtitle,
        QStringLiteral("cannot follow the seek to %1 s: only SRT cues are moved")
            .arg(TrimTimeText(trim.start)));
    QFile::remove(copy);
    return false;
}

} // namespace

bool IsSrtFile(const QString& path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("srt"), Qt::CaseInsensitive) == 0;
}

std::optional<QString> ConvertSubtitleToUTF8(const QString& path, QString& charset)
{
    QString why;
    const std::optional<QString> copy = convertedCopy(path, charset, why);
    if (!copy)
        DNLog(QStringLiteral("The subtitle file \"%1\" %2.").arg(path, why));
    return copy;
}

std::optional<QString> GenSubtitlesFilter(const QString& path, const QString& charset,
    quint32 position, const std::optional<Trim>& seekedTrim, const QString& name)
{
    const Subtitle subtitle { path, name };
    QString copyCharset = charset;
    const std::optional<QString> copy = readableCopy(subtitle, copyCharset);
    if (!copy)
        return std::nullopt;
    if (seekedTrim && !fittedToSeek(*copy, *seekedTrim, subtitle))
        return std::nullopt;
    QString filter = QStringLiteral("[VA]subtitles=filename=") + FilterGraphQuote(*copy);
    if (const SubtitlePlacement* placement = placementOf(position))
        filter += QStringLiteral(":force_style=")
            + FilterGraphQuote(QStringLiteral("Alignment=%1").arg(placement->styleAlignment));
    noteBuildSubtitle(subtitle.shown());
    return filter;
}

std::optional<QString> GenSubtitleStreamFile(const QString& path, QString& charset,
    quint32 position, const std::optional<Trim>& trim, double pictureSeconds, const QString& name)
{
    const Subtitle subtitle { path, name };
    const std::optional<QString> copy = readableCopy(subtitle, charset);
    const SubtitlePlacement* placement = placementOf(position);
    CueChange change;
    change.tag = placement ? QByteArray(placement->cueTag) : QByteArray();
    change.trim = trim;
    change.pictureEnd = std::isfinite(pictureSeconds) ? millisecondsOf(pictureSeconds) : 0;
    if (!copy)
        return std::nullopt;
    const bool ass = isAssFile(*copy);
    // A styled text keeps its own placement.
    if (ass)
        change.tag.clear();
    if ((change.tag.isEmpty() && !change.movesTimes()) || (!ass && !IsSrtFile(*copy))) {
        noteBuildSubtitle(subtitle.shown());
        return copy;
    }
    switch (adjustCopy(*copy, change, ass, subtitle)) {
    case CopyState::Ready:
        noteBuildSubtitle(subtitle.shown());
        return copy;
    case CopyState::NoCue:
        return QString();
    case CopyState::Failed:
        break;
    }
    return std::nullopt;
}

QString SubtitleStreamName(const DNFileNode& node)
{
    return QStringLiteral("stream %1 of \"%2\"")
        .arg(node.setting().subtitleIndex() + 1)
        .arg(node.path());
}

bool SubtitlePositionMovesCues(quint32 position)
{
    return placementOf(position) != nullptr;
}

QString FilterGraphQuote(const QString& value)
{
    // First the option value: inside single quotes nothing is special but the
    // quote itself, which is closed, escaped and reopened.
    QString inner = value;
    inner.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    const QString quoted = QLatin1Char('\'') + inner + QLatin1Char('\'');
    // Then the graph, which reads the filter's arguments once more and takes
    // these characters for its own.
    QString escaped;
    escaped.reserve(quoted.size() * 2);
    for (const QChar c : quoted) {
        if (QStringView(u"\\'[],;").contains(c))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return escaped;
}
