// The title reader: runs the reader tool on the disc and reads its answer.
// libdvdread can crash or loop on damaged tables, so it never runs in our
// process; a forked copy of this multi-threaded one could deadlock in the
// library's allocations and its dlopen of the decryption library, so the
// tool is a program of its own, started afresh.
#include "services/DVDTitleReader.h"

#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/ProcessRunner.h"
#include "platform/RunDeadline.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

const QString kReaderName = QStringLiteral("quillon-dvd-reader");
// 99 titles of 8 audio and 32 subpicture streams stay far below.
constexpr qsizetype kMostAnswerLines = 10000;
constexpr int kMostLoggedNotes = 50;
constexpr int kMostTitles = 99;

QString damaged(const QString& path)
{
    return QStringLiteral("%1 cannot be read: the DVD's title tables are damaged").arg(path);
}

QString refusalText(const QString& line, const QString& path)
{
    const QString kind = line.section(QLatin1Char(' '), 1, 1);
    if (kind == QLatin1String("missing"))
        return QStringLiteral("No DVD source at %1").arg(path);
    if (kind == QLatin1String("open"))
        return QStringLiteral("Can not open %1 as a DVD").arg(path);
    if (kind == QLatin1String("tables"))
        return QStringLiteral(
            "%1 is not a DVD: VIDEO_TS.IFO and VIDEO_TS.BUP are missing or unreadable")
            .arg(path);
    if (kind == QLatin1String("titles"))
        return QStringLiteral("%1 holds no readable DVD title").arg(path);
    if (kind == QLatin1String("irregular"))
        return QStringLiteral("%1 is not a DVD: %2 is not a regular file")
            .arg(path, line.section(QLatin1Char(' '), 2));
    if (kind == QLatin1String("kind"))
        return QStringLiteral("%1 is not a DVD: it is no folder, disc image or drive").arg(path);
    return damaged(path);
}

// `count` words from the second on as numbers, each from `least` to `most`;
// nothing when one is not.
std::optional<std::vector<int>> numbers(
    const QStringList& words, qsizetype count, int least, int most)
{
    if (words.size() < count + 1)
        return std::nullopt;
    std::vector<int> values;
    for (qsizetype at = 1; at <= count; ++at) {
        bool ok = false;
        const int value = words[at].toInt(&ok);
        if (!ok || value < least || value > most)
            return std::nullopt;
        values.push_back(value);
    }
    return values;
}

QString languageCode(const QString& word)
{
    return word == QLatin1String("-") ? QString() : word.toLower();
}

// The length the playback time gives: its frames past the whole seconds
// count at the time code's rate. A count of a second or more is no frame
// count: the whole seconds stand alone.
double exactLength(int seconds, int frames, double fps)
{
    const int perSecond = int(std::lround(fps));
    return frames < perSecond ? seconds + double(frames) / perSecond : seconds;
}

// "title NUMBER SECONDS RATE_NUM RATE_DEN WIDTH HEIGHT ASPECT_W ASPECT_H SECTORS FRAMES"
std::optional<DVDTitleFacts> titleFrom(const QStringList& words)
{
    const auto values = numbers(words, 8, 0, 1 << 20);
    const auto sectors = numbers(words.mid(8), 1, 0, kMostDVDTitleSectors);
    const auto frames = numbers(words.mid(9), 1, 0, 99); // the last word
    if (words.size() != 11 || !values || !sectors || !frames)
        return std::nullopt;
    const std::vector<int>& v = *values;
    // Of the numbers only the length may be 0.
    if (v[0] > kMostTitles || std::find(v.begin() + 2, v.end(), 0) != v.end() || v[0] == 0)
        return std::nullopt;
    DVDTitleFacts title;
    title.titleNumber = v[0];
    title.length = v[1];
    title.fps = double(v[2]) / v[3];
    title.exactLength = exactLength(v[1], frames->front(), title.fps);
    title.sectors = sectors->front();
    title.video.videoResolution = QSizeF(v[4], v[5]);
    title.video.videoAspect = QSizeF(v[6], v[7]);
    return title;
}

// "audio STREAM ENGINE_ID CHANNELS LANGUAGE"
bool addAudio(DVDTitleFacts& title, const QStringList& words)
{
    const auto values = numbers(words, 3, 0, 255);
    if (words.size() != 5 || !values || (*values)[0] > 7)
        return false;
    DNDVDTAudio track;
    track.audioID = (*values)[0];
    track.index = (*values)[1];
    track.channel = (*values)[2];
    track.position = static_cast<qint32>(title.audioTracks.size());
    track.languageCode = languageCode(words[4]);
    track.audioLang = DNDVDLanguageName(track.languageCode);
    title.audioTracks.push_back(track);
    return true;
}

// "subtitle STREAM LANGUAGE"
bool addSubtitle(DVDTitleFacts& title, const QStringList& words)
{
    const auto values = numbers(words, 1, 0, 31);
    if (words.size() != 3 || !values)
        return false;
    DNDVDTSubtitle track;
    track.index = (*values)[0];
    track.languageCode = languageCode(words[2]);
    const QString name = DNDVDLanguageName(track.languageCode);
    track.subtitleName = name.isEmpty() ? QStringLiteral("??") : name;
    title.subtitleTracks.push_back(track);
    return true;
}

// One line of the answer into `disc`; false when it does not read.
bool readLine(DVDDiscFacts& disc, const QString& line)
{
    const QStringList words = line.split(QLatin1Char(' '));
    const QString& kind = words.first();
    if (kind == QLatin1String("volume")) {
        disc.volumeName = line.section(QLatin1Char(' '), 1).trimmed();
        return true;
    }
    if (kind == QLatin1String("title")) {
        std::optional<DVDTitleFacts> title = titleFrom(words);
        if (title)
            disc.titles.push_back(std::move(*title));
        return title.has_value();
    }
    if (disc.titles.empty())
        return false;
    if (kind == QLatin1String("audio"))
        return addAudio(disc.titles.back(), words);
    if (kind == QLatin1String("subtitle"))
        return addSubtitle(disc.titles.back(), words);
    return false;
}

std::optional<DVDDiscFacts> refuse(QString& failure, const QString& reason)
{
    failure = reason;
    DNLog(reason);
    return std::nullopt;
}

struct ReaderRun {
    QStringList answer;
    bool overflowed = false;
    ProcessRunner::Result result;
};

// The reader's answer; its notes (titles left out, the library's own words)
// go to the log, a few dozen at most.
ReaderRun runReader(const QString& path, std::chrono::milliseconds timeLimit)
{
    ReaderRun run;
    ProcessRunner runner;
    runner.setGentleStop({ 0, {} }, std::chrono::milliseconds(0));
    int notes = 0;
    const auto log = [&notes](const QString& line) {
        if (notes++ < kMostLoggedNotes)
            DNLog(line);
    };
    runner.setStdoutHandler([&](const QString& line) {
        if (line.startsWith(QLatin1String("note ")))
            return log(line.mid(5));
        if (run.answer.size() < kMostAnswerLines)
            return run.answer.append(line);
        if (!run.overflowed)
            runner.stop();
        run.overflowed = true;
    });
    runner.setStderrHandler(
        [&](const QString& line) { log(QStringLiteral("DVD reader: ") + line); });
    const RunDeadline deadline(timeLimit, [&runner] { runner.stop(); });
    run.result = runner.run(AppPaths::toolsFolder() + QLatin1Char('/') + kReaderName, { path });
    return run;
}

QString whyNoAnswer(const ReaderRun& run, std::chrono::milliseconds timeLimit)
{
    if (run.overflowed)
        return QStringLiteral("it answered more than %1 lines").arg(kMostAnswerLines);
    if (run.result.stopped)
        return QStringLiteral("it took longer than %1 ms").arg(timeLimit.count());
    if (run.result.signal != 0)
        return QStringLiteral("it crashed with signal %1").arg(run.result.signal);
    return QStringLiteral("it ended with status %1").arg(run.result.exitCode);
}

} // namespace

std::optional<DVDDiscFacts> DVDTitlesFromAnswer(
    const QStringList& lines, const QString& path, QString& failure)
{
    DVDDiscFacts disc;
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("refused "))) {
            failure = refusalText(line, path);
            return std::nullopt;
        }
        if (!readLine(disc, line) || disc.titles.size() > kMostTitles) {
            failure = damaged(path);
            return std::nullopt;
        }
    }
    if (disc.titles.empty()) {
        failure = damaged(path);
        return std::nullopt;
    }
    return disc;
}

std::optional<DVDDiscFacts> readDVDTitles(
    const QString& path, QString& failure, std::chrono::milliseconds timeLimit)
{
    if (!QFileInfo::exists(path))
        return refuse(failure, QStringLiteral("No DVD source at %1").arg(path));
    const ReaderRun run = runReader(path, timeLimit);
    if (!run.result.started)
        return refuse(failure,
            QStringLiteral("Can not read %1: the DVD reader cannot start: %2")
                .arg(path, run.result.error));
    const bool answered = !run.overflowed && !run.result.stopped && run.result.signal == 0
        && (run.result.exitCode == 0 || run.result.exitCode == 1);
    if (!answered) {
        DNLog(QStringLiteral("DVD reader gave no answer on %1: %2")
                  .arg(path, whyNoAnswer(run, timeLimit)));
        return refuse(failure, damaged(path));
    }
    QString reason;
    std::optional<DVDDiscFacts> disc = DVDTitlesFromAnswer(run.answer, path, reason);
    if (!disc || run.result.exitCode != 0)
        return refuse(failure, disc ? damaged(path) : reason);
    return disc;
}
