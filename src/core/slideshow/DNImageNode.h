#pragma once

#include "slideshow/DNGPS.h"

#include <QDateTime>
#include <QSizeF>
#include <QString>

#include <optional>
#include <vector>

// One photo of an album, or one folder record that groups the photos found
// under a folder.
struct DNImageNode {
    enum Type : qint32 { Photo = 0, Folder = 1 };

    QString path; // absolute path of the photo or the folder
    // Photo: the capture time of its EXIF block (local time); folder: the
    // folder's creation time; may be missing.
    std::optional<QDateTime> createDate;
    qint64 size = 0; // bytes; 0 for folders and for files that are no picture
    QSizeF resolution; // pixels as stored; empty when the file is no picture
    std::optional<DNGPS> gps;
    std::vector<DNImageNode> imageNodes; // a folder's photos
    qint32 type = Photo;

    // A photo record of the file: resolution, date, position and size as far
    // as they can be read; a file that is no picture keeps only its path.
    static DNImageNode imageNodeWithContentOfPath(const QString& path);

    // The title the editor's browser shows: the file name.
    QString imageTitle() const;
    // For logs: "File->" or "Folder->", the path, the date and the size.
    QString description() const;
};
