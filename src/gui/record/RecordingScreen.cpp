#include "record/RecordingScreen.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QScreen* recordingScreen(const QWidget* window)
{
    QScreen* const screen = window ? window->screen() : nullptr;
    return screen ? screen : QGuiApplication::primaryScreen();
}

QRect rootPixels(const QRect& area, const QScreen& screen)
{
    const QPointF origin = screen.geometry().topLeft();
    const qreal ratio = screen.devicePixelRatio();
    // Edges rounded on their own, so that regions side by side stay so.
    const QPointF topLeft = origin + (QPointF(area.topLeft()) - origin) * ratio;
    const QPointF bottomRight = topLeft + QPointF(area.width(), area.height()) * ratio;
    return QRect(topLeft.toPoint(), bottomRight.toPoint() - QPoint(1, 1));
}
