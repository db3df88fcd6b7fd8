// The title reader over libdvdread. It is opened with a logger of ours: the
// plain opener prints its notes (the missing-decryption banner among them)
// on the standard output, which is not ours to write to.
#include "services/DVDTitleReader.h"

#include "services/DNLogger.h"

#include <QFile>
#include <QFileInfo>

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

namespace {

void logReaderLine(void*, dvd_logger_level_t level, const char* format, va_list arguments)
{
    if (level == DVD_LOGGER_LEVEL_DEBUG)
        return;
    char line[1024];
    std::vsnprintf(line, sizeof line, format, arguments);
    // One line each: the decryption banner's box of stars says nothing more
    // than its first line.
    const QString message = QString::fromLocal8Bit(line).trimmed();
    DNLog(QStringLiteral("DVD reader: %1").arg(message.section(QLatin1Char('\n'), 0, 0)));
}

const dvd_logger_cb kReaderLogger { &logReaderLine };

struct ReaderCloser {
    void operator()(dvd_reader_t* reader) const { DVDClose(reader); }
};
struct IfoCloser {
    void operator()(ifo_handle_t* ifo) const { ifoClose(ifo); }
};
using Reader = std::unique_ptr<dvd_reader_t, ReaderCloser>;
using Ifo = std::unique_ptr<ifo_handle_t, IfoCloser>;

// Audio formats as the title-set attributes give them.
constexpr unsigned kAudioAC3 = 0, kAudioMPEG1 = 2, kAudioMPEG2 = 3, kAudioLPCM = 4, kAudioDTS = 6;
// The engines' stream ids: the disc's private-stream sub-ids.
constexpr qint32 kAC3Base = 128, kDTSBase = 136, kLPCMBase = 160;
constexpr double kNTSCRate = 30000.0 / 1001.0;

int fromBCD(uint8_t value)
{
    return (value >> 4) * 10 + (value & 0x0f);
}

QString languageCode(uint16_t code)
{
    if (code == 0 || code == 0xffff)
        return {};
    const char letters[] = { static_cast<char>(code >> 8), static_cast<char>(code & 0xff) };
    return QString::fromLatin1(letters, 2).trimmed().toLower();
}

// The engine's id for audio stream `stream` of a format; -1 for a format the
// engines do not take from a disc.
qint32 engineAudioID(unsigned format, qint32 stream)
{
    switch (format) {
    case kAudioAC3:
        return kAC3Base + stream;
    case kAudioDTS:
        return kDTSBase + stream;
    case kAudioLPCM:
        return kLPCMBase + stream;
    case kAudioMPEG1:
    case kAudioMPEG2:
        return stream;
    default:
        return -1;
    }
}

std::vector<DNDVDTAudio> audioTracks(const vtsi_mat_t& titleSet, const pgc_t& chain)
{
    std::vector<DNDVDTAudio> tracks;
    const int count = std::min<int>(titleSet.nr_of_vts_audio_streams, 8);
    for (int slot = 0; slot < count; ++slot) {
        const uint16_t control = chain.audio_control[slot];
        if ((control & 0x8000) == 0)
            continue; // the slot has no stream in this title
        const audio_attr_t& attributes = titleSet.vts_audio_attr[slot];
        DNDVDTAudio track;
        track.audioID = (control >> 8) & 0x07;
        track.index = engineAudioID(attributes.audio_format, track.audioID);
        if (track.index < 0)
            continue;
        track.position = static_cast<qint32>(tracks.size());
        track.channel = attributes.channels + 1;
        if (attributes.lang_type == 1)
            track.languageCode = languageCode(attributes.lang_code);
        track.audioLang = DNDVDLanguageName(track.languageCode);
        tracks.push_back(track);
    }
    return tracks;
}

std::vector<DNDVDTSubtitle> subtitleTracks(const vtsi_mat_t& titleSet, const pgc_t& chain)
{
    std::vector<DNDVDTSubtitle> tracks;
    const int count = std::min<int>(titleSet.nr_of_vts_subp_streams, 32);
    const bool wide = titleSet.vts_video_attr.display_aspect_ratio == 3;
    for (int slot = 0; slot < count; ++slot) {
        const uint32_t control = chain.subp_control[slot];
        if ((control & 0x80000000u) == 0)
            continue; // numbers of absent streams are skipped, not reused
        DNDVDTSubtitle track;
        // The stream for a 4:3 picture, or for a wide one its letterbox
        // stream: the numbering the player and the encoder use for "-sid".
        track.index = static_cast<qint32>(wide ? (control >> 8) & 0x1f : (control >> 24) & 0x1f);
        track.languageCode = languageCode(titleSet.vts_subp_attr[slot].lang_code);
        const QString name = DNDVDLanguageName(track.languageCode);
        track.subtitleName = name.isEmpty() ? QStringLiteral("??") : name;
        tracks.push_back(track);
    }
    return tracks;
}

DNDVDTVideo videoTrack(const video_attr_t& video)
{
    const bool pal = video.video_format == 1;
    const double fullHeight = pal ? 576 : 480;
    static constexpr double kWidths[] = { 720, 704, 352, 352 };
    DNDVDTVideo track;
    track.videoResolution = QSizeF(
        kWidths[video.picture_size & 3], video.picture_size == 3 ? fullHeight / 2 : fullHeight);
    track.videoAspect = video.display_aspect_ratio == 3 ? QSizeF(16, 9) : QSizeF(4, 3);
    return track;
}

double frameRate(const dvd_time_t& time, const video_attr_t& video)
{
    switch ((time.frame_u & 0xc0) >> 6) {
    case 1:
        return 25.0;
    case 3:
        return kNTSCRate;
    default:
        return video.video_format == 1 ? 25.0 : kNTSCRate;
    }
}

// The program chain the title starts with, or null when the tables do not
// lead to one.
const pgc_t* firstProgramChain(const ifo_handle_t& titleSet, int titleInSet)
{
    const vts_ptt_srpt_t* parts = titleSet.vts_ptt_srpt;
    const pgcit_t* chains = titleSet.vts_pgcit;
    if (!parts || !chains || titleInSet < 1 || titleInSet > parts->nr_of_srpts)
        return nullptr;
    const ttu_t& title = parts->title[titleInSet - 1];
    if (title.nr_of_ptts < 1)
        return nullptr;
    const int chain = title.ptt[0].pgcn;
    if (chain < 1 || chain > chains->nr_of_pgci_srp)
        return nullptr;
    return chains->pgci_srp[chain - 1].pgc;
}

DVDTitleFacts titleFacts(const ifo_handle_t& titleSet, const pgc_t& chain, qint32 number)
{
    const vtsi_mat_t& attributes = *titleSet.vtsi_mat;
    const dvd_time_t& time = chain.playback_time;
    DVDTitleFacts facts;
    facts.titleNumber = number;
    facts.length = fromBCD(time.hour) * 3600 + fromBCD(time.minute) * 60 + fromBCD(time.second);
    facts.fps = frameRate(time, attributes.vts_video_attr);
    facts.video = videoTrack(attributes.vts_video_attr);
    facts.audioTracks = audioTracks(attributes, chain);
    facts.subtitleTracks = subtitleTracks(attributes, chain);
    return facts;
}

// The title sets opened so far, each once, an unreadable one as null.
class TitleSets {
public:
    explicit TitleSets(dvd_reader_t* reader)
        : m_reader(reader)
    { }

    const ifo_handle_t* open(int number)
    {
        auto found = m_sets.find(number);
        if (found == m_sets.end()) {
            Ifo ifo(ifoOpen(m_reader, number));
            if (ifo && !ifo->vtsi_mat)
                ifo.reset();
            found = m_sets.emplace(number, std::move(ifo)).first;
        }
        return found->second.get();
    }

private:
    dvd_reader_t* m_reader;
    std::map<int, Ifo> m_sets;
};

QString volumeName(dvd_reader_t* reader)
{
    char name[33] = {};
    if (DVDUDFVolumeInfo(reader, name, sizeof name, nullptr, 0) != 0)
        return {};
    return QString::fromLatin1(name).trimmed();
}

std::vector<DVDTitleFacts> readTitles(dvd_reader_t* reader, const tt_srpt_t& table)
{
    TitleSets titleSets(reader);
    std::vector<DVDTitleFacts> titles;
    for (int index = 0; index < table.nr_of_srpts; ++index) {
        const title_info_t& info = table.title[index];
        const qint32 number = index + 1;
        const ifo_handle_t* titleSet = titleSets.open(info.title_set_nr);
        if (!titleSet) {
            DNLog(QStringLiteral(
                "DVD title %1 left out: VTS_%2_0.IFO and VTS_%2_0.BUP cannot be read")
                      .arg(number)
                      .arg(info.title_set_nr, 2, 10, QLatin1Char('0')));
            continue;
        }
        const pgc_t* chain = firstProgramChain(*titleSet, info.vts_ttn);
        if (!chain) {
            DNLog(
                QStringLiteral("DVD title %1 left out: its title set names no program chain for it")
                    .arg(number));
            continue;
        }
        titles.push_back(titleFacts(*titleSet, *chain, number));
    }
    return titles;
}

std::optional<DVDDiscFacts> refuse(QString& failure, const QString& reason)
{
    failure = reason;
    DNLog(reason);
    return std::nullopt;
}

} // namespace

std::optional<DVDDiscFacts> readDVDTitles(const QString& path, QString& failure)
{
    if (!QFileInfo::exists(path))
        return refuse(failure, QStringLiteral("No DVD source at %1").arg(path));
    // Every open sets up the library's input layer in globals of its own;
    // reading a disc's tables takes milliseconds, so loaders take turns.
    static std::mutex turns;
    const std::lock_guard turn(turns);
    const Reader reader(DVDOpen2(nullptr, &kReaderLogger, QFile::encodeName(path).constData()));
    if (!reader)
        return refuse(failure, QStringLiteral("Can not open %1 as a DVD").arg(path));
    const Ifo disc(ifoOpen(reader.get(), 0));
    if (!disc || !disc->tt_srpt)
        return refuse(failure,
            QStringLiteral(
                "%1 is not a DVD: VIDEO_TS.IFO and VIDEO_TS.BUP are missing or unreadable")
                .arg(path));
    DVDDiscFacts facts;
    facts.volumeName = volumeName(reader.get());
    facts.titles = readTitles(reader.get(), *disc->tt_srpt);
    if (facts.titles.empty())
        return refuse(failure, QStringLiteral("%1 holds no readable DVD title").arg(path));
    return facts;
}
