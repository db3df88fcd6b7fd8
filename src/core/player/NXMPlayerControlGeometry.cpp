// Where the picture sits in the playback view, and full screen.
#include "player/MPlayerVideoRenderer.h"
#include "player/NXMPlayerControl.h"
#include "player/NXMPlayerSurface.h"

namespace {

// The height the full-screen bar takes from the bottom of the picture area.
constexpr double kControlBarHeight = 15;

QRectF sizeOnly(const QRectF& rect)
{
    return QRectF(QPointF(), rect.size());
}

} // namespace

QRectF NXMPlayerControl::fittedPictureRect(const QSizeF& picture, const QSizeF& bounds)
{
    if (bounds.isEmpty() || picture.isEmpty())
        return {};
    const double width = picture.width();
    const double height = picture.height();
    const double ratioX = width / bounds.width();
    const double ratioY = height / bounds.height();
    if (ratioX > ratioY) {
        const double fittedHeight = height / ratioX;
        return { 0, (bounds.height() - fittedHeight) * 0.5, bounds.width(), fittedHeight };
    }
    const double fittedWidth = width / ratioY;
    return { (bounds.width() - fittedWidth) * 0.5, 0, fittedWidth, bounds.height() };
}

void NXMPlayerControl::adjust(const QRectF& frame)
{
    if (frame == m_flag.previousPlaybackRect)
        return;
    m_flag.previousPlaybackRect = frame;
    if (m_surface) {
        m_surface->setPlaybackFrame(frame);
        m_surface->setPictureFrame(sizeOnly(frame));
    }
    adjustResolution(0);
}

void NXMPlayerControl::setResolutionWidth(double width, double height)
{
    m_flag.videoFrame = QRectF(0, 0, width, height);
}

void NXMPlayerControl::adjustResolution(int mode)
{
    if (mode != 0) {
        m_render->boundsDidChangeTo(m_flag.videoFrame, m_flag.playPortFrame);
        return;
    }
    const QRectF bounds = m_surface ? m_surface->playbackBounds() : QRectF();
    const QRectF picture
        = fittedPictureRect(QSizeF(m_flag.videoWidth, m_flag.videoHeight), bounds.size());
    m_render->boundsDidChangeTo(picture, m_surface ? m_surface->pictureBounds() : QRectF());
}

void NXMPlayerControl::playbackVideoInFullScreenMode()
{
    if (!m_surface)
        return;
    m_flag.isFullScreen = true;
    m_surface->enterFullScreen();
    const QRectF screen = m_surface->screenFrame();
    m_flag.videoFrame = screen;
    m_surface->setPictureFrame(screen);
    adjustResolution(0);
    m_render->redraw();
}

void NXMPlayerControl::exitFullScreenMode()
{
    m_flag.isFullScreen = false;
    if (m_surface) {
        m_surface->exitFullScreen();
        m_surface->setPictureFrame(sizeOnly(m_flag.previousPlaybackRect));
    }
    m_flag.videoFrame = sizeOnly(m_flag.previousPlaybackRect);
    adjustResolution(0);
    m_render->redraw();
    post(kWillExitFullScreenMode);
}

// The picture area gives up its bottom to the bar; the picture keeps its
// place and size.
void NXMPlayerControl::fullScreenModeWillShowControlBar()
{
    if (!m_flag.isStarted || !m_surface)
        return;
    const QRectF screen = m_surface->screenFrame();
    m_flag.videoFrame = m_render->curTextureFrame();
    m_flag.playPortFrame = screen.adjusted(0, 0, 0, -kControlBarHeight);
    m_surface->setPictureFrame(m_flag.playPortFrame);
    m_flag.playPortFrame = sizeOnly(m_flag.playPortFrame);
    adjustResolution(1);
}

void NXMPlayerControl::fullScreenModeDidHiddenControlBar()
{
    if (!m_surface)
        return;
    m_surface->setPictureFrame(m_surface->screenFrame());
    adjustResolution(0);
}
