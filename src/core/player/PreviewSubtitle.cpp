#include "player/PreviewSubtitle.h"

#include "services/SubtitleCharset.h"
#include "services/SubtitleCharsetChoice.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

qint64 millisecondsOf(const QRegularExpressionMatch& match, int first, int fractionDigits)
{
    const qint64 fraction = match.captured(first + 3).toLongLong();
    return ((match.captured(first).toLongLong() * 60 + match.captured(first + 1).toLongLong()) * 60
               + match.captured(first + 2).toLongLong())
        * 1000
        + (fractionDigits == 3 ? fraction : fraction * 10);
}

// The place a "{\anN}" override asks for: the keypad's rows.
std::optional<PreviewSubtitle::Place> placeOf(const QString& text)
{
    static const QRegularExpression alignment(QStringLiteral(R"(\{[^}]*\\an([1-9])[^}]*\})"));
    const QRegularExpressionMatch match = alignment.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int key = match.captured(1).toInt();
    return key >= 7 ? PreviewSubtitle::Place::Top
        : key >= 4  ? PreviewSubtitle::Place::Middle
                    : PreviewSubtitle::Place::Bottom;
}

// A cue's text as it is read: without override blocks and markup, with
// SSA's line breaks and hard spaces.
QString plainText(QString text)
{
    static const QRegularExpression overrides(QStringLiteral(R"(\{[^}]*\})"));
    static const QRegularExpression markup(QStringLiteral(R"(</?[a-zA-Z][^>]*>)"));
    text.remove(overrides);
    text.remove(markup);
    text.replace(QLatin1String("\\N"), QLatin1String("\n"), Qt::CaseInsensitive);
    text.replace(QLatin1String("\\h"), QLatin1String(" "));
    return text.trimmed();
}

PreviewSubtitle::Cue cueOf(qint64 start, qint64 end, const QString& text)
{
    return { start, end, plainText(text), placeOf(text) };
}

std::vector<PreviewSubtitle::Cue> srtCues(const QStringList& lines)
{
    static const QRegularExpression timing(QStringLiteral(
        R"(^\s*(\d+):(\d\d):(\d\d)[,.](\d{3})\s*-->\s*(\d+):(\d\d):(\d\d)[,.](\d{3}))"));
    std::vector<PreviewSubtitle::Cue> cues;
    for (qsizetype at = 0; at < lines.size(); ++at) {
        const QRegularExpressionMatch match = timing.match(lines[at]);
        if (!match.hasMatch())
            continue;
        QStringList text;
        while (at + 1 < lines.size() && !lines[at + 1].trimmed().isEmpty()
            && !timing.match(lines[at + 1]).hasMatch())
            text << lines[++at];
        cues.push_back(
            cueOf(millisecondsOf(match, 1, 3), millisecondsOf(match, 5, 3), text.join('\n')));
    }
    return cues;
}

// The events of an SSA/ASS text: each "Dialogue:" line holds its start, end
// and text among fields apart by commas, at the places the events' "Format:"
// line names; the text is the last and may hold commas itself.
std::vector<PreviewSubtitle::Cue> assCues(const QStringList& lines)
{
    static const QRegularExpression time(QStringLiteral(R"(^\s*(\d+):(\d\d):(\d\d)\.(\d\d)\s*$)"));
    qsizetype start = 1, end = 2, count = 10;
    bool events = false;
    std::vector<PreviewSubtitle::Cue> cues;
    for (const QString& line : lines) {
        if (line.startsWith('['))
            events = line.trimmed().compare(QLatin1String("[Events]"), Qt::CaseInsensitive) == 0;
        if (events && line.startsWith(QLatin1String("Format:"))) {
            const QStringList names = line.mid(7).split(',');
            count = names.size();
            for (qsizetype at = 0; at < names.size(); ++at) {
                const QString name = names[at].trimmed().toLower();
                start = name == QLatin1String("start") ? at : start;
                end = name == QLatin1String("end") ? at : end;
            }
            continue;
        }
        if (!line.startsWith(QLatin1String("Dialogue:")))
            continue;
        const QStringList fields = line.mid(9).split(',');
        if (fields.size() < count)
            continue;
        const QRegularExpressionMatch first = time.match(fields[start]);
        const QRegularExpressionMatch last = time.match(fields[end]);
        if (first.hasMatch() && last.hasMatch())
            cues.push_back(cueOf(millisecondsOf(first, 1, 2), millisecondsOf(last, 1, 2),
                fields.mid(count - 1).join(',')));
    }
    return cues;
}

} // namespace

PreviewSubtitle PreviewSubtitle::fromText(const QString& text, bool ass)
{
    QStringList lines = text.split('\n');
    for (QString& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    PreviewSubtitle subtitle;
    subtitle.m_cues = ass ? assCues(lines) : srtCues(lines);
    std::stable_sort(subtitle.m_cues.begin(), subtitle.m_cues.end(),
        [](const Cue& one, const Cue& other) { return one.start < other.start; });
    qint64 latest = 0;
    for (const Cue& cue : subtitle.m_cues)
        subtitle.m_lastEnds.push_back(latest = std::max(latest, cue.end));
    return subtitle;
}

std::optional<PreviewSubtitle> PreviewSubtitle::read(
    const QString& path, const QString& language, QString& failure)
{
    const std::optional<QByteArray> bytes = readSubtitleFile(path, failure);
    if (!bytes)
        return std::nullopt;
    const SubtitleCharsetChoice set
        = chooseSubtitleCharset(*bytes, subtitleTextLanguage(path, language));
    failure = set.doubt;
    if (!failure.isEmpty())
        return std::nullopt;
    const std::optional<QByteArray> text
        = set.name.isEmpty() ? bytes : subtitleTextInSet(*bytes, set.name, failure);
    if (!text)
        return std::nullopt;
    const QString suffix = QFileInfo(path).suffix().toLower();
    return fromText(
        QString::fromUtf8(*text), suffix == QLatin1String("ass") || suffix == QLatin1String("ssa"));
}

PreviewSubtitle::Lines PreviewSubtitle::textAt(double seconds, std::optional<Place> every) const
{
    const auto now = static_cast<qint64>(std::llround(seconds * 1000));
    // The cues started by now; those that may still show lie after the
    // last one that every earlier cue had ended by.
    auto at = std::upper_bound(m_cues.begin(), m_cues.end(), now,
        [](qint64 time, const Cue& cue) { return time < cue.start; });
    std::array<QStringList, 3> shown;
    while (at != m_cues.begin()) {
        --at;
        if (m_lastEnds[std::size_t(at - m_cues.begin())] <= now)
            break;
        if (at->end > now && !at->text.isEmpty())
            shown[std::size_t(every.value_or(at->place.value_or(Place::Bottom)))].prepend(at->text);
    }
    Lines lines;
    for (std::size_t place = 0; place < lines.size(); ++place)
        lines[place] = shown[place].join('\n');
    return lines;
}
