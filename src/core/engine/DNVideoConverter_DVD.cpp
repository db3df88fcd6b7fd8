// The conversion driver's DVD path: titles one by one, merged titles, the
// check of every output and the cleanup after a failed or stopped run.
#include "engine/ArgvAssemblerTables.h"
#include "engine/DNVideoConverter.h"
#include "engine/DNVideoConverterDVD.h"
#include "engine/DVDOutputCheck.h"
#include "model/DNDVDGroupTitle.h"
#include "platform/AppPaths.h"
#include "platform/TemporaryFile.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The length a title's run writes: the kept part when it is trimmed, in
// double precision as the builders give it to the engines. A trim that keeps
// less than the shortest the builders take converts the whole title.
double expectedLength(const DNDVDTitle& title)
{
    constexpr double kShortestTrim = 0.9995;
    const DNDVDTitleSetting& setting = title.setting();
    const double length = title.exactLength();
    if (!setting.trimEnable() || length <= 0)
        return length;
    const double start = double(setting.trimStartPercent()) * length;
    const double kept
        = (double(setting.trimEndPercent()) - double(setting.trimStartPercent())) * length;
    const bool keepsPart = kept >= kShortestTrim && start >= 0 && start < length;
    return keepsPart ? kept : length;
}

bool soundChosen(const DNDVDTitle& title)
{
    return title.setting().audioIndex() >= 0 && !title.audioTracks().empty();
}

// What the title's run must write, by the engine that runs it: a dump
// holds every stream of the title, the MKV backup every sound and
// subpicture stream, an ISO backup the whole disc.
DVDOutputExpectation expectationFor(const DNDVDNode& node, const DNDVDTitle& title)
{
    DVDOutputExpectation expected;
    expected.seconds = expectedLength(title);
    expected.audio = soundChosen(title);
    const std::shared_ptr<DNProfile> profile = node.profile();
    if (!profile)
        return expected;
    switch (profile->GlobalID()) {
    case kGlobalIDPlayerStreamDump:
        expected.audio = !title.audioTracks().empty();
        break;
    case kGlobalIDDVDToMKV:
        expected.audio = !title.audioTracks().empty();
        expected.audioStreams = int(title.audioTracks().size());
        expected.subtitleStreams
            = int(std::count_if(title.subtitleTracks().begin(), title.subtitleTracks().end(),
                [](const DNDVDSubtitleTrack& track) { return !DNDVDExtSubtitleOf(track); }));
        break;
    case kGlobalIDDiscBackupTool:
        expected.discImage = true;
        for (const auto& each : node.titles())
            expected.discTitleSeconds.push_back(each->length());
        break;
    default:
        break;
    }
    return expected;
}

bool isIn(const QFileInfo& file, const QString& folder)
{
    return !folder.isEmpty() && QDir::cleanPath(file.absolutePath()) == QDir::cleanPath(folder);
}

// A run's result once its output is checked: a run that the engine called
// a success but that wrote no usable output fails with the reason. The
// output then takes its name, or is removed: only ever the run's own file.
int finishRun(int result, const QString& output, const DVDOutputExpectation& expected,
    const DNVideoConverterDVDDriver& driver)
{
    if (result == 0) {
        const QString problem = checkDVDOutput(output, expected);
        if (!problem.isEmpty()) {
            driver.reportFailure(
                QStringLiteral("The DVD conversion failed: %1 (%2)").arg(problem, output));
            result = kDNVideoConverterFailed;
        }
    }
    return driver.settleOutput(result);
}

int convertTitle(const std::shared_ptr<DNDVDNode>& node, int32_t titleIndex,
    const EncodeConfig& config, const DNVideoConverterDVDDriver& driver)
{
    const auto title = node->titleAt(titleIndex);
    if (!title) {
        driver.reportFailure(QStringLiteral("The DVD has no title %1.").arg(titleIndex + 1));
        return kDNVideoConverterFailed;
    }
    // The builder names this run's output; an older name must never be
    // taken for it when the run fails before that.
    title->setOutputName({});
    const int result = driver.runPasses(node, titleIndex, config);
    // Builders and engines fail on a title of a few frames, with a crash or a
    // refusal that means nothing to the user: this says why instead.
    if (result != 0 && result != kDNVideoConverterStopped && title->length() <= 0)
        driver.explainFailure(QStringLiteral("Title %1 of the DVD is too short to convert: it "
                                             "lasts less than a second.")
                                  .arg(title->titleNumber()));
    return finishRun(result, title->outputName(), expectationFor(*node, *title), driver);
}

int convertSelectedTitles(const std::shared_ptr<DNDVDNode>& node, const EncodeConfig& config,
    const DNVideoConverterDVDDriver& driver)
{
    const auto titles = node->titles();
    if (std::none_of(titles.begin(), titles.end(), [](const auto& t) { return t->isSelected(); })) {
        driver.reportFailure(QStringLiteral("No title of the DVD is selected."));
        return kDNVideoConverterFailed;
    }
    for (size_t index = 0; index < titles.size(); ++index) {
        if (!titles[index]->isSelected())
            continue;
        if (driver.stopRequested())
            return kDNVideoConverterStopped;
        if (const int result = convertTitle(node, int32_t(index), config, driver); result != 0)
            return result;
    }
    return 0;
}

int32_t indexIn(const DNDVDNode& node, const std::shared_ptr<DNDVDTitle>& title)
{
    const auto titles = node.titles();
    const auto found = std::find(titles.begin(), titles.end(), title);
    return found == titles.end() ? -1 : int32_t(found - titles.begin());
}

// The title's setting with expand-to-profile on, so that every title of a
// merge fills the same frame; given back however the run ends.
class ExpandForced {
public:
    explicit ExpandForced(DNDVDTitle& title)
        : m_title(title)
        , m_saved(title.setting().autoExpandToProfile())
    {
        m_title.setting().setAutoExpandToProfile(true);
    }
    ~ExpandForced() { m_title.setting().setAutoExpandToProfile(m_saved); }
    ExpandForced(const ExpandForced&) = delete;
    ExpandForced& operator=(const ExpandForced&) = delete;

private:
    DNDVDTitle& m_title;
    const bool m_saved;
};

// The DVD's profile with one frame for every title, so that their outputs
// join without re-encoding: where the profile keeps each title's own size
// and aspect, a frame of square pixels in the first title's shape, into
// which each title is fitted with its own aspect and padded; where it keeps
// the frame rate, the first title's. The aspect stays each title's own: a
// shared one would be taken for every title's and stretch the others. The
// DVD's own profile is given back afterwards.
class SharedPicture {
public:
    SharedPicture(DNDVDNode& node, const DNDVDTitle& first)
        : m_node(node)
        , m_saved(node.profile())
    {
        if (!m_saved)
            return;
        std::shared_ptr<DNProfile> shared = m_saved->copy();
        const DNDVDTVideo* video = first.selectedVideoTrack();
        NXVideoResolution& size = shared->videoResolution();
        if (video && !video->videoAspect.isEmpty() && size.isPresent()
            && isKeepOriginResolution(size.currentValue())
            && isKeepOriginAspect(shared->videoAspect().currentValue()))
            size.setCurrentValue(squareFrame(video->videoAspect));
        NXVideoFrameRate& rate = shared->videoFrameRate();
        if (first.fps() > 0 && rate.isPresent() && isKeepOriginFrameRate(rate.currentValue()))
            rate.setCurrentValue(QString::number(first.fps(), 'f', 2));
        m_node.setProfile(shared);
    }
    ~SharedPicture() { m_node.setProfile(m_saved); }
    SharedPicture(const SharedPicture&) = delete;
    SharedPicture& operator=(const SharedPicture&) = delete;

private:
    // 576 lines make both DVD shapes whole (1024x576, 768x576): the title
    // that fills the frame then gets square pixels from mencoder exactly, as
    // the padded ones do, and the titles' streams stay alike enough to join.
    static QString squareFrame(const QSizeF& aspect)
    {
        constexpr int kHeight = 576;
        const int width = int(std::lround(kHeight * aspect.width() / aspect.height()));
        return QStringLiteral("%1x%2").arg(width + width % 2).arg(kHeight);
    }

    DNDVDNode& m_node;
    const std::shared_ptr<DNProfile> m_saved;
};

// The titles' own outputs in the temporary folder, deleted however the
// merge ends.
class TitleOutputs {
public:
    TitleOutputs() = default;
    ~TitleOutputs()
    {
        for (const QString& path : m_paths) {
            const QFileInfo file(path);
            if (file.isFile() && !file.isSymLink() && isIn(file, AppPaths::temporaryFolder()))
                QFile::remove(path);
        }
    }
    TitleOutputs(const TitleOutputs&) = delete;
    TitleOutputs& operator=(const TitleOutputs&) = delete;

    void add(const QString& path) { m_paths << path; }

private:
    QStringList m_paths;
};

int titleFailed(int result)
{
    std::fprintf(stderr, "Convert Group child failed, so exit merge...\n");
    return result == kDNVideoConverterStopped ? kDNVideoConverterStopped : kDNVideoConverterFailed;
}

// The builder's refusal of a node's list (a title's, or the join's for a
// group), which `what` names; empty when it makes a command line (or cannot
// be found, which the run itself reports).
QString buildRefusalOf(const std::shared_ptr<DNDVDNode>& node, int32_t titleIndex,
    const QString& what, const EncodeConfig& config, const DNVideoConverterDVDDriver& driver)
{
    const std::shared_ptr<DNProfile> profile = node->profile();
    const QByteArray name = profile ? profile->argvAssembler().toUtf8() : QByteArray();
    const ArgvAssembler assembler = driver.findAssembler(name.constData());
    if (!assembler)
        return {};
    const TemporaryFileScope scratch; // a join's list of titles
    takeBuildRefusal();
    if (assembler(node, titleIndex, config))
        return {};
    const QString refusal = takeBuildRefusal();
    return QStringLiteral("The builder \"%1\" made no command line for %2%3")
        .arg(QString::fromUtf8(name), what,
            refusal.isEmpty() ? QStringLiteral(".") : ": " + refusal + '.');
}

// Every title's command line, and their join's, is made before any title is
// converted: one the builder refuses (LPCM sound that a copy cannot take, an
// output folder whose path leaves no room for the join's name) would throw
// the work on the others away. The join is made from the names the titles'
// outputs are to take.
bool everyListBuilds(const std::shared_ptr<DNDVDGroupTitle>& group,
    const std::vector<std::shared_ptr<DNDVDTitle>>& titles, const EncodeConfig& titleConfig,
    const EncodeConfig& config, const DNVideoConverterDVDDriver& driver)
{
    const auto original = group->originalDVDNode();
    for (const auto& title : titles) {
        const ExpandForced expand(*title);
        const QString refusal = buildRefusalOf(original, indexIn(*original, title),
            QStringLiteral("title %1").arg(title->titleNumber()), titleConfig, driver);
        if (!refusal.isEmpty()) {
            driver.reportFailure(refusal);
            return false;
        }
    }
    QString refusal
        = buildRefusalOf(group, -1, QStringLiteral("the merged titles"), config, driver);
    // A name too long for an engine's argument is refused by the builder, or
    // once the output is held: either way it is the reason to give.
    if (const QString path = heldOutputProblem(group->outputName()); !path.isEmpty())
        refusal = path;
    group->setOutputName({});
    if (!refusal.isEmpty())
        driver.reportFailure(refusal);
    return refusal.isEmpty();
}

// Every title alone into the temporary folder, then their join.
int convertTitles(const std::shared_ptr<DNDVDGroupTitle>& group,
    const std::vector<std::shared_ptr<DNDVDTitle>>& titles, const EncodeConfig& config,
    const DNVideoConverterDVDDriver& driver, TitleOutputs& outputs)
{
    const auto original = group->originalDVDNode();
    EncodeConfig titleConfig = config;
    if (!setConfigPath(titleConfig.outputDir, AppPaths::temporaryFolder()))
        return titleFailed(kDNVideoConverterFailed);
    const SharedPicture picture(*original, *titles.front());
    if (!everyListBuilds(group, titles, titleConfig, config, driver))
        return kDNVideoConverterFailed;
    for (const auto& title : titles) {
        if (driver.stopRequested())
            return kDNVideoConverterStopped;
        const ExpandForced expand(*title);
        const int result = convertTitle(original, indexIn(*original, title), titleConfig, driver);
        outputs.add(title->outputName());
        if (result != 0)
            return titleFailed(result);
    }
    return 0;
}

int convertGroup(const std::shared_ptr<DNDVDGroupTitle>& group, const EncodeConfig& config,
    const DNVideoConverterDVDDriver& driver)
{
    const auto original = group->originalDVDNode();
    const auto titles = group->titles();
    if (!original || titles.empty()) {
        driver.reportFailure(QStringLiteral("No title of the DVD is selected for the merge."));
        return kDNVideoConverterFailed;
    }
    if (titles.size() < 2)
        return convertTitle(original, indexIn(*original, titles.front()), config, driver);
    // Known before any title is converted: the work would be thrown away.
    const std::shared_ptr<DNProfile> profile = original->profile();
    if (profile && !DVDArgvAssemblerMergesTitles(profile->argvAssembler().toUtf8().constData())) {
        driver.reportFailure(QStringLiteral("The profile \"%1\" cannot merge DVD titles into one "
                                            "output: convert the titles one by one.")
                                 .arg(profile->profileName()));
        return kDNVideoConverterFailed;
    }
    TitleOutputs outputs;
    if (const int result = convertTitles(group, titles, config, driver, outputs); result != 0)
        return result;
    if (driver.stopRequested())
        return kDNVideoConverterStopped;
    DVDOutputExpectation expected;
    for (const auto& title : titles) {
        expected.seconds += expectedLength(*title);
        expected.audio = expected.audio || soundChosen(*title);
    }
    group->setOutputName({});
    const int result = driver.runOnce(group, -1, config);
    return finishRun(result, group->outputName(), expected, driver);
}

} // namespace

int convertDVDEntry(const std::shared_ptr<DNDVDNode>& node, int32_t titleIndex,
    const EncodeConfig& config, const DNVideoConverterDVDDriver& driver)
{
    if (isMemberOf<DNDVDGroupTitle>(node))
        return convertGroup(std::static_pointer_cast<DNDVDGroupTitle>(node), config, driver);
    if (const auto group = DNDVDGroupTitle::dvdGroupTitleWithDVDNode(node))
        return convertGroup(group, config, driver);
    if (titleIndex >= 0)
        return convertTitle(node, titleIndex, config, driver);
    return convertSelectedTitles(node, config, driver);
}
