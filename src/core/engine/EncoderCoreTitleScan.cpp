// Where a trimmed DVD title is read from: its units and the runs of its
// clock, from mplayer's scan of the title's packets.
#include "engine/EncoderCore.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

// mplayer's ID_AUDIO_FORMAT of AC-3 and of MPEG audio.
constexpr const char* kAC3Format = "8192";
constexpr const char* kMpegAudioFormat = "80";
// A DVD's sound runs at 48 kHz: AC-3 frames of 1536 samples, MPEG audio
// (layer II) frames of 1152.
constexpr double kAC3FrameSeconds = 1536.0 / 48000;
constexpr double kMpegAudioFrameSeconds = 1152.0 / 48000;

// mplayer tells a disc's clock to the millisecond.
constexpr double kClockRounding = 0.001;
// A unit lasts a second at most: a clock that moves on by more between
// two units' first pictures, or goes back, restarted between them.
constexpr double kLongestUnitStep = 2.0;
// What is decoded and dropped before the trim's first picture: enough for
// the unit's own leading pictures, which refer to the unit before, and for
// the packets mplayer's format probe reads twice where it starts.
constexpr double kLeadIn = 1.0;
constexpr qint64 kSectorBytes = 2048;

} // namespace

bool EncoderCoreDumpsSound(const QString& soundFormat)
{
    return EncoderCoreSoundFrameSeconds(soundFormat) > 0;
}

double EncoderCoreSoundFrameSeconds(const QString& soundFormat)
{
    if (soundFormat == QLatin1String(kAC3Format))
        return kAC3FrameSeconds;
    if (soundFormat == QLatin1String(kMpegAudioFormat))
        return kMpegAudioFrameSeconds;
    return 0;
}

bool EncoderCoreTitleScan::readLine(const QString& line)
{
    static const QRegularExpression navigation(
        QStringLiteral(R"(Found NAVI packet! lba=0x([0-9A-Fa-f]+))"));
    static const QRegularExpression picture(QStringLiteral(
        R"(^DEMUX: Append packet to d_video, len=\d+\s+pts=(-?\d+\.\d+)\s+pos=(\d+))"));
    // The probe read the start before the title was rewound to it: its
    // unit begins again, with what was read of it forgotten.
    if (line.contains(QLatin1String("file format detected"))) {
        const qint64 sector = m_units.empty() ? 0 : m_units.back().sector;
        m_units.clear();
        m_units.push_back({ sector, -1, -1 });
        return true;
    }
    if (const QRegularExpressionMatch match = navigation.match(line); match.hasMatch()) {
        const qint64 sector = match.captured(1).toLongLong(nullptr, 16);
        if (m_units.empty() || m_units.back().sector != sector)
            m_units.push_back({ sector, -1, -1 });
        return true;
    }
    const QRegularExpressionMatch match = picture.match(line);
    if (!match.hasMatch())
        return false;
    if (m_units.empty())
        return true;
    EncoderCoreTitleUnit& unit = m_units.back();
    const qint64 position = match.captured(2).toLongLong();
    if (unit.firstPacket < 0 || position < unit.firstPacket)
        unit.firstPacket = position;
    // A packet without a time (-9223372036854775808) holds the rest of a
    // picture.
    const double time = match.captured(1).toDouble();
    if (time >= 0 && (unit.firstPicture < 0 || time < unit.firstPicture))
        unit.firstPicture = time;
    return true;
}

qint64 EncoderCoreUnitByte(const std::vector<EncoderCoreTitleUnit>& units, std::size_t index)
{
    if (index >= units.size() || units[index].firstPacket < 0 || units.front().firstPacket < 0)
        return -1;
    const qint64 titleSector = units.front().firstPacket / kSectorBytes;
    return (units[index].firstPacket / kSectorBytes - titleSector) * kSectorBytes;
}

bool EncoderCoreClockRestarts(double previousUnit, double nextUnit)
{
    return nextUnit < previousUnit - kClockRounding / 2
        || nextUnit > previousUnit + kLongestUnitStep;
}

std::vector<EncoderCoreClockRun> EncoderCoreClockRuns(
    const std::vector<EncoderCoreTitleUnit>& units)
{
    std::vector<EncoderCoreClockRun> runs;
    double previous = -1;
    for (std::size_t index = 0; index < units.size(); ++index) {
        const double time = units[index].firstPicture;
        if (runs.empty())
            runs.push_back({ index, index + 1, time });
        else if (time >= 0 && previous >= 0 && EncoderCoreClockRestarts(previous, time))
            runs.push_back({ index, index + 1, time });
        runs.back().endUnit = index + 1;
        if (runs.back().clockStart < 0)
            runs.back().clockStart = time;
        if (time >= 0)
            previous = time;
    }
    return runs;
}

bool EncoderCorePlaceTrim(const EncoderCoreTrimmedTitle& trim,
    const std::vector<EncoderCoreTitleUnit>& units, const std::vector<EncoderCoreClockRun>& runs,
    const std::vector<double>& runTitleTimes, EncoderCoreTitleStart& start)
{
    std::size_t run = runs.size();
    for (std::size_t index = 0; index < runs.size() && index < runTitleTimes.size(); ++index) {
        if (runTitleTimes[index] <= trim.start + kClockRounding && runs[index].clockStart >= 0)
            run = index;
    }
    if (run == runs.size())
        return false;
    const double target = runs[run].clockStart + trim.start - runTitleTimes[run];
    std::size_t from = runs[run].firstUnit;
    for (std::size_t index = from; index < runs[run].endUnit; ++index) {
        const double time = units[index].firstPicture;
        if (time >= 0 && time <= target - kLeadIn)
            from = index;
    }
    start.picture = runs[run].clockStart;
    start.pictureTitleTime = runTitleTimes[run];
    start.readFrom = 0;
    if (from == 0)
        return true;
    // mplayer finds a place by its byte alone: the first unit there, so
    // one the title reads twice (cells that share sectors) is out of reach.
    const qint64 position = units[from].firstPacket;
    const qint64 byte = EncoderCoreUnitByte(units, from);
    const bool reachable = byte > 0
        && std::all_of(units.begin(), units.begin() + qsizetype(from),
            [&](const EncoderCoreTitleUnit& unit) { return unit.firstPacket < position; });
    if (!reachable)
        return run == 0; // read from the title's start then, on the same clock
    start.readFrom = byte;
    return true;
}
