#include "engine/DNVideoConverter.h"

#include "engine/AVEncoder.h"
#include "engine/CoverArt.h"
#include "engine/DNVideoConverterDVD.h"
#include "engine/DVDOutputCheck.h"
#include "engine/DVDToMKV.h"
#include "engine/DiscBackupTool.h"
#include "engine/EncodeConfig.h"
#include "engine/EncoderCore.h"
#include "engine/PlayerStreamDump.h"
#include "model/DNDVDGroupTitle.h"
#include "model/DNDVDNode.h"
#include "model/DNFileGroupNode.h"
#include "model/DNFileNode.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/PathStatus.h"
#include "platform/TemporaryFile.h"
#include "profiles/DNProfile.h"
#include "profiles/ProfileValues.h"
#include "services/DNHelpers.h"
#include "services/DNSetting.h"
#include "services/OutputPublishing.h"
#include "services/SubtitleCharset.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace {

// The output of the run under way, written under a hidden name of our own
// until it is checked and takes its name; its report to the observer waits
// for that name.
struct HeldOutput {
    QString partial; // where the engine writes
    QString wanted; // the name the builder chose
    std::function<void(const QString&)> rename; // tells the node the output's name
    std::optional<DNEngineRun> report;
    OutputFolder folder; // the folder of both, held open while the engine writes
};

// The driver's module state. The configuration (tables, observer) is read
// under the same lock; no lock is held across a builder or an engine run.
struct ConverterState {
    std::mutex mutex;
    bool running = false;
    bool stopRequested = false;
    // A stop that came while no conversion ran, between two entries of a
    // caller's list: the next start ends at once.
    bool stopPending = false;
    const DNConversionEngine* engine = nullptr; // the engine of the run under way
    // The engine whose list is being built: what the builder runs on it (a
    // subtitle extraction) is stopped with the conversion.
    const DNConversionEngine* building = nullptr;
    DNVideoConverterStateCallback callback = nullptr;
    void* context = nullptr;
    ProgressInfo lastProgress;
    CoverArtTagger* tagger = nullptr;
    QStringList madeOutputs; // the files this conversion's runs have made
    std::optional<HeldOutput> held;
    const NXBasicMediaNode* entry = nullptr; // the node the conversion was started for
    QString failure; // the first reason this conversion failed
    std::span<const ArgvAssemblerEntry> dvdTable = DVDArgvAssemblerTable();
    std::span<const ArgvAssemblerEntry> videoTable = VideoArgvAssemblerTable();
    DNEngineRunObserver observer = nullptr;
    void* observerContext = nullptr;
};

ConverterState& state()
{
    static ConverterState instance;
    return instance;
}

bool stopRequested()
{
    const std::lock_guard lock(state().mutex);
    return state().stopRequested;
}

// The engine layer's refusals go to the standard error stream as well as to
// the log: a conversion run from a terminal shows why it failed.
void logFailure(const QString& message)
{
    DNLog(message);
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

// The message with the hidden name the output is written under shown as
// the name it is to take, which is the one the user knows.
QString withOutputName(QString message)
{
    const std::lock_guard lock(state().mutex);
    if (state().held)
        message.replace(state().held->partial, state().held->wanted);
    return message;
}

// A failure of the conversion under way; the first is its reason, the
// later ones mostly follow from it.
void reportFailure(const QString& text)
{
    const QString message = withOutputName(text);
    logFailure(message);
    const std::lock_guard lock(state().mutex);
    if (state().failure.isEmpty())
        state().failure = message;
}

// A reason that explains the conversion's failure better than its first one
// replaces it.
void explainFailure(const QString& text)
{
    const QString message = withOutputName(text);
    logFailure(message);
    const std::lock_guard lock(state().mutex);
    state().failure = message;
}

// Whether a bridge's reason already tells how its program ended ("ffmpeg
// failed with exit status 1: ..."), in the words ToolBridge::failureOf uses.
bool tellsHowProgramEnded(const QString& reason)
{
    for (const char* ending : { " failed with exit status ", " was ended by signal ",
             " could not start: ", " made no progress for " })
        if (reason.contains(QLatin1String(ending)))
            return true;
    return false;
}

// `failure` with the user's subtitle the run read named after it: the
// engine's words rarely tell that it failed over the subtitle, and never
// under the name the user chose it by.
QString withRunSubtitle(const QString& failure)
{
    const QString subtitle = takeBuildSubtitle();
    if (subtitle.isEmpty())
        return failure;
    return failure + (failure.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral("."))
        + QStringLiteral(" The run read the subtitle %1.").arg(subtitle);
}

// The bridge's reason names the program that failed and what it said last;
// the engine is named only where the reason does not name the program, so
// that a person reads who failed once.
void reportEngineFailure(const DNConversionEngine& engine, int status)
{
    const QString reason = engine.lastFailure();
    if (isFullDiskReason(reason)) {
        reportFailure(QStringLiteral("The conversion failed: %1.").arg(reason));
        return;
    }
    if (tellsHowProgramEnded(reason)) {
        reportFailure(withRunSubtitle(reason));
        return;
    }
    const QString failed = QStringLiteral("The %1 failed with status %2")
                               .arg(QLatin1String(engine.name))
                               .arg(status);
    reportFailure(
        withRunSubtitle(reason.isEmpty() ? failed + '.' : failed + QStringLiteral(": ") + reason));
}

std::shared_ptr<DNProfile> profileOf(const NXBasicMediaNode& node)
{
    if (const auto* editable = dynamic_cast<const DNVideoEditProtocol*>(&node))
        return editable->profile();
    return nullptr;
}

QString outputNameOf(const std::shared_ptr<NXBasicMediaNode>& node)
{
    const auto file = node->fileNodeForConversion();
    return file ? file->outputName() : QString();
}

// A file's output name; a DVD run writes where its list says: after "-o",
// after "-dumpfile" for a dump, second of an ISO list's three words.
QString outputOfRun(const std::shared_ptr<NXBasicMediaNode>& node, const ArgumentBlock& block)
{
    if (!isKindOf<DNDVDNode>(node))
        return outputNameOf(node);
    const QStringList arguments = block.arguments();
    if (arguments.size() == 3 && arguments[2] == QLatin1String("iso"))
        return arguments[1];
    for (const char* option : { "-o", "-dumpfile" }) {
        const qsizetype at = arguments.lastIndexOf(QLatin1String(option));
        if (at >= 0 && at + 1 < arguments.size())
            return arguments[at + 1];
    }
    return {};
}

ArgvAssembler findAssembler(const char* name)
{
    std::span<const ArgvAssemblerEntry> dvd;
    std::span<const ArgvAssemblerEntry> video;
    {
        const std::lock_guard lock(state().mutex);
        dvd = state().dvdTable;
        video = state().videoTable;
    }
    return findArgvAssemblerIn(name, dvd, video);
}

// Forwards the engine's state codes. A stop that came while
// the engine was being started has not reached it yet: it does now.
void onEngineState(int code, void*)
{
    DNVideoConverterStateCallback callback = nullptr;
    void* context = nullptr;
    {
        const std::lock_guard lock(state().mutex);
        if (state().stopRequested && state().engine)
            state().engine->stop();
        callback = state().callback;
        context = state().context;
    }
    if (callback)
        callback(code, context);
}

void reportRun(const DNEngineRun& run)
{
    DNEngineRunObserver observer = nullptr;
    void* context = nullptr;
    {
        const std::lock_guard lock(state().mutex);
        observer = state().observer;
        context = state().observerContext;
    }
    if (observer)
        observer(run, context);
}

void setRunningEngine(const DNConversionEngine* engine)
{
    const std::lock_guard lock(state().mutex);
    if (!engine && state().engine)
        state().lastProgress = state().engine->progress();
    state().engine = engine;
}

ArgumentBlockPtr build(ArgvAssembler assembler, const std::shared_ptr<NXBasicMediaNode>& node,
    int32_t titleIndex, const EncodeConfig& config)
{
    try {
        return assembler(node, titleIndex, config);
    } catch (const std::exception& error) {
        reportFailure(
            QStringLiteral("The builder failed: %1").arg(QString::fromUtf8(error.what())));
    } catch (...) {
        reportFailure(QStringLiteral("The builder failed."));
    }
    return nullptr;
}

QString hoursText(std::chrono::steady_clock::duration elapsed)
{
    const double hours = std::chrono::duration<double, std::ratio<3600>>(elapsed).count();
    return QString::number(hours, 'f', 4); // QString::number ignores the locale
}

// Whether the unfinished output at `path` was deleted.
bool discardOutput(const QString& path)
{
    if (!isRegularFile(path))
        return false;
    if (QFile::remove(path)) {
        DNLog(QStringLiteral("The unfinished output \"%1\" was deleted.").arg(path));
        return true;
    }
    DNLog(QStringLiteral("The unfinished output \"%1\" could not be deleted.").arg(path));
    return false;
}

// A conversion that does not end well leaves nothing its runs made.
void discardMadeOutputs()
{
    QStringList made;
    {
        const std::lock_guard lock(state().mutex);
        made = std::exchange(state().madeOutputs, {});
    }
    for (const QString& path : made)
        discardOutput(path);
}

// The output the builder named on the node (the file, the merged DVD titles
// or the DVD title run), and how the node is told another name.
struct NodeOutput {
    QString name;
    std::function<void(const QString&)> rename;
};

NodeOutput outputOfNode(const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex)
{
    if (const auto file = node->fileNodeForConversion())
        return { file->outputName(), [file](const QString& name) { file->setOutputName(name); } };
    if (isMemberOf<DNDVDGroupTitle>(node)) {
        const auto group = std::static_pointer_cast<DNDVDGroupTitle>(node);
        return { group->outputName(),
            [group](const QString& name) { group->setOutputName(name); } };
    }
    const auto dvd = std::dynamic_pointer_cast<DNDVDNode>(node);
    if (const auto title = dvd ? dvd->titleAt(titleIndex) : nullptr)
        return { title->outputName(),
            [title](const QString& name) { title->setOutputName(name); } };
    return {};
}

// The block with every `from` argument written as `to`; null when a
// limit of the block refuses it.
ArgumentBlockPtr withArgument(const ArgumentBlock& block, const QString& from, const QString& to)
{
    ArgumentWriter writer("the driver");
    for (const QString& argument : block.arguments())
        writer.add(argument == from ? to : argument);
    return writer.finish(block.duration);
}

std::optional<HeldOutput> takeHeldOutput()
{
    const std::lock_guard lock(state().mutex);
    return std::exchange(state().held, std::nullopt);
}

// Removes the held output's file, which is ours alone, wherever its folder
// has gone, and lets its report go with the name it was written under.
// Returns whether nothing of it is left.
bool discardHeld(const HeldOutput& held)
{
    bool removed = false;
    if (!held.folder.hasMoved()) {
        removed = discardOutput(held.partial);
    } else {
        removed = held.folder.removeFile(QFileInfo(held.partial).fileName());
        if (removed)
            DNLog(QStringLiteral(
                "Nothing of the unfinished output \"%1\" is left in the folder's new place.")
                      .arg(held.partial));
    }
    if (held.report)
        reportRun(*held.report);
    return removed;
}

void dropHeldOutput()
{
    if (const std::optional<HeldOutput> held = takeHeldOutput())
        discardHeld(*held);
}

// The program that wrote a run's output: the last of a pipeline's.
QString writerOf(const QStringList& command)
{
    const qsizetype pipe = command.lastIndexOf(QStringLiteral("|"));
    return QFileInfo(command.value(pipe + 1)).fileName();
}

// A failed run is told by the room its output's folder has left: mencoder
// ends a full disk with "Exiting... (Fatal error)" or answers 0 with a short
// file, where the disk is full all the same; a reason that is not about room
// gets what is left as a note.
void explainByRoom(const HeldOutput& held)
{
    const QString earlier = DNVideoConverterLastFailure();
    if (isFullDiskReason(earlier))
        return;
    const QString program = held.report ? writerOf(held.report->ran) : QStringLiteral("the engine");
    const QString told = reasonWithRoom(program, held.partial, {}, earlier);
    if (isFullDiskReason(told))
        explainFailure(QStringLiteral("The conversion failed: %1.").arg(told));
    else if (told != earlier)
        explainFailure(told);
}

// `removed` tells whether nothing unfinished is left in the folder's new
// place (the engine may have failed before it wrote anything).
void explainMovedFolder(const OutputFolder& folder, bool removed)
{
    const QString now = folder.whereNow();
    if (now.isEmpty()) {
        explainFailure(QStringLiteral("The conversion failed: the output folder \"%1\" was deleted "
                                      "while the output was written into it.")
                           .arg(folder.path()));
        return;
    }
    explainFailure(
        QStringLiteral("The conversion failed: the output folder \"%1\" was moved to "
                       "\"%2\" while the output was written into it; %3 there.")
            .arg(folder.path(), now,
                removed ? QStringLiteral("nothing unfinished is left")
                        : QStringLiteral("the unfinished output could not be removed from")));
}

// Removes the held output of a failed run and tells what its folder can of
// the failure. The room left is read before the removal frees some.
void failHeld(const HeldOutput& held)
{
    if (held.folder.hasMoved()) {
        explainMovedFolder(held.folder, discardHeld(held));
        return;
    }
    explainByRoom(held);
    discardHeld(held);
}

void failHeldOutput()
{
    if (const std::optional<HeldOutput> held = takeHeldOutput())
        failHeld(*held);
}

// The run's output goes under a hidden name of its own: a file of a folder,
// which the builder chose free (not the null device of a first pass, not "-").
// A plain file there now was put there by another writer since the choice:
// the output is held all the same and takes the next free name.
ArgumentBlockPtr holdOutput(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, ArgumentBlockPtr block)
{
    dropHeldOutput();
    NodeOutput output = outputOfNode(node, titleIndex);
    const QString wanted = output.name;
    if (!QDir::isAbsolutePath(wanted) || (pathExists(wanted) && !isRegularFile(wanted))
        || !block->arguments().contains(wanted))
        return block;
    // A conversion killed outright could not remove what it was writing.
    for (const QString& left : removeAbandonedPartials(QFileInfo(wanted).absolutePath()))
        DNLog(QStringLiteral("Removed \"%1\", left by a conversion that was killed").arg(left));
    if (const QString problem = heldOutputProblem(wanted); !problem.isEmpty()) {
        reportFailure(problem);
        return nullptr;
    }
    // Made and marked as ours before the engine writes over it: the mark is
    // what lets a later run remove it, should this one be killed outright.
    QString refusal;
    const QString partial = claimPartialOutput(wanted, &refusal);
    if (partial.isEmpty()) {
        reportFailure(QStringLiteral("The conversion failed: %1.").arg(refusal));
        return nullptr;
    }
    ArgumentBlockPtr held = withArgument(*block, wanted, partial);
    if (!held) {
        discardOutput(partial);
        reportFailure(QStringLiteral("The output path is too long for the command line."));
        return nullptr;
    }
    output.rename(partial);
    OutputFolder folder(QFileInfo(wanted).absolutePath());
    const std::lock_guard lock(state().mutex);
    state().held
        = HeldOutput { partial, wanted, std::move(output.rename), std::nullopt, std::move(folder) };
    return held;
}

// The run that just ended wrote the held output, if there is one: its report
// waits for the name the output gets.
bool reportWaitsForName(const DNEngineRun& run)
{
    const std::lock_guard lock(state().mutex);
    if (!state().held)
        return false;
    state().held->report = run;
    state().held->report->output = state().held->partial;
    return true;
}

// The held output, checked by now, takes its name, or the next free one when
// another writer has taken it meanwhile; the node and the report carry the
// name it got. A failed run's output is removed.
int settleHeldOutput(int result)
{
    if (result == 0 && stopRequested())
        result = kDNVideoConverterStopped;
    std::optional<HeldOutput> held = takeHeldOutput();
    if (!held)
        return result;
    if (result != 0) {
        if (result == kDNVideoConverterStopped)
            discardHeld(*held);
        else
            failHeld(*held);
        return result;
    }
    QString reason;
    const QString name = publishOutput(held->partial, held->wanted, &reason);
    if (name.isEmpty()) {
        reportFailure(QStringLiteral("The conversion failed: %1").arg(reason));
        discardHeld(*held);
        return kDNVideoConverterFailed;
    }
    held->rename(name);
    {
        const std::lock_guard lock(state().mutex);
        state().madeOutputs << name;
    }
    if (held->report) {
        held->report->output = name;
        reportRun(*held->report);
    }
    return 0;
}

// `built` is the builder's own list, before its output was held.
int runEngine(const DNConversionEngine& engine, ArgumentBlockPtr block,
    const std::shared_ptr<NXBasicMediaNode>& node, const QStringList& built)
{
    const auto started = std::chrono::steady_clock::now();
    int status = kDNVideoConverterFailed;
    {
        setRunningEngine(&engine);
        engine.setStateCallback(&onEngineState, nullptr);
        const auto detach = qScopeGuard([&engine] {
            engine.setStateCallback(nullptr, nullptr);
            setRunningEngine(nullptr);
        });
        status = engine.encode(*block);
    }
    const DNEngineRun run { built, engine.lastCommand(), status, outputOfRun(node, *block) };
    freeArgumentBlock(std::move(block));
    DNLog(QStringLiteral("The encoder took %1 hours")
              .arg(hoursText(std::chrono::steady_clock::now() - started)));
    int result = stopRequested() ? kDNVideoConverterStopped : status;
    if (result != 0 && result != kDNVideoConverterStopped)
        reportEngineFailure(engine, result);
    // An engine may answer 0 though its writes failed (a full disk): the
    // short output would then fail its check for its length alone.
    if (const QString failure = engine.lastFailure(); result == 0 && !failure.isEmpty()) {
        if (isFullDiskReason(failure))
            reportFailure(QStringLiteral("The conversion failed: %1.").arg(failure));
        else
            reportFailure(
                QStringLiteral("The %1 failed: %2").arg(QLatin1String(engine.name), failure));
        result = kDNVideoConverterFailed;
    }
    if (!reportWaitsForName(run))
        reportRun(run);
    if (result == kDNVideoConverterStopped)
        dropHeldOutput();
    else if (result != 0)
        failHeldOutput();
    return result;
}

// ffmpeg answers 0 when the output's folder vanished under it: the output
// must be there, open and last at least about as long as the run was asked
// for (its list's duration, when it has one), or as its sources' packets
// hold when their headers claim more, and not far longer.
int checkFileOutput(const QString& output, int seconds, std::vector<QString> sources)
{
    DVDOutputExpectation expected { double(seconds), false, true };
    expected.sources = std::move(sources);
    const QString problem = checkDVDOutput(output, expected);
    if (problem.isEmpty())
        return 0;
    reportFailure(
        withRunSubtitle(QStringLiteral("The conversion failed: %1 (%2)").arg(problem, output)));
    return kDNVideoConverterFailed;
}

bool isEntry(const NXBasicMediaNode& node)
{
    const std::lock_guard lock(state().mutex);
    return state().entry == &node;
}

// The file whose picture becomes the cover: the entry's own source, or a
// group's first member.
std::shared_ptr<DNFileNode> coverSource(const std::shared_ptr<NXBasicMediaNode>& node)
{
    if (isMemberOf<DNFileGroupNode>(node) && !node->children().empty())
        return node->children().front()->fileNodeForConversion();
    return node->fileNodeForConversion();
}

void tagCoverArt(const std::shared_ptr<NXBasicMediaNode>& node)
{
    const QString output = outputNameOf(node);
    const auto source = coverSource(node);
    if (!source || !CoverArtTagger::wantsCoverArt(output))
        return;
    const DNTVideo* video = source->selectedVideoTrack();
    const double duration = video ? video->duration : source->duration();
    CoverArtTagger tagger;
    {
        const std::lock_guard lock(state().mutex);
        if (state().stopRequested)
            return;
        state().tagger = &tagger;
    }
    // A stop must never reach the tagger once it is gone, however tag() ends.
    const auto forget = qScopeGuard([] {
        const std::lock_guard lock(state().mutex);
        state().tagger = nullptr;
    });
    tagger.tag(output, source->path(), duration);
}

// What a run converts: a file, or the members' outputs a merge joins (those
// with a picture: the join leaves the others out).
std::vector<QString> sourcesOf(const std::shared_ptr<NXBasicMediaNode>& node)
{
    const auto file = node->fileNodeForConversion();
    if (!file)
        return {};
    if (!isKindOf<DNFileGroupNode>(node))
        return { file->path() };
    std::vector<QString> joined;
    for (const auto& child : node->children()) {
        const auto member = child ? child->fileNodeForConversion() : nullptr;
        if (member && !member->videoTracks().empty())
            joined.push_back(member->outputName());
    }
    return joined;
}

// Makes the engine's stop reach what the builder runs on it, for as long as
// the builder runs.
class BuildingFor {
public:
    explicit BuildingFor(const DNConversionEngine& engine)
    {
        const std::lock_guard lock(state().mutex);
        state().building = &engine;
    }
    ~BuildingFor()
    {
        const std::lock_guard lock(state().mutex);
        state().building = nullptr;
    }
    BuildingFor(const BuildingFor&) = delete;
    BuildingFor& operator=(const BuildingFor&) = delete;
};

ArgumentBlockPtr buildFor(const DNConversionEngine& engine, ArgvAssembler assembler,
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, const EncodeConfig& config)
{
    const BuildingFor building(engine);
    takeBuildRefusal();
    takeBuildSubtitle();
    takeBuildSubtitleLeftOut();
    return build(assembler, node, titleIndex, config);
}

// One engine run: the profile's builder makes the list, the entry's engine runs it.
int _VideoConverter(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, const EncodeConfig& config)
{
    if (stopRequested())
        return kDNVideoConverterStopped;
    const std::shared_ptr<DNProfile> profile = profileOf(*node);
    if (!profile) {
        reportFailure(QStringLiteral("The entry has no output profile."));
        return kDNVideoConverterFailed;
    }
    const DNConversionEngine& engine = conversionEngine(
        conversionEngineKind(node->nodeClass(), profile->GlobalID(), profile->argvAssembler()));
    const QByteArray name = profile->argvAssembler().toUtf8();
    const ArgvAssembler assembler = findAssembler(name.constData());
    if (!assembler) {
        reportFailure(
            QStringLiteral("cannot find argument assember, check the profile configure file... "));
        DNLog(QStringLiteral("No builder \"%1\" for the profile %2")
                  .arg(QString::fromUtf8(name), profile->filePath()));
        return kDNVideoConverterFailed;
    }
    if (!DNIsPlainFileNameSuffix(profile->fileNameSuffix())) {
        reportFailure(QStringLiteral("The profile %1 names its outputs with \"%2\", which would "
                                     "put them outside the output folder.")
                          .arg(profile->filePath(), profile->fileNameSuffix()));
        return kDNVideoConverterFailed;
    }
    // The builder's scratch files (subtitle copies, join lists, watermark
    // pictures) are needed until the engine ends, and no longer.
    const TemporaryFileScope scratch;
    ArgumentBlockPtr block = buildFor(engine, assembler, node, titleIndex, config);
    // A stop that came while the list was built ends the conversion here.
    if (stopRequested()) {
        DNLog(QStringLiteral("The conversion was stopped before the encoder started."));
        return kDNVideoConverterStopped;
    }
    // An output without the subtitle the user chose is not the one asked for.
    if (const QString leftOut = takeBuildSubtitleLeftOut(); block && !leftOut.isEmpty()) {
        reportFailure(leftOut);
        return kDNVideoConverterFailed;
    }
    if (!logArgumentBlock(block.get())) {
        // An output name the builder could not write says why in the user's terms.
        const QString path = heldOutputProblem(outputOfNode(node, titleIndex).name);
        const QString refusal = takeBuildRefusal();
        reportFailure(!path.isEmpty()
                ? path
                : QStringLiteral("The builder \"%1\" made no command line for the entry%2")
                      .arg(QString::fromUtf8(name),
                          refusal.isEmpty() ? QStringLiteral(".") : ": " + refusal + '.'));
        return kDNVideoConverterFailed;
    }
    const int seconds = block->duration;
    const QStringList built = block->arguments();
    block = holdOutput(node, titleIndex, std::move(block));
    if (!block)
        return kDNVideoConverterFailed;
    const int result = runEngine(engine, std::move(block), node, built);
    // The DVD path checks its runs' outputs and settles them itself.
    if (isKindOf<DNDVDNode>(node))
        return result;
    // What a first pass writes only served its statistics.
    if (result != 0 || (config.twoPass && config.passIndex == 0)) {
        dropHeldOutput();
        return result;
    }
    const int checked = checkFileOutput(outputNameOf(node), seconds, sourcesOf(node));
    // The cover goes in before the output takes its name, as the rest of it did.
    if (checked == 0 && isEntry(*node))
        tagCoverArt(node);
    return settleHeldOutput(checked);
}

// The statistics file both passes share, and the files the engine names
// after it ("<path>-0.log", "<path>-0.log.mbtree"...), removed at the end.
class PassLog {
public:
    PassLog()
        : m_path(makeTemporaryFile(QStringLiteral("KR_")))
    { }
    ~PassLog()
    {
        if (m_path.isEmpty())
            return;
        const QFileInfo info(m_path);
        QDir folder = info.absoluteDir();
        for (const QString& name : folder.entryList({ info.fileName() + "-*" }, QDir::Files))
            folder.remove(name);
        QFile::remove(m_path);
    }
    PassLog(const PassLog&) = delete;
    PassLog& operator=(const PassLog&) = delete;

    QString path() const { return m_path; }

private:
    const QString m_path;
};

int convertPasses(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)
{
    const std::shared_ptr<DNProfile> profile = profileOf(*node);
    if (!profile || !profile->userEnableTwopassCode())
        return _VideoConverter(node, titleIndex, config);
    const PassLog passLog;
    if (passLog.path().isEmpty() || !setConfigPath(config.passLog, passLog.path())) {
        reportFailure(QStringLiteral("No two-pass statistics file can be made."));
        return kDNVideoConverterFailed;
    }
    config.twoPass = true;
    config.passIndex = 0;
    DNLog(QStringLiteral("two pass encode - first encode.."));
    const int first = _VideoConverter(node, titleIndex, config);
    if (first != 0)
        return first;
    config.passIndex = 1;
    DNLog(QStringLiteral("two pass encode - second encode.."));
    return _VideoConverter(node, titleIndex, config);
}

// The volume, trim, crop, effect and watermark edits back at their defaults:
// a member joins the group as it is, with the tracks chosen for it.
DNNodeSetting settingForMerge(const DNNodeSetting& own)
{
    const DNNodeSetting fresh;
    DNNodeSetting setting = own.copy();
    setting.setGeneralEnable(fresh.generalEnable());
    setting.setVolume(fresh.volume());
    setting.setTrimEnable(fresh.trimEnable());
    setting.setTrimStartPercent(fresh.trimStartPercent());
    setting.setTrimEndPercent(fresh.trimEndPercent());
    setting.setCropEnable(fresh.cropEnable());
    setting.setCropLetterboxAuto(fresh.cropLetterboxAuto());
    setting.setCropAspectIndex(fresh.cropAspectIndex());
    setting.setCropRectPercent(fresh.cropRectPercent());
    setting.setEffectEnable(fresh.effectEnable());
    setting.setEffectIndex(fresh.effectIndex());
    setting.setWatermarkEnable(fresh.watermarkEnable());
    setting.setWatermarkType(fresh.watermarkType());
    setting.setWatermarkImagePath(fresh.watermarkImagePath());
    setting.setWatermarkText(fresh.watermarkText());
    setting.setWatermarkRectPercent(fresh.watermarkRectPercent());
    setting.setWatermarkTransparency(fresh.watermarkTransparency());
    setting.setWatermarkFont(fresh.watermarkFont());
    setting.setWatermarkColor(fresh.watermarkColor());
    // The members share one frame (memberProfile): each picture is fitted
    // into it and padded, so that none is squeezed to the frame's shape.
    setting.setAutoExpandToProfile(true);
    return setting;
}

const DNTVideo* firstMemberVideo(const DNFileGroupNode& group)
{
    for (const auto& child : group.children()) {
        const auto member = child ? child->fileNodeForConversion() : nullptr;
        if (member && member->selectedVideoTrack())
            return member->selectedVideoTrack();
    }
    return nullptr;
}

bool membersDifferInRate(const DNFileGroupNode& group, float fps)
{
    return std::any_of(group.children().begin(), group.children().end(), [fps](const auto& child) {
        const auto member = child ? child->fileNodeForConversion() : nullptr;
        const DNTVideo* video = member ? member->selectedVideoTrack() : nullptr;
        return video && !(std::abs(video->fps - fps) < 0.01f);
    });
}

// A join keeps the first part's clock: the parts at another rate would play
// their pictures too slow or too fast beside their sound. Where the profile
// keeps each source's rate and the members' differ, all take the first one's
// (the nearest the builders write), when it is known.
void shareFrameRate(const DNFileGroupNode& group, const DNTVideo& first, DNProfile& shared)
{
    constexpr float kHighestKnownRate = 150.0f; // beyond, a probe's mistake
    NXVideoFrameRate& rate = shared.videoFrameRate();
    const bool known = first.fps > 0.0f && first.fps <= kHighestKnownRate;
    if (known && rate.isPresent() && isKeepOriginFrameRate(rate.currentValue())
        && membersDifferInRate(group, first.fps))
        rate.setCurrentValue(nearestTableFrameRate(first.fps));
}

// The group's profile with one frame size, aspect and rate for every member,
// so that their outputs join without re-encoding: where the profile keeps
// each source's own, the first member's is taken.
std::shared_ptr<DNProfile> memberProfile(const DNFileGroupNode& group, const DNProfile& profile)
{
    std::shared_ptr<DNProfile> shared = profile.copy();
    const DNTVideo* video = firstMemberVideo(group);
    if (video)
        shareFrameRate(group, *video, *shared);
    if (!video || video->width <= 0 || video->height <= 0)
        return shared;
    const QString size = QStringLiteral("%1x%2").arg(video->width).arg(video->height);
    NXVideoResolution& resolution = shared->videoResolution();
    if (resolution.isPresent() && isKeepOriginResolution(resolution.currentValue()))
        resolution.setCurrentValue(size);
    NXVideoAspect& aspect = shared->videoAspect();
    if (aspect.isPresent() && isKeepOriginAspect(aspect.currentValue()))
        aspect.setCurrentValue(video->aspectRatio.isEmpty() ? size : video->aspectRatio);
    return shared;
}

// The frame a profile scales every picture into; empty when it keeps each
// source's own.
QSize frameOf(const DNProfile& profile)
{
    const QString value = profile.videoResolution().currentValue();
    if (value.isEmpty() || isKeepOriginResolution(value))
        return {};
    return resolutionFromString(value, 0, 0).toSize();
}

// The smallest picture the encoders take, and the steps in which the file
// builders scale a picture into a frame, rounding down: a side of fewer
// steps' pixels becomes none.
constexpr int kSmallestPictureSide = 2;
constexpr int kScaleStep = 4;

// Why the picture of `file` is too small to be converted into `frame`.
QString pictureSizeProblem(const DNFileNode& file, const QSize& frame)
{
    const DNTVideo* video = file.selectedVideoTrack();
    if (!video)
        return {};
    const QSize picture(video->width, video->height);
    const QString named = QStringLiteral("the picture of \"%1\" (%2 x %3 pixels)")
                              .arg(file.path())
                              .arg(picture.width())
                              .arg(picture.height());
    if (picture.width() < kSmallestPictureSide || picture.height() < kSmallestPictureSide)
        return QStringLiteral("The conversion is refused: %1 is too small to convert.").arg(named);
    if (frame.isEmpty())
        return {};
    const QSizeF fitted = DNAspectFitSize(QSizeF(picture), QSizeF(frame));
    if (fitted.width() >= kScaleStep && fitted.height() >= kScaleStep)
        return {};
    return QStringLiteral("The conversion is refused: the output's frame of %1 x %2 pixels is too "
                          "small for %3.")
        .arg(frame.width())
        .arg(frame.height())
        .arg(named);
}

// A source that went after it was added (moved, deleted, its disk taken
// away) is told as such, not in an engine's words about a path it cannot open.
QString sourceProblem(const QString& source)
{
    if (QFileInfo::exists(source))
        return {};
    return QStringLiteral("The file \"%1\" is no longer there: it was moved or deleted after it "
                          "was added to the list.")
        .arg(source);
}

// The engines take no argument of MaxCharLength bytes or more.
QString pathLengthProblem(const QString& source)
{
    const qsizetype bytes = QFile::encodeName(source).size();
    if (bytes < MaxCharLength)
        return {};
    return QStringLiteral("The file \"%1\" cannot be converted where it is: its path is %2 bytes "
                          "long, and the engines take paths of at most %3 bytes. Move it to a "
                          "folder with a shorter path.")
        .arg(source)
        .arg(bytes)
        .arg(MaxCharLength - 1);
}

// Whether `profile` puts a picture into its output; one that writes only
// sound leaves the source's picture, and what is drawn on it, out.
bool writesPicture(const DNProfile* profile)
{
    return !profile || profile->writesPicture();
}

// Whether the output's sound gets a channel count of its own: every profile
// with a picture gives one, and so does a sound profile that names one; the
// others keep the source's channels as they are.
bool mixesSound(const DNProfile* profile)
{
    return !profile || profile->writesPicture() || profile->audioChannel().isPresent();
}

// Why the selected sound track of `file` cannot be mixed into the output.
QString soundTrackProblem(const DNFileNode& file)
{
    const DNAudioTrack* selected = file.selectedAudioTrack();
    if (!selected || DNAudioFields(*selected).channelLayoutKnown)
        return {};
    return QStringLiteral("The sound track %1 of \"%2\" cannot be converted: its %3 channels "
                          "carry no layout, and the engine knows none for %3 channels to mix "
                          "them by. Choose another sound track in the editor.")
        .arg(file.setting().audioIndex() + 1)
        .arg(file.path())
        .arg(DNAudioFields(*selected).channels);
}

// Why the subtitle file chosen for `file` cannot go into the output: it
// cannot be read, or its letters cannot be told apart from another
// alphabet's. The builders read it the same way, and would otherwise leave
// it out, or show other letters, with no more than a log line.
QString subtitleFileProblem(const DNFileNode& file)
{
    const DNSubtitleTrack* selected = file.selectedSubtitleTrack();
    const DNTExtSubtitle* external = selected ? DNExtSubtitleOf(*selected) : nullptr;
    if (!external)
        return {};
    QString failure;
    if (readSubtitleFile(external->path, failure))
        failure = subtitleFileCharsetDoubt(external->path, external->language);
    if (failure.isEmpty())
        return {};
    return QStringLiteral("The subtitle file \"%1\" cannot be used: %2.")
        .arg(external->path, failure);
}

// Why the tracks chosen for `file` cannot go into an output of `profile`.
QString chosenTracksProblem(const DNFileNode& file, const DNProfile* profile)
{
    if (mixesSound(profile)) {
        if (const QString sound = soundTrackProblem(file); !sound.isEmpty())
            return sound;
    }
    return writesPicture(profile) ? subtitleFileProblem(file) : QString();
}

// Why a file converted alone cannot be, found before any engine runs, in
// terms the user can act on: it is gone, its path, the tracks chosen, or,
// where the output has a picture, its picture and its image watermark.
QString fileProblem(const DNFileNode& file)
{
    const std::shared_ptr<DNProfile> profile = file.profile();
    if (const QString gone = sourceProblem(file.path()); !gone.isEmpty())
        return gone;
    if (const QString path = pathLengthProblem(file.path()); !path.isEmpty())
        return path;
    if (const QString tracks = chosenTracksProblem(file, profile.get()); !tracks.isEmpty())
        return tracks;
    if (!writesPicture(profile.get()))
        return {};
    if (const QString picture = pictureSizeProblem(file, profile ? frameOf(*profile) : QSize());
        !picture.isEmpty())
        return picture;
    const QString watermark = file.watermarkPictureProblem();
    if (watermark.isEmpty())
        return {};
    return QStringLiteral("The watermark picture \"%1\" cannot be used: %2.")
        .arg(file.imagePathOfWatermark(), watermark);
}

// A merge into sound alone joins the members' sound: one without any has
// nothing to give (in a merge with a picture it gets silence instead).
QString memberSoundProblem(const DNFileNode& member, const DNProfile& shared)
{
    if (shared.writesPicture() || member.selectedAudioTrack())
        return {};
    return QStringLiteral("The merge cannot be converted to sound: \"%1\" has no sound track "
                          "chosen. Take it out of the merge, or choose one of its sound tracks.")
        .arg(member.path());
}

// The members of a merge share one frame (memberProfile): the first member's
// picture, unless the profile has one. A member that is gone, that would
// fill none of it, whose path no engine takes, whose chosen tracks cannot go
// into the output or that has no sound for a merge into sound, fails the
// merge before any member is converted.
QString membersProblem(const DNFileGroupNode& group, const DNProfile& shared)
{
    const QSize frame = frameOf(shared);
    for (const auto& child : group.children()) {
        const auto member = child ? child->fileNodeForConversion() : nullptr;
        if (!member)
            continue;
        if (const QString gone = sourceProblem(member->path()); !gone.isEmpty())
            return gone;
        if (const QString path = pathLengthProblem(member->path()); !path.isEmpty())
            return path;
        if (const QString tracks = chosenTracksProblem(*member, &shared); !tracks.isEmpty())
            return tracks;
        if (const QString sound = memberSoundProblem(*member, shared); !sound.isEmpty())
            return sound;
        if (!shared.writesPicture())
            continue;
        if (const QString picture = pictureSizeProblem(*member, frame); !picture.isEmpty())
            return picture
                + QStringLiteral(" The members of a merge share the frame of the "
                                 "first one's picture, unless the profile sets one.");
    }
    return {};
}

// A member's own profile, setting and output metadata, given back however
// its run ends.
class SavedMember {
public:
    explicit SavedMember(DNFileNode& member)
        : m_member(member)
        , m_profile(member.profile())
        , m_setting(member.setting())
        , m_nodeInfo(member.nodeInfo())
    { }
    ~SavedMember()
    {
        m_member.setProfile(m_profile);
        m_member.setSetting(m_setting);
        m_member.setNodeInfo(m_nodeInfo);
    }
    SavedMember(const SavedMember&) = delete;
    SavedMember& operator=(const SavedMember&) = delete;

private:
    DNFileNode& m_member;
    const std::shared_ptr<DNProfile> m_profile;
    const DNNodeSetting m_setting;
    const DNNodeInfo m_nodeInfo;
};

// The members' outputs, deleted however the group ends. Only files the
// member runs made in the temporary folder are ours to delete.
class MemberOutputs {
public:
    MemberOutputs() = default;
    ~MemberOutputs()
    {
        for (const QString& path : m_paths)
            QFile::remove(path);
    }
    MemberOutputs(const MemberOutputs&) = delete;
    MemberOutputs& operator=(const MemberOutputs&) = delete;

    void add(const QString& path)
    {
        const QString temporary = QDir::cleanPath(AppPaths::temporaryFolder());
        if (!path.isEmpty() && QFileInfo(path).absolutePath() == temporary)
            m_paths << path;
    }

private:
    QStringList m_paths;
};

int convertMember(const std::shared_ptr<DNFileNode>& member, const DNFileGroupNode& group,
    const DNProfile& profile, const EncodeConfig& config, MemberOutputs& outputs)
{
    const SavedMember saved(*member);
    member->setSetting(settingForMerge(member->setting()));
    member->setNodeInfo(group.nodeInfo());
    member->setProfile(profile.copy());
    member->setOutputName({});
    const int result = convertPasses(member, 0, config);
    outputs.add(member->outputName());
    return result;
}

// Whether the join has sound to keep: members without a picture are left out.
bool anyMemberSounds(const DNFileGroupNode& group)
{
    return std::any_of(group.children().begin(), group.children().end(), [](const auto& child) {
        const auto member = child ? child->fileNodeForConversion() : nullptr;
        return member && !member->videoTracks().empty() && member->selectedAudioTrack();
    });
}

int memberFailed(int result)
{
    std::printf("Convert Group child failed(%d), so exit merge...\n", result);
    std::fflush(stdout);
    DNLog(QStringLiteral("Convert Group child failed(%1), so exit merge...").arg(result));
    return result == kDNVideoConverterStopped ? kDNVideoConverterStopped : kDNVideoConverterFailed;
}

// Members first, each into the temporary folder, then the group joins their
// outputs into the output folder.
int convertGroup(const std::shared_ptr<DNFileGroupNode>& group, const EncodeConfig& config)
{
    const std::shared_ptr<DNProfile> profile = group->profile();
    if (!profile) {
        reportFailure(QStringLiteral("The entry has no output profile."));
        return kDNVideoConverterFailed;
    }
    EncodeConfig memberConfig = config;
    if (!setConfigPath(memberConfig.outputDir, AppPaths::temporaryFolder()))
        return memberFailed(kDNVideoConverterFailed);
    memberConfig.silenceWithoutSound = anyMemberSounds(*group);
    const std::shared_ptr<DNProfile> shared = memberProfile(*group, *profile);
    if (const QString problem = membersProblem(*group, *shared); !problem.isEmpty()) {
        reportFailure(problem);
        return kDNVideoConverterFailed;
    }
    MemberOutputs outputs;
    for (const auto& child : group->children()) {
        const auto member = child ? child->fileNodeForConversion() : nullptr;
        if (!member)
            return memberFailed(kDNVideoConverterFailed);
        const int result = convertMember(member, *group, *shared, memberConfig, outputs);
        if (result != 0)
            return memberFailed(result);
    }
    return _VideoConverter(group, 0, config);
}

int _VideoConverter_Start(
    const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, const EncodeConfig& config)
{
    if (isMemberOf<DNFileGroupNode>(node))
        return convertGroup(std::static_pointer_cast<DNFileGroupNode>(node), config);
    if (isKindOf<DNDVDNode>(node)) {
        static const DNVideoConverterDVDDriver driver { &_VideoConverter, &convertPasses,
            &stopRequested, &reportFailure, &explainFailure, &settleHeldOutput, &findAssembler };
        return convertDVDEntry(
            std::static_pointer_cast<DNDVDNode>(node), titleIndex, config, driver);
    }
    if (isMemberOf<DNFileNode>(node)) {
        if (const QString problem = fileProblem(static_cast<const DNFileNode&>(*node));
            !problem.isEmpty()) {
            reportFailure(problem);
            return kDNVideoConverterFailed;
        }
    }
    return convertPasses(node, titleIndex, config);
}

bool claimRun(DNVideoConverterStateCallback callback, void* context)
{
    const std::lock_guard lock(state().mutex);
    if (state().running)
        return false;
    state().running = true;
    state().stopRequested = std::exchange(state().stopPending, false);
    state().lastProgress = {};
    state().madeOutputs.clear();
    state().held.reset();
    state().entry = nullptr;
    state().failure.clear();
    state().callback = callback;
    state().context = context;
    return true;
}

void releaseRun(int result)
{
    const std::lock_guard lock(state().mutex);
    if (result == 0 || result == kDNVideoConverterStopped)
        state().failure.clear();
    state().running = false;
    state().callback = nullptr;
    state().context = nullptr;
}

int convert(const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex)
{
    DNSetting& settings = DNSetting::shareSetting();
    const EncodeConfig config
        = makeEncodeConfig(settings.mainWindowSetting(), settings.appSetting());
    try {
        {
            const std::lock_guard lock(state().mutex);
            state().entry = node.get();
        }
        const int result = _VideoConverter_Start(node, titleIndex, config);
        dropHeldOutput();
        if (result != 0)
            discardMadeOutputs();
        return result == 0 && stopRequested() ? kDNVideoConverterStopped : result;
    } catch (const std::exception& error) {
        reportFailure(
            QStringLiteral("The conversion failed: %1").arg(QString::fromUtf8(error.what())));
    }
    dropHeldOutput();
    discardMadeOutputs();
    return kDNVideoConverterFailed;
}

int encodeWithFileEncoder(const ArgumentBlock& block)
{
    return AVEncoderEncode(block.argc, block.argv.data(), block.duration);
}

int encodeWithEncoderCore(const ArgumentBlock& block)
{
    return EncoderCoreEncode(block.argc, block.argv.data(), block.duration);
}

int encodeWithStreamDump(const ArgumentBlock& block)
{
    return PlayerStreamDumpEncode(block.argc, block.argv.data(), block.duration);
}

int encodeWithBackupTool(const ArgumentBlock& block)
{
    return DiscBackupToolEncode(block.argc, block.argv.data(), block.duration);
}

int encodeWithDVDToMKV(const ArgumentBlock& block)
{
    return appMain(block.argc, block.argv.data(), block.duration);
}

} // namespace

QString heldOutputProblem(const QString& output)
{
    if (QFile::encodeName(partialOutputPath(output)).size() < MaxCharLength)
        return {};
    return QStringLiteral("The output \"%1\" cannot be written: the path of its folder leaves "
                          "no room for its name within the %2 bytes the engines take. Choose an "
                          "output folder with a shorter path.")
        .arg(output)
        .arg(MaxCharLength - 1);
}

int DNVideoConverterStart(const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex,
    DNVideoConverterStateCallback stateCallback, void* context)
{
    if (!node) {
        logFailure(QStringLiteral("No entry to convert."));
        return kDNVideoConverterFailed;
    }
    if (!claimRun(stateCallback, context)) {
        logFailure(QStringLiteral("A conversion is already running; this one is not started."));
        return kDNVideoConverterBusy;
    }
    const int result = convert(node, titleIndex);
    releaseRun(result);
    return result;
}

ProgressInfo DNVideoConverterProgress()
{
    const std::lock_guard lock(state().mutex);
    return state().engine ? state().engine->progress() : state().lastProgress;
}

void DNVideoConverterStop()
{
    const std::lock_guard lock(state().mutex);
    if (!state().running) {
        state().stopPending = true;
        return;
    }
    state().stopRequested = true;
    if (state().engine)
        state().engine->stop();
    if (state().building)
        state().building->stop();
    if (state().tagger)
        state().tagger->stop();
}

void DNVideoConverterForgetStop()
{
    const std::lock_guard lock(state().mutex);
    state().stopPending = false;
}

bool DNVideoConverterIsRunning()
{
    const std::lock_guard lock(state().mutex);
    return state().running;
}

QString DNVideoConverterLastFailure()
{
    const std::lock_guard lock(state().mutex);
    return state().failure;
}

DNConversionEngineKind conversionEngineKind(
    NXNodeClass nodeClass, int globalID, const QString& builderName)
{
    switch (nodeClass) {
    case NXNodeClass::DVDNode:
    case NXNodeClass::DVDTitle:
    case NXNodeClass::DVDGroupTitle:
        break;
    default:
        return DNConversionEngineKind::FileEncoder;
    }
    switch (globalID) {
    case kGlobalIDPlayerStreamDump:
        return DNConversionEngineKind::PlayerStreamDump;
    case kGlobalIDDiscBackupTool:
        return DNConversionEngineKind::DiscBackupTool;
    case kGlobalIDDVDToMKV:
        return DNConversionEngineKind::DVDToMKV;
    default:
        return builderName == QLatin1String(kHandBrakeMP4Builder)
            ? DNConversionEngineKind::DVDToMKV
            : DNConversionEngineKind::EncoderCore;
    }
}

const DNConversionEngine& conversionEngine(DNConversionEngineKind kind)
{
    static const DNConversionEngine fileEncoder { "file encoder", &encodeWithFileEncoder,
        &AVEncoderProgress, &AVEncoderStop, &AVEncoderSetStateCallback, &AVEncoderLastCommand,
        &AVEncoderLastFailure };
    static const DNConversionEngine encoderCore { "encoder core", &encodeWithEncoderCore,
        &EncoderCoreProgress, &EncoderCoreStop, &EncoderCoreSetStateCallback,
        &EncoderCoreLastCommand, &EncoderCoreLastFailure };
    static const DNConversionEngine streamDump { "stream dump", &encodeWithStreamDump,
        &PlayerStreamDumpProgress, &PlayerStreamDumpStop, &PlayerStreamDumpSetStateCallback,
        &PlayerStreamDumpLastCommand, &PlayerStreamDumpLastFailure };
    static const DNConversionEngine backupTool { "ISO backup tool", &encodeWithBackupTool,
        &DiscBackupToolProgress, &DiscBackupToolStop, &DiscBackupToolSetStateCallback,
        &DiscBackupToolLastCommand, &DiscBackupToolLastFailure };
    static const DNConversionEngine dvdToMKV { "DVD-to-MKV library", &encodeWithDVDToMKV,
        &DVDToMKVProgress, &HBStopJob, &DVDToMKVSetStateCallback, &DVDToMKVLastCommand,
        &DVDToMKVLastFailure };
    switch (kind) {
    case DNConversionEngineKind::EncoderCore:
        return encoderCore;
    case DNConversionEngineKind::PlayerStreamDump:
        return streamDump;
    case DNConversionEngineKind::DiscBackupTool:
        return backupTool;
    case DNConversionEngineKind::DVDToMKV:
        return dvdToMKV;
    case DNConversionEngineKind::FileEncoder:
        break;
    }
    return fileEncoder;
}

void DNVideoConverterSetAssemblerTables(
    std::span<const ArgvAssemblerEntry> dvdTable, std::span<const ArgvAssemblerEntry> videoTable)
{
    const std::lock_guard lock(state().mutex);
    state().dvdTable = dvdTable;
    state().videoTable = videoTable;
}

void DNVideoConverterUseProgramAssemblerTables()
{
    DNVideoConverterSetAssemblerTables(DVDArgvAssemblerTable(), VideoArgvAssemblerTable());
}

void DNVideoConverterSetRunObserver(DNEngineRunObserver observer, void* context)
{
    const std::lock_guard lock(state().mutex);
    state().observer = observer;
    state().observerContext = context;
}
