#include "builders/video/BuilderServices.h"

#include "engine/EncodeConfig.h"
#include "model/DNFileNode.h"
#include "model/DNMediaPredicates.h"
#include "platform/DNLogger.h"
#include "services/DNHelpers.h"

#include <QDir>

#include <algorithm>
#include <cmath>

namespace {

const QLatin1Char kReplacement('_');

// The last extension of a file name; a leading point marks a hidden file.
qsizetype extensionDot(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? dot : -1;
}

QString chosenExtension(const QString& own, const QString& suffix)
{
    const QString ownLower = own.toLower();
    const QString suffixLower = suffix.toLower();
    if (ownLower == suffixLower)
        return own;
    // The two names of one container: the user's choice stands.
    if ((ownLower == QLatin1String("mp4") && suffixLower == QLatin1String("m4v"))
        || (ownLower == QLatin1String("m4v") && suffixLower == QLatin1String("mp4")))
        return own;
    return suffix;
}

QString formatMark(bool bracketed, const char* kind, qint32 id, qint32 index, bool byId)
{
    const QString mark = byId ? QStringLiteral("0:#%1").arg(id)
                              : QStringLiteral("0:%1:%2").arg(QLatin1String(kind)).arg(index);
    return bracketed ? QLatin1Char('[') + mark + QLatin1Char(']') : mark;
}

bool useIds(const DNFileNode& node, const EncodeConfig& config, qint32 id)
{
    return id >= 0 && !config.safeMode && DNCanMapStreamsByID(&node);
}

// Index within [0, count), else a log line naming what was asked for.
bool indexInRange(qint32 index, std::size_t count, const char* what)
{
    if (index >= 0 && static_cast<std::size_t>(index) < count)
        return true;
    DNLog(QStringLiteral("No %1 track at index %2 (the file has %3), cannot select it.")
              .arg(QLatin1String(what))
              .arg(index)
              .arg(count));
    return false;
}

} // namespace

QString ReplaceQuotesInName(const std::optional<QString>& name)
{
    if (!name) {
        DNLog(QStringLiteral("No output name given, cannot make an output file name."));
        return {};
    }
    QString cleaned = *name;
    cleaned.replace(QLatin1Char('\''), kReplacement);
    cleaned.replace(QLatin1Char('"'), kReplacement);
    return cleaned;
}

QString MakeOutputPath(
    const QString& folder, const std::optional<QString>& outputName, const QString& suffix)
{
    if (!outputName) {
        DNLog(QStringLiteral("No output name given, cannot make an output path."));
        return {};
    }
    const QString where = folder.isEmpty() ? QDir::homePath() : folder;
    return DNUniqueFilePath(where, OutputFileName(*outputName, suffix), 0);
}

QString OutputFileName(const QString& outputName, const QString& suffix, const QString& middle)
{
    // A slash would put the output in another folder ("../x" or "a/b").
    QString name = ReplaceQuotesInName(outputName);
    name.replace(QLatin1Char('/'), kReplacement);
    const qsizetype dot = extensionDot(name);
    QString base = dot < 0 ? name : name.left(dot);
    const QString own = dot < 0 ? QString() : name.mid(dot + 1);
    if (base.isEmpty())
        base = QStringLiteral("Untitled");
    const QString extension = dot < 0 ? suffix : chosenExtension(own, suffix);
    return base + middle + QLatin1Char('.') + extension;
}

std::optional<QString> GenVideoStreamMark(
    const DNFileNode& node, bool bracketed, const EncodeConfig& config)
{
    const qint32 index = node.setting().videoIndex();
    if (!indexInRange(index, node.videoTracks().size(), "video"))
        return std::nullopt;
    const qint32 id = node.videoTracks()[static_cast<std::size_t>(index)].vid;
    return formatMark(bracketed, "v", id, index, useIds(node, config, id));
}

std::optional<QString> GenAudioStreamMark(
    const DNFileNode& node, bool bracketed, const EncodeConfig& config)
{
    const qint32 index = node.setting().audioIndex();
    if (!indexInRange(index, node.audioTracks().size(), "audio"))
        return std::nullopt;
    const qint32 id = DNAudioFields(node.audioTracks()[static_cast<std::size_t>(index)]).aid;
    return formatMark(bracketed, "a", id, index, useIds(node, config, id));
}

std::optional<QString> GenSubtitleStreamMark(
    const DNFileNode& node, bool bracketed, const EncodeConfig& config)
{
    const qint32 index = node.setting().subtitleIndex();
    if (!indexInRange(index, node.subtitleTracks().size(), "subtitle"))
        return std::nullopt;
    const qint32 id = DNSubtitleFields(node.subtitleTracks()[static_cast<std::size_t>(index)]).sid;
    return formatMark(bracketed, "s", id, index, useIds(node, config, id));
}

std::optional<QString> GenVolumeFilter(const DNFileNode& node, const EncodeConfig& /*config*/)
{
    const quint32 percent = node.setting().volume();
    if (percent == 100)
        return std::nullopt;
    // Whole percents give exactly two decimals; writing them from integers
    // keeps the point a point whatever the user's locale.
    const quint64 hundredths = percent;
    return QStringLiteral("volume=%1.%2[audio]")
        .arg(hundredths / 100)
        .arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

namespace {

// A second in the milliseconds the engines are given: one set as fractions
// of the duration comes back a hair short of 1.0.
constexpr double kShortestTrim = 0.9995;

// What a trim of `setting` asks of a source lasting `duration` seconds:
// nothing when trimming is off or the duration unknown, else the part kept,
// perhaps too short or outside the source.
std::optional<Trim> askedTrim(const DNBaseEditSetting& setting, float duration)
{
    if (!setting.trimEnable() || !(duration > 0.0f) || !std::isfinite(duration))
        return std::nullopt;
    const double start = double(duration) * double(setting.trimStartPercent());
    const double length
        = (double(setting.trimEndPercent()) - double(setting.trimStartPercent())) * duration;
    return Trim { start, length };
}

bool keepsPart(const Trim& trim, float duration)
{
    return trim.length >= kShortestTrim && trim.start >= 0.0 && trim.start < duration;
}

// A source under a second, trimmed from its start to its end, is kept whole.
bool keepsWhole(const DNBaseEditSetting& setting)
{
    return setting.trimStartPercent() <= 0.0f && setting.trimEndPercent() >= 1.0f;
}

} // namespace

std::optional<Trim> TrimOfSetting(const DNBaseEditSetting& setting, float duration)
{
    const std::optional<Trim> trim = askedTrim(setting, duration);
    return trim && keepsPart(*trim, duration) ? trim : std::nullopt;
}

QString TrimRefusal(const DNBaseEditSetting& setting, float duration)
{
    const std::optional<Trim> trim = askedTrim(setting, duration);
    if (!trim || keepsPart(*trim, duration) || keepsWhole(setting))
        return {};
    if (!std::isfinite(trim->start) || !std::isfinite(trim->length))
        return QStringLiteral("the trim's bounds (%1 and %2 of the source) are no times")
            .arg(double(setting.trimStartPercent()))
            .arg(double(setting.trimEndPercent()));
    const QString lasts = TrimTimeText(duration);
    if (trim->start < 0.0 || trim->start >= duration)
        return QStringLiteral("the trim starts at %1 s, outside the %2 s the source lasts")
            .arg(TrimTimeText(trim->start), lasts);
    return QStringLiteral("the trim from %1 s to %2 s keeps %3 s of the %4 s source; a trim "
                          "keeps at least a second")
        .arg(TrimTimeText(trim->start), TrimTimeText(trim->start + trim->length),
            TrimTimeText(std::max(trim->length, 0.0)), lasts);
}

Trim TrimFromFileStart(const Trim& trim, const DNTVideo& track)
{
    // Whole milliseconds down, as the engine is given them: rounded up, a
    // picture right at the trim's start would fall before it.
    const double delay
        = std::floor(std::max(0.0, track.firstPictureTime - track.fileStartTime) * 1000) / 1000;
    return { trim.start + delay, trim.length };
}

QString TrimTimeText(double seconds)
{
    // Whole milliseconds, written from integers so that the point is a point.
    const qint64 milliseconds = std::llround(seconds * 1000);
    QString text = QString::number(milliseconds / 1000);
    if (const qint64 rest = milliseconds % 1000; rest != 0) {
        text += QStringLiteral(".%1").arg(rest, 3, 10, QLatin1Char('0'));
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
    }
    return text;
}
