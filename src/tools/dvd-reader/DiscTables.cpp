// The title tables as libdvdread parses them, written out as plain lines.
// The library is opened with a logger of ours: the plain opener prints its
// notes (the missing-decryption banner among them) on the standard output,
// where our answer goes.
#include "DiscTables.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string_view>

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

namespace {

struct ReaderCloser {
    void operator()(dvd_reader_t* reader) const { DVDClose(reader); }
};
struct IfoCloser {
    void operator()(ifo_handle_t* ifo) const { ifoClose(ifo); }
};
struct DirCloser {
    void operator()(DIR* folder) const { closedir(folder); }
};
using Reader = std::unique_ptr<dvd_reader_t, ReaderCloser>;
using Ifo = std::unique_ptr<ifo_handle_t, IfoCloser>;
using Folder = std::unique_ptr<DIR, DirCloser>;

// Audio formats as the title-set attributes give them.
constexpr unsigned kAudioAC3 = 0, kAudioMPEG1 = 2, kAudioMPEG2 = 3, kAudioLPCM = 4, kAudioDTS = 6;
// The engines' stream ids: the disc's private-stream sub-ids.
constexpr int kAC3Base = 128, kDTSBase = 136, kLPCMBase = 160;
// Twice what a dual-layer disc holds: tables that give a chain more are damaged.
constexpr int64_t kMostTitleSectors = int64_t(1) << 23;

// Control characters would cut or bend an answer line.
std::string printable(std::string_view text)
{
    std::string clean(text);
    std::replace_if(
        clean.begin(), clean.end(), [](char c) { return c >= 0 && c < ' '; }, ' ');
    return clean;
}

std::string word(int value)
{
    return std::to_string(value);
}
std::string word(std::string_view text)
{
    return std::string(text);
}

// One answer line: the words separated by single spaces.
template<class... Words> void appendLine(std::string& answer, const Words&... words)
{
    std::string line;
    ((line += word(words), line += ' '), ...);
    line.pop_back();
    answer += printable(line) + '\n';
}

bool refuse(std::string& answer, std::string_view kind, std::string_view file = {})
{
    answer += "refused " + std::string(kind);
    if (!file.empty())
        answer += ' ' + printable(file);
    answer += '\n';
    return false;
}

void logReaderLine(void* answer, dvd_logger_level_t level, const char* format, va_list arguments)
{
    if (level == DVD_LOGGER_LEVEL_DEBUG)
        return;
    char line[1024];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral" // the library's own format
    std::vsnprintf(line, sizeof line, format, arguments);
#pragma GCC diagnostic pop
    // One line each: the decryption banner's box of stars says nothing more
    // than its first line.
    const std::string_view text(line);
    appendLine(
        *static_cast<std::string*>(answer), "note DVD reader:", text.substr(0, text.find('\n')));
}

const dvd_logger_cb kReaderLogger { &logReaderLine };

int fromBCD(uint8_t value)
{
    return (value >> 4) * 10 + (value & 0x0f);
}

// The two-letter code, "-" for none.
std::string languageCode(uint16_t code)
{
    const char first = static_cast<char>(code >> 8), second = static_cast<char>(code & 0xff);
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!letter(first) || !letter(second))
        return "-";
    return { first, second };
}

// The engine's id for audio stream `stream` of a format; -1 for a format the
// engines do not take from a disc.
int engineAudioID(unsigned format, int stream)
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

void writeAudio(std::string& answer, const vtsi_mat_t& titleSet, const pgc_t& chain)
{
    const int count = std::min<int>(titleSet.nr_of_vts_audio_streams, 8);
    for (int slot = 0; slot < count; ++slot) {
        const uint16_t control = chain.audio_control[slot];
        if ((control & 0x8000) == 0)
            continue; // the slot has no stream in this title
        const audio_attr_t& attributes = titleSet.vts_audio_attr[slot];
        const int stream = (control >> 8) & 0x07;
        const int index = engineAudioID(attributes.audio_format, stream);
        if (index < 0)
            continue;
        const uint16_t language = attributes.lang_type == 1 ? attributes.lang_code : 0;
        appendLine(answer, "audio", stream, index, attributes.channels + 1, languageCode(language));
    }
}

void writeSubtitles(std::string& answer, const vtsi_mat_t& titleSet, const pgc_t& chain)
{
    const int count = std::min<int>(titleSet.nr_of_vts_subp_streams, 32);
    const bool wide = titleSet.vts_video_attr.display_aspect_ratio == 3;
    for (int slot = 0; slot < count; ++slot) {
        const uint32_t control = chain.subp_control[slot];
        if ((control & 0x80000000u) == 0)
            continue; // numbers of absent streams are skipped, not reused
        // The stream for a 4:3 picture, or for a wide one its letterbox
        // stream: the numbering the player and the encoder use for "-sid".
        const unsigned index = wide ? (control >> 8) & 0x1f : (control >> 24) & 0x1f;
        appendLine(answer, "subtitle", static_cast<int>(index),
            languageCode(titleSet.vts_subp_attr[slot].lang_code));
    }
}

// The frames the playback time counts past its whole seconds: BCD, its tens
// in bits 4-5 (the top two bits name the rate they are counted at).
int playbackFrames(const dvd_time_t& time)
{
    return ((time.frame_u & 0x30) >> 4) * 10 + (time.frame_u & 0x0f);
}

// "num den" of the frame rate the playback time is counted in.
const char* frameRate(const dvd_time_t& time, const video_attr_t& video)
{
    switch ((time.frame_u & 0xc0) >> 6) {
    case 1:
        return "25 1";
    case 3:
        return "30000 1001";
    default:
        return video.video_format == 1 ? "25 1" : "30000 1001";
    }
}

// The sectors the chain's cells cover; 0 when the tables cannot tell: a cell
// that ends before it starts, or more than kMostTitleSectors in all.
int chainSectors(const pgc_t& chain)
{
    if (!chain.cell_playback)
        return 0;
    int64_t sectors = 0;
    for (int cell = 0; cell < chain.nr_of_cells; ++cell) {
        const cell_playback_t& playback = chain.cell_playback[cell];
        if (playback.last_sector < playback.first_sector)
            return 0;
        sectors += int64_t(playback.last_sector) - playback.first_sector + 1;
        if (sectors > kMostTitleSectors)
            return 0;
    }
    return static_cast<int>(sectors);
}

void writeTitle(std::string& answer, const ifo_handle_t& titleSet, const pgc_t& chain, int number)
{
    const vtsi_mat_t& attributes = *titleSet.vtsi_mat;
    const video_attr_t& video = attributes.vts_video_attr;
    const dvd_time_t& time = chain.playback_time;
    const int seconds
        = fromBCD(time.hour) * 3600 + fromBCD(time.minute) * 60 + fromBCD(time.second);
    static constexpr int kWidths[] = { 720, 704, 352, 352 };
    const int fullHeight = video.video_format == 1 ? 576 : 480;
    const int height = video.picture_size == 3 ? fullHeight / 2 : fullHeight;
    const bool wide = video.display_aspect_ratio == 3;
    appendLine(answer, "title", number, seconds, frameRate(time, video),
        kWidths[video.picture_size & 3], height, wide ? "16 9" : "4 3", chainSectors(chain),
        playbackFrames(time));
    writeAudio(answer, attributes, chain);
    writeSubtitles(answer, attributes, chain);
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

// The UDF volume name is Latin-1; the answer is UTF-8.
void writeVolumeName(std::string& answer, dvd_reader_t* reader)
{
    char name[33] = {};
    if (DVDUDFVolumeInfo(reader, name, sizeof name, nullptr, 0) != 0 || name[0] == '\0')
        return;
    std::string utf8;
    for (const unsigned char c : std::string_view(name)) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xc0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    answer += "volume " + printable(utf8) + '\n';
}

std::string titleSetName(int number)
{
    char name[16];
    std::snprintf(name, sizeof name, "VTS_%02d_0", number);
    return name;
}

bool writeTitles(std::string& answer, dvd_reader_t* reader, const tt_srpt_t& table)
{
    TitleSets titleSets(reader);
    bool any = false;
    for (int index = 0; index < table.nr_of_srpts; ++index) {
        const title_info_t& info = table.title[index];
        const int number = index + 1;
        const ifo_handle_t* titleSet = titleSets.open(info.title_set_nr);
        if (!titleSet) {
            const std::string set = titleSetName(info.title_set_nr);
            appendLine(answer, "note DVD title", number,
                "left out: " + set + ".IFO and " + set + ".BUP cannot be read");
            continue;
        }
        const pgc_t* chain = firstProgramChain(*titleSet, info.vts_ttn);
        if (!chain) {
            appendLine(answer, "note DVD title", number,
                "left out: its title set names no program chain for it");
            continue;
        }
        writeTitle(answer, *titleSet, *chain, number);
        any = true;
    }
    return any;
}

bool hasSuffix(std::string_view name, std::string_view suffix)
{
    return name.size() > suffix.size()
        && strncasecmp(name.data() + name.size() - suffix.size(), suffix.data(), suffix.size())
        == 0;
}

// The disc's files in `folder` that are not regular files (a FIFO among the
// VOBs would hang whoever reads the title); empty when there is none.
std::string firstIrregularDiscFile(const std::string& folder)
{
    const Folder entries(opendir(folder.c_str()));
    if (!entries)
        return {};
    while (const dirent* entry = readdir(entries.get())) {
        const std::string_view name(entry->d_name);
        if (!hasSuffix(name, ".IFO") && !hasSuffix(name, ".BUP") && !hasSuffix(name, ".VOB"))
            continue;
        struct stat file { };
        if (stat((folder + '/' + entry->d_name).c_str(), &file) != 0 || !S_ISREG(file.st_mode))
            return std::string(name);
    }
    return {};
}

// The VIDEO_TS folder of a folder source: the folder itself or the one in it.
std::string videoTSFolder(const std::string& folder)
{
    const std::string inside = folder + "/VIDEO_TS";
    struct stat file { };
    return stat(inside.c_str(), &file) == 0 && S_ISDIR(file.st_mode) ? inside : folder;
}

// A folder whose disc files are all regular files, an image that is a
// regular file, or a drive; else the refusal is in `answer`.
bool checkSource(const std::string& path, std::string& answer)
{
    struct stat source { };
    if (stat(path.c_str(), &source) != 0)
        return refuse(answer, "missing");
    if (S_ISDIR(source.st_mode)) {
        const std::string irregular = firstIrregularDiscFile(videoTSFolder(path));
        return irregular.empty() || refuse(answer, "irregular", irregular);
    }
    return S_ISREG(source.st_mode) || S_ISBLK(source.st_mode) || refuse(answer, "kind");
}

} // namespace

bool readDiscTables(const std::string& path, std::string& answer)
{
    if (!checkSource(path, answer))
        return false;
    const Reader reader(DVDOpen2(&answer, &kReaderLogger, path.c_str()));
    if (!reader)
        return refuse(answer, "open");
    const Ifo disc(ifoOpen(reader.get(), 0));
    if (!disc || !disc->tt_srpt)
        return refuse(answer, "tables");
    writeVolumeName(answer, reader.get());
    return writeTitles(answer, reader.get(), *disc->tt_srpt) || refuse(answer, "titles");
}
