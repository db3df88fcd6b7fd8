#include "slideshow/DNGraphicsNode.h"

#include "model/DNFileNode.h"
#include "profiles/DNProfile.h"
#include "profiles/DNProfileManager.h"
#include "slideshow/NXEffectManager.h"
#include "slideshow/PhotoDecoding.h"
#include "slideshow/ThumbnailOfImage.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <thread>

namespace {

constexpr int kVideoProfiles = 2;

// The first lines of a message naming left-out files; the rest are counted.
constexpr int kLeftOutLinesNamed = 10;

enum class FileKind { Other, Photo, PictureNotTaken };

FileKind kindOf(const QFileInfo& info)
{
    static const QStringList photos { "jpg", "jpeg", "png", "bmp", "tiff", "tif" };
    // Pictures a camera, a phone or the web gives, which are said to be left
    // out rather than passed over as if they were no photo at all.
    static const QStringList notTaken { "gif", "webp", "heic", "heif", "avif", "jxl", "jp2", "svg",
        "ico", "psd", "dng", "cr2", "cr3", "nef", "arw", "orf", "raf", "rw2" };
    if (!info.isFile())
        return FileKind::Other;
    const QString suffix = info.suffix().toLower();
    if (photos.contains(suffix))
        return FileKind::Photo;
    return notTaken.contains(suffix) ? FileKind::PictureNotTaken : FileKind::Other;
}

// Why a photo read from its header will not be drawn, or nothing when it will.
std::optional<DNLeftOutPhoto> refusalOf(const DNImageNode& photo, const QFileInfo& file)
{
    if (photo.resolution.isEmpty())
        return DNLeftOutPhoto { photo.path, DNLeftOutPhoto::Unreadable,
            file.size() == 0 ? QStringLiteral("an empty file")
                             : QStringLiteral("not a picture that can be read") };
    const int width = static_cast<int>(photo.resolution.width());
    const int height = static_cast<int>(photo.resolution.height());
    if (width > DNGraphicsNode::kLargestSide || height > DNGraphicsNode::kLargestSide) {
        std::fprintf(stderr,
            "warning: abandon massive resolution photo (%dx%d) whitch is out of control!\n", width,
            height);
        return DNLeftOutPhoto { photo.path, DNLeftOutPhoto::TooLarge,
            QStringLiteral("%1 x %2 pixels, more than the %3 on a side an album takes")
                .arg(width)
                .arg(height)
                .arg(DNGraphicsNode::kLargestSide) };
    }
    if (file.size() > kLargestPhotoBytes)
        return DNLeftOutPhoto { photo.path, DNLeftOutPhoto::TooLarge,
            QStringLiteral("larger than the %1 bytes an album takes").arg(kLargestPhotoBytes) };
    // What the album counts is what the movie shows.
    QFile header(photo.path);
    const QString problem
        = header.open(QIODevice::ReadOnly) ? photoHeaderProblem(header) : header.errorString();
    if (!problem.isEmpty())
        return DNLeftOutPhoto { photo.path, DNLeftOutPhoto::Unreadable, problem };
    return std::nullopt;
}

QString joinedWithAnd(const QStringList& words)
{
    if (words.size() < 2)
        return words.join(QString());
    return words.first(words.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ")
        + words.last();
}

// The list as the program has always written it into the message.
QString listDescription(const QStringList& folders)
{
    QStringList quoted;
    for (const QString& folder : folders)
        quoted << "    \"" + folder + "\"";
    return "(\n" + quoted.join(",\n") + "\n)";
}

// Why the folders gave no photo: the kinds of picture not taken there, the
// photos too large, the files that are no picture.
QString noPhotoMessage(const QStringList& folders, const std::vector<DNLeftOutPhoto>& leftOut)
{
    QStringList kinds;
    qsizetype tooLarge = 0;
    qsizetype unreadable = 0;
    for (const DNLeftOutPhoto& photo : leftOut) {
        const QString kind = QFileInfo(photo.path).suffix().toUpper();
        if (photo.reason == DNLeftOutPhoto::TooLarge)
            ++tooLarge;
        else if (photo.reason == DNLeftOutPhoto::Unreadable)
            ++unreadable;
        else if (!kinds.contains(kind))
            kinds << kind;
    }
    kinds.sort();
    QStringList sentences { "There is no photo found at " + listDescription(folders) + "." };
    if (!kinds.isEmpty())
        sentences << joinedWithAnd(kinds)
                + " files are not taken: an album takes JPEG, PNG, BMP and TIFF photos.";
    if (tooLarge == 1)
        sentences << "The photo there is too large:";
    else if (tooLarge > 1)
        sentences << QStringLiteral("The %1 photos there are too large:").arg(tooLarge);
    if (tooLarge > 0)
        sentences.last()
            += QStringLiteral(" an album takes photos of at most %1 pixels a side and %2 GiB.")
                   .arg(DNGraphicsNode::kLargestSide)
                   .arg(kLargestPhotoBytes >> 30);
    if (unreadable == 1)
        sentences << "1 file named as a photo is no picture that can be read.";
    else if (unreadable > 1)
        sentences << QStringLiteral("%1 files named as photos are no pictures that can be read.")
                         .arg(unreadable);
    return sentences.join(' ');
}

template<class Value> int threeWay(const Value& a, const Value& b)
{
    return a < b ? -1 : b < a ? 1 : 0;
}

// Present values in their order; a missing one before any present one.
template<class Value>
int compareOptional(const std::optional<Value>& a, const std::optional<Value>& b)
{
    if (a && b)
        return threeWay(*a, *b);
    return a ? 1 : b ? -1 : 0;
}

// The length of the run of digits at `from`.
qsizetype digitsAt(const QString& text, qsizetype from)
{
    qsizetype end = from;
    while (end < text.size() && text[end].isDigit())
        ++end;
    return end - from;
}

// Names in the order a person counts: IMG_2 before IMG_10; letters as
// QString compares them.
int compareNames(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        const qsizetype da = digitsAt(a, i);
        const qsizetype db = digitsAt(b, j);
        if (da > 0 && db > 0) {
            // Numbers without their leading zeros: the longer is the larger.
            QStringView x = QStringView(a).mid(i, da);
            QStringView y = QStringView(b).mid(j, db);
            while (x.size() > 1 && x.front() == u'0')
                x = x.mid(1);
            while (y.size() > 1 && y.front() == u'0')
                y = y.mid(1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int order = x.compare(y))
                return std::clamp(order, -1, 1);
            i += da;
            j += db;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    return threeWay(a.size() - i, b.size() - j);
}

// A record and what it is sorted by, the name taken out of its path once per
// sort rather than at each of the sort's comparisons.
struct SortItem {
    DNImageNode* record = nullptr;
    QString name; // the file name; for the sort by name only
};

// The ascending order of two records by a sort key. Positions are compared
// in 0.0001-degree steps rather than with the tolerance of DNGPS::compare,
// which is no order a sort may rely on.
int compareAscending(const SortItem& first, const SortItem& second, int key)
{
    const DNImageNode& a = *first.record;
    const DNImageNode& b = *second.record;
    if (a.type == DNImageNode::Folder && b.type == DNImageNode::Folder)
        return 0;
    switch (key) {
    case DNGraphicsSetting::kSortByName:
        return compareNames(first.name, second.name);
    case DNGraphicsSetting::kSortBySize:
        return threeWay(a.size, b.size);
    case DNGraphicsSetting::kSortByDate:
        return compareOptional(a.createDate, b.createDate);
    case DNGraphicsSetting::kSortByPosition: {
        const auto position = [](const DNImageNode& node) {
            return node.gps ? std::optional(node.gps->sortKey()) : std::nullopt;
        };
        return compareOptional(position(a), position(b));
    }
    default:
        return 0;
    }
}

// A stable sort of small items standing for the records, which are moved
// once, into their places, at the end.
void sortRecords(std::vector<DNImageNode>& records, int key, bool ascending)
{
    const bool byName = key == DNGraphicsSetting::kSortByName;
    std::vector<SortItem> items;
    items.reserve(records.size());
    for (DNImageNode& record : records)
        items.push_back({ &record, byName ? QFileInfo(record.path).fileName() : QString() });
    std::stable_sort(
        items.begin(), items.end(), [key, ascending](const SortItem& a, const SortItem& b) {
            const int order = compareAscending(a, b, key);
            return ascending ? order < 0 : order > 0;
        });
    std::vector<DNImageNode> sorted;
    sorted.reserve(records.size());
    for (const SortItem& item : items)
        sorted.push_back(std::move(*item.record));
    records = std::move(sorted);
}

// The first photo of the list, looking into folder records.
std::optional<QString> firstPhotoPath(const std::vector<DNImageNode>& records)
{
    if (records.empty())
        return std::nullopt;
    const DNImageNode& first = records.front();
    if (first.type == DNImageNode::Folder)
        return firstPhotoPath(first.imageNodes);
    return first.path;
}

} // namespace

DNGraphicsNode::DNGraphicsNode()
    : NXBasicMediaNode(NXMediaType::PhotoAlbum)
    , m_setting(std::make_shared<DNGraphicsSetting>())
    // An album is pictures, and has no music yet: never an audio-only profile.
    , m_profile(DNProfileManager::profileManager().lastProfileOfType(kVideoProfiles, false))
    , m_graphicsNotifier(std::make_unique<DNGraphicsNodeNotifier>())
{
    QList<qint64> every(NXTransitionNone);
    std::iota(every.begin(), every.end(), qint64(0));
    m_setting->setTransitions(std::make_shared<const QList<qint64>>(std::move(every)));
}

std::shared_ptr<DNGraphicsNode> DNGraphicsNode::graphicsNodeWithDirs(
    const QStringList& folders, const std::atomic_bool* stop, QString& error)
{
    auto album = std::make_shared<DNGraphicsNode>();
    if (!folders.isEmpty())
        album->m_path = folders.last();
    for (const QString& folder : folders)
        album->loadPhotoAtPath(folder, stop);
    if (!folders.isEmpty())
        album->initializeConfigOnDidLoadDVDInfo(folders.first());
    if (album->m_imageNodes.empty()) {
        error = noPhotoMessage(folders, album->m_leftOutPhotos);
        return nullptr;
    }
    // The sorts are stable, each keeping the order of the one before for equal
    // keys: the name first, so that photos of one second or of no date stay
    // in name order rather than in the order the folder was read in.
    album->sortPhotoNode(DNGraphicsSetting::kSortByName, DNGraphicsSetting::kAscending);
    album->sortPhotoNode(DNGraphicsSetting::kSortByDate, DNGraphicsSetting::kAscending);
    album->sortPhotoNode(DNGraphicsSetting::kSortByPosition, DNGraphicsSetting::kAscending);
    // The path is taken now: the editor may change the list while the
    // thumbnail is being made.
    if (const std::optional<QString> first = firstPhotoPath(album->m_imageNodes)) {
        std::thread([weakAlbum = std::weak_ptr(album), photo = *first] {
            if (const auto node = weakAlbum.lock())
                node->fetchThumbnail(photo);
        }).detach();
    }
    return album;
}

std::vector<DNLeftOutPhoto> DNGraphicsNode::appendingPhotosWithDir(const QStringList& folders)
{
    const auto before = static_cast<std::ptrdiff_t>(m_leftOutPhotos.size());
    for (const QString& folder : folders)
        loadPhotoAtPath(folder, nullptr);
    return { m_leftOutPhotos.begin() + before, m_leftOutPhotos.end() };
}

// One folder record with every photo under the folder, at any depth; hidden
// folders too, linked folders not (a link to a parent would never end).
void DNGraphicsNode::loadPhotoAtPath(const QString& folder, const std::atomic_bool* stop)
{
    if (!QFileInfo(folder).isDir())
        return;
    DNImageNode record;
    record.type = DNImageNode::Folder;
    record.path = folder;
    QDirIterator entries(folder,
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        if (stop && *stop)
            break;
        entries.next();
        if (std::optional<DNImageNode> photo = takenPhoto(entries.fileInfo()))
            record.imageNodes.push_back(std::move(*photo));
    }
    if (!record.imageNodes.empty())
        m_imageNodes.push_back(std::move(record));
}

// A photo that will be drawn; any other picture is noted as left out, and
// what is no picture at all passed over.
std::optional<DNImageNode> DNGraphicsNode::takenPhoto(const QFileInfo& file)
{
    const FileKind kind = kindOf(file);
    if (kind == FileKind::Other)
        return std::nullopt;
    if (kind == FileKind::PictureNotTaken) {
        m_leftOutPhotos.push_back({ file.filePath(), DNLeftOutPhoto::KindNotTaken,
            QStringLiteral("%1 pictures are not taken").arg(file.suffix().toUpper()) });
        return std::nullopt;
    }
    DNImageNode photo = DNImageNode::imageNodeWithContentOfPath(file.filePath());
    if (std::optional<DNLeftOutPhoto> refusal = refusalOf(photo, file)) {
        m_leftOutPhotos.push_back(std::move(*refusal));
        return std::nullopt;
    }
    return photo;
}

void DNGraphicsNode::sortPhotoNode(int key, qint64 order)
{
    if (mediaType() != NXMediaType::PhotoAlbum)
        return;
    const bool ascending = order < 1;
    sortRecords(m_imageNodes, key, ascending);
    for (DNImageNode& record : m_imageNodes)
        sortRecords(record.imageNodes, key, ascending);
}

void DNGraphicsNode::initializeConfigOnDidLoadDVDInfo(const QString& folder)
{
    const QString name = QFileInfo(QFileInfo(folder).fileName()).completeBaseName();
    m_nodeInfo.displayName = name;
    m_nodeInfo.outputName = name;
    m_nodeInfo.genre = QStringLiteral("Video");
    m_nodeInfo.artist = QStringLiteral("Quillon");
}

qint64 DNGraphicsNode::countOfPhotos() const
{
    qint64 count = 0;
    for (const DNImageNode& record : m_imageNodes)
        count += static_cast<qint64>(record.imageNodes.size());
    return count;
}

qint64 DNGraphicsNode::sizeOfPhotos() const
{
    qint64 bytes = 0;
    for (const DNImageNode& record : m_imageNodes)
        for (const DNImageNode& photo : record.imageNodes)
            bytes += photo.size;
    return bytes;
}

qint64 DNGraphicsNode::audioDuration() const
{
    qint64 seconds = 0;
    for (const DNGraphicsAudio& audio : m_audioTracks)
        seconds += audio.audioDuration;
    return seconds;
}

double DNGraphicsNode::videoDuration() const
{
    return (static_cast<double>(m_setting->interval()) + 1.0)
        * static_cast<double>(countOfPhotos());
}

double DNGraphicsNode::bestDisplayDuration() const
{
    const qint64 music = audioDuration();
    const qint64 photos = countOfPhotos();
    if (photos == 0)
        return static_cast<double>(music);
    const auto perPhoto = static_cast<qint64>(std::ceil(double(music) / double(photos)));
    return perPhoto > 0 ? static_cast<double>(perPhoto) : 1.0;
}

QStringList DNGraphicsNode::audioTracksPath() const
{
    QStringList paths;
    for (const DNGraphicsAudio& audio : m_audioTracks)
        paths << audio.audioPath;
    return paths;
}

bool DNGraphicsNode::convertGraphicsNodeToFileNode(const QString& moviePath)
{
    m_fileNode = DNFileNode::fileNodeWithFile(moviePath, false);
    if (!m_fileNode)
        return false;
    m_fileNode->setNodeInfo(m_nodeInfo);
    m_fileNode->setProfile(m_profile);
    if (m_fileNode->audioTracks().empty())
        m_fileNode->setting().setAudioIndex(-1);
    return true;
}

QString DNGraphicsNode::leftOutText(const std::vector<DNLeftOutPhoto>& photos)
{
    QStringList lines;
    for (const DNLeftOutPhoto& photo : photos) {
        if (lines.size() == kLeftOutLinesNamed) {
            lines << QStringLiteral("... and %1 more.").arg(photos.size() - kLeftOutLinesNamed);
            break;
        }
        lines << QStringLiteral("%1: %2").arg(photo.path, photo.why);
    }
    return lines.join('\n');
}

void DNGraphicsNode::setProfile(const std::shared_ptr<DNProfile>& profile)
{
    m_profile = profile ? std::make_shared<DNProfile>(*profile) : nullptr;
}

void DNGraphicsNode::setNodeInfoOfSelectTrack(const DNNodeInfo& info)
{
    m_nodeInfo.displayName = info.displayName;
    m_nodeInfo.artist = info.artist;
    m_nodeInfo.genre = info.genre;
    m_nodeInfo.comments = info.comments;
}

QImage DNGraphicsNode::thumbnail() const
{
    const std::lock_guard lock(m_thumbnailMutex);
    return m_thumbnail;
}

void DNGraphicsNode::fetchThumbnail(const QString& photo)
{
    const QImage image = ThumbnailOfImage(photo, 400, 300);
    {
        const std::lock_guard lock(m_thumbnailMutex);
        m_thumbnail = image;
    }
    emit m_graphicsNotifier->thumbnailChanged();
}
