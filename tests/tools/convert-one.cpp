// convert-one: runs media files through the real conversion driver with one
// profile of the catalogue, and says what each engine run was.
//
//   convert-one --profile NAME [--group] [--trim START-END] [--subtitle FILE |
//               --subtitle-track N] --output DIR FILE...
//   convert-one --list-profiles
//   convert-one --dvd SOURCE --list-titles
//   convert-one --dvd SOURCE [--title N]... [--audio N] [--merge] [--trim START-END]
//               --profile NAME --output DIR
//
// NAME is a profile's file name without its extension, or its GlobalID. Every
// engine run prints "built:", "ran:", "status:" and "output:" lines; the exit
// status is 0 only when every job succeeded. The settings, the log and the
// temporary files live in a temporary home that is removed at the end, so
// nothing of the user's is read or changed; when a file or a job fails, the
// log is printed on the standard error stream.
//
// --list-titles prints one line per title of a DVD source (a drive's device,
// a folder or an ISO image), "title N: L s, WxH, A:B, audio: ..., subtitles:
// ...", the main title marked "main"; a source that cannot be read gives the
// reader's reason and exit status 1.
//
// --meet DIR makes runs started together meet before their engines start,
// after their builders chose the output names: at its first engine start each
// run puts a file in DIR and waits (at most 30 s) until DIR holds
// --meet-count files (2 when not given).
//
// --trim, --subtitle and --subtitle-track set for every FILE what the editor
// sets: the part kept (START and END in seconds, with up to three decimals,
// "1.234-2.345"), a subtitle file, or the file's own Nth subtitle track,
// counted from 1. A FILE that cannot take them (a trim past its end or
// keeping less than a second, no such track) ends the tool with status 2
// before anything is converted.
//
// --dvd with --profile converts titles of the source: --title N (the title's
// number on the disc, as often as wanted; the main title when none is given), --audio N the Nth
// sound track of each title, --merge the titles into one output. --trim
// START-END trims each of them as the editor does, in whole seconds within
// the title's length.
#include "engine/DNVideoConverter.h"

#include "ToolSupport.h"
#include "builders/video/BuilderServices.h"
#include "model/DNDVDNode.h"
#include "model/DNFileGroupNode.h"
#include "model/DNFileNode.h"
#include "platform/ProcessRunner.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

struct Meeting {
    QString folder;
    int count = 2;
    bool met = false;
};

void meetAtFirstEngineStart(int state, void* context)
{
    auto* meeting = static_cast<Meeting*>(context);
    if (state != kDNVideoConverterStatePassStarted || meeting->met)
        return;
    meeting->met = true;
    QFile mark(QDir(meeting->folder).filePath(QString::number(QCoreApplication::applicationPid())));
    if (!mark.open(QIODevice::WriteOnly))
        complain("cannot write into the --meet folder");
    QElapsedTimer waited;
    waited.start();
    while (QDir(meeting->folder).entryList(QDir::Files).size() < meeting->count
        && waited.elapsed() < 30'000)
        QThread::msleep(20);
}

Meeting meeting;

void printRun(const DNEngineRun& run, void*)
{
    print("built: " + shellCommandLine(run.built));
    print("ran: " + shellCommandLine(run.ran));
    print(QStringLiteral("status: %1").arg(run.status));
    print("output: " + run.output);
}

QString profileKey(const DNProfile& profile)
{
    return QFileInfo(profile.filePath()).completeBaseName();
}

constexpr int kProfileTypes[] = { DNProfileTypeVideo, DNProfileTypeDVD };

template<class F> void forEachProfile(F&& f)
{
    for (const int type : kProfileTypes) {
        for (const DNProfileCategory& category :
            DNProfileManager::profileManager().categoriesOfType(type)) {
            for (const auto& profile : category.profiles)
                f(*profile);
        }
    }
}

void listProfiles()
{
    forEachProfile([](const DNProfile& profile) {
        print(QStringLiteral("%1\t%2\t%3")
                  .arg(profileKey(profile), QString::number(profile.GlobalID()),
                      profile.argvAssembler()));
    });
}

// Video profiles first: a run with one of them never reads the DVD catalogue.
std::shared_ptr<DNProfile> findProfile(const QString& name)
{
    for (const int type : kProfileTypes) {
        for (const DNProfileCategory& category :
            DNProfileManager::profileManager().categoriesOfType(type)) {
            for (const auto& profile : category.profiles) {
                if (profileKey(*profile) == name || QString::number(profile->GlobalID()) == name)
                    return profile->copy();
            }
        }
    }
    return nullptr;
}

std::shared_ptr<DNFileNode> loadFile(const QString& path)
{
    DNFileLoadFailure failure = DNFileLoadFailure::None;
    auto node = DNFileNode::fileNodeWithFile(path, false, &failure);
    if (!node)
        complain(QStringLiteral("cannot load %1: %2").arg(path, DNFileLoadFailureText(failure)));
    return node;
}

// The seconds of a --trim bound: digits with up to three decimals.
std::optional<double> trimSeconds(const QString& text)
{
    static const QRegularExpression number(QStringLiteral(R"(^\d+(\.\d{1,3})?$)"));
    if (!number.match(text).hasMatch())
        return std::nullopt;
    return text.toDouble();
}

// The editor's trim from --trim START-END, kept as the fractions of the
// selected video track's length the editor keeps; false after a complaint.
bool setTrim(DNFileNode& node, const QString& option)
{
    const QStringList bounds = option.split(QLatin1Char('-'));
    // A bound that is no number reads as -1, which no trim takes.
    const double start = bounds.size() == 2 ? trimSeconds(bounds[0]).value_or(-1) : -1;
    const double end = bounds.size() == 2 ? trimSeconds(bounds[1]).value_or(-1) : -1;
    const DNTVideo* video = node.selectedVideoTrack();
    const double length = video ? double(video->duration) : 0.0;
    if (start < 0 || end <= start || end > length) {
        complain(QStringLiteral("--trim %1 is not START-END in seconds within the %2 s of %3")
                     .arg(option)
                     .arg(length)
                     .arg(node.path()));
        return false;
    }
    node.setting().setTrimEnable(true);
    node.setting().setTrimStartPercent(static_cast<float>(start / length));
    node.setting().setTrimEndPercent(static_cast<float>(end / length));
    // What the builders would refuse (less than a second) ends the tool here.
    if (const QString refusal = TrimRefusal(node.setting(), video->duration); !refusal.isEmpty()) {
        complain(QStringLiteral("--trim %1 cannot be converted: %2").arg(option, refusal));
        return false;
    }
    return true;
}

// The subtitle the options choose, as the editor chooses it; false after a complaint.
bool setSubtitle(DNFileNode& node, const QCommandLineParser& options)
{
    node.setEnableSubtitleEdit(true);
    if (options.isSet("subtitle")) {
        node.addExtraSubtitle(QFileInfo(options.value("subtitle")).absoluteFilePath());
        node.selectSubtitleAtIndex(0, true);
        return true;
    }
    // The file's own tracks come first; a subtitle file beside it follows them.
    const auto& tracks = node.subtitleTracks();
    const auto own = std::count_if(tracks.begin(), tracks.end(),
        [](const DNSubtitleTrack& each) { return !DNExtSubtitleOf(each); });
    const int track = options.value("subtitle-track").toInt() - 1;
    if (track < 0 || track >= own) {
        complain(QStringLiteral("%1 has no subtitle track %2")
                     .arg(node.path(), options.value("subtitle-track")));
        return false;
    }
    node.selectSubtitleAtIndex(track, false);
    return true;
}

// What the options set of the editor's choices; false after a complaint.
bool applyEdits(DNFileNode& node, const QCommandLineParser& options)
{
    if (options.isSet("trim") && !setTrim(node, options.value("trim")))
        return false;
    if (options.isSet("subtitle") || options.isSet("subtitle-track"))
        return setSubtitle(node, options);
    return true;
}

// One job per file, or one for the group of them all.
std::vector<NXBasicMediaNode::Ptr> makeJobs(
    const std::vector<NXBasicMediaNode::Ptr>& files, const DNProfile& profile, bool group)
{
    std::vector<NXBasicMediaNode::Ptr> jobs;
    if (group && !files.empty()) {
        auto merged = DNFileGroupNode::fileGroupNodeWithNodes(files);
        merged->setProfile(profile.copy());
        jobs.push_back(merged);
        return jobs;
    }
    for (const auto& file : files) {
        std::static_pointer_cast<DNFileNode>(file)->setProfile(profile.copy());
        jobs.push_back(file);
    }
    return jobs;
}

int runJobs(const std::vector<NXBasicMediaNode::Ptr>& jobs)
{
    DNVideoConverterSetRunObserver(&printRun, nullptr);
    int failed = 0;
    for (const auto& job : jobs) {
        print("job: " + job->fileNodeForConversion()->path());
        const int result = DNVideoConverterStart(job, 0, &meetAtFirstEngineStart, &meeting);
        print(QStringLiteral("result: %1").arg(result));
        failed += result != 0 ? 1 : 0;
    }
    return failed;
}

// The profile and the output folder of a conversion, with the settings
// pointed at that folder; null after a complaint.
std::shared_ptr<DNProfile> prepareConversion(const QCommandLineParser& options)
{
    const QString outputDir = QFileInfo(options.value("output")).absoluteFilePath();
    if (options.value("output").isEmpty() || !QDir().mkpath(outputDir)) {
        complain("--output names no folder that can be used");
        return nullptr;
    }
    const auto profile = findProfile(options.value("profile"));
    if (!profile) {
        complain(QStringLiteral("no profile \"%1\"; --list-profiles shows them")
                     .arg(options.value("profile")));
        return nullptr;
    }
    DNSetting::shareSetting().restore();
    DNSetting::shareSetting().appSetting().setVideoOutputDirectory(outputDir);
    meeting.folder = options.value("meet");
    meeting.met = meeting.folder.isEmpty();
    if (options.isSet("meet-count"))
        meeting.count = options.value("meet-count").toInt();
    return profile;
}

int convert(const QCommandLineParser& options)
{
    if (options.isSet("subtitle") && options.isSet("subtitle-track"))
        return usage("--subtitle and --subtitle-track cannot go together");
    const auto profile = prepareConversion(options);
    if (!profile)
        return 2;
    std::vector<NXBasicMediaNode::Ptr> files;
    bool allLoaded = true;
    for (const QString& path : options.positionalArguments()) {
        auto node = loadFile(QFileInfo(path).absoluteFilePath());
        allLoaded = allLoaded && node;
        if (node && !applyEdits(*node, options))
            return 2;
        if (node)
            files.push_back(node);
    }
    const int failed = runJobs(makeJobs(files, *profile, options.isSet("group")));
    if (failed > 0 || !allLoaded)
        printLog();
    return failed == 0 && allLoaded ? 0 : 1;
}

QString languageList(const QStringList& codes)
{
    return codes.isEmpty() ? QStringLiteral("none") : codes.join(' ');
}

QString titleLine(const DNDVDTitle& title)
{
    QStringList audio;
    for (const DNDVDTAudio& track : title.audioTracks())
        audio << (track.languageCode.isEmpty() ? QStringLiteral("??") : track.languageCode);
    QStringList subtitles;
    for (const DNDVDSubtitleTrack& track : title.subtitleTracks()) {
        const QString code = DNDVDSubtitleFields(track).languageCode;
        subtitles << (code.isEmpty() ? QStringLiteral("??") : code);
    }
    const DNDVDTVideo* video = title.selectedVideoTrack();
    const QSizeF size = video ? video->videoResolution : QSizeF();
    const QSizeF aspect = video ? video->videoAspect : QSizeF();
    return QStringLiteral("title %1: %2 s, %3x%4, %5:%6, audio: %7, subtitles: %8")
        .arg(title.titleNumber())
        .arg(title.length())
        .arg(size.width())
        .arg(size.height())
        .arg(aspect.width())
        .arg(aspect.height())
        .arg(languageList(audio), languageList(subtitles));
}

std::shared_ptr<DNDVDNode> loadDVD(const QString& source)
{
    QString failure;
    const QString path = source.startsWith("/dev/") ? source : QFileInfo(source).absoluteFilePath();
    auto node
        = DNDVDNode::dvdNodeWithSourceInfo(NXDVDSourceInfo::sourceInfoWithPath(path), &failure);
    if (!node)
        complain(failure);
    return node;
}

int listTitles(const QString& source)
{
    const auto node = loadDVD(source);
    if (!node)
        return 1;
    for (const auto& title : node->titles())
        print(titleLine(*title) + (title->isSelected() ? QStringLiteral(", main") : QString()));
    return 0;
}

// Selects the titles the options name by their numbers on the disc (the
// reader's main title stays selected when none is named), with the sound
// track asked for. 1 when a title is not on the disc or could not be read,
// 2 for a sound track a title does not have, else 0.
int selectTitles(DNDVDNode& node, const QCommandLineParser& options)
{
    const QStringList numbers = options.values("title");
    const auto titles = node.titles();
    for (const QString& number : numbers) {
        if (std::none_of(titles.begin(), titles.end(), [&](const auto& title) {
                return QString::number(title->titleNumber()) == number;
            })) {
            complain(QStringLiteral("the DVD has no readable title %1 (the reader's reasons are "
                                    "in the log)")
                         .arg(number));
            return 1;
        }
    }
    for (const auto& title : titles) {
        if (!numbers.isEmpty())
            title->setIsSelected(numbers.contains(QString::number(title->titleNumber())));
        if (!title->isSelected() || !options.isSet("audio"))
            continue;
        const int track = options.value("audio").toInt() - 1;
        if (track < 0 || track >= int(title->audioTracks().size())) {
            complain(QStringLiteral("title %1 has no sound track %2")
                         .arg(title->titleNumber())
                         .arg(options.value("audio")));
            return 2;
        }
        title->setting().setAudioIndex(track);
    }
    return 0;
}

// The selected titles trimmed from --trim START-END as the editor trims the
// title it shows: whole seconds, kept as fractions of the title's length.
// False after a complaint.
bool trimTitles(DNDVDNode& node, const QString& option)
{
    static const QRegularExpression range(QStringLiteral(R"(^(\d{1,9})-(\d{1,9})$)"));
    const QRegularExpressionMatch match = range.match(option);
    const quint32 start = match.captured(1).toUInt();
    const quint32 end = match.captured(2).toUInt();
    const qint32 shown = node.titleSelected();
    const auto titles = node.titles();
    for (size_t index = 0; index < titles.size(); ++index) {
        const DNDVDTitle& title = *titles[index];
        if (!title.isSelected())
            continue;
        if (!match.hasMatch() || start >= end || end > quint32(std::max(0, title.length()))) {
            complain(QStringLiteral("--trim %1 is not START-END in whole seconds within the %2 s "
                                    "of title %3")
                         .arg(option)
                         .arg(title.length())
                         .arg(title.titleNumber()));
            return false;
        }
        node.setTitleSelected(qint32(index));
        node.setEnableTrimming(true);
        node.setTrimStartTime(start);
        node.setTrimEndTime(end);
    }
    node.setTitleSelected(shown);
    return true;
}

int convertDVD(const QCommandLineParser& options)
{
    const auto profile = prepareConversion(options);
    if (!profile)
        return 2;
    const auto node = loadDVD(options.value("dvd"));
    if (!node)
        return 1;
    if (const int refused = selectTitles(*node, options); refused != 0) {
        printLog();
        return refused;
    }
    if (options.isSet("trim") && !trimTitles(*node, options.value("trim")))
        return 2;
    node->setProfile(profile);
    node->setMergeIntoOne(options.isSet("merge"));
    DNVideoConverterSetRunObserver(&printRun, nullptr);
    print("job: " + node->sourceInfo().path);
    const int result = DNVideoConverterStart(
        node, kDNVideoConverterEverySelectedTitle, &meetAtFirstEngineStart, &meeting);
    print(QStringLiteral("result: %1").arg(result));
    if (result != 0)
        printLog();
    return result == 0 ? 0 : 1;
}

// Does what the command line asks; the exit status.
int runCommandLine(const QCommandLineParser& options)
{
    if (options.isSet("list-profiles")) {
        listProfiles();
        return 0;
    }
    if (options.isSet("dvd")) {
        if (options.isSet("list-titles"))
            return listTitles(options.value("dvd"));
        if (options.isSet("profile"))
            return convertDVD(options);
        complain("--dvd goes with --list-titles or --profile NAME --output DIR");
        return 2;
    }
    if (!options.isSet("profile") || options.positionalArguments().isEmpty()) {
        complain("give --profile NAME, --output DIR and at least one file (see --help)");
        return 2;
    }
    return convert(options);
}

} // namespace

int main(int argc, char** argv)
{
    const ToolCommandLine commandLine { "Runs media files through the conversion driver.",
        { { "profile", "The profile: file name without extension, or GlobalID.", "name" },
            { "output", "The folder the outputs go to.", "dir" },
            { "group", "Merge the files into one group and convert that." },
            { "list-profiles", "Print every profile with its GlobalID and builder." },
            { "dvd", "A DVD source: a drive's device, a folder or an ISO image.", "source" },
            { "list-titles", "Print the titles of the --dvd source." },
            { "title", "A title of the --dvd source to convert, from 1.", "number" },
            { "audio", "The sound track of each title, from 1.", "number" },
            { "merge", "Merge the titles of the --dvd source into one output." },
            { "meet", "Meet the other runs with this folder before the first engine starts.",
                "dir" },
            { "meet-count", "How many runs meet (2 when not given).", "number" },
            { "trim",
                "Convert only from START to END of each file, in seconds (1.5-3.25), or of each "
                "DVD title, in whole seconds.",
                "start-end" },
            { "subtitle", "Give each file this subtitle file.", "file" },
            { "subtitle-track", "Give each file its own subtitle track N, from 1.", "number" } },
        "files", "The media files to convert.", "FILE..." };
    return runToolInTemporaryHome(argc, argv, commandLine, &runCommandLine);
}
