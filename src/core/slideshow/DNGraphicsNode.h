#pragma once

#include "model/DNNodeInfo.h"
#include "model/NXBasicMediaNode.h"
#include "slideshow/DNGraphicsAudio.h"
#include "slideshow/DNGraphicsSetting.h"
#include "slideshow/DNImageNode.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class DNProfile;
class QFileInfo;

// Tells the list row that an album's thumbnail has arrived. It is made on a
// thread of its own; connections from the main thread are queued.
class DNGraphicsNodeNotifier : public QObject {
    Q_OBJECT
signals:
    void thumbnailChanged();
};

// A file under an album's folders that the album does not show, and why.
struct DNLeftOutPhoto {
    enum Reason { KindNotTaken, TooLarge, Unreadable };
    QString path;
    Reason reason = Unreadable;
    QString why; // in the words the person reads
};

// A photo album on the conversion list: one folder record per folder it was
// made from, each with the photos of that folder's whole tree, plus music and
// slideshow settings. At conversion time it is rendered into a movie, which
// stands in for it as a file node.
class DNGraphicsNode : public NXBasicMediaNode {
public:
    static constexpr NXNodeClass kNodeClass = NXNodeClass::GraphicsNode;
    // Photos this large in either direction are left out.
    static constexpr int kLargestSide = 8191;

    DNGraphicsNode();

    // An album of the photos found under the folders, sorted by date and then
    // by position, its thumbnail on the way. Only photos that can be drawn
    // are taken; the others are in leftOutPhotos(). Null, with "There is no
    // photo found at %@." and what was left out there in `error`, when no
    // folder holds one. `stop` (may be null) ends the walk at the next entry;
    // the album keeps what was found.
    static std::shared_ptr<DNGraphicsNode> graphicsNodeWithDirs(
        const QStringList& folders, const std::atomic_bool* stop, QString& error);

    NXNodeClass nodeClass() const override { return kNodeClass; }
    std::shared_ptr<DNFileNode> fileNodeForConversion() override { return m_fileNode; }

    // Adds a folder record per folder that holds photos (the editor's
    // action); answers the files these folders had left out.
    std::vector<DNLeftOutPhoto> appendingPhotosWithDir(const QStringList& folders);
    // Sorts the folder records and the photos in each by a DNGraphicsSetting
    // key and order.
    void sortPhotoNode(int key, qint64 order);
    // Display name and output name from the folder's name.
    void initializeConfigOnDidLoadDVDInfo(const QString& folder);

    qint64 countOfPhotos() const;
    qint64 sizeOfPhotos() const;
    qint64 audioDuration() const;
    // Seconds: each photo is held for the interval, then a one-second transition.
    double videoDuration() const;
    // The photo interval that spreads the music over the photos.
    double bestDisplayDuration() const;
    QStringList audioTracksPath() const;

    // Probes the rendered movie into the file node that is converted in the
    // album's place; false when the movie cannot be probed.
    bool convertGraphicsNodeToFileNode(const QString& moviePath);

    const std::vector<DNImageNode>& imageNodes() const { return m_imageNodes; }
    std::vector<DNImageNode>& imageNodes() { return m_imageNodes; }
    const std::vector<DNGraphicsAudio>& audioTracks() const { return m_audioTracks; }
    std::vector<DNGraphicsAudio>& audioTracks() { return m_audioTracks; }
    std::shared_ptr<DNGraphicsSetting> setting() const { return m_setting; }
    void setSetting(std::shared_ptr<DNGraphicsSetting> setting) { m_setting = std::move(setting); }
    std::shared_ptr<DNProfile> profile() const { return m_profile; }
    // Keeps a copy: the chooser's profile may change after it is handed over.
    void setProfile(const std::shared_ptr<DNProfile>& profile);
    const DNNodeInfo& nodeInfo() const { return m_nodeInfo; }
    void setNodeInfo(const DNNodeInfo& info) { m_nodeInfo = info; }
    // Takes display name, artist, genre and comments; the output name stays.
    void setNodeInfoOfSelectTrack(const DNNodeInfo& info);
    QString path() const { return m_path; }
    std::shared_ptr<DNFileNode> fileNode() const { return m_fileNode; }
    // Every file left out of the album's folders so far, in the order met.
    const std::vector<DNLeftOutPhoto>& leftOutPhotos() const { return m_leftOutPhotos; }
    // Left-out files as the lines of a message, "path: why", the first few named.
    static QString leftOutText(const std::vector<DNLeftOutPhoto>& photos);

    QImage thumbnail() const;
    DNGraphicsNodeNotifier* graphicsNotifier() const { return m_graphicsNotifier.get(); }

private:
    void loadPhotoAtPath(const QString& folder, const std::atomic_bool* stop);
    std::optional<DNImageNode> takenPhoto(const QFileInfo& file);
    void fetchThumbnail(const QString& photo);

    std::vector<DNImageNode> m_imageNodes;
    std::vector<DNGraphicsAudio> m_audioTracks;
    std::shared_ptr<DNGraphicsSetting> m_setting;
    std::shared_ptr<DNProfile> m_profile;
    DNNodeInfo m_nodeInfo;
    QString m_path;
    std::shared_ptr<DNFileNode> m_fileNode;
    std::vector<DNLeftOutPhoto> m_leftOutPhotos;
    mutable std::mutex m_thumbnailMutex;
    QImage m_thumbnail; // guarded by m_thumbnailMutex: written by the thumbnail thread
    std::unique_ptr<DNGraphicsNodeNotifier> m_graphicsNotifier;
};
