#include "player/NXMPlayerView.h"

#include "controls/NXSlider.h"
#include "player/NXMPlayerControlBar.h"
#include "player/NXMPlayerPictureView.h"
#include "player/NXMPlayerViewDelegate.h"

#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>

#include <chrono>

namespace {

using namespace std::chrono_literals;

constexpr auto kBarTick = 1s;
constexpr int kFadeMilliseconds = 250;
// Below this the bar counts as faded out.
constexpr double kFadedOpacity = 0.1;

QGraphicsOpacityEffect* opacityOf(QWidget* widget)
{
    return qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
}

} // namespace

NXMPlayerView::NXMPlayerView(MPlayerVideoRenderer& renderer, QWidget* parent)
    : QWidget(parent)
    , m_pictureView(new NXMPlayerPictureView(renderer, this))
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    m_timerRecorder.setInterval(kBarTick);
    connect(&m_timerRecorder, &QTimer::timeout, this, &NXMPlayerView::timerStep);
}

NXMPlayerView::~NXMPlayerView() = default;

NXMPlayerControlBar* NXMPlayerView::controlBar() const
{
    return m_controlBar;
}

void NXMPlayerView::paintEvent(QPaintEvent* event)
{
    QPainter(this).fillRect(event->rect(), Qt::black);
}

void NXMPlayerView::resizeEvent(QResizeEvent*)
{
    if (m_controlBar)
        m_controlBar->setGeometry(
            0, height() - NXMPlayerControlBar::kHeight, width(), NXMPlayerControlBar::kHeight);
}

void NXMPlayerView::playbackTimerStep(double seconds)
{
    if (m_controlBar)
        m_controlBar->durationSlider()->setDoubleValue(seconds);
}

QRectF NXMPlayerView::playbackBounds() const
{
    // The window system resizes a full-screen window a little later; the
    // layout is worked out for the size it is about to have.
    return m_fullScreen ? QRectF(QPointF(), screenFrame().size()) : QRectF(rect());
}

QRectF NXMPlayerView::pictureBounds() const
{
    return m_pictureView->rect();
}

void NXMPlayerView::setPlaybackFrame(const QRectF& frame)
{
    if (m_fullScreen)
        m_windowedGeometry = frame.toRect();
    else
        setGeometry(frame.toRect());
}

void NXMPlayerView::setPictureFrame(const QRectF& frame)
{
    m_pictureView->setGeometry(frame.toRect());
}

QRectF NXMPlayerView::screenFrame() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? QRectF(QPointF(), screen->geometry().size()) : QRectF();
}

void NXMPlayerView::enterFullScreen()
{
    if (m_fullScreen)
        return;
    m_fullScreen = true;
    m_windowedGeometry = geometry();
    setWindowFlag(Qt::Window, true);
    QScreen* screen = QGuiApplication::primaryScreen();
    setScreen(screen);
    // Without a window manager nobody else would give the window the screen.
    setGeometry(screen->geometry());
    showFullScreen();
    activateWindow();
    setFocus();
    setCursorShown(false);
}

void NXMPlayerView::exitFullScreen()
{
    exitFullScreenModeAndClean();
    if (!m_fullScreen)
        return;
    m_fullScreen = false;
    setWindowFlag(Qt::Window, false);
    setGeometry(m_windowedGeometry);
    setCursorShown(true);
    show();
    window()->activateWindow();
}

void NXMPlayerView::mouseMoveEvent(QMouseEvent* event)
{
    event->ignore();
    if (!m_fullScreen)
        return;
    if (!m_timerRecorder.isActive()) {
        showControlBar();
        return;
    }
    if (m_controlBar && opacityOf(m_controlBar)->opacity() < kFadedOpacity)
        fadeControlBar(1.0);
    setCursorShown(true);
    m_timeMark = m_timeMark > kBarSeconds ? kBarSeconds : m_timeMark + 1;
}

void NXMPlayerView::showControlBar()
{
    m_timerRecorder.start();
    m_timeMark = kBarSeconds;
    m_controlBar = new NXMPlayerControlBar(*this);
    if (m_delegate) {
        NXSlider* slider = m_controlBar->durationSlider();
        slider->setMaxValue(m_delegate->fullScreenModeRequestVideoDuration());
        m_timeRemember = m_delegate->fullScreenModeRequestVideoCurrentPlaybackTime();
        slider->setDoubleValue(m_timeRemember);
    }
    auto* opacity = new QGraphicsOpacityEffect(m_controlBar);
    opacity->setOpacity(0);
    m_controlBar->setGraphicsEffect(opacity);
    if (m_delegate)
        m_delegate->fullScreenModeWillShowControlBar();
    m_controlBar->show();
    m_controlBar->raise();
    fadeControlBar(1.0);
    setCursorShown(true);
}

void NXMPlayerView::timerStep()
{
    m_timeMark -= 1;
    if (m_timeMark < 1)
        fadeControlBar(0);
    if (m_timeMark >= 0)
        return;
    m_timerRecorder.stop();
    if (m_delegate)
        m_delegate->fullScreenModeDidHiddenControlBar();
    removeControlBar();
    m_timeMark = 0;
    setCursorShown(false);
}

void NXMPlayerView::exitFullScreenModeAndClean()
{
    if (!m_timerRecorder.isActive() && !m_controlBar)
        return;
    m_timerRecorder.stop();
    if (m_delegate)
        m_delegate->fullScreenModeDidHiddenControlBar();
    removeControlBar();
    setCursorShown(true);
}

void NXMPlayerView::removeControlBar()
{
    delete m_controlBar;
}

void NXMPlayerView::fadeControlBar(double opacity)
{
    if (!m_controlBar)
        return;
    auto* fade = new QPropertyAnimation(opacityOf(m_controlBar), "opacity", m_controlBar);
    fade->setDuration(kFadeMilliseconds);
    fade->setEndValue(opacity);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void NXMPlayerView::setCursorShown(bool shown)
{
    if (shown)
        unsetCursor();
    else
        setCursor(Qt::BlankCursor);
}

void NXMPlayerView::keyPressEvent(QKeyEvent* event)
{
    if (!m_delegate) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Space:
        m_delegate->fullScreenModeRequestPauseOrContinue(this);
        break;
    case Qt::Key_Escape:
        exitFullScreenModeAndClean();
        m_delegate->fullScreenModeRequestExite(this);
        break;
    case Qt::Key_Left:
        m_delegate->fullScreenModeRequestLowerVolume(this);
        break;
    case Qt::Key_Right:
        m_delegate->fullScreenModeRequestLouderVolume(this);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void NXMPlayerView::onDurationValueChange(NXSlider* slider)
{
    if (m_delegate)
        m_delegate->fullScreenModeRequestSeek(this, slider->doubleValue());
}

void NXMPlayerView::onVolumeValueChange(NXSlider* control)
{
    if (m_delegate)
        m_delegate->fullScreenModeRequestSetVolume(this, control->floatValue());
}

void NXMPlayerView::onPauseAndPlayChange()
{
    if (m_delegate)
        m_delegate->fullScreenModeRequestPauseOrContinue(this);
}

void NXMPlayerView::onExitFullScreen()
{
    exitFullScreenModeAndClean();
    if (m_delegate)
        m_delegate->fullScreenModeRequestExite(this);
}
