#pragma once

#include <QImage>
#include <QPalette>
#include <QWidget>

// A black picture with a selector laid over it, for reading drawn pixels.
struct BlackPicture {
    explicit BlackPicture(QSize size)
    {
        picture.resize(size);
        picture.setAutoFillBackground(true);
        QPalette black;
        black.setColor(QPalette::Window, Qt::black);
        picture.setPalette(black);
    }
    // The red channel, which is also the level of a grey.
    int redAt(QPoint widgetPoint) { return picture.grab().toImage().pixelColor(widgetPoint).red(); }
    QWidget picture;
};
