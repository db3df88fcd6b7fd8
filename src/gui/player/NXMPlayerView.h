#pragma once

#include "player/NXMPlayerSurface.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

class MPlayerVideoRenderer;
class NXMPlayerControlBar;
class NXMPlayerPictureView;
class NXMPlayerViewDelegate;
class NXSlider;

// The main window's preview: the picture view on black, full screen on the
// primary screen, and there a bar that a mouse move brings up and that fades
// about six seconds after the last one. Space pauses, Escape leaves full
// screen, Left and Right change the volume.
class NXMPlayerView : public QWidget, public NXMPlayerSurface {
    Q_OBJECT
public:
    // The bar's seconds of life after a mouse move, and the most it collects.
    static constexpr double kBarSeconds = 6;

    explicit NXMPlayerView(MPlayerVideoRenderer& renderer, QWidget* parent = nullptr);
    ~NXMPlayerView() override;

    NXMPlayerViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(NXMPlayerViewDelegate* delegate) { m_delegate = delegate; }
    double timeMark() const { return m_timeMark; }
    void setTimeMark(double seconds) { m_timeMark = seconds; }
    NXMPlayerPictureView* pictureView() const { return m_pictureView; }
    // The bar while it is shown, else null.
    NXMPlayerControlBar* controlBar() const;
    bool isFullScreenMode() const { return m_fullScreen; }

    // The playback timer's position, shown on the bar's slider.
    void playbackTimerStep(double seconds);
    void exitFullScreenModeAndClean();

    void onDurationValueChange(NXSlider* slider);
    void onVolumeValueChange(NXSlider* control);
    void onPauseAndPlayChange();
    void onExitFullScreen();

    QRectF playbackBounds() const override;
    QRectF pictureBounds() const override;
    void setPlaybackFrame(const QRectF& frame) override;
    void setPictureFrame(const QRectF& frame) override;
    QRectF screenFrame() const override;
    void enterFullScreen() override;
    void exitFullScreen() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showControlBar();
    void timerStep();
    void removeControlBar();
    void fadeControlBar(double opacity);
    void setCursorShown(bool shown);

    NXMPlayerPictureView* m_pictureView = nullptr;
    NXMPlayerViewDelegate* m_delegate = nullptr;
    QPointer<NXMPlayerControlBar> m_controlBar;
    QTimer m_timerRecorder;
    double m_timeMark = 0;
    double m_timeRemember = 0;
    bool m_fullScreen = false;
    QRect m_windowedGeometry;
};
