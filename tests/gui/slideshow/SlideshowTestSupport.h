#pragma once

#include "slideshow/DNEffectPreview.h"
#include "slideshow/DNGraphicsNode.h"
#include "slideshow/SlideshowSupport.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <memory>

// Photos made at test time: "Trip" holds a.jpg, b.jpg and c.jpg, "Home" holds
// d.png and e.png, each photo a colour of its own; "Empty" holds none.
struct TestAlbum {
    QTemporaryDir root;
    std::shared_ptr<DNGraphicsNode> album;

    TestAlbum()
    {
        int hue = 0;
        for (const auto& [folder, names] :
            { std::pair { "Trip", QStringList { "a.jpg", "b.jpg", "c.jpg" } },
                std::pair { "Home", QStringList { "d.png", "e.png" } } }) {
            QDir().mkpath(path(folder));
            for (const QString& name : names) {
                QImage photo(120, 80, QImage::Format_RGB32);
                photo.fill(QColor::fromHsv(hue, 200, 220));
                hue += 60;
                photo.save(path(folder) + "/" + name);
            }
        }
        QDir().mkpath(path("Empty"));
        QString error;
        album
            = DNGraphicsNode::graphicsNodeWithDirs({ path("Trip"), path("Home") }, nullptr, error);
        // The folder walk has no order of its own.
        album->sortPhotoNode(DNGraphicsSetting::kSortByName, DNGraphicsSetting::kAscending);
    }
    QString path(const QString& name) const { return root.filePath(name); }
};

// Time that moves only when a test moves it.
struct ManualClock {
    qint64 now = 1000;
    SlideshowClock clock()
    {
        return [this] { return now; };
    }
};

// Ends the strip's running page move at once, as if its time had passed.
inline void settle(DNEffectPreview& strip)
{
    if (QPropertyAnimation* move = strip.pageMove())
        move->setCurrentTime(move->duration());
}
