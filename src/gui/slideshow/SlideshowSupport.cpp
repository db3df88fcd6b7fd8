#include "slideshow/SlideshowSupport.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QElapsedTimer>

SlideshowClock steadyClock()
{
    return [] {
        static QElapsedTimer timer;
        if (!timer.isValid())
            timer.start();
        return timer.elapsed();
    };
}

QPixmap slideshowResourceImage(const QString& name)
{
    return QPixmap(QDir(AppPaths::resourcesFolder()).filePath("images/" + name));
}
