// The encoder-core bridge's translation of a DVD builder's list into the run
// of Debian 12's mencoder 1.5 (svn38408), and of its finishing stage.
#include "engine/EncoderCore.h"

#include <QFile>
#include <QRegularExpression>

#include <cmath>
#include <vector>

namespace {

// One change the installed mencoder needs. A row matches a whole word, a
// word's start (`prefix`), an `option` with the value `text` (any value when
// `text` is null), or one colon-separated sub-option in the value of
// `option` ("-lavcopts", "-lavfopts", "-faacopts"). The replacement takes the
// matched text's place; an empty replacement drops an option with its value
// or a sub-option. A sub-option replacement "mpv_flags=..." is gathered with
// the others into a single "o=" sub-option, since mencoder keeps only the
// last "o=".
struct Translation {
    enum class Kind { Word, Prefix, Option, SubOption };
    Kind kind;
    const char* option; // the option whose value holds the sub-option
    const char* text;
    QStringList replacement;
};

const std::vector<Translation>& translations()
{
    using Kind = Translation::Kind;
    static const std::vector<Translation> table {
        // The navigation reader never ends a title: it loops on (652 s written
        // for an 11 s title in 60 s). The plain reader plays it once.
        { Kind::Prefix, nullptr, "dvdnav://", { "dvd://" } },
        // The freetype renderer drew Chinese text as empty boxes; libass draws
        // it with the font the list names.
        { Kind::Word, nullptr, "-sub", { "-ass", "-sub" } },
        // mv0 and cbp are no codec flags any more but private flags of the
        // MPEG encoders: mencoder says so, exits 0 and writes no file.
        { Kind::SubOption, "-lavcopts", "mv0", { "mpv_flags=+mv0" } },
        { Kind::SubOption, "-lavcopts", "cbp", { "mpv_flags=+cbp_rd" } },
        // "Unknown option coder" ends the run; the MPEG-4 encoder has no
        // arithmetic coder to switch on anyway.
        { Kind::SubOption, "-lavcopts", "coder=1", {} },
        // There is no "wmv" muxer; the old mencoder found ASF only through
        // the ".wmv" name of the output.
        { Kind::SubOption, "-lavfopts", "format=wmv", { "format=asf" } },
        // mencoder's own MPEG muxer drops frames when there is sound (333 of
        // a 360-frame title); lavf's DVD muxer keeps them all. Its options
        // mean nothing to lavf, and a DVD program stream takes MP2 as well.
        { Kind::Option, "-of", "mpeg", { "-of", "lavf", "-lavfopts", "format=dvd" } },
        { Kind::Option, "-mpegopts", nullptr, {} },
    };
    return table;
}

// Sound this mencoder cannot encode, and what encodes it instead: the
// finishing stage's ffmpeg (mencoder writes PCM for it), or another of
// mencoder's own encoders. `lavcCodec` is the "acodec=" of "-oac lavc".
struct AudioRoute {
    const char* encoder;
    const char* lavcCodec;
    const char* finishingCodec; // null: `replacement` encodes in mencoder
    QStringList replacement; // "%1" is the bitrate
};

const std::vector<AudioRoute>& audioRoutes()
{
    static const std::vector<AudioRoute> table {
        // Debian's mencoder has no faac: "-oac faac" exits 0 without a file.
        { "faac", nullptr, "aac", {} },
        // Nor has its libavcodec ("couldn't find encoder").
        { "lavc", "libfaac", "aac", {} },
        // ac3_fixed and mp2 refuse the layout mencoder gives them
        // ("Specified channel layout '2 channels' is not supported", exit 1).
        { "lavc", "ac3_fixed", "ac3", {} },
        { "lavc", "mp2", nullptr, { "-oac", "twolame", "-twolameopts", "br=%1" } },
    };
    return table;
}

constexpr const char* kFallbackBitrate = "128";
constexpr QLatin1StringView kMpvFlags("mpv_flags=");

qsizetype indexOfWord(const QStringList& words, const char* word)
{
    return words.indexOf(QLatin1String(word));
}

// The value after `option`, or an empty text.
QString valueOf(const QStringList& words, const char* option)
{
    const qsizetype at = indexOfWord(words, option);
    return at >= 0 && at + 1 < words.size() ? words[at + 1] : QString();
}

// The value of "key=" among an option's sub-options, or an empty text.
QString subOptionValue(const QString& optionValue, const QString& key)
{
    for (const QString& part : optionValue.split(':')) {
        if (part.startsWith(key + '='))
            return part.mid(key.size() + 1);
    }
    return {};
}

QString translateSubOptions(const QString& option, const QString& value)
{
    QStringList kept;
    QStringList mpvFlags;
    qsizetype mpvFlagsAt = -1;
    for (const QString& part : value.split(':')) {
        const auto row
            = std::find_if(translations().begin(), translations().end(), [&](const Translation& t) {
                  return t.kind == Translation::Kind::SubOption && option == QLatin1String(t.option)
                      && part == QLatin1String(t.text);
              });
        if (row == translations().end()) {
            kept << part;
            continue;
        }
        for (const QString& replacement : row->replacement) {
            if (!replacement.startsWith(kMpvFlags)) {
                kept << replacement;
                continue;
            }
            mpvFlagsAt = mpvFlagsAt < 0 ? kept.size() : mpvFlagsAt;
            mpvFlags << replacement.mid(kMpvFlags.size());
        }
    }
    if (mpvFlagsAt >= 0)
        kept.insert(mpvFlagsAt, "o=" + kMpvFlags + mpvFlags.join(QString()));
    return kept.join(':');
}

bool hasSubOptionRows(const QString& option)
{
    return std::any_of(translations().begin(), translations().end(), [&](const Translation& t) {
        return t.kind == Translation::Kind::SubOption && option == QLatin1String(t.option);
    });
}

// The option row for the option at `at` and its value, or null.
const Translation* optionRowAt(const QStringList& arguments, qsizetype at)
{
    if (at + 1 >= arguments.size())
        return nullptr;
    const auto row
        = std::find_if(translations().begin(), translations().end(), [&](const Translation& t) {
              return t.kind == Translation::Kind::Option && arguments[at] == QLatin1String(t.option)
                  && (t.text == nullptr || arguments[at + 1] == QLatin1String(t.text));
          });
    return row == translations().end() ? nullptr : &*row;
}

// The word rows and the sub-option rows over the list, argument 0 left out.
QStringList translateWords(const QStringList& builderArguments)
{
    QStringList words;
    for (qsizetype at = 1; at < builderArguments.size(); ++at) {
        const QString& word = builderArguments[at];
        if (at > 1 && hasSubOptionRows(builderArguments[at - 1])) {
            words << translateSubOptions(builderArguments[at - 1], word);
            continue;
        }
        if (const Translation* option = optionRowAt(builderArguments, at)) {
            words << option->replacement;
            ++at;
            continue;
        }
        const auto row
            = std::find_if(translations().begin(), translations().end(), [&](const Translation& t) {
                  return (t.kind == Translation::Kind::Word && word == QLatin1String(t.text))
                      || (t.kind == Translation::Kind::Prefix && word.startsWith(t.text));
              });
        if (row == translations().end())
            words << word;
        else if (row->kind == Translation::Kind::Prefix)
            words << row->replacement.front() + word.mid(qsizetype(qstrlen(row->text)));
        else
            words << row->replacement;
    }
    return words;
}

const AudioRoute* audioRouteOf(const QStringList& words)
{
    const QString encoder = valueOf(words, "-oac");
    const QString lavcCodec = subOptionValue(valueOf(words, "-lavcopts"), "acodec");
    for (const AudioRoute& route : audioRoutes()) {
        if (encoder == QLatin1String(route.encoder)
            && (route.lavcCodec == nullptr || lavcCodec == QLatin1String(route.lavcCodec)))
            return &route;
    }
    return nullptr;
}

QString bitrateOf(const QStringList& words)
{
    QString bitrate = subOptionValue(valueOf(words, "-faacopts"), "br");
    if (bitrate.isEmpty())
        bitrate = subOptionValue(valueOf(words, "-lavcopts"), "abitrate");
    return bitrate.isEmpty() ? QString::fromLatin1(kFallbackBitrate) : bitrate;
}

void removeOption(QStringList& words, const char* option)
{
    const qsizetype at = indexOfWord(words, option);
    if (at >= 0)
        words.remove(at, std::min<qsizetype>(2, words.size() - at));
}

// Turns the list's container into NUT for the finishing stage and says which
// muxer ffmpeg then writes the output with.
void containerToNut(QStringList& words, EncoderCoreFinishing& finishing)
{
    const qsizetype of = indexOfWord(words, "-of");
    const QString muxer = of >= 0 && of + 1 < words.size() ? words[of + 1] : QStringLiteral("avi");
    if (muxer == QLatin1String("lavf")) {
        const qsizetype options = indexOfWord(words, "-lavfopts");
        if (options >= 0 && options + 1 < words.size()) {
            finishing.format = subOptionValue(words[options + 1], "format");
            words.remove(options, 2);
        }
    } else if (muxer == QLatin1String("rawaudio")) {
        finishing.audioOnly = true;
        finishing.format = finishing.audioCodec == QLatin1String("aac") ? "adts" : "ac3";
    } else {
        finishing.format = muxer;
    }
    removeOption(words, "-of");
    words << "-of"
          << "lavf"
          << "-lavfopts"
          << "format=nut";
}

// mencoder hands copied sound to lavf's DVD muxer in half-second chunks that
// start and end inside a frame, each stamped with its first byte's time;
// the muxer takes every chunk for a frame, and a player reads each chunk's
// time as its first whole frame's: the sound wanders 40 to 100 ms about the
// picture. ffmpeg, reading that program stream, splits the frames again,
// and the finishing stage stamps them one after the other, as mencoder
// wrote them.
std::optional<EncoderCoreFinishing> routeCopiedSound(const QStringList& words)
{
    const bool dvd = valueOf(words, "-of") == QLatin1String("lavf")
        && subOptionValue(valueOf(words, "-lavfopts"), "format") == QLatin1String("dvd");
    if (!dvd || words.contains(QLatin1String("-nosound"))
        || valueOf(words, "-o") == QLatin1String("/dev/null"))
        return std::nullopt;
    EncoderCoreFinishing finishing;
    finishing.audioCodec = QStringLiteral("copy");
    finishing.format = QStringLiteral("dvd");
    return finishing;
}

// Sound for the finishing stage: mencoder writes PCM, in NUT, since PCM
// straight into ipod or wav makes it crash. A first pass ("-o /dev/null")
// writes the same, with nothing to finish.
std::optional<EncoderCoreFinishing> routeAudio(QStringList& words)
{
    if (valueOf(words, "-oac") == QLatin1String("copy"))
        return routeCopiedSound(words);
    const AudioRoute* route = audioRouteOf(words);
    if (route == nullptr)
        return std::nullopt;
    const QString bitrate = bitrateOf(words);
    const qsizetype oac = indexOfWord(words, "-oac");
    words.remove(oac, 2);
    removeOption(words, "-faacopts");
    if (route->finishingCodec == nullptr) {
        qsizetype at = oac;
        for (const QString& word : route->replacement)
            words.insert(at++, word.contains(QLatin1String("%1")) ? word.arg(bitrate) : word);
        return std::nullopt;
    }
    words.insert(oac, "-oac");
    words.insert(oac + 1, "pcm");
    if (words.contains(QLatin1String("-nosound")))
        return std::nullopt;
    EncoderCoreFinishing finishing;
    finishing.audioCodec = QString::fromLatin1(route->finishingCodec);
    finishing.bitrate = bitrate;
    containerToNut(words, finishing);
    if (valueOf(words, "-o") == QLatin1String("/dev/null"))
        return std::nullopt;
    return finishing;
}

bool readsDisc(const QStringList& words)
{
    return std::any_of(words.begin(), words.end(),
        [](const QString& word) { return word.startsWith(QLatin1String("dvd://")); });
}

// Read from its start, a title passes mencoder's format probe twice: the
// packets the probe read stay queued while the disc is rewound, and the
// first picture and the first sound frame come out twice. A seek to the
// start empties the queues first.
constexpr const char* kStartSeek = "0.001";

// mplayer tells a disc's clock to the millisecond.
constexpr double kClockRounding = 0.001;

// A trimmed title's sound is read past the trim's end by more than the
// sound's own offset from the picture.
constexpr double kSoundBeyondEnd = 1;

// A trimmed title's place on the clock of where it is read from: the
// stretch that clock runs over holds the trim's start.
double clockTimeOf(double titleTime, const EncoderCoreTitleStart& start)
{
    return start.picture + titleTime - start.pictureTitleTime;
}

// mplayer's "-endpos" for a trimmed title's sound, on the clock of where it
// is read from; empty for a trim to the title's end.
QStringList soundEnd(const EncoderCoreTrimmedTitle& trim, const EncoderCoreTitleStart& start)
{
    if (trim.length <= 0)
        return {};
    const double end = clockTimeOf(trim.start + trim.length, start) + kSoundBeyondEnd;
    return { "-endpos", QString::number(end, 'f', 3) };
}

// Where mplayer starts reading a trimmed title: a seek to the title's start
// empties the format probe's queues; a unit is found by its byte.
QStringList readingStart(const EncoderCoreTitleStart& start)
{
    if (start.readFrom > 0)
        return { "-sb", QString::number(start.readFrom) };
    return { "-ss", QString::fromLatin1(kStartSeek) };
}

// The title's start is read as a whole title's is: a seek to it empties the
// format probe's queues.
void readFromStart(QStringList& words)
{
    const qsizetype start = indexOfWord(words, "-ss");
    if (start >= 0)
        words[start + 1] = QString::fromLatin1(kStartSeek);
    else
        words << "-ss" << kStartSeek;
    words << "-noskip";
    if (!words.contains(QLatin1String("-mc")))
        words << "-mc"
              << "0";
}

// A title read whole, from its start, keeps every frame and the sound as it
// comes: mencoder's A-V correction, chasing a target its own filters and
// encoders bias, dropped and repeated frames (247 of 250, the sound 45 ms
// late, 150 ms with MP3). A trimmed title is read from its start too, once
// the run knows where its picture and sound start (EncoderCoreReadTrimFromStart).
void keepTitleWhole(QStringList& words)
{
    const qsizetype start = indexOfWord(words, "-ss");
    const QString from = start >= 0 ? words.value(start + 1) : QStringLiteral("0");
    if (readsDisc(words) && from == QLatin1String("0"))
        readFromStart(words);
}

// The options the bridge adds to every run.
QStringList withOwnOptions(QStringList words)
{
    keepTitleWhole(words);
    // Copied sound keeps the disc's timestamps only with -mc 0: the AVI of a
    // 12 s title held 13.1 s of picture without it.
    if (valueOf(words, "-oac") == QLatin1String("copy") && !words.contains(QLatin1String("-mc")))
        words << "-mc"
              << "0";
    // libmpeg2 ("mpeg12") smears every moving edge of a disc's picture into
    // blocks; libavcodec's MPEG-2 decoder gives the picture as it is. It
    // reports no aspect before its first frame, so a disc's title gets its
    // own aspect named before the run. The comma lets other
    // sources (the merge runs' files) find their decoder.
    QStringList own { "-noconfig", "all", "-vc", "ffmpeg12," };
    // mencoder's interleaved reading of a program stream with a 0.5 s mux
    // preload (what ffmpeg's DVD muxer writes) loses the sound after 0.1 s.
    if (readsDisc(words))
        own << "-ni";
    // Without a chosen subtitle mencoder burns subtitle stream 0 in.
    if (!words.contains(QLatin1String("-sid")) && !words.contains(QLatin1String("-sub")))
        own << "-nosub";
    // mpg123, the default decoder of MPEG audio, keeps the first packet of a
    // disc's sound while it opens, and a copy lost it: its sound came 74 to
    // 86 ms early. libavcodec's decoder leaves the packets as they are; the
    // comma lets other sound find its own decoder.
    if (valueOf(words, "-oac") == QLatin1String("copy") && readsDisc(words)
        && !words.contains(QLatin1String("-ac")))
        own << "-ac"
            << "ffmp2,";
    return own + words;
}

// mplayer tells a title's rate to the thousandth ("29.970").
constexpr double kRateTolerance = 0.0005;

// Pictures a second of "-ofps" ("25", "30000/1001"); 0 for none.
double rateOf(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('/'));
    const double numerator = parts.value(0).toDouble();
    const double denominator = parts.size() == 2 ? parts[1].toDouble() : 1;
    return parts.size() <= 2 && numerator > 0 && denominator > 0 ? numerator / denominator : 0;
}

// The trim of a list that reads part of a title, before the bridge's own
// options put its start seek into a whole title's list. The sound the cut
// takes from a file of its own is decoded, or copied into a DVD program
// stream by the finishing stage; a list that copies the disc's sound into
// anything else keeps mencoder's seek.
std::optional<EncoderCoreTrimmedTitle> trimmedTitleOf(
    const QStringList& arguments, const std::optional<EncoderCoreFinishing>& finishing)
{
    const double start = valueOf(arguments, "-ss").toDouble();
    const auto title = std::find_if(arguments.begin(), arguments.end(),
        [](const QString& word) { return word.startsWith(QLatin1String("dvd://")); });
    const bool copiesSound = valueOf(arguments, "-oac") == QLatin1String("copy")
        && !arguments.contains(QLatin1String("-nosound"));
    const bool finishingCopies = (finishing && finishing->audioCodec == QLatin1String("copy"))
        || valueOf(arguments, "-of") == QLatin1String("avi")
        || valueOf(arguments, "-of") == QLatin1String("rawaudio");
    if (start <= 0 || title == arguments.end() || (copiesSound && !finishingCopies))
        return std::nullopt;
    return EncoderCoreTrimmedTitle { start, valueOf(arguments, "-endpos").toDouble(), *title,
        valueOf(arguments, "-dvd-device"), !arguments.contains(QLatin1String("-nosound")),
        valueOf(arguments, "-aid"), valueOf(arguments, "-channels"), copiesSound,
        rateOf(valueOf(arguments, "-ofps")) };
}

// The first of the title's pictures whose time lies at or after `seconds`.
double firstPictureAt(double seconds, double frameSeconds)
{
    return std::ceil((seconds - kClockRounding) / frameSeconds);
}

// The pictures a trim keeps: those whose time falls in it, and how long
// they last. mencoder counts "-frames" in the pictures it encodes, not in
// those it repeats for the list's "-ofps": in the title's pictures when the
// output has more a second, in the output's when it has fewer.
struct KeptPictures {
    double count = 0;
    double seconds = 0;
};
KeptPictures keptPictures(const EncoderCoreTrimmedTitle& trim, const EncoderCoreTitleStart& start)
{
    const double pictureSeconds = std::max(
        start.frameSeconds, trim.outputRate > 0 ? 1 / trim.outputRate : start.frameSeconds);
    const double count = firstPictureAt(trim.start + trim.length, pictureSeconds)
        - firstPictureAt(trim.start, pictureSeconds);
    return { count, count * pictureSeconds };
}

// ffmpeg's arguments for a join list: quiet, and with absolute paths allowed
// in the concat list ("Unsafe file name" otherwise); the list holds our own
// output paths.
QStringList joinArguments(const QStringList& builderArguments)
{
    QStringList words { "-nostdin", "-hide_banner", "-nostats", "-loglevel", "warning" };
    words << builderArguments.mid(1);
    const qsizetype concat = words.indexOf(QLatin1String("concat"));
    words.insert(concat + 1, QStringLiteral("-safe"));
    words.insert(concat + 2, QStringLiteral("0"));
    return words;
}

bool isJoin(const QStringList& builderArguments)
{
    const qsizetype format = indexOfWord(builderArguments, "-f");
    return format >= 0 && format + 1 < builderArguments.size()
        && builderArguments[format + 1] == QLatin1String("concat");
}

// The converted titles a merge's list joins: the files it starts with.
QStringList titlesJoined(const QStringList& builderArguments)
{
    QStringList titles;
    for (qsizetype at = 1; at < builderArguments.size(); ++at) {
        const QString& word = builderArguments[at];
        if (word.startsWith(QLatin1Char('-')))
            break;
        if (word.startsWith(QLatin1String("dvd://")) || word.startsWith(QLatin1String("dvdnav://")))
            return {};
        titles << word;
    }
    return titles;
}

// The sound of a join: copied where the container keeps each title's
// timestamps, else encoded as the list asks (or like the first title's).
void joinSound(const QStringList& words, EncoderCoreTitleJoin& join)
{
    if (valueOf(words, "-oac") == QLatin1String("copy")) {
        join.soundCodec = join.format == QLatin1String("avi") ? QString() : QStringLiteral("copy");
        return;
    }
    const AudioRoute* route = audioRouteOf(words);
    if (route != nullptr && route->finishingCodec != nullptr) {
        join.soundCodec = QString::fromLatin1(route->finishingCodec);
        join.soundBitrate = bitrateOf(words);
    }
}

std::optional<EncoderCoreTitleJoin> titleJoinOf(const QStringList& builderArguments)
{
    const QStringList titles = titlesJoined(builderArguments);
    const QStringList words = translateWords(builderArguments);
    if (titles.size() < 2 || valueOf(words, "-ovc") != QLatin1String("copy"))
        return std::nullopt;
    EncoderCoreTitleJoin join { titles, valueOf(words, "-o"), {}, valueOf(words, "-aspect"), {},
        {} };
    const QString muxer = valueOf(words, "-of");
    join.format = muxer == QLatin1String("lavf")
        ? subOptionValue(valueOf(words, "-lavfopts"), "format")
        : muxer;
    joinSound(words, join);
    return join;
}

} // namespace

EncoderCorePlan EncoderCoreAdaptArguments(const QStringList& builderArguments)
{
    if (isJoin(builderArguments))
        return { joinArguments(builderArguments), -1, std::nullopt, true, std::nullopt,
            std::nullopt };
    QStringList words = translateWords(builderArguments);
    std::optional<EncoderCoreFinishing> finishing = routeAudio(words);
    std::optional<EncoderCoreTrimmedTitle> trim = trimmedTitleOf(words, finishing);
    EncoderCorePlan plan { withOwnOptions(std::move(words)), -1, std::move(finishing), false,
        titleJoinOf(builderArguments), std::move(trim) };
    const qsizetype output = plan.arguments.lastIndexOf(QStringLiteral("-o"));
    if (output >= 0 && output + 1 < plan.arguments.size())
        plan.outputAt = output + 1;
    return plan;
}

bool EncoderCoreChangesRate(const QString& outputRate, double titleRate)
{
    const double rate = rateOf(outputRate);
    return rate > 0 && titleRate > 0 && std::abs(rate / titleRate - 1) > kRateTolerance;
}

QStringList EncoderCoreFinishingArguments(
    const EncoderCoreFinishing& finishing, const QString& input, const QString& output)
{
    // "file:" keeps a name with a colon from being taken for a protocol.
    const bool copied = finishing.audioCodec == QLatin1String("copy");
    // Copied sound comes in the list's own container, a DVD program stream or
    // (a trimmed title's picture) AVI; a trimmed title's sound alone needs
    // no picture.
    const bool avi = copied && finishing.format == QLatin1String("avi");
    const bool soundAlone = copied && finishing.audioOnly;
    const char* inputFormat = avi ? "avi" : copied ? "mpeg" : "nut";
    QStringList arguments { "-nostdin", "-hide_banner", "-nostats", "-loglevel", "warning", "-y" };
    if (!soundAlone)
        arguments << "-f" << inputFormat << "-i"
                  << "file:" + input;
    if (copied && !finishing.soundFile.isEmpty()) {
        // ffmpeg keeps the dump's frames from the first picture kept on,
        // each at its own time: the first starts within a frame of it. AVI
        // and a raw stream keep no time: their sound starts with the
        // picture, so the cut falls on the frame nearest the first picture.
        if (finishing.soundSkipBytes > 0)
            arguments << "-skip_initial_bytes" << QString::number(finishing.soundSkipBytes);
        const double frame = finishing.soundFrameSeconds;
        const double from = (avi || soundAlone) && frame > 0
            ? std::round(finishing.soundCut.from / frame) * frame
            : finishing.soundCut.from;
        arguments << "-ss" << QString::number(from, 'f', 4);
        if (finishing.soundCut.seconds > 0)
            arguments << "-t" << QString::number(finishing.soundCut.seconds, 'f', 4);
        arguments << "-i"
                  << "file:" + finishing.soundFile;
    }
    if (soundAlone)
        return arguments << "-c"
                         << "copy"
                         << "-f" << finishing.format << "file:" + output;
    if (copied)
        return arguments << "-map"
                         << "0:v"
                         << "-map" << (finishing.soundFile.isEmpty() ? "0:a" : "1:a") << "-c"
                         << "copy"
                         << "-bsf:a"
                         << "setts=ts=STARTPTS+N*DURATION"
                         << "-f" << finishing.format << "file:" + output;
    if (finishing.audioOnly)
        arguments << "-map"
                  << "0:a";
    else
        arguments << "-map"
                  << "0"
                  << "-c:v"
                  << "copy";
    arguments << "-c:a" << finishing.audioCodec << "-b:a" << finishing.bitrate + 'k';
    if (!finishing.format.isEmpty())
        arguments << "-f" << finishing.format;
    return arguments << "file:" + output;
}

QStringList EncoderCoreTrimSoundDumpArguments(const EncoderCoreTrimmedTitle& trim,
    const EncoderCoreTitleStart& start, const QString& soundFile)
{
    // The demuxer's lines tell where the dump's first frame lies, and
    // whether the format probe's packet was written twice.
    QStringList arguments { "-noconfig", "all", "-msglevel", "all=-1:demuxer=7", "-dumpaudio",
        "-dumpfile", soundFile, trim.title, "-dvd-device", trim.device };
    if (start.readFrom > 0)
        arguments << readingStart(start);
    if (!trim.audioId.isEmpty())
        arguments << "-aid" << trim.audioId;
    return arguments << soundEnd(trim, start);
}

QStringList EncoderCoreTrimSoundDecodeArguments(const EncoderCoreTrimmedTitle& trim,
    const QString& soundFormat, const QString& dump, qint64 skipBytes, double from,
    const QString& soundFile)
{
    QStringList arguments { "-nostdin", "-hide_banner", "-nostats", "-loglevel", "warning", "-y" };
    if (skipBytes > 0)
        arguments << "-skip_initial_bytes" << QString::number(skipBytes);
    // mencoder's "-channels" has the AC-3 decoder mix the channels down
    // itself; other sound is mixed down after its decoder.
    const bool ac3 = soundFormat == QLatin1String("8192");
    const QString channels = trim.channels;
    const bool decoderMix
        = ac3 && (channels == QLatin1String("1") || channels == QLatin1String("2"));
    if (decoderMix)
        arguments << "-downmix" << (channels == QLatin1String("1") ? "mono" : "stereo");
    arguments << "-i"
              << "file:" + dump;
    if (from > 0)
        arguments << "-ss" << QString::number(from, 'f', 4);
    if (!decoderMix && !channels.isEmpty())
        arguments << "-ac" << channels;
    return arguments << "-c:a"
                     << "pcm_s16le"
                     << "-f"
                     << "wav"
                     << "file:" + soundFile;
}

QStringList EncoderCoreTrimSoundArguments(const EncoderCoreTrimmedTitle& trim,
    const EncoderCoreTitleStart& start, const QString& soundFile)
{
    // mplayer reads "%<bytes>%" before a path that may hold its separators.
    const QString file = QStringLiteral("pcm:fast:file=%%1%%2")
                             .arg(QFile::encodeName(soundFile).size())
                             .arg(soundFile);
    QStringList arguments { "-noconfig", "all", "-msglevel", "all=-1:demuxer=7", "-ni",
        "-benchmark", "-vo", "null", "-vc", "null", "-nosub", "-ao", file, "-af", "format=s16le",
        trim.title, "-dvd-device", trim.device };
    arguments << readingStart(start);
    if (!trim.audioId.isEmpty())
        arguments << "-aid" << trim.audioId;
    // The disc's decoder mixes the channels down as mencoder's would.
    if (!trim.channels.isEmpty())
        arguments << "-channels" << trim.channels;
    return arguments << soundEnd(trim, start);
}

EncoderCoreSoundCut EncoderCoreTrimSoundCut(
    const EncoderCoreTrimmedTitle& trim, const EncoderCoreTitleStart& start)
{
    const double first = firstPictureAt(trim.start - start.pictureTitleTime, start.frameSeconds);
    const double from = std::max(0.0, start.picture + first * start.frameSeconds - start.sound);
    if (trim.length <= 0)
        return { from, 0 };
    return { from, keptPictures(trim, start).seconds };
}

QString EncoderCoreTrimCutList(
    const EncoderCoreTrimmedTitle& trim, const EncoderCoreTitleStart& start)
{
    // mencoder decodes up to the first picture at or past the list's end,
    // drops it too and keeps the next one: the end lies a frame before the
    // first picture kept, less the clock's rounding.
    const double end = clockTimeOf(trim.start, start) - start.frameSeconds - kClockRounding;
    return QStringLiteral("0 %1 0\n").arg(QString::number(std::max(0.0, end), 'f', 4));
}

std::optional<QStringList> EncoderCoreReadTrimFromStart(QStringList arguments,
    const EncoderCoreTrimmedTitle& trim, const EncoderCoreTitleStart& start, const QString& cutList,
    const QString& soundFile)
{
    // The sound file's clock starts at `start.sound`; mencoder skips it up
    // to a frame before the first picture kept, on the disc's clock moved
    // by "-delay". A delay of 0 or more put the sound a second off: the
    // sound file then starts later.
    const double delay = start.frameSeconds - start.sound;
    if (!soundFile.isEmpty() && delay >= 0)
        return std::nullopt;
    if (start.readFrom > 0) {
        removeOption(arguments, "-ss");
        arguments << readingStart(start) << "-noskip";
        if (!arguments.contains(QLatin1String("-mc")))
            arguments << "-mc"
                      << "0";
    } else {
        readFromStart(arguments);
    }
    // mencoder changes a rate by repeating and dropping pictures.
    if (trim.outputRate > 0 && start.frameSeconds > 0
        && std::abs(trim.outputRate * start.frameSeconds - 1) > kRateTolerance)
        arguments.removeAll(QStringLiteral("-noskip"));
    // With its own sound file mencoder spins for ever once the title ends
    // short of "-endpos"; a count of pictures ends it, and a trim to the
    // title's end needs none.
    removeOption(arguments, "-endpos");
    const double end = trim.start + trim.length;
    const bool toTitlesEnd
        = start.titleSeconds > 0 && end >= start.titleSeconds - start.frameSeconds / 2;
    if (trim.length > 0 && !toTitlesEnd)
        arguments << "-frames" << QString::number(keptPictures(trim, start).count, 'f', 0);
    arguments << "-edl" << cutList << "-hr-edl-seek";
    // The finishing stage takes the copied sound from a dump of its own.
    if (trim.copiedSound)
        return arguments << "-nosound";
    if (soundFile.isEmpty())
        return arguments;
    removeOption(arguments, "-aid");
    return arguments << "-audiofile" << soundFile << "-delay" << QString::number(delay, 'f', 4);
}

bool EncoderCoreReadProgressLine(const QString& line, int duration, ProgressInfo& progress)
{
    static const QRegularExpression status(
        QStringLiteral(R"(^Pos:\s*(-?[\d.]+)s\s+(\d+)f\s*\(\s*(\d+)%\)\s*([\d.]+)fps)"));
    const QRegularExpressionMatch match = status.match(line.trimmed());
    if (!match.hasMatch())
        return false;
    // QString::toDouble ignores the locale.
    progress.convertedTime = std::max(0.0, match.captured(1).toDouble());
    progress.frameNumber = match.captured(2).toLongLong();
    progress.fps = match.captured(4).toDouble();
    progress.percent = duration > 0 ? std::min(100.0, progress.convertedTime * 100.0 / duration)
                                    : std::min(100.0, match.captured(3).toDouble());
    return true;
}
