#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// The photos of a slideshow as frames: each decoded at the size that fits the
// frame (EXIF orientation and colour profile applied) and centred on black. Every photo is
// decoded once up front, so that unreadable ones are known before the movie
// starts; the decoded pictures are kept while they fit a memory budget, and
// the rest are decoded again when their turn comes.
class PhotoSequence {
public:
    using Complaint = std::function<void(const QString& line)>;

    PhotoSequence(QSize frameSize, Complaint complain);

    // Reads the photos, naming each unreadable one through the complaint and
    // leaving it out, and each one read, good or not, through `read`. False
    // when `stopRequested` said so before the end.
    bool load(const QStringList& paths, const std::function<bool()>& stopRequested,
        const std::function<void(const QString& path)>& read);

    int count() const { return static_cast<int>(m_photos.size()); }
    QString path(int index) const { return m_photos[static_cast<std::size_t>(index)].path; }
    // The frame of a photo (Format_ARGB32_Premultiplied).
    QImage frame(int index) const;
    // The frame of any picture file; black when it cannot be read.
    QImage frameOf(const QString& path) const;

private:
    // The picture scaled to fit the frame, in sRGB, or a null image with the
    // reason; a colour profile that cannot be applied is complained of.
    QImage decodeFitted(const QString& path, QString& error) const;

    struct Photo {
        QString path;
        QImage fitted; // null when it did not fit the budget
    };

    QImage letterboxed(const QImage& fitted) const;

    QSize m_frameSize;
    Complaint m_complain;
    std::vector<Photo> m_photos;
};
